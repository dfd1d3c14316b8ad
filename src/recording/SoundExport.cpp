#include "recording/SoundExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recording/RecordingFailure.h"

namespace tallowen {

SoundExport::SoundExport(QObject* parent) : QObject(parent) {}

SoundExport::~SoundExport() {
  if (cancel_) *cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

QString SoundExport::partialNameOf(const QString& target) {
  const QFileInfo info(target);
  return info.dir().filePath(QStringLiteral(".%1.part").arg(info.fileName()));
}

QString SoundExport::suffixOf(ExportFormat format) {
  switch (format) {
    case ExportFormat::Mp3:
      return QStringLiteral("mp3");
    case ExportFormat::M4a:
      return QStringLiteral("m4a");
    case ExportFormat::Opus:
      return QStringLiteral("opus");
    case ExportFormat::Flac:
      return QStringLiteral("flac");
    case ExportFormat::Wav:
      break;
  }
  return QStringLiteral("wav");
}

bool SoundExport::start(const ExportJob& job) {
  if (running_) return false;
  if (worker_.joinable()) worker_.join();  // the last one has ended: its thread is done
  running_ = true;
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  ExportJob partial = job;
  partial.target = partialNameOf(job.target);
  worker_ = std::thread([this, partial, target = job.target, cancel = cancel_] {
    bool done = false;
    QString why;
    try {
      const std::function<void(int)> tell = [this](int permille) {
        QMetaObject::invokeMethod(this, [this, permille] { emit progress(permille); }, Qt::QueuedConnection);
      };
      done = LoadedCodec().exportSound(partial, tell, *cancel);
      // The user chose the name, and was asked before a file is written over.
      if (done && std::rename(QFile::encodeName(partial.target).constData(), QFile::encodeName(target).constData()) != 0) {
        done = false;
        why = QStringLiteral("%1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno)));
      }
    } catch (const RecordingError& e) {
      why = e.detail();
    }
    if (!done) QFile::remove(partial.target);
    // The export waits for this thread as it goes, so it is there to be told.
    QMetaObject::invokeMethod(this, [this, done, why] { end(done, why); }, Qt::QueuedConnection);
  });
  return true;
}

void SoundExport::cancel() {
  if (cancel_) *cancel_ = true;
}

void SoundExport::end(bool done, const QString& why) {
  running_ = false;
  emit finished(done, why);
}

}  // namespace tallowen
