#include "recording/Profiles.h"

#include "recording/RecordingFailure.h"

namespace tallowen {

const std::vector<Profile>& BuiltInProfiles() {
  // wmav2 takes 24 to 192 kb/s; no name is a substring of an earlier one, so a stored
  // name always finds its own profile.
  static const std::vector<Profile> profiles = {
      {QStringLiteral("音声 低音質 (24 kbps, 16 kHz, モノラル)"), 16000, 1, 24000},
      {QStringLiteral("音声 標準 (32 kbps, 22 kHz, モノラル)"), 22050, 1, 32000},
      {QStringLiteral("音声 高音質 (48 kbps, 32 kHz, モノラル)"), 32000, 1, 48000},
      {QStringLiteral("音楽 FM ラジオ品質 (64 kbps, 44 kHz, ステレオ)"), 44100, 2, 64000},
      {QStringLiteral("音楽 高音質 (96 kbps, 44 kHz, ステレオ)"), 44100, 2, 96000},
      {QStringLiteral("音楽 CD 品質 (128 kbps, 44 kHz, ステレオ)"), 44100, 2, 128000},
      {QStringLiteral("音楽 最高音質 (192 kbps, 48 kHz, ステレオ)"), 48000, 2, 192000},
  };
  return profiles;
}

int ProfileCollection::count() const { return static_cast<int>(profiles_.size()); }

const Profile* ProfileCollection::matching(const QString& text) const {
  for (const Profile& profile : profiles_)
    if (profile.name.contains(text)) return &profile;
  return nullptr;
}

const Profile& ProfileCollection::forSpeech() const {
  // One channel, as one microphone gives; at least 22 kHz, which keeps the hiss of "s" and
  // "sh" (up to 11 kHz) that 16 kHz cuts off; and of those the smallest file.
  const Profile* best = nullptr;
  for (const Profile& p : profiles_)
    if (p.channels == 1 && p.sampleRate >= 22050 && (!best || p.bitRate < best->bitRate)) best = &p;
  return best ? *best : item(0);
}

const Profile& ProfileCollection::item(int index) const {
  if (index < 0 || index >= count())
    throw RecordingError(QStringLiteral("No profile has the index %1.").arg(index));
  return profiles_[static_cast<size_t>(index)];
}

}  // namespace tallowen
