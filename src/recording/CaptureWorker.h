#pragma once

#include <QFile>
#include <QFile>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "recording/AudioInput.h"
#include "recording/Codec.h"
#include "recording/EncoderError.h"
#include "recording/InputLevel.h"
#include "recording/OutputFile.h"
#include "recording/RecordingJournal.h"

namespace tallowen {

// What a recording needs to begin, gathered on the owner's thread.
struct CaptureSetup {
  std::function<std::unique_ptr<AudioInput>()> makeInput;  // runs on the worker thread
  QString path;
  Profile profile;
  DisplayTexts texts;
  WriterOptions options;
  std::shared_ptr<const DiskSpace> disk;  // null: the real disk
};

// How a recording ended.
struct CaptureOutcome {
  bool endedByItself = false;           // nobody asked: the input ended or failed, or a write
  std::optional<EncoderError> failure;  // why it ended by itself, or why the file is not whole
  bool fileMade = false;                // the file was created and holds the recording
  bool complete = false;                // the file is whole: it plays and seeks to its end
  QString path;                         // where the file is: it may have been put back elsewhere
  int64_t samples = 0;                  // per channel, at the profile's rate
};

// The recording's pipeline on the encoder's worker thread: input, then writer. Every
// method but the constructor, setPaused and samplesEncoded runs on that thread; what it
// has to tell goes through the callbacks, called on that thread.
class CaptureWorker : public QObject {
  Q_OBJECT
 public:
  explicit CaptureWorker(CaptureSetup setup);
  ~CaptureWorker() override;

  // Called once with the outcome of begin(): nothing when capture runs.
  std::function<void(const std::optional<EncoderError>&)> onBegun;
  // Called once, when the recording ended without being asked.
  std::function<void(const CaptureOutcome&)> onEndedByItself;
  // Called when the file was removed while recording and has been put back at `path`.
  std::function<void(const QString& path)> onFileRestored;

  // Creates the file and starts the input. On failure nothing stays behind.
  void begin();
  // Any thread: what arrives while paused is left out.
  void setPaused(bool paused);
  // Ends the recording as if the input had failed, for the reason given.
  void endBecause(const EncoderError& reason);
  // Stops the input and completes the file; the same outcome on every later call.
  CaptureOutcome end();

  int64_t samplesEncoded() const { return samples_.load(); }
  // What the window shows of the sound arriving; any thread.
  InputLevel& level() { return level_; }

 private:
  void onAudio(const uint8_t* const* planes, int frames);
  void onInputEnded(const QString& reason);
  void failLater(const EncoderError& reason);
  void finish();
  bool completeByRepair();
  void followFile(const QString& path, int fd);

  CaptureSetup setup_;
  std::unique_ptr<AudioInput> input_;
  std::unique_ptr<PcmWriter> writer_;
  std::unique_ptr<RecordingJournalEntry> journal_;
  // The recording's own descriptor, kept past the writer's end: completing the file goes
  // through it, never through the name.
  QFile recording_;
  std::atomic<bool> paused_{false};
  bool heardSound_ = false;
  bool ranOut_ = false;                // the source ended (a file)
  bool writerFailed_ = false;          // the file takes nothing more
  std::optional<EncoderError> reason_;  // the first thing that went wrong
  bool finished_ = false;
  CaptureOutcome outcome_;
  std::atomic<int64_t> samples_{0};
  InputLevel level_;
  PcmFormat inputFormat_;
};

}  // namespace tallowen
