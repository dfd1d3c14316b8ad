#pragma once
// Whole reads and writes at an offset of an open file, which leave its offset alone.

#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace tallowen {

// Reads exactly `size` bytes at `offset`: 0, -1 at the end of the file, or an errno.
inline int ReadAt(int fd, void* buffer, int64_t size, int64_t offset) {
  auto* p = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size_t(size), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return -1;
    p += n;
    size -= n;
    offset += n;
  }
  return 0;
}

// Writes all of `size` bytes at `offset`: 0 or an errno.
inline int WriteAt(int fd, const void* buffer, int64_t size, int64_t offset) {
  const auto* p = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size_t(size), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    p += n;
    size -= n;
    offset += n;
  }
  return 0;
}

}  // namespace tallowen
