#pragma once

#include <QFile>
#include <QString>
#include <functional>
#include <memory>

#include "recording/Codec.h"

namespace tallowen {

// The recording's file on disk, created exclusively (an existing file is never
// overwritten). The muxer writes through it, so that every write and sync is ours to check.
class OutputFile : public ByteSink {
 public:
  // Throws EncoderError when the file exists, its folder is missing or not writable.
  static std::unique_ptr<OutputFile> create(const QString& path);
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

  // The open file, for the journal and for completing the file by mending it: the name
  // may by then stand for another file. Open for reading too. -1 once closed.
  int descriptor() const { return file_.handle(); }
  // Called after each sync to the disk with the file's size then.
  void setOnSynced(std::function<void(qint64 size)> onSynced) { onSynced_ = std::move(onSynced); }

  // Test hook: writes fail with "no space left" once the file would grow past this size.
  static void setWriteLimitForTesting(qint64 bytes);

 private:
  explicit OutputFile(const QString& path);

  QString path_;
  QFile file_;
  QString writeError_;
  std::function<void(qint64)> onSynced_;
};

}  // namespace tallowen
