// libFuzzer target for the reader of the recording journal's entries. Whatever an entry
// file holds, reading returns; a note it accepts names an absolute path with counts that
// are not negative, and is written back to bytes that read as the same note.
#include <QByteArray>
#include <QByteArrayView>
#include <cstdio>
#include <cstdlib>

#include "recording/RecordingJournal.h"

using namespace tallowen;

namespace {

[[noreturn]] void fail(const char* what, const QByteArray& bytes) {
  std::fprintf(stderr, "%s\n%s\n", what, bytes.toPercentEncoding(" /").constData());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  const std::optional<JournalNote> note = ParseJournalNote(bytes);
  if (!note) return 0;
  if (!note->path.startsWith(QLatin1Char('/')) || note->path.contains(QChar(0)))
    fail("a note names a path that is not absolute", bytes);
  if (note->syncedSize < 0 || note->attempts < 0) fail("a note with a negative count", bytes);
  const QByteArray written = FormatJournalNote(*note);
  const std::optional<JournalNote> back = ParseJournalNote(written);
  if (!back || *back != *note) fail("a written note reads back otherwise", written);
  if (FormatJournalNote(*back) != written) fail("a note is written two ways", written);
  return 0;
}
