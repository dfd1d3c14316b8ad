#pragma once
// The recording's seams: where encoders come from, and what sound they record.

#include <memory>

#include "recording/OutputFile.h"
#include "recording/Profiles.h"

namespace tallowen {

class Encoder;
class Source;

// A new encoder object; throws EncoderError when none can be made.
class EncoderFactory {
 public:
  virtual ~EncoderFactory() = default;
  virtual std::unique_ptr<Encoder> create() = 0;
  // The profiles its encoders offer, without making one.
  virtual ProfileCollection profiles() const { return ProfileCollection(); }
  // The disk its encoders write to, when it is not the real one.
  virtual std::shared_ptr<const DiskSpace> diskSpace() const { return nullptr; }
};

// The sound a recording captures: production leaves the source on the default input;
// tests point it at a known sound.
class AudioInputChoice {
 public:
  virtual ~AudioInputChoice() = default;
  virtual void adjust(Source& source) = 0;
};

}  // namespace tallowen
