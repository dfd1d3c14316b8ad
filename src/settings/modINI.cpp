#include "settings/modINI.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QHash>
#include <QMutex>
#include <atomic>
#include <unistd.h>

#include "platform/ApplicationFolder.h"
#include "platform/LocaleCodec.h"
#include "settings/ProfileFile.h"
#include "settings/SettingsLog.h"

namespace tallowen {

namespace {

SettingsPlaces systemPlaces() {
  const ProgramFiles& program = ThisProgramFiles();
  return {program.installed ? QString() : program.programFolder,
          QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Tallowen"),
          QStandardPaths::writableLocation(QStandardPaths::MusicLocation)};
}

std::function<void(const QString&)>& failureHandler() {
  static std::function<void(const QString&)> handler;
  return handler;
}
std::atomic<bool> failureReported{false};

// What was written but could not be stored: it holds for the rest of the run, so that a
// choice made in the settings dialog is not silently replaced by an older one, or by none.
QMutex unstoredLock;
QHash<QString, QString>& unstored() {
  static QHash<QString, QString> values;
  return values;
}
QString unstoredKey(const QString& section, const QString& key) {
  return section.toLower() + QLatin1Char('\n') + key.toLower();
}

bool besideTheProgram(const SettingsPlaces& places, const std::function<bool(const QString&)>& writable) {
  return !places.applicationFolder.isEmpty() && writable(places.applicationFolder);
}

}  // namespace

QString SettingsFilePathFor(const SettingsPlaces& places, const std::function<bool(const QString&)>& writable) {
  if (besideTheProgram(places, writable)) return places.applicationFolder + QStringLiteral("/setting.ini");
  return places.userFolder + QStringLiteral("/setting.ini");
}

QString DefaultSaveFolderFor(const SettingsPlaces& places, const std::function<bool(const QString&)>& writable) {
  if (besideTheProgram(places, writable)) return places.applicationFolder + QStringLiteral("/Rec");
  const QString music = places.musicFolder.isEmpty() ? QDir::homePath() : places.musicFolder;
  return music + QStringLiteral("/Tallowen");
}

bool FolderWritable(const QString& folder) {
  return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString SettingsFilePath() { return SettingsFilePathFor(systemPlaces(), FolderWritable); }

QString DefaultSaveFolder() { return DefaultSaveFolderFor(systemPlaces(), FolderWritable); }

QString ReadSetting(const QString& section, const QString& key) {
  {
    QMutexLocker lock(&unstoredLock);
    const auto it = unstored().constFind(unstoredKey(section, key));
    if (it != unstored().constEnd()) return *it;
  }
  return ReadProfileString(SettingsFilePath(), section, key, LocaleCodec::system());
}

StoredSetting ReadStoredSetting(SettingKey setting) {
  const QString section = QLatin1String(setting.section), key = QLatin1String(setting.key);
  {
    QMutexLocker lock(&unstoredLock);
    const auto it = unstored().constFind(unstoredKey(section, key));
    if (it != unstored().constEnd()) return {*it, false};
  }
  const ProfileValue v = ReadProfileValue(SettingsFilePath(), section, key, LocaleCodec::system());
  return {v.text, v.cut};
}

StoreProblem ValueStoreProblem(const QString& value) {
  if (value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n')) || value.contains(QChar(0)))
    return StoreProblem::LineBreak;
  const LocaleCodec codec = LocaleCodec::system();
  const QByteArray bytes = codec.fromUnicode(value);
  if (codec.toUnicode(bytes) != value) return StoreProblem::NotInCodePage;
  // A value that fills the whole buffer would read back as cut.
  if (bytes.size() >= kMaxProfileValueBytes) return StoreProblem::TooLong;
  return StoreProblem::None;
}

void WriteSetting(const QString& section, const QString& key, const QString& value) {
  const QString path = SettingsFilePath();
  // The user's folder may not exist yet.
  QDir().mkpath(QFileInfo(path).absolutePath());
  const bool stored = WriteProfileString(path, section, key, value, LocaleCodec::system());
  {
    QMutexLocker lock(&unstoredLock);
    if (stored)
      unstored().remove(unstoredKey(section, key));
    else
      unstored().insert(unstoredKey(section, key), value);
  }
  if (!stored) qCWarning(lcSettings) << "not stored:" << section << key << "in" << path;
  if (stored || failureReported.exchange(true)) return;
  if (failureHandler()) failureHandler()(path);
}

void SetSettingsFailureHandler(std::function<void(const QString& path)> handler) {
  failureHandler() = std::move(handler);
  failureReported = false;
  QMutexLocker lock(&unstoredLock);
  unstored().clear();
}

}  // namespace tallowen
