#pragma once

#include <QString>
#include <functional>

#include "settings/SettingKeys.h"

namespace tallowen {

// Where the program keeps its files, as far as the settings are concerned.
struct SettingsPlaces {
  QString applicationFolder;  // beside the executable; empty for an installed copy
  QString userFolder;         // $XDG_CONFIG_HOME/Tallowen
  QString musicFolder;        // the user's music folder
};

// setting.ini beside the executable while that folder is writable (a copy run from its own
// folder, or a file from the Windows program dropped beside it); in the user's
// configuration folder when it is not, and always for an installed copy, whose folder
// even the superuser must not fill with one user's settings.
QString SettingsFilePathFor(const SettingsPlaces& places, const std::function<bool(const QString&)>& writable);

// The folder recordings go to before one is chosen: "Rec" beside the executable, or the
// user's music folder followed by "Tallowen" when the program's folder is read-only or
// installed.
QString DefaultSaveFolderFor(const SettingsPlaces& places, const std::function<bool(const QString&)>& writable);

// Whether this user may make files in the folder.
bool FolderWritable(const QString& folder);

// The same for this program and this user; worked out anew at every call.
QString SettingsFilePath();
QString DefaultSaveFolder();

// The settings file's own two operations, as the Windows program had them: every read goes
// to the file and every write goes to it at once. Nothing is kept between calls; the
// program reaches them through its Settings (settings/Settings.h).
// "" when the file, section or key is missing.
QString ReadSetting(const QString& section, const QString& key);
// A write that cannot be stored is logged, and lost.
void WriteSetting(const QString& section, const QString& key, const QString& value);
// The same, telling whether the value was stored.
bool StoreSetting(const QString& section, const QString& key, const QString& value);

// The same for the program's own values.
inline QString ReadSetting(SettingKey setting) {
  return ReadSetting(QLatin1String(setting.section), QLatin1String(setting.key));
}
inline void WriteSetting(SettingKey setting, const QString& value) {
  WriteSetting(QLatin1String(setting.section), QLatin1String(setting.key), value);
}
inline bool StoreSetting(SettingKey setting, const QString& value) {
  return StoreSetting(QLatin1String(setting.section), QLatin1String(setting.key), value);
}

// A value as read, and whether what is stored was longer than a value reads back: then it
// is not what anybody chose.
struct StoredSetting {
  QString value;
  bool cut = false;
};
StoredSetting ReadStoredSetting(SettingKey setting);

// Why a value could not be stored so that it reads back exactly as it is.
enum class StoreProblem {
  None,
  TooLong,        // as many bytes as a value reads back, or more: it would read as cut
  LineBreak,      // a line break or a NUL, where a value ends
  NotInCodePage,  // characters the settings file's code page lacks
};
StoreProblem ValueStoreProblem(const QString& value);

}  // namespace tallowen
