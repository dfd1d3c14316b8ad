#pragma once

#include <QString>
#include <vector>

namespace tallowen {

// A recording quality: what the WMA encoder is set up with.
struct Profile {
  QString name;
  int sampleRate = 0;
  int channels = 0;
  int bitRate = 0;  // bits per second
};

// The encoder's profiles, from voice quality to CD quality, in a stable order.
const std::vector<Profile>& BuiltInProfiles();

class ProfileCollection {
 public:
  explicit ProfileCollection(std::vector<Profile> profiles = BuiltInProfiles())
      : profiles_(std::move(profiles)) {}
  int count() const;
  const Profile& item(int index) const;  // throws RecordingError outside 0..count-1
  // The first profile whose name contains the text (an empty text is in every name).
  const Profile* matching(const QString& text) const;
  // The one proposed while none is chosen: a voice recorder's, for speech.
  const Profile& forSpeech() const;

 private:
  std::vector<Profile> profiles_;
};

}  // namespace tallowen
