#include "recording/RecordingJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include "recording/AsfRepair.h"

namespace tallowen {

namespace {

const QString kPathSuffix = QStringLiteral(".path");
const QString kLockSuffix = QStringLiteral(".lock");

QString entriesFolder() { return RecordingJournalFolder() + QStringLiteral("/recordings"); }

}  // namespace

QString RecordingJournalFolder() {
#ifdef Q_OS_WIN
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Tallowen/state");
#else
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  // The XDG rules ignore a relative path here.
  if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
  return base + QStringLiteral("/Tallowen");
#endif
}

RecordingJournalEntry::RecordingJournalEntry(const QString& recordingPath) {
  const QString folder = entriesFolder();
  if (!QDir().mkpath(folder)) return;
  const QString base = folder + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
  // The lock comes first: an entry is never seen without the program that holds it.
  lock_ = std::make_unique<QLockFile>(base + kLockSuffix);
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    lock_.reset();
    return;
  }
  QSaveFile entry(base + kPathSuffix);
  if (entry.open(QIODevice::WriteOnly)) {
    entry.write(QFileInfo(recordingPath).absoluteFilePath().toUtf8());
    if (entry.commit()) {
      entryPath_ = base + kPathSuffix;
      return;
    }
  }
  lock_.reset();
}

RecordingJournalEntry::~RecordingJournalEntry() = default;  // an unfinished entry stays

void RecordingJournalEntry::markCompleted() {
  if (!entryPath_.isEmpty()) QFile::remove(entryPath_);
  entryPath_.clear();
  lock_.reset();  // removes the lock file
}

InterruptedRecordings RepairInterruptedRecordings() {
  InterruptedRecordings found;
  const QDir folder(entriesFolder());
  const QStringList entries = folder.entryList({QLatin1Char('*') + kPathSuffix}, QDir::Files, QDir::Name);
  for (const QString& name : entries) {
    const QString base = folder.filePath(name.chopped(kPathSuffix.size()));
    QLockFile lock(base + kLockSuffix);
    // Held by a running program: that recording is still going.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) continue;
    QFile entry(base + kPathSuffix);
    const QString recording =
        entry.open(QIODevice::ReadOnly) ? QString::fromUtf8(entry.readAll()) : QString();
    entry.close();
    if (!recording.isEmpty() && QFileInfo::exists(recording)) {
      const AsfRepairOutcome outcome = RepairAsfFile(recording);
      (outcome.result == AsfRepairOutcome::Result::Failed ? found.failed : found.repaired) << recording;
    }
    QFile::remove(base + kPathSuffix);
  }
  return found;
}

}  // namespace tallowen
