#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "recording/RecordingResult.h"
#include "recording/RecordingSetup.h"

class QThread;

namespace tallowen {

class Capture;
class Clock;
class LoudnessMeter;
class SoundSources;

// One recording at a time, from the record button to the complete file. It owns the one
// phase of the recording and where its file is, and tells both by signals; it runs the
// capture on a thread of its own, so that nothing here waits for the disk or the sound
// server. No widgets, no settings.
class RecordingSession : public QObject {
  Q_OBJECT
 public:
  enum class Phase { Idle, Starting, Recording, Paused, Stopping };
  Q_ENUM(Phase)

  RecordingSession(SoundSources& sources, const Clock& clock, QObject* parent = nullptr);
  // A recording still running is completed before the session goes.
  ~RecordingSession() override;
  // The recording running, completed at once, as the program ends: its result. Nothing is
  // signalled; without a recording, a result that says none was started.
  RecordingResult end();

  Phase phase() const { return phase_; }

  // Idle: Starting, then Recording, or Idle and `finished` with why it did not start.
  void start(const RecordingSetup& setup);
  void pause();
  void resume();
  // Starting, Recording or Paused: Stopping, then Idle and `finished`.
  void stop();
  // While recording or paused: a mark at the moment the recording has reached. `marked`
  // tells its number and whether the file took it.
  void addMark(const QString& name);
  // The marks asked for in this recording.
  int marks() const { return marks_; }
  // Whether the level is on screen: the capture wakes more often only while it is.
  void setWatched(bool watched);

  // Recorded time in milliseconds: frozen while paused, never going back.
  qint64 elapsedMs() const;
  // The level of the next 16th of a second of sound, in the order it came; none when
  // nothing new came.
  std::optional<float> nextPeak();
  // The input has been quiet, or has delivered nothing, for five seconds of recording.
  bool inputSilent() const;
  // The sound server is gone, and the recording waits for it.
  bool inputLost() const { return inputLost_; }
  // The file of the recording running, or of the last one; empty until it is made.
  const QString& path() const { return path_; }
  // How loud the recording running is so far; none while idle.
  std::shared_ptr<const LoudnessMeter> loudness() const;
  // The bit rate of the recording running.
  int bitRate() const { return setup_.profile.bitRate; }

 signals:
  void phaseChanged(RecordingSession::Phase phase);
  void finished(const RecordingResult& result);
  // Where the recording's file is, each time that changes: made as the recording began,
  // put back after it was removed (in its folder, or rescued to the user's own), followed
  // after its folder was renamed.
  void fileChanged(const QString& path, tallowen::FileChange change);
  // The sound server went away, or came back after `gapMs`, of which `silenceMs` went into
  // the file as silence (none of what passed while paused).
  void inputLostChanged(bool lost, qint64 gapMs, qint64 silenceMs);
  void marked(int number, bool stored);
  // The program itself did not run for a while: `lostMs` of sound are silence in the file.
  void soundLost(qint64 lostMs);
  // The journal of recordings in progress (in `folder`) cannot be written, once.
  void journalTrouble(const QString& folder);

 private:
  void setPhase(Phase phase);
  // The recorded time stops running: what ran since it last started is added up.
  void stopClock();
  void onBegun();
  void onEnded(const RecordingResult& result);
  void onFileChanged(const QString& path, FileChange change);
  void onInputLost();
  void onInputBack(qint64 gapMs, qint64 silenceMs);
  void releaseCapture();
  // Runs `step` on the capture thread.
  template <typename Step>
  void onCapture(Step step);

  SoundSources& sources_;
  const Clock& clock_;
  Phase phase_ = Phase::Idle;
  RecordingSetup setup_;
  std::unique_ptr<QThread> thread_;
  Capture* capture_ = nullptr;  // lives on thread_
  quint64 run_ = 0;             // tells a report of a recording that is over from the current one
  QString path_;
  bool inputLost_ = false;
  int marks_ = 0;
  qint64 recordedMs_ = 0;               // before the current running span
  std::optional<qint64> runningSince_;  // steady ms, while recording
};

}  // namespace tallowen
