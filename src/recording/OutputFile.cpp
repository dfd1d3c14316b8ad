#include "recording/OutputFile.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recording/EncoderError.h"
#include "recording/RecordingName.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tallowen {

namespace {

// The data, and the size the data needs; not the times. Cheaper than a full sync, which
// matters at once a second.
bool syncData(int fd) {
#ifdef Q_OS_WIN
  return _commit(fd) == 0;
#else
  return ::fdatasync(fd) == 0;
#endif
}

QString shown(const QString& path) { return QDir::toNativeSeparators(path); }

}  // namespace

OutputFile::OutputFile(const QString& path, std::shared_ptr<const DiskSpace> disk)
    : path_(path), disk_(std::move(disk)), file_(std::make_unique<QFile>(path)) {}

OutputFile::~OutputFile() {
  if (file_->isOpen()) file_->close();
}

std::unique_ptr<OutputFile> OutputFile::create(const QString& path, std::shared_ptr<const DiskSpace> disk) {
  const QFileInfo info(path);
  const QString folder = info.absolutePath();
  if (!QFileInfo(folder).isDir())
    throw EncoderError(EncoderFailure::SaveFolder, folder,
                       QStringLiteral("The folder %1 does not exist.").arg(shown(folder)));
  if (info.exists())
    throw EncoderError(EncoderFailure::FileExists, path,
                       QStringLiteral("The file %1 exists already; it is not overwritten.").arg(shown(path)));

  std::unique_ptr<OutputFile> out(new OutputFile(path, std::move(disk)));
  // NewOnly fails if another program made the file in the meantime: never overwrite.
  // Readable, so that a repair and a copy can go through the same descriptor.
  if (!out->file_->open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
    const QString why =
        QStringLiteral("The file %1 cannot be created: %2").arg(shown(path), out->file_->errorString());
    if (QFileInfo::exists(path)) throw EncoderError(EncoderFailure::FileExists, path, why);
    throw EncoderError(EncoderFailure::SaveFolderWrite, folder, why);
  }
  return out;
}

int OutputFile::write(const uint8_t* data, int size) {
  if (disk_ && !disk_->allows(file_->pos() + size)) {
    writeError_ = QStringLiteral("No space left on the device.");
    return -ENOSPC;
  }
  qint64 done = 0;
  while (done < size) {
    const qint64 n = file_->write(reinterpret_cast<const char*>(data) + done, size - done);
    if (n <= 0) {
      writeError_ = file_->errorString();
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
      offset += file_->pos();
      break;
    case SEEK_END:
      offset += file_->size();
      break;
    default:
      return -EINVAL;
  }
  if (offset < 0 || !file_->seek(offset)) return -EIO;
  return offset;
}

bool OutputFile::removed() const {
#ifdef Q_OS_WIN
  return false;  // an open file cannot be deleted there
#else
  struct stat st {};
  return ::fstat(file_->handle(), &st) == 0 && st.st_nlink == 0;
#endif
}

void OutputFile::restoreIfRemoved() {
  if (!file_->isOpen() || !removed()) return;
  const QFileInfo was(path_);
  const QString folder = was.absolutePath();
  auto lost = [&](const QString& why) {
    return EncoderError(EncoderFailure::FileLost, path_,
                        QStringLiteral("The recording %1 was removed while recording and cannot be put back: %2")
                            .arg(shown(path_), why));
  };
  if (!QDir().mkpath(folder)) throw lost(QStringLiteral("the folder cannot be made again"));
  // Never over a file that took its place: the next free name instead.
  const QString path = RecordingPath(folder, was.fileName());
  auto copy = std::make_unique<QFile>(path);
  if (!copy->open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered))
    throw lost(copy->errorString());
  const qint64 at = file_->pos();
  QByteArray chunk(1 << 20, Qt::Uninitialized);
  bool ok = file_->seek(0);
  while (ok) {
    const qint64 got = file_->read(chunk.data(), chunk.size());
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = copy->write(chunk.constData(), got) == got;
  }
  if (!ok || !copy->seek(at) || !file_->seek(at)) {
    const QString why = copy->errorString();
    copy->close();
    QFile::remove(path);
    throw lost(why);
  }
  file_->close();
  file_ = std::move(copy);
  path_ = path;
  if (onRestored_) onRestored_(path_, file_->handle());
}

void OutputFile::syncToDisk() {
  restoreIfRemoved();
  if (!syncData(file_->handle()))
    throw EncoderError(EncoderFailure::Write, path_,
                       QStringLiteral("Writing %1 to the disk failed: %2")
                           .arg(shown(path_), QString::fromLocal8Bit(std::strerror(errno))));
  if (onSynced_) onSynced_(file_->size());
}

void OutputFile::close() {
  if (!file_->isOpen()) return;
  // The last chance to put back a file removed since the last sync; a failure leaves the
  // removed file as it is, for the writer to report.
  try {
    restoreIfRemoved();
  } catch (const EncoderError&) {
  }
  file_->close();
}

}  // namespace tallowen
