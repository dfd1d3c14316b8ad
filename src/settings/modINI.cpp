#include "settings/modINI.h"

#include <QCoreApplication>

#include "platform/LocaleCodec.h"
#include "settings/ProfileFile.h"

namespace tallowen {

QString SettingsFilePath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/setting.ini"); }

QString ReadSetting(const QString& section, const QString& key) {
  return ReadProfileString(SettingsFilePath(), section, key, LocaleCodec::system());
}

void WriteSetting(const QString& section, const QString& key, const QString& value) {
  WriteProfileString(SettingsFilePath(), section, key, value, LocaleCodec::system());
}

}  // namespace tallowen
