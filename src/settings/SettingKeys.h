#pragma once

namespace tallowen {

// A value of setting.ini: its section and key, spelt once here.
struct SettingKey {
  const char* section;
  const char* key;
};

// The recording quality: a profile's name, or text that some profile's name contains.
inline constexpr SettingKey kQualitySetting{"Profile", "Prof"};
// The folder recordings go to.
inline constexpr SettingKey kSaveFolderSetting{"SaveTo", "Path"};
// The full path of the latest recording.
inline constexpr SettingKey kLastRecordingSetting{"LastRecorded", "FileName"};

}  // namespace tallowen
