#include "recording/OutputFile.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <cerrno>

#include "recording/EncoderError.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tallowen {

namespace {

std::atomic<qint64> writeLimit{-1};

constexpr int kIoBufferSize = 32 * 1024;

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
  if (!out->file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
    throw EncoderError(QStringLiteral("The file %1 cannot be created: %2")
                           .arg(QDir::toNativeSeparators(path), out->file_.errorString()));

  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  if (!buffer) throw EncoderError(QStringLiteral("Out of memory for the output buffer."));
  out->io_.reset(avio_alloc_context(buffer, kIoBufferSize, 1, out.get(), nullptr, &OutputFile::writePacket,
                                    &OutputFile::seek));
  if (!out->io_) {
    av_free(buffer);
    throw EncoderError(QStringLiteral("Out of memory for the output context."));
  }
  out->lastSync_ = std::chrono::steady_clock::now();
  return out;
}

int OutputFile::writePacket(void* opaque, uint8_t* data, int size) {
  auto* self = static_cast<OutputFile*>(opaque);
  const qint64 limit = writeLimit.load();
  if (limit >= 0 && self->file_.pos() + size > limit) {
    self->writeError_ = QStringLiteral("No space left on the device.");
    return AVERROR(ENOSPC);
  }
  qint64 done = 0;
  while (done < size) {
    const qint64 n = self->file_.write(reinterpret_cast<const char*>(data) + done, size - done);
    if (n <= 0) {
      self->writeError_ = self->file_.errorString();
      return AVERROR(EIO);
    }
    done += n;
  }
  return size;
}

int64_t OutputFile::seek(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<OutputFile*>(opaque);
  QFile& f = self->file_;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return f.size();
    case SEEK_SET:
      break;
    case SEEK_CUR:
      offset += f.pos();
      break;
    case SEEK_END:
      offset += f.size();
      break;
    default:
      return AVERROR(EINVAL);
  }
  if (offset < 0 || !f.seek(offset)) return AVERROR(EIO);
  return offset;
}

void OutputFile::throwIfFailed() {
  if (io_ && io_->error < 0) {
    const QString why = writeError_.isEmpty() ? avErrorText(io_->error) : writeError_;
    throw EncoderError(QStringLiteral("Writing %1 failed: %2").arg(QDir::toNativeSeparators(path_), why));
  }
}

void OutputFile::flush() {
  throwIfFailed();
  avio_flush(io_.get());
  throwIfFailed();
}

void OutputFile::sync() {
  flush();
  if (!syncDescriptor(file_.handle()))
    throw EncoderError(QStringLiteral("Writing %1 to the disk failed: %2")
                           .arg(QDir::toNativeSeparators(path_), QString::fromLocal8Bit(strerror(errno))));
  lastSync_ = std::chrono::steady_clock::now();
}

void OutputFile::syncIfDue(std::chrono::milliseconds interval) {
  if (std::chrono::steady_clock::now() - lastSync_ >= interval) sync();
}

void OutputFile::close() {
  if (io_) {
    if (io_->error >= 0) avio_flush(io_.get());
    io_.reset();
  }
  if (file_.isOpen()) file_.close();
}

}  // namespace tallowen
