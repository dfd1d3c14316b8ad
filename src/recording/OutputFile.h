#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <optional>

#include "recording/RecordingResult.h"
#include <utility>
#include <memory>

namespace tallowen {

// The recording's file on disk, created exclusively: an existing file is never
// overwritten. Everything the recording writes goes through here, so that every write and
// sync is checked, and so that a file removed while it is written is put back.
class OutputFile {
 public:
  // Makes the folder if it is missing and creates the file, or the next free name of its
  // minute ("(2)", "(3)", ...) when another program took it meanwhile. Throws RecordingError.
  // `rescueFolders` take the recording, in turn, when it is removed while it records and
  // its own folder cannot be made again.
  static std::unique_ptr<OutputFile> create(const QString& path, const QStringList& rescueFolders = {});
  ~OutputFile();

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Where the file is: a file put back under another name has moved.
  const QString& path() const { return path_; }
  // Appends; throws RecordingError (Write) with the system's reason. The file holds zeros
  // ahead of what was written, a quarter megabyte at a time: the sound then overwrites what
  // the file already has, and a sync has no new file size to write, a wait for the disk
  // fewer at each. A file cut short keeps the zeros, which its mending cuts off.
  void append(const QByteArray& bytes);
  // Overwrites what is at `offset` (inside what was written): the header's counts and marks.
  void writeAt(int64_t offset, const QByteArray& bytes);
  int64_t size() const { return size_; }
  // Puts the file back if it was removed, or follows it to where its folder was moved,
  // then has the disk keep what was written.
  void syncToDisk();
  // Cuts off the zeros written ahead of the sound (see append), before the last sync.
  void trimReserve();
  // The same check, trims, then closes; failures are left for the caller to find.
  void close();

  // The open file, for the journal and for completing the file by mending it: the name
  // may by then stand for another file. Open for reading too. -1 once closed.
  int descriptor() const { return file_->handle(); }
  // Where the open file is now, asked of the system: a folder renamed or moved while it
  // recorded takes the file with it. Empty when it cannot be told.
  QString currentPath() const;
  // What became of the file since the last look: put back under `path()` after it was
  // removed (in its folder, or rescued to another), or followed to where its folder was
  // renamed or moved. Looked for at each sync and at the close.
  std::optional<FileChange> takeChange() { return std::exchange(change_, std::nullopt); }

 private:
  explicit OutputFile(const QString& path);
  bool removed() const;
  // Takes the name the system gives the open file when its folder was renamed or moved.
  void followMove();
  // A file removed from its folder (the folder with it, or another file moved over its
  // name) lives on while it is open, but nobody could find it again. Then everything
  // written so far goes to a new file at its name (making the folder again if need be,
  // taking the next free name if another file stands there), and writing goes on there.
  // Where the folder cannot be made again, or something else stands at its name, the file
  // goes to the first rescue folder that takes it. Throws RecordingError (FileLost) when it
  // cannot be put back anywhere.
  void restoreIfRemoved();
  // A new file under the recording's name in `folder` with everything written so far.
  std::unique_ptr<QFile> copyInto(const QString& folder, QString& path, QString& why);
  // The folder at this path is the recording's own: a folder (not a link to elsewhere), or
  // the very folder it was created in (a save folder chosen as a link).
  bool folderIsOurs(const QString& folder) const;
  void reserveAhead(int64_t needed);

  QString path_;
  QStringList rescueFolders_;
  struct FolderId {
    uint64_t device = 0, inode = 0;
  };
  std::optional<FolderId> createdIn_;
  std::unique_ptr<QFile> file_;
  int64_t size_ = 0;
  int64_t reservedTo_ = 0;      // the zeros written ahead end here
  bool reserveFailed_ = false;  // a full disk: no more zeros ahead
  std::optional<FileChange> change_;
};

}  // namespace tallowen
