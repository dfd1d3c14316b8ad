#include "recording/OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "recording/RecordingFailure.h"
#include "recording/RecordingLog.h"
#include "recording/RecordingName.h"

namespace tallowen {

namespace {

QString shown(const QString& path) { return QDir::toNativeSeparators(path); }

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

constexpr qsizetype kReserveBytes = 256 * 1024;

// Another copy of the program may take a name of the same minute between our look and our
// creation: the next free name is tried, this often.
constexpr int kCreateAttempts = 20;

}  // namespace

OutputFile::OutputFile(const QString& path) : path_(path), file_(std::make_unique<QFile>(path)) {}

OutputFile::~OutputFile() { close(); }

namespace {

std::optional<std::pair<uint64_t, uint64_t>> folderIdentity(const QString& folder) {
  struct stat st {};
  if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return std::pair{uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::create(const QString& wanted, const QStringList& rescueFolders) {
  const QFileInfo info(wanted);
  const QString folder = info.absolutePath();
  // A folder removed since it was chosen (or never made) is made again.
  if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
    throw RecordingError(FailureCause::SaveFolder, folder,
                         QStringLiteral("The folder %1 cannot be created.").arg(shown(folder)));
  QString why;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const QString path = RecordingPath(folder, info.fileName());
    std::unique_ptr<OutputFile> out(new OutputFile(path));
    // NewOnly fails if another program made the file in the meantime: never overwrite.
    // Readable, so that a repair and a copy can go through the same descriptor.
    if (out->file_->open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
      out->rescueFolders_ = rescueFolders;
      if (const auto id = folderIdentity(folder)) out->createdIn_ = FolderId{id->first, id->second};
      return out;
    }
    why = QStringLiteral("The file %1 cannot be created: %2").arg(shown(path), out->file_->errorString());
    if (!QFileInfo::exists(path)) throw RecordingError(FailureCause::SaveFolderWrite, folder, why);
  }
  throw RecordingError(FailureCause::FileExists, wanted, why);
}

void OutputFile::append(const QByteArray& bytes) {
  reserveAhead(size_ + bytes.size());
  qint64 done = 0;
  while (done < bytes.size()) {
    const qint64 n = file_->write(bytes.constData() + done, bytes.size() - done);
    if (n <= 0)
      throw RecordingError(FailureCause::Write, path_,
                           QStringLiteral("Writing %1 failed: %2").arg(shown(path_), file_->errorString()));
    done += n;
  }
  size_ += bytes.size();
}

void OutputFile::reserveAhead(int64_t needed) {
  if (reserveFailed_ || needed <= reservedTo_) return;
  static const QByteArray zeros(kReserveBytes, '\0');
  const int64_t from = std::max(reservedTo_, size_);
  const ssize_t n = ::pwrite(file_->handle(), zeros.constData(), size_t(zeros.size()), off_t(from));
  // A disk too full for the zeros still takes the sound, a write at a time; what the
  // zeros took of it is given back.
  if (n != ssize_t(zeros.size())) {
    reserveFailed_ = true;
    if (n > 0 && ::ftruncate(file_->handle(), off_t(std::max(from, size_))) != 0)
      qCWarning(lcRecording) << "the zeros ahead could not be cut off:" << systemError(errno);
    return;
  }
  reservedTo_ = from + n;
}

void OutputFile::trimReserve() {
  struct stat st {};
  if (file_->isOpen() && ::fstat(file_->handle(), &st) == 0 && st.st_size > size_) {
    if (::ftruncate(file_->handle(), off_t(size_)) != 0) {
      const int error = errno;
      throw RecordingError(FailureCause::Write, path_,
                           QStringLiteral("Writing %1 failed: %2").arg(shown(path_), systemError(error)));
    }
  }
  reservedTo_ = size_;
}

void OutputFile::writeAt(int64_t offset, const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::pwrite(file_->handle(), p, size_t(left), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      throw RecordingError(FailureCause::Write, path_,
                           QStringLiteral("Writing %1 failed: %2").arg(shown(path_), systemError(error)));
    }
    p += n;
    left -= n;
    offset += n;
  }
}

QString OutputFile::currentPath() const {
  if (!file_->isOpen()) return QString();
  const QByteArray link = "/proc/self/fd/" + QByteArray::number(file_->handle());
  char target[4096];
  const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
  if (n <= 0) return QString();
  const QString path = QFile::decodeName(QByteArray(target, qsizetype(n)));
  // The system names a removed file so; there is no path to give then.
  if (path.endsWith(QLatin1String(" (deleted)"))) return QString();
  return path;
}

bool OutputFile::removed() const {
  struct stat st {};
  return ::fstat(file_->handle(), &st) == 0 && st.st_nlink == 0;
}

bool OutputFile::folderIsOurs(const QString& folder) const {
  struct stat st {};
  if (::lstat(QFile::encodeName(folder).constData(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;
  const auto id = folderIdentity(folder);
  return id && createdIn_ && id->first == createdIn_->device && id->second == createdIn_->inode;
}

std::unique_ptr<QFile> OutputFile::copyInto(const QString& folder, QString& path, QString& why) {
  // Made again only where nothing stands at its name.
  if (!QFileInfo::exists(folder) && !QFileInfo(folder).isSymLink()) QDir().mkpath(folder);
  if (!folderIsOurs(folder)) {
    why = QStringLiteral("the folder %1 cannot be made again").arg(shown(folder));
    return nullptr;
  }
  // Never over a file that took its place: the next free name instead.
  path = RecordingPath(folder, QFileInfo(path_).fileName());
  auto copy = std::make_unique<QFile>(path);
  if (!copy->open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
    why = copy->errorString();
    return nullptr;
  }
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
    why = copy->errorString();
    copy->close();
    QFile::remove(path);
    return nullptr;
  }
  return copy;
}

void OutputFile::restoreIfRemoved() {
  if (!file_->isOpen() || !removed()) return;
  const QString folder = QFileInfo(path_).absolutePath();
  QString why;
  for (const QString& place : QStringList{folder} + rescueFolders_) {
    QString path;
    std::unique_ptr<QFile> copy = copyInto(place, path, why);
    if (!copy) {
      qCWarning(lcRecording) << "the recording cannot be put back in" << place << ":" << why;
      continue;
    }
    file_->close();
    file_ = std::move(copy);
    path_ = path;
    // The copy's folder, from here on: a later removal is put back there.
    if (const auto id = folderIdentity(QFileInfo(path_).absolutePath())) createdIn_ = FolderId{id->first, id->second};
    change_ = place == folder ? FileChange::PutBack : FileChange::Rescued;
    return;
  }
  throw RecordingError(FailureCause::FileLost, path_,
                       QStringLiteral("The recording %1 was removed while recording and cannot be put back: %2")
                           .arg(shown(path_), why));
}

void OutputFile::followMove() {
  const QString now = currentPath();
  if (now.isEmpty() || now == path_) return;
  qCInfo(lcRecording) << "the recording moved from" << path_ << "to" << now;
  path_ = now;
  change_ = FileChange::Followed;
}

void OutputFile::syncToDisk() {
  restoreIfRemoved();
  followMove();
  // The data and the size the data needs, not the times: cheaper than a full sync, which
  // matters at once a second.
  if (::fdatasync(file_->handle()) != 0) {
    const int error = errno;
    throw RecordingError(FailureCause::Write, path_,
                         QStringLiteral("Writing %1 to the disk failed: %2").arg(shown(path_), systemError(error)));
  }
}

void OutputFile::close() {
  if (!file_->isOpen()) return;
  // The last chance to put back a file removed since the last sync; a failure leaves the
  // removed file as it is, for the caller to report.
  try {
    restoreIfRemoved();
    followMove();
    trimReserve();
  } catch (const RecordingError& e) {
    qCWarning(lcRecording) << "closing the recording:" << e.detail();
  }
  file_->close();
}

}  // namespace tallowen
