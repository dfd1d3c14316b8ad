#pragma once

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "recording/AsfFormat.h"

class QLockFile;

namespace tallowen {

// The program's own note of the recordings in progress, kept in the user's state folder
// ($XDG_STATE_HOME/Tallowen, or ~/.local/state/Tallowen): a recording that is still
// named there when no program holds it was cut short, and its file needs mending.
QString RecordingJournalFolder();

// A start-up tries to mend one recording this many times at most: a file that crashes or
// fails the repair is then only reported.
constexpr int kMaxRepairAttempts = 3;

// What the journal knows of one recording.
struct JournalNote {
  // Which file the recording is: its name alone may later be another file's.
  struct Identity {
    uint64_t device = 0;
    uint64_t inode = 0;
    // Creation time (ns since 1970), where the file system keeps one: an inode number is
    // soon given to a new file once the old one is deleted.
    std::optional<int64_t> born;
    bool operator==(const Identity&) const = default;
  };
  QString path;                      // absolute
  std::optional<Identity> identity;  // missing in notes from before it was kept
  int64_t syncedSize = 0;            // the file's size when it was last synced to the disk
  int attempts = 0;                  // repairs begun at start-ups
  QList<asf::Mark> marks;            // the index marks set so far; a mending puts them back
  bool operator==(const JournalNote&) const = default;
};

// An entry file's bytes; nullopt when they are not a note.
std::optional<JournalNote> ParseJournalNote(QByteArrayView bytes);
QByteArray FormatJournalNote(const JournalNote& note);

// Names one recording in the journal while it is being written. Each entry is held by a
// lock of its own, so that another copy of the program tells a recording that is still
// running from one whose program died.
class RecordingJournalEntry {
 public:
  // `fd` is the recording's file, just created: the entry notes which file it is. A journal
  // that cannot be written does not stop the recording; it only loses the header's
  // mending after a crash.
  RecordingJournalEntry(const QString& recordingPath, int fd);
  ~RecordingJournalEntry();

  RecordingJournalEntry(const RecordingJournalEntry&) = delete;
  RecordingJournalEntry& operator=(const RecordingJournalEntry&) = delete;

  // After a sync of the file to the disk, with the file's size then: a mending never cuts
  // the file below it. Replaces the entry whole, so a crash leaves the old or the new.
  // Taken every few seconds only: the size is a floor, and an older one is still true,
  // while rewriting the entry each second would double the disk's wake-ups.
  void noteSynced(int64_t size);
  int64_t syncedSize() const { return note_.syncedSize; }
  // After each index mark: a recording mended after a crash keeps every mark set before it.
  void noteMarks(const QList<asf::Mark>& marks);
  // The file is at `path` now: its folder was renamed or moved while it recorded.
  void notePath(const QString& path);
  // The file is complete: its entry goes.
  void markCompleted();
  bool isWritten() const { return !entryPath_.isEmpty(); }
  // The journal cannot be written (a full disk, a folder that takes no file): the entry
  // could not be made, or its last notes failed one after the other. A crash now would be
  // mended only as far as the journal got.
  bool inTrouble() const { return failedAtStart_ || failedInARow_ >= 2; }

 private:
  // Writes the note in place of the entry; a failure is logged and counted.
  void rewrite(const char* what);

  QString entryPath_;
  bool failedAtStart_ = false;
  int failedInARow_ = 0;
  JournalNote note_;
  QElapsedTimer sinceSyncNoted_;
  std::unique_ptr<QLockFile> lock_;
};

// What a start-up found for one recording that the journal named.
struct InterruptedRecording {
  enum class State {
    Mended,           // the header was mended: the file plays whole
    Sound,            // the file was complete already
    Missing,          // nothing at its path (a disk not plugged in?): tried again at a later start
    Replaced,         // another file stands at its path now; that file was not touched
    NotRegularFile,   // a folder, a pipe, a device or a link stands at its path; not touched
    Unreadable,       // could not be opened, read or written; tried again at a later start
    Damaged,          // not a file that can be mended: left as it was
    TooManyAttempts,  // every attempt failed or crashed; no longer tried, left as it was
    UnknownFile,      // noted by an older version, which did not note which file it was; not touched
    EntryDamaged,     // the journal's own note could not be read (`path` is empty)
  };
  QString path;
  State state = State::Damaged;
  QString detail;          // the repair's own words, in English
  int attempts = 0;        // repairs begun for it so far
  bool kept = false;       // its entry stays in the journal, and a later start looks again
  int64_t durationMs = 0;  // Mended and Sound: how long the file plays
};

// Looks at every recording that the journal names and that no running program holds:
// a file that is still the one recorded is mended; anything else is left exactly as it
// is. Entries of missing files, and of failures not yet tried kMaxRepairAttempts times,
// stay for a later start; the others are cleared. Run once when the program starts; it
// touches no widget and may run on any thread.
class RepairProgress {
 public:
  // Just before each repair begins, when the attempt is already counted in the entry.
  virtual void mending(const QString& path) = 0;

 protected:
  ~RepairProgress() = default;
};
QList<InterruptedRecording> RepairInterruptedRecordings(RepairProgress* progress = nullptr);

// Whether a running copy of the program, this one or another, is recording into this file,
// told by the journal's entries that a running program holds. The file is known by its
// identity, so a recording moved since it began is still found, and another file at its
// old name is not; a file the journal cannot name (it could not be written) is not found.
bool BeingRecorded(const JournalNote::Identity& file);
// The same for what stands at `nativePath` (a link is not the file it leads to); false
// when nothing does.
bool BeingRecorded(const QByteArray& nativePath);

}  // namespace tallowen
