#include "recording/RecordingSession.h"

#include <QFileInfo>
#include <QThread>

#include "platform/Seams.h"
#include "recording/Capture.h"
#include "recording/RecordingLog.h"
#include "settings/modINI.h"

namespace tallowen {

RecordingSession::RecordingSession(SoundSources& sources, const Clock& clock, QObject* parent)
    : QObject(parent), sources_(sources), clock_(clock) {}

RecordingSession::~RecordingSession() {
  if (!capture_) return;
  // The one wait of the recording: the program is ending, and the file must be whole first.
  std::optional<RecordingResult> result;
  Capture* capture = capture_;
  QMetaObject::invokeMethod(
      capture, [capture, &result] { result = capture->end(); }, Qt::BlockingQueuedConnection);
  if (result && result->started) noteLatestRecording(result->path);
  releaseCapture();
}

template <typename Step>
void RecordingSession::onCapture(Step step) {
  if (capture_) QMetaObject::invokeMethod(capture_, [capture = capture_, step] { step(*capture); }, Qt::QueuedConnection);
}

void RecordingSession::setPhase(Phase phase) {
  if (phase == phase_) return;
  phase_ = phase;
  emit phaseChanged(phase);
}

void RecordingSession::start(const RecordingSetup& setup) {
  if (phase_ != Phase::Idle) return;
  setup_ = setup;
  path_ = setup.path;
  recordedMs_ = 0;
  runningSince_.reset();
  inputLost_ = false;
  marks_ = 0;
  setPhase(Phase::Starting);

  // Reports come on the capture thread and are taken here in turn; the recording's number
  // drops those of a recording that is over.
  const quint64 run = ++run_;
  auto here = [this, run](auto what) {
    QMetaObject::invokeMethod(
        this,
        [this, run, what] {
          if (run == run_) what();
        },
        Qt::QueuedConnection);
  };
  Capture::Reports reports;
  reports.begun = [here, this](const QString& path) { here([this, path] { onBegun(path); }); };
  reports.ended = [here, this](const RecordingResult& result) { here([this, result] { onEnded(result); }); };
  reports.fileRestored = [here, this](const QString& path) {
    here([this, path] {
      path_ = path;
      noteLatestRecording(path);
      emit fileRestored(path, QFileInfo(path).absolutePath() != QFileInfo(setup_.path).absolutePath());
    });
  };
  reports.inputLost = [here, this] {
    here([this] {
      inputLost_ = true;
      emit inputLostChanged(true, 0, 0);
    });
  };
  reports.inputBack = [here, this](int64_t gapMs, int64_t silenceMs) {
    here([this, gapMs, silenceMs] {
      inputLost_ = false;
      emit inputLostChanged(false, gapMs, silenceMs);
    });
  };
  reports.marked = [here, this](int number, bool stored) {
    here([this, number, stored] { emit marked(number, stored); });
  };
  reports.soundLost = [here, this](int64_t lostMs) { here([this, lostMs] { emit soundLost(lostMs); }); };
  reports.journalTrouble = [here, this](const QString& folder) { here([this, folder] { emit journalTrouble(folder); }); };

  thread_ = std::make_unique<QThread>();
  thread_->setObjectName(QStringLiteral("Tallowen capture"));
  capture_ = new Capture(setup, sources_, std::move(reports));  // deleted on its own thread
  capture_->moveToThread(thread_.get());
  thread_->start(QThread::HighPriority);
  onCapture([](Capture& c) { c.begin(); });
}

void RecordingSession::onBegun(const QString& path) {
  path_ = path;
  // The file is there now: the player may find it.
  noteLatestRecording(path);
  if (phase_ != Phase::Starting) return;  // a stop came meanwhile
  runningSince_ = clock_.steadyMs();
  setPhase(Phase::Recording);
}

void RecordingSession::stopClock() {
  if (runningSince_) recordedMs_ += clock_.steadyMs() - *runningSince_;
  runningSince_.reset();
}

void RecordingSession::onEnded(const RecordingResult& result) {
  stopClock();
  inputLost_ = false;
  if (result.started) {
    path_ = result.path;
    noteLatestRecording(result.path);
  }
  releaseCapture();
  setPhase(Phase::Idle);
  emit finished(result);
}

void RecordingSession::pause() {
  if (phase_ != Phase::Recording) return;
  stopClock();
  onCapture([](Capture& c) { c.setPaused(true); });
  setPhase(Phase::Paused);
}

void RecordingSession::resume() {
  if (phase_ != Phase::Paused) return;
  runningSince_ = clock_.steadyMs();
  onCapture([](Capture& c) { c.setPaused(false); });
  setPhase(Phase::Recording);
}

void RecordingSession::stop() {
  switch (phase_) {
    case Phase::Starting:
    case Phase::Recording:
    case Phase::Paused:
      stopClock();
      onCapture([](Capture& c) { c.stop(); });
      setPhase(Phase::Stopping);
      break;
    case Phase::Idle:
    case Phase::Stopping:
      break;
  }
}

void RecordingSession::addMark(const QString& name) {
  // A mark asked for as the recording starts goes at its first moment.
  if (phase_ != Phase::Starting && phase_ != Phase::Recording && phase_ != Phase::Paused) return;
  ++marks_;
  onCapture([name](Capture& c) { c.addMark(name); });
}

void RecordingSession::setWatched(bool watched) {
  onCapture([watched](Capture& c) { c.setWatched(watched); });
}

qint64 RecordingSession::elapsedMs() const {
  const qint64 running = runningSince_ ? clock_.steadyMs() - *runningSince_ : 0;
  return recordedMs_ + std::max<qint64>(running, 0);
}

std::optional<float> RecordingSession::nextPeak() {
  if (phase_ != Phase::Recording || !capture_) return std::nullopt;
  return capture_->level().nextPeak();
}

bool RecordingSession::inputSilent() const {
  return phase_ == Phase::Recording && capture_ && capture_->level().silent();
}

void RecordingSession::noteLatestRecording(const QString& path) {
  if (ReadSetting(kLastRecordingSetting) != path) WriteSetting(kLastRecordingSetting, path);
}

void RecordingSession::releaseCapture() {
  if (!thread_) return;
  // The capture is deleted on its own thread, which then ends; its work is done, so this
  // wait is for the thread to wind down, not for the disk.
  Capture* capture = capture_;
  QThread* thread = thread_.get();
  capture_ = nullptr;
  QMetaObject::invokeMethod(
      capture,
      [capture, thread] {
        delete capture;
        thread->quit();
      },
      Qt::QueuedConnection);
  thread_->wait();
  thread_.reset();
  ++run_;  // whatever the capture still reported is of a recording that is over
}

}  // namespace tallowen
