#pragma once

#include <QFile>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

#include "recording/AudioInput.h"
#include "recording/Codec.h"
#include "recording/RecordingJournal.h"

namespace tallowen {

// What a recording needs to begin, gathered on the owner's thread.
struct CaptureSetup {
  std::function<std::unique_ptr<AudioInput>()> makeInput;  // runs on the worker thread
  QString path;
  Profile profile;
  DisplayTexts texts;
  WriterOptions options;
};

// The recording's pipeline on the encoder's worker thread: input, then writer. Each
// method but the constructor runs on that thread.
class CaptureWorker : public QObject {
  Q_OBJECT
 public:
  explicit CaptureWorker(CaptureSetup setup);
  ~CaptureWorker() override;

  // Creates the file and starts the input; throws EncoderError, leaving no file behind.
  void begin();
  void setPaused(bool paused) { paused_ = paused; }
  // Ends the recording as if the input had ended, for the reason given.
  void endBecause(const QString& reason) { finishLater(reason); }
  // Stops the input and completes the file; throws EncoderError. Idempotent.
  void end();

  int64_t samplesEncoded() const { return samples_.load(); }

 signals:
  // The recording ended without being asked: the reason, empty when the source ran out.
  void endedByItself(const QString& reason);

 private:
  void onAudio(const uint8_t* const* planes, int frames);
  void onInputEnded(const QString& reason);
  void finishLater(const QString& reason);
  QString completeByRepair();

  CaptureSetup setup_;
  std::unique_ptr<AudioInput> input_;
  std::unique_ptr<PcmWriter> writer_;
  std::unique_ptr<RecordingJournalEntry> journal_;
  // The recording's own descriptor, kept past the writer's end: completing the file goes
  // through it, never through the name.
  QFile recording_;
  bool paused_ = false;
  bool failed_ = false;  // a write failed: the file takes nothing more
  bool heardSound_ = false;
  std::atomic<int64_t> samples_{0};
};

}  // namespace tallowen
