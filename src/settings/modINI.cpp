#include "settings/modINI.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
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

StoredSetting ReadStoredSetting(SettingKey setting) {
  const ProfileValue v = ReadProfileValue(SettingsFilePath(), QLatin1String(setting.section),
                                          QLatin1String(setting.key), LocaleCodec::system());
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

bool StoreSetting(const QString& section, const QString& key, const QString& value) {
  const QString path = SettingsFilePath();
  // The user's folder may not exist yet.
  QDir().mkpath(QFileInfo(path).absolutePath());
  const bool stored = WriteProfileString(path, section, key, value, LocaleCodec::system());
  if (!stored) qCWarning(lcSettings) << "not stored:" << section << key << "in" << path;
  return stored;
}

void WriteSetting(const QString& section, const QString& key, const QString& value) {
  StoreSetting(section, key, value);
}

}  // namespace tallowen
