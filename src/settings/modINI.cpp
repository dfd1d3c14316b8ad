#include "settings/modINI.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <atomic>
#include <unistd.h>

#include "platform/ApplicationFolder.h"
#include "platform/LocaleCodec.h"
#include "settings/ProfileFile.h"

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
  return ReadProfileString(SettingsFilePath(), section, key, LocaleCodec::system());
}

void WriteSetting(const QString& section, const QString& key, const QString& value) {
  const QString path = SettingsFilePath();
  // The user's folder may not exist yet.
  QDir().mkpath(QFileInfo(path).absolutePath());
  if (WriteProfileString(path, section, key, value, LocaleCodec::system())) return;
  if (failureReported.exchange(true)) return;
  if (failureHandler()) failureHandler()(path);
}

void SetSettingsFailureHandler(std::function<void(const QString& path)> handler) {
  failureHandler() = std::move(handler);
  failureReported = false;
}

}  // namespace tallowen
