#include "platform/FileWriteLock.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>

// flock and inotify: another platform supplies its own version of this file (Windows:
// LockFileEx on the lock file).
#if defined(Q_OS_LINUX)

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallowen {

namespace {

// Wakes a writer waiting for the lock as soon as the holder removes the lock file. Polling
// alone would nearly always miss the moment between one write of a busy holder and its next,
// and could wait out its whole run. Where inotify is not to be had (its limits reached, a
// network mount that reports nothing) the short timeout keeps polling.
class LockFileWatch {
 public:
  explicit LockFileWatch(const QString& folder) : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    if (fd_ >= 0 && ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_DELETE) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~LockFileWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  LockFileWatch(const LockFileWatch&) = delete;
  LockFileWatch& operator=(const LockFileWatch&) = delete;

  void wait(std::chrono::milliseconds atMost) {
    if (fd_ < 0) {
      std::this_thread::sleep_for(atMost);
      return;
    }
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, int(atMost.count())) <= 0) return;
    alignas(inotify_event) char events[4096];
    while (::read(fd_, events, sizeof events) > 0) {
    }
  }

 private:
  int fd_;
};

bool sameFile(int fd, const char* path) {
  struct stat opened {}, named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(path, &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

}  // namespace

FileWriteLock::FileWriteLock(const QString& filePath, std::chrono::milliseconds wait) {
  using Clock = std::chrono::steady_clock;
  const QString& target = filePath;
  lockPath_ = QFile::encodeName(target + QStringLiteral(".lock"));
  const Clock::time_point deadline = Clock::now() + wait;
  std::optional<LockFileWatch> watch;
  for (;;) {
    // O_NOFOLLOW: a link planted in the lock file's place is not followed. Read access is
    // all flock needs, so another user's lock file serves too.
    const int fd = ::open(lockPath_.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The previous holder may have removed the file between our open and our lock:
      // a lock on a removed file keeps nobody out, so take the one now at the path.
      if (sameFile(fd, lockPath_.constData())) {
        fd_ = fd;
        held_ = true;
        return;
      }
      ::close(fd);
    } else {
      const int err = errno;
      ::close(fd);
      if (err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS) {
        // A file system without locks (a network mount without its lock service): writes
        // go on unguarded rather than never being kept.
        held_ = true;
        return;
      }
      if (err != EWOULDBLOCK && err != EINTR) return;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= std::chrono::milliseconds::zero()) return;
      if (!watch) {
        // Watching from now on, then trying once more at once: a removal between the
        // failed try and the watch is not missed.
        watch.emplace(QFileInfo(target).absolutePath());
        continue;
      }
      watch->wait(std::min(left, std::chrono::milliseconds{10}));
    }
    if (Clock::now() >= deadline) return;
  }
}

FileWriteLock::~FileWriteLock() {
  if (fd_ < 0) return;
  // Removed while still held: a writer waiting on this file then finds it gone and takes
  // a new one, instead of two writers each holding one.
  ::unlink(lockPath_.constData());
  ::close(fd_);
}

}  // namespace tallowen

#else
#error "FileWriteLock.cpp is Linux-only; provide this platform's own lock"
#endif
