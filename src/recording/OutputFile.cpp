#include "recording/OutputFile.h"

#include <QDir>
#include <QFileInfo>
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

bool syncDescriptor(int fd) {
#ifdef Q_OS_WIN
  return _commit(fd) == 0;
#else
  return ::fsync(fd) == 0;
#endif
}

}  // namespace

OutputFile::OutputFile(const QString& path, std::shared_ptr<const DiskSpace> disk)
    : path_(path), disk_(std::move(disk)), file_(path) {}

OutputFile::~OutputFile() { close(); }

std::unique_ptr<OutputFile> OutputFile::create(const QString& path, std::shared_ptr<const DiskSpace> disk) {
  const QFileInfo info(path);
  const QString folder = info.absolutePath();
  if (!QFileInfo(folder).isDir())
    throw EncoderError(EncoderFailure::SaveFolder, folder,
                       QStringLiteral("The folder %1 does not exist.").arg(QDir::toNativeSeparators(folder)));
  if (info.exists())
    throw EncoderError(EncoderFailure::FileExists, path,
                       QStringLiteral("The file %1 exists already; it is not overwritten.")
                           .arg(QDir::toNativeSeparators(path)));

  std::unique_ptr<OutputFile> out(new OutputFile(path, std::move(disk)));
  // NewOnly fails if another program made the file in the meantime: never overwrite.
  if (!out->file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
    const QString why = QStringLiteral("The file %1 cannot be created: %2")
                            .arg(QDir::toNativeSeparators(path), out->file_.errorString());
    if (QFileInfo::exists(path)) throw EncoderError(EncoderFailure::FileExists, path, why);
    throw EncoderError(EncoderFailure::SaveFolderWrite, folder, why);
  }
  return out;
}

int OutputFile::write(const uint8_t* data, int size) {
  if (disk_ && !disk_->allows(file_.pos() + size)) {
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
        EncoderFailure::Write, path_,
        QStringLiteral("Writing %1 to the disk failed: %2")
            .arg(QDir::toNativeSeparators(path_), QString::fromLocal8Bit(std::strerror(errno))));
}

void OutputFile::close() {
  if (file_.isOpen()) file_.close();
}

}  // namespace tallowen
