// libFuzzer target for what the recordings list and the player make of a recording's
// header, from a file in a folder of its own. Whatever the header holds, reading it returns;
// the file's reading and the bytes' parsing agree; every number stays within what the
// windows show; and every text of the list's row, and each time the player shows from the
// header (its marks, its length), keeps its form.
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "player/PositionText.h"
#include "player/RecordingList.h"
#include "recording/AsfReader.h"

using namespace tallowen;

namespace {

QString folder;
QString path;

[[noreturn]] void fail(const char* what, const QString& text = QString()) {
  std::fprintf(stderr, "%s %s\n", what, qPrintable(text));
  std::abort();
}

bool sameInfo(const AsfInfo& a, const AsfInfo& b) {
  return a.durationMs == b.durationMs && a.sampleRate == b.sampleRate && a.channels == b.channels &&
         a.bitRate == b.bitRate && a.title == b.title && a.created == b.created && a.marks == b.marks;
}

// A time as the list and the player show it.
void checkTime(const QString& text) {
  static const QRegularExpression form(QStringLiteral("^(\\d{2,3}:[0-5]\\d:[0-5]\\d|999時間超)$"));
  if (!form.match(text).hasMatch()) fail("a time out of its form:", text);
}

void checkInfo(const AsfInfo& info) {
  if (info.durationMs < 0) fail("a negative length");
  if (info.sampleRate < 0 || info.channels < 0 || info.bitRate < 0) fail("a negative stream figure");
  // The list shows the local date with a four-digit year, in any zone.
  if (info.created.isValid()) {
    const int year = info.created.toLocalTime().date().year();
    if (year < 1969 || year > 9999) fail("a date out of bounds:", info.created.toString(Qt::ISODate));
  }
  checkTime(PositionText(info.durationMs / 1000.0));
  for (const asf::Mark& mark : info.marks) {
    if (mark.ms < 0) fail("a mark before the start");
    checkTime(PositionText(mark.ms / 1000.0));
  }
}

// The row the recordings list makes of the file, every column and role asked for as a
// view and a screen reader ask.
void checkList(const std::optional<AsfInfo>& info) {
  RecordingList list;  // a new one each time: a list keeps what it read of an unchanged file
  QEventLoop loop;
  QObject::connect(&list, &RecordingList::headersRead, &loop, &QEventLoop::quit);
  list.load(folder);
  if (!list.complete()) loop.exec();
  if (list.rowCount() != 1) fail("the file is not listed");
  for (int column = 0; column < RecordingList::ColumnCount; ++column)
    for (const int role : {int(Qt::DisplayRole), int(Qt::EditRole), int(Qt::AccessibleTextRole), int(Qt::TextAlignmentRole)})
      (void)list.data(list.index(0, column), role);
  const QString length = list.index(0, RecordingList::Length).data().toString();
  if (!info || info->durationMs <= 0) {
    if (length != QStringLiteral("不明")) fail("a length for a file without one:", length);
  } else {
    checkTime(length);
  }
  static const QRegularExpression date(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d$"));
  const QString recorded = list.index(0, RecordingList::Recorded).data().toString();
  if (!date.match(recorded).hasMatch()) fail("a date out of its form:", recorded);
  const QString marks = list.index(0, RecordingList::Marks).data().toString();
  if (marks != (info ? QString::number(info->marks.size()) : QStringLiteral("不明"))) fail("marks miscounted:", marks);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // The zone farthest ahead of UTC: a date near the end of 9999 there is in the next year.
  setenv("TZ", "Pacific/Kiritimati", 1);
  tzset();
  new QCoreApplication(*argc, *argv);
  // In memory where there is a tmpfs: a disk's truncations take most of the time.
  const bool shm = ::access("/dev/shm", W_OK) == 0;
  char name[] = "/dev/shm/fuzz_asf_info-XXXXXX";
  char fallback[] = "/tmp/fuzz_asf_info-XXXXXX";
  if (!mkdtemp(shm ? name : fallback)) std::abort();
  folder = QString::fromLocal8Bit(shm ? name : fallback);
  path = folder + QStringLiteral("/recording.wma");
  std::atexit([] {
    QFile::remove(path);
    ::rmdir(QFile::encodeName(folder).constData());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) std::abort();
  }
  const std::optional<AsfInfo> read = ReadAsfInfo(path);
  // The file's reading takes no header over a quarter megabyte.
  const std::optional<AsfInfo> parsed = ParseAsfHeader(bytes.left(256 * 1024));
  if (read.has_value() != parsed.has_value() || (read && !sameInfo(*read, *parsed)))
    fail("the file's reading and the bytes' parsing differ");
  if (read) checkInfo(*read);
  checkList(read);
  return 0;
}
