#pragma once

#include <QFile>
#include <QString>
#include <memory>

#include "recording/Codec.h"

namespace tallowen {

// How much the disk takes: the real one is asked by writing, so production needs none of
// this; a test hands the encoder it drives a disk that fills up where it says.
class DiskSpace {
 public:
  virtual ~DiskSpace() = default;
  // Whether a file may grow to `size` bytes; a write past it fails with "no space left".
  virtual bool allows(int64_t size) const = 0;
};

// The recording's file on disk, created exclusively (an existing file is never
// overwritten). The muxer writes through it, so that every write and sync is ours to check.
class OutputFile : public ByteSink {
 public:
  // Throws EncoderError when the file exists, its folder is missing or not writable.
  static std::unique_ptr<OutputFile> create(const QString& path, std::shared_ptr<const DiskSpace> disk = {});
  ~OutputFile() override;

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const QString& path() const override { return path_; }
  int write(const uint8_t* data, int size) override;
  int64_t seek(int64_t offset, int whence) override;
  int64_t size() override { return file_.size(); }
  QString writeError() const override { return writeError_; }
  void syncToDisk() override;
  void close() override;


 private:
  OutputFile(const QString& path, std::shared_ptr<const DiskSpace> disk);

  QString path_;
  std::shared_ptr<const DiskSpace> disk_;
  QFile file_;
  QString writeError_;
};

}  // namespace tallowen
