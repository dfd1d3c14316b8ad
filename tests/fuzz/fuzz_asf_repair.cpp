// libFuzzer target for the header repair, on a file in memory. Whatever the file holds the
// repair returns; a file found sound or not mendable keeps every byte; a mended one loses
// bytes only at its end, changes in its header no more than the counts, sizes and
// durations, and a second repair changes nothing.
#include <sys/mman.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "recording/AsfRepair.h"

using namespace tallowen;

namespace {

[[noreturn]] void fail(const char* what, const AsfRepairOutcome& outcome) {
  std::fprintf(stderr, "%s (result %d, %s)\n", what, int(outcome.result), qPrintable(outcome.error));
  std::abort();
}

QByteArray contents(int fd) {
  QByteArray bytes;
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0) std::abort();
    if (n == 0) return bytes;
    bytes.append(buffer, n);
    at += n;
  }
}

uint64_t le64(const QByteArray& b, qsizetype at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | uint8_t(b[at + i]);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = ::memfd_create("asf", MFD_CLOEXEC);
  if (fd < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  const QByteArray before(reinterpret_cast<const char*>(data), qsizetype(size));
  if (::write(fd, before.constData(), size_t(before.size())) != before.size()) std::abort();

  const AsfRepairOutcome first = RepairAsfDescriptor(fd, QStringLiteral("fuzz.wma"));
  const QByteArray after = contents(fd);
  switch (first.result) {
    case AsfRepairOutcome::Result::Sound:
      if (after != before) fail("a sound file was changed", first);
      break;
    case AsfRepairOutcome::Result::Failed:
      if (after != before) fail("a file that was not mended was changed", first);
      // A file in memory cannot fail to read or write.
      if (first.problem != AsfRepairOutcome::Problem::Damaged) fail("a failure that is no damage", first);
      break;
    case AsfRepairOutcome::Result::Repaired: {
      // Mended means the header and the Data object's own header parsed.
      const auto dataStart = qsizetype(le64(before, 16) + 50);
      if (after.size() > before.size() || after.size() < dataStart)
        fail("the file grew or lost its header", first);
      if (first.droppedBytes != before.size() - after.size()) fail("the bytes cut were miscounted", first);
      if (after.mid(dataStart) != before.mid(dataStart, after.size() - dataStart))
        fail("bytes after the header changed", first);
      int changed = 0;
      for (qsizetype i = 0; i < dataStart; ++i) changed += after[i] != before[i];
      if (changed > 6 * 8) fail("more of the header changed than its six counts", first);
      const AsfRepairOutcome second = RepairAsfDescriptor(fd, QStringLiteral("fuzz.wma"));
      if (second.result == AsfRepairOutcome::Result::Failed || contents(fd) != after)
        fail("a second repair changed what the first had mended", second);
      break;
    }
  }
  ::close(fd);
  return 0;
}
