#pragma once

#include <QFile>
#include <QString>
#include <chrono>
#include <memory>

#include "recording/FFmpegPtr.h"

namespace tallowen {

// The recording's file on disk, created exclusively (an existing file is never
// overwritten), seen by the muxer through an AVIOContext of our own so that every write,
// flush and sync is ours to check.
class OutputFile {
 public:
  // Throws EncoderError when the file exists, its folder is missing or not writable.
  static std::unique_ptr<OutputFile> create(const QString& path);
  ~OutputFile();

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  AVIOContext* io() const { return io_.get(); }
  const QString& path() const { return path_; }

  // Hands what the muxer wrote so far to the operating system; throws on a write error.
  void flush();
  // Flushes, then asks the operating system to put it on the disk; throws on failure.
  void sync();
  // Syncs if the last sync is older than the interval.
  void syncIfDue(std::chrono::milliseconds interval);
  void close();

  // Why the last write failed; empty while every write succeeded.
  QString writeError() const { return writeError_; }

  // Test hook: writes fail with "no space left" once the file would grow past this size.
  static void setWriteLimitForTesting(qint64 bytes);

 private:
  explicit OutputFile(const QString& path);
  static int writePacket(void* opaque, uint8_t* data, int size);
  static int64_t seek(void* opaque, int64_t offset, int whence);
  void throwIfFailed();

  QString path_;
  QFile file_;
  IOContextPtr io_;
  QString writeError_;
  std::chrono::steady_clock::time_point lastSync_;
};

}  // namespace tallowen
