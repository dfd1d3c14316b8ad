#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QLockFile;

namespace tallowen {

// The program's own note of the recordings in progress, kept in the user's state folder
// ($XDG_STATE_HOME/Tallowen, or ~/.local/state/Tallowen): a recording that is still
// named there when no program holds it was cut short, and its file needs mending.
QString RecordingJournalFolder();

// Names one recording in the journal while it is being written. Each entry is held by a
// lock of its own, so that another copy of the program tells a recording that is still
// running from one whose program died.
class RecordingJournalEntry {
 public:
  // A journal that cannot be written does not stop the recording; it only loses the
  // header's mending after a crash.
  explicit RecordingJournalEntry(const QString& recordingPath);
  ~RecordingJournalEntry();

  RecordingJournalEntry(const RecordingJournalEntry&) = delete;
  RecordingJournalEntry& operator=(const RecordingJournalEntry&) = delete;

  // The file is complete: its entry goes.
  void markCompleted();
  bool isWritten() const { return !entryPath_.isEmpty(); }

 private:
  QString entryPath_;
  std::unique_ptr<QLockFile> lock_;
};

// What the start found in the journal.
struct InterruptedRecordings {
  QStringList repaired;  // mended in place, or already sound
  QStringList failed;    // could not be mended (their entry is cleared all the same)
};

// Mends every recording that the journal names and that no running program holds, and
// clears their entries. Run once when the program starts.
InterruptedRecordings RepairInterruptedRecordings();

}  // namespace tallowen
