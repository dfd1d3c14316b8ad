#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "recording/InputLevel.h"
#include "recording/Loudness.h"
#include "recording/RecordingResult.h"
#include "recording/RecordingSetup.h"
#include "recording/SoundSource.h"

namespace tallowen {

// A QObject that may be in the middle of its own signal when it is dropped.
struct DeleteLater {
  void operator()(QObject* object) const;
};

class AsfWriter;
class OutputFile;
class RecordingJournalEntry;
class WmaEncoder;

// One recording's pipeline on the capture thread: the input, the file's timeline, the
// encoder and the file. The file's timeline is the clock's: where the input delivers
// nothing (a stalled device, a frozen or restarting sound server) silence is put in, so
// that a minute on the clock is a minute in the file. Everything but the constructor and
// `level` runs on the capture thread; what it has to tell it tells by its signals, emitted
// there.
class Capture : public QObject {
  Q_OBJECT
 public:
  // How long the sound server may stay away before the recording is completed.
  static constexpr std::chrono::seconds kServerWait{60};

  Capture(RecordingSetup setup, SoundSources& sources);
  ~Capture() override;

  // Creates the file and opens the input: `fileChanged` and `begun`, or `ended` with the
  // reason it did not.
  void begin();
  // While paused the input is held and the clock stands still.
  void setPaused(bool paused);
  // Whether somebody watches the level: then the input hands its sound over in small
  // blocks; otherwise in large ones, and the capture wakes seldom.
  void setWatched(bool watched);
  void addMark(const QString& name);
  // Stops the input and completes the file; `ended` follows. The sound up to this moment,
  // which the sound server may still hold in a large block, is taken first.
  void stop();
  // The same, for the end of the program: the result at once, whether the recording ended
  // just now or earlier.
  RecordingResult end();

  // Any thread.
  InputLevel& level() { return level_; }
  // How loud the file is so far, for its waveform while it records: sound and silence put
  // in alike. Any thread.
  std::shared_ptr<const LoudnessMeter> loudness() const { return loudness_; }

 signals:
  // Sound goes into the file from now on.
  void begun();
  // Once: how the recording ended, or why it never began.
  void ended(const tallowen::RecordingResult& result);
  // Where the file is now, and why it is there: made as the recording began, put back after
  // it was removed, or followed after its folder was renamed.
  void fileChanged(const QString& path, tallowen::FileChange change);
  // The sound server went away; and came back after `gapMs`, of which `silenceMs` went
  // into the file as silence (none of what passed while paused).
  void inputLost();
  void inputBack(qint64 gapMs, qint64 silenceMs);
  void marked(int number, bool stored);
  // The program itself did not run for a while (stopped, suspended, starved): `lostMs` of
  // sound that the sound server could not hold for it went into the file as silence.
  void soundLost(qint64 lostMs);
  // The journal cannot note the recording (once): a crash now would be mended only as far
  // as the journal got. `folder` is the journal's.
  void journalTrouble(const QString& folder);

 private:
  void openSource(const AudioInput& input);
  void onReady();
  void onAudio(const float* samples, int frames);
  void onLost(SourceLoss why, const QString& detail);
  void consume(const float* samples, int frames);
  void fillToClock(int64_t leaveFrames);
  void onStall();
  void onReconnectTick();
  // Whether the capture thread itself did not run for longer than it ever waits; then the
  // sound the server could not hold is made up for once its backlog is in.
  bool wokeLate();
  void catchUp();
  void checkJournal();
  int64_t clockFrames() const;
  void syncIfDue(bool now = false);
  void endLater(const std::optional<RecordingFailure>& why);
  void finishLater();
  void finish();
  void report(const RecordingResult& result);
  bool completeByRepair();
  // The last look before a failed recording's file closes: put back or followed, it is told.
  void settleFile();
  // Tells what became of the file at its last sync or close, and has the journal follow.
  void takeFileChange();
  void cleanUpFailedStart(const RecordingFailure& why);
  // The input goes after the signal it is in has returned.
  void dropSource();
  std::chrono::milliseconds block() const;

  const RecordingSetup setup_;
  SoundSources& sources_;
  SoundFormat format_;
  std::unique_ptr<SoundSource, DeleteLater> source_;
  std::unique_ptr<WmaEncoder> encoder_;
  std::unique_ptr<OutputFile> file_;
  std::unique_ptr<AsfWriter> writer_;
  std::unique_ptr<RecordingJournalEntry> journal_;
  // The recording's own descriptor, kept past the file's close: completing a file that
  // could not be finished goes through it, never through the name.
  QFile recording_;
  InputLevel level_;
  const std::shared_ptr<LoudnessMeter> loudness_ = std::make_shared<LoudnessMeter>();

  enum class State { Opening, Running, Reconnecting, Ended };
  State state_ = State::Opening;
  bool paused_ = false;
  bool watched_ = true;
  bool heardSound_ = false;
  bool sourceHeard_ = false;  // the source now open has delivered
  bool writeFailed_ = false;
  bool filledGap_ = false;  // silence was put in since the input last delivered
  QElapsedTimer backSince_;  // when the input delivered again after silence was put in
  std::optional<RecordingFailure> reason_;  // the first thing that went wrong
  bool endedByItself_ = false;
  std::optional<RecordingResult> result_;
  QString madeAt_;        // where the file was made
  bool followed_ = false;  // its folder was renamed or moved since
  bool madeTold_ = false;  // `fileChanged` told where the file was made

  // The clock of the file's timeline: it runs while recording, paused or not aside.
  QElapsedTimer clock_;
  int64_t runNs_ = 0;        // before the current running span
  int64_t frames_ = 0;       // put into the file, sound and silence
  QElapsedTimer sinceSync_;
  QTimer stallWatch_{this};  // fires when the input is overdue; a child, to move with the capture

  QTimer reconnect_{this};
  QTimer drain_{this};       // how long a stop waits for the sound the server still holds
  int64_t drainTo_ = -1;     // the clock's frames at the stop; -1 while not stopping
  QElapsedTimer lostFor_;
  AudioInput heardFrom_;  // the device the recording began on, by the server's name for it
  std::vector<float> silence_;
  int marks_ = 0;
  QStringList earlyMarks_;  // asked for before the input opened: they go at 00:00:00
  int64_t framesAtLoss_ = 0;  // what the file held when the sound server went away
  QElapsedTimer awake_;       // since the capture thread last handled the input or its watch
  QTimer catchUp_{this};      // the backlog the server held is in by then
  int reconnectFailures_ = 0;
  bool journalTroubleSaid_ = false;
};

}  // namespace tallowen
