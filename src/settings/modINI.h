#pragma once

#include <QString>

namespace tallowen {

// setting.ini beside the executable; worked out anew at every call.
QString SettingsFilePath();

// "" when the file, section or key is missing.
QString ReadSetting(const QString& section, const QString& key);

// A write that fails is dropped without a word, as in the Windows program.
void WriteSetting(const QString& section, const QString& key, const QString& value);

}  // namespace tallowen
