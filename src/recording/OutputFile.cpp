#include "recording/OutputFile.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recording/EncoderError.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tallowen {

namespace {

std::atomic<qint64> writeLimit{-1};

bool syncDescriptor(int fd) {
#ifdef Q_OS_WIN
  return _commit(fd) == 0;
#else
  return ::fsync(fd) == 0;
#endif
}

}  // namespace

void OutputFile::setWriteLimitForTesting(qint64 bytes) { writeLimit = bytes; }

OutputFile::OutputFile(const QString& path) : path_(path), file_(path) {}

OutputFile::~OutputFile() { close(); }

std::unique_ptr<OutputFile> OutputFile::create(const QString& path) {
  const QFileInfo info(path);
  const QString folder = info.absolutePath();
  if (!QFileInfo(folder).isDir())
    throw EncoderError(QStringLiteral("The folder %1 does not exist.").arg(QDir::toNativeSeparators(folder)));
  if (info.exists())
    throw EncoderError(QStringLiteral("The file %1 exists already; it is not overwritten.")
                           .arg(QDir::toNativeSeparators(path)));

  std::unique_ptr<OutputFile> out(new OutputFile(path));
  // NewOnly fails if another program made the file in the meantime: never overwrite.
  // Readable, so that a repair can go through the same descriptor.
  if (!out->file_.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered))
    throw EncoderError(QStringLiteral("The file %1 cannot be created: %2")
                           .arg(QDir::toNativeSeparators(path), out->file_.errorString()));
  return out;
}

int OutputFile::write(const uint8_t* data, int size) {
  const qint64 limit = writeLimit.load();
  if (limit >= 0 && file_.pos() + size > limit) {
    writeError_ = QStringLiteral("No space left on the device.");
    return -ENOSPC;
  }
  qint64 done = 0;
  while (done < size) {
    const qint64 n = file_.write(reinterpret_cast<const char*>(data) + done, size - done);
    if (n <= 0) {
      writeError_ = file_.errorString();
      return -EIO;
    }
    done += n;
  }
  return size;
}

int64_t OutputFile::seek(int64_t offset, int whence) {
  switch (whence) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += file_.pos();
      break;
    case SEEK_END:
      offset += file_.size();
      break;
    default:
      return -EINVAL;
  }
  if (offset < 0 || !file_.seek(offset)) return -EIO;
  return offset;
}

void OutputFile::syncToDisk() {
  if (!syncDescriptor(file_.handle()))
    throw EncoderError(
        QStringLiteral("Writing %1 to the disk failed: %2")
            .arg(QDir::toNativeSeparators(path_), QString::fromLocal8Bit(std::strerror(errno))));
  if (onSynced_) onSynced_(file_.size());
}

void OutputFile::close() {
  if (file_.isOpen()) file_.close();
}

}  // namespace tallowen
