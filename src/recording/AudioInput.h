#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "recording/Codec.h"

namespace tallowen {

// Where a recording's sound comes from. Lives on the encoder's worker thread, which has
// an event loop; delivers PCM through `onAudio` and reports its end through `onEnded`.
class AudioInput : public QObject {
  Q_OBJECT
 public:
  using AudioCallback = std::function<void(const uint8_t* const* planes, int frames)>;
  // An empty reason means the source simply ran out (end of a file).
  using EndCallback = std::function<void(const QString& reason)>;

  ~AudioInput() override = default;

  virtual PcmFormat format() const = 0;
  // Throws EncoderError.
  virtual void start(AudioCallback onAudio, EndCallback onEnded) = 0;
  virtual void stop() = 0;
};

}  // namespace tallowen
