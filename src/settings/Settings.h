#pragma once

#include <QHash>
#include <QString>
#include <functional>
#include <optional>

#include "settings/SettingKeys.h"
#include "settings/modINI.h"

namespace tallowen {

// The program's settings, typed, as the program itself owns them: one object, made by the
// program at its start and handed to each window that needs a value. Every read goes to
// setting.ini and every write goes there at once. A write the file cannot take holds for
// the rest of the run all the same, so that a choice made in the settings dialog is not
// silently replaced by an older one, or by none; the first such failure is told to
// `unstored`, once.
class Settings {
 public:
  explicit Settings(std::function<void(const QString& path)> unstored = {});
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // The recording quality: a profile's name, or text that some profile's name holds.
  QString quality() const { return read(kQualitySetting).value; }
  void setQuality(const QString& text) { write(kQualitySetting, text); }
  // The folder recordings go to, and whether what is stored reads back cut.
  StoredSetting saveFolder() const { return read(kSaveFolderSetting); }
  void setSaveFolder(const QString& folder) { write(kSaveFolderSetting, folder); }
  // The latest recording's full path; a write that changes nothing is not made.
  QString lastRecording() const { return read(kLastRecordingSetting).value; }
  void setLastRecording(const QString& path);
  // The players' volume in hundredths of a decibel (0 is full volume, -10000 silence),
  // and whether they are muted, as the user last left them; nothing when never stored or
  // not a value the players can take.
  std::optional<int> playerVolume() const;
  void setPlayerVolume(int volume) { write(kPlayerVolumeSetting, QString::number(volume)); }
  std::optional<bool> playerMuted() const;
  void setPlayerMuted(bool muted) { write(kPlayerMutedSetting, muted ? QStringLiteral("1") : QStringLiteral("0")); }

 private:
  StoredSetting read(SettingKey setting) const;
  void write(SettingKey setting, const QString& value);

  std::function<void(const QString&)> unstoredHandler_;
  bool unstoredSaid_ = false;
  QHash<QString, QString> unstored_;  // by section and key, in lower case
};

}  // namespace tallowen
