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
// The players' volume in hundredths of a decibel (0 is full volume), and whether they are
// muted ("1") or not ("0"), as the user last left them.
inline constexpr SettingKey kPlayerVolumeSetting{"Player", "Volume"};
inline constexpr SettingKey kPlayerMutedSetting{"Player", "Muted"};

}  // namespace tallowen
