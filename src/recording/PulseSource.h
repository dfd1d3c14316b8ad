#pragma once

#include <QObject>
#include <memory>
#include <vector>

#include "recording/PulseLoop.h"
#include "recording/SoundSource.h"

struct pa_context;
struct pa_stream;

namespace tallowen {

// The sound server's inputs (PulseAudio, or PipeWire's PulseAudio service).
class PulseSources : public SoundSources {
 public:
  // `streamName` is what the sound server's volume control calls a recording.
  explicit PulseSources(QString streamName = QStringLiteral("Tallowen")) : streamName_(std::move(streamName)) {}
  std::unique_ptr<SoundSource> open(const AudioInput& input, const SoundFormat& format) override;

  // The default input's name for people, asked of the sound server and waited for (at most
  // `waitMs`); empty with `problem` set when there is none or no server answers.
  struct DefaultInput {
    QString description;
    QString problem;
  };
  static DefaultInput defaultInput(int waitMs = 3000);

 private:
  QString streamName_;
};

// One input through libpulse, on a connection of its own: after the sound server restarts,
// the next connection finds the new one. The server converts the device's sound to the
// recording's format and gathers it into blocks of the size asked for.
class PulseSource final : public SoundSource {
 public:
  PulseSource(const AudioInput& input, const SoundFormat& format, const QString& streamName);
  ~PulseSource() override;

  void start() override;
  void setBlock(std::chrono::milliseconds block) override;
  QString description() const override { return description_; }
  QByteArray deviceName() const override { return deviceName_; }

 private:
  struct ContextDeleter {
    void operator()(pa_context* c) const;
  };
  struct StreamDeleter {
    void operator()(pa_stream* s) const;
  };

  void contextChanged();
  void streamChanged();
  void readable();
  void applyBlock();
  // Told once, from the event loop: the capture may drop the source in its answer.
  void report(SourceLoss why, const QString& detail);
  void reportHeld();

  AudioInput input_;
  SoundFormat format_;
  QByteArray streamName_;
  std::chrono::milliseconds block_{20};
  bool ready_ = false;
  bool held_ = false;  // suspended as it opened: another program has the device
  bool reported_ = false;
  QString description_;
  QByteArray deviceName_;
  std::vector<float> aligned_;
  // The loop outlives the connection and the stream, which free their events through it.
  std::unique_ptr<PulseLoop> loop_;
  std::unique_ptr<pa_context, ContextDeleter> context_;
  std::unique_ptr<pa_stream, StreamDeleter> stream_;
};

}  // namespace tallowen
