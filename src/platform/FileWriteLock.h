#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>

namespace tallowen {

// Keeps other writers of the same file, in this process or another, out of a
// read-modify-write. It is an flock on "<file>.lock" beside the file, so the kernel lets it
// go when its holder dies, and the holder removes the lock file when done.
class FileWriteLock {
 public:
  // Waits at most `wait` while another holder keeps it.
  FileWriteLock(const QString& filePath, std::chrono::milliseconds wait);
  ~FileWriteLock();
  FileWriteLock(const FileWriteLock&) = delete;
  FileWriteLock& operator=(const FileWriteLock&) = delete;

  bool held() const { return held_; }

 private:
  QByteArray lockPath_;
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace tallowen
