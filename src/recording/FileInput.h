#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include "recording/AudioInput.h"
#include "recording/Codec.h"

namespace tallowen {

// Sound from an audio file (anything FFmpeg reads): how tests and benchmarks feed the
// encoder known sound. Either at the pace of a real input or as fast as possible.
class FileInput : public AudioInput {
  Q_OBJECT
 public:
  enum class Pace { RealTime, AsFastAsPossible };

  // Opens the file; throws EncoderError.
  FileInput(const QString& path, Pace pace, bool repeat);
  ~FileInput() override;

  PcmFormat format() const override { return reader_->format(); }
  void start(AudioCallback onAudio, EndCallback onEnded) override;
  void stop() override;

 private:
  void tick();
  // Decodes and delivers one frame; false at the end of the file.
  bool deliverNextFrame();

  std::unique_ptr<PcmReader> reader_;
  Pace pace_;
  bool repeat_;
  QTimer timer_;
  QElapsedTimer clock_;
  int64_t delivered_ = 0;  // samples per channel
  bool framesSinceRewind_ = false;
  AudioCallback onAudio_;
  EndCallback onEnded_;
};

}  // namespace tallowen
