#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "recording/EncoderError.h"

namespace tallowen {

class AudioInputChoice;
class Clock;
class Encoder;
class EncoderFactory;

// How a recording ended, for the window to tell.
struct RecordingResult {
  QString path;
  bool endedByItself = false;           // the input was lost, the disk full, ...
  std::optional<EncoderError> failure;  // what went wrong, if anything
  bool complete = true;                 // the file is whole
};

// One recording at a time, from the record button to the complete file: it reads the
// quality and the save folder, names the file, creates and owns the encoder, notes the
// latest recording, and starts, pauses, resumes and stops. Nothing in it waits: each step
// is done, or asked of the encoder, and the outcome arrives as a signal. No widgets.
class RecordingSession : public QObject {
  Q_OBJECT
 public:
  enum class Phase { Idle, Starting, Recording, Paused, Stopping };
  Q_ENUM(Phase)

  RecordingSession(EncoderFactory* encoders, Clock* clock, AudioInputChoice* input, QObject* parent = nullptr);
  // A recording still running is completed before the session goes.
  ~RecordingSession() override;

  Phase phase() const { return phase_; }
  // Whether the stored quality names a profile; false when none is stored, or when it is
  // text no profile contains (typed in the dialog, or a name of the Windows encoder).
  bool qualityChosen() const;

  // Idle: starts a recording (Starting, then Recording, or Idle and startFailed).
  // Paused: resumes. Otherwise nothing.
  void start();
  void pause();
  void resume();
  // Recording or Paused: Stopping, then Idle and finished. Starting: the same once the
  // start is done. Otherwise nothing.
  void stop();

  // Recorded time in milliseconds: frozen while paused, never going back.
  qint64 elapsedMs() const;
  // The loudest input sample since the last call (0 to 1); whether the input has been quiet
  // for five seconds of recording. Nothing while not recording.
  float takeInputPeak();
  bool inputSilent();
  // Roughly how many seconds the save folder's free space still holds: at the stored
  // quality before a start, at the recording's while one runs. Nothing when it cannot be
  // told.
  std::optional<qint64> secondsOfRoom() const;
  // The file of the recording running, or of the last one.
  const QString& path() const { return path_; }
  // The encoder of the recording running, if any.
  Encoder* encoder() const { return encoder_.get(); }

 signals:
  void phaseChanged(RecordingSession::Phase phase);
  void encoderStateChanged(int state);
  void startFailed(const EncoderError& failure);
  void finished(const RecordingResult& result);
  // The file was removed while recording; everything recorded is in `path` now.
  void fileRestored(const QString& path);

 private:
  void setPhase(Phase phase);
  void beginEncoder();
  void onEncoderState(int state);
  void failStart(const EncoderError& failure);
  void noteLatestRecording();
  void releaseEncoderLater();

  EncoderFactory* encoders_;
  Clock* clock_;
  AudioInputChoice* input_;
  Phase phase_ = Phase::Idle;
  std::unique_ptr<Encoder> encoder_;
  quint64 encoderNumber_ = 0;  // counts the encoders made
  QString path_;
  QString fileName_;  // the name the start's minute gives, before a taken name is avoided
  QString folder_;
  bool noted_ = false;   // LastRecorded names this recording
  int attempts_ = 0;     // starts tried for one click: a taken name is tried again
  int bitRate_ = 0;      // of the recording running
  qint64 recordedMs_ = 0;          // before the current running span
  std::optional<qint64> runningSince_;  // steady ms, while recording
};

}  // namespace tallowen
