#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

#include "recording/RecordingSetup.h"

namespace tallowen {

// What every source delivers: 32-bit float samples, interleaved, at the recording's own
// rate and channel count; the sound server converts whatever the device gives.
struct SoundFormat {
  int sampleRate = 0;
  int channels = 0;
};

// Why a source stopped delivering.
enum class SourceLoss {
  RanOut,      // a sound file came to its end
  NoInput,     // the input cannot be opened: none, or not the one named
  DeviceGone,  // the input was removed (a microphone pulled)
  ServerGone,  // the sound server cannot be reached: stopped, restarted, or not running
  Held,        // another program holds the input, and the server cannot record from it
};

// One open input, on the capture thread, which runs an event loop. What it reports comes
// from that loop, never from inside a call the capture made to it, so that the capture may
// drop the input in its answer (with deleteLater: the input is still in its signal).
class SoundSource : public QObject {
  Q_OBJECT
 public:
  ~SoundSource() override = default;
  virtual void start() = 0;
  // How much sound to gather before handing it over: little while somebody watches the
  // level, much otherwise, so that the capture wakes seldom.
  virtual void setBlock(std::chrono::milliseconds block) = 0;
  // What the input is called, for messages; may be empty until `ready`.
  virtual QString description() const = 0;
  // The server's own name of the device recorded from, once `ready`; empty where there is none.
  virtual QByteArray deviceName() const { return {}; }

 signals:
  // Sound comes from now on.
  void ready();
  // `samples` live for the call only: connected directly, on the capture thread.
  void audio(const float* samples, int frames);
  // Once; before `ready`, the input could not be opened.
  void lost(tallowen::SourceLoss why, const QString& detail);
};

// Where inputs come from: the sound server in the program, a sound file in the tests and
// benchmarks. Called on the capture thread.
class SoundSources {
 public:
  virtual ~SoundSources() = default;
  virtual std::unique_ptr<SoundSource> open(const AudioInput& input, const SoundFormat& format) = 0;
};

}  // namespace tallowen
