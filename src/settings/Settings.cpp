#include "settings/Settings.h"

#include "settings/SettingsLog.h"

namespace tallowen {

namespace {

QString unstoredKey(SettingKey setting) {
  return QString::fromLatin1(setting.section).toLower() + QLatin1Char('\n') + QString::fromLatin1(setting.key).toLower();
}

}  // namespace

Settings::Settings(std::function<void(const QString& path)> unstored) : unstoredHandler_(std::move(unstored)) {}

StoredSetting Settings::read(SettingKey setting) const {
  const auto it = unstored_.constFind(unstoredKey(setting));
  if (it != unstored_.constEnd()) return {*it, false};
  return ReadStoredSetting(setting);
}

void Settings::write(SettingKey setting, const QString& value) {
  const bool stored = StoreSetting(setting, value);
  if (stored) {
    unstored_.remove(unstoredKey(setting));
    return;
  }
  unstored_.insert(unstoredKey(setting), value);
  if (unstoredSaid_) return;
  unstoredSaid_ = true;
  if (unstoredHandler_) unstoredHandler_(SettingsFilePath());
}

void Settings::setLastRecording(const QString& path) {
  if (lastRecording() != path) write(kLastRecordingSetting, path);
}

std::optional<int> Settings::playerVolume() const {
  const QString stored = read(kPlayerVolumeSetting).value;
  bool number = false;
  const int volume = stored.toInt(&number);
  if (!stored.isEmpty() && !number) qCWarning(lcSettings) << "the stored volume is no number:" << stored;
  return number ? std::optional<int>(volume) : std::nullopt;
}

std::optional<bool> Settings::playerMuted() const {
  const QString stored = read(kPlayerMutedSetting).value;
  if (stored == QLatin1String("0") || stored == QLatin1String("1")) return stored == QLatin1String("1");
  if (!stored.isEmpty()) qCWarning(lcSettings) << "the stored mute is neither 0 nor 1:" << stored;
  return std::nullopt;
}

}  // namespace tallowen
