#pragma once

#include <QFile>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "recording/Codec.h"

namespace tallowen {

// How much the disk takes: the real one is asked by writing, so production needs none of
// this; a test hands the encoder it drives a disk that fills up where it says.
class DiskSpace {
 public:
  virtual ~DiskSpace() = default;
  // Whether a file may grow to `size` bytes; a write past it fails with "no space left".
  virtual bool allows(int64_t size) const = 0;
  // The room left, when this disk says it rather than the file system.
  virtual std::optional<int64_t> bytesFree() const { return std::nullopt; }
};

// The recording's file on disk, created exclusively (an existing file is never
// overwritten). The muxer writes through it, so that every write and sync is ours to check,
// and so that a file removed while it is written is put back.
class OutputFile : public ByteSink {
 public:
  // Throws EncoderError when the file exists, its folder is missing or not writable.
  static std::unique_ptr<OutputFile> create(const QString& path, std::shared_ptr<const DiskSpace> disk = {});
  ~OutputFile() override;

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Where the file is: a file put back under another name has moved.
  const QString& path() const override { return path_; }
  int write(const uint8_t* data, int size) override;
  int64_t seek(int64_t offset, int whence) override;
  int64_t size() override { return file_->size(); }
  QString writeError() const override { return writeError_; }
  // Puts the file back if it was removed, then has the disk keep what was written.
  void syncToDisk() override;
  // The same check, then closes.
  void close() override;

  // The open file, for the journal and for completing the file by mending it: the name
  // may by then stand for another file. Open for reading too. -1 once closed.
  int descriptor() const { return file_->handle(); }
  // Called after each sync to the disk with the file's size then.
  void setOnSynced(std::function<void(qint64 size)> onSynced) { onSynced_ = std::move(onSynced); }
  // Called when the file was found removed and was made again from what it held.
  void setOnRestored(std::function<void(const QString& path, int fd)> onRestored) {
    onRestored_ = std::move(onRestored);
  }

  // A file removed from its folder (the folder with it, or another file moved over its
  // name) lives on while it is open, but nobody could find it again. Then everything
  // written so far goes to a new file at its name (making the folder again if need be,
  // taking the next free name if another file stands there), and writing goes on there.
  // Throws EncoderError (FileLost) when it cannot be put back.
  void restoreIfRemoved();

 private:
  OutputFile(const QString& path, std::shared_ptr<const DiskSpace> disk);
  bool removed() const;

  QString path_;
  std::shared_ptr<const DiskSpace> disk_;
  std::unique_ptr<QFile> file_;
  QString writeError_;
  std::function<void(qint64)> onSynced_;
  std::function<void(const QString&, int)> onRestored_;
};

}  // namespace tallowen
