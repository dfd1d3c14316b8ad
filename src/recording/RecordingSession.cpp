#include "recording/RecordingSession.h"

#include <QFileInfo>
#include <QThread>

#include "platform/Seams.h"
#include "recording/Capture.h"
#include "recording/RecordingLog.h"

namespace tallowen {

RecordingSession::RecordingSession(SoundSources& sources, const Clock& clock, QObject* parent)
    : QObject(parent), sources_(sources), clock_(clock) {}

RecordingSession::~RecordingSession() { end(); }

RecordingResult RecordingSession::end() {
  if (!capture_) return RecordingResult();
  // The one wait of the recording: the program is ending, and the file must be whole first.
  RecordingResult result;
  Capture* capture = capture_;
  QMetaObject::invokeMethod(
      capture, [capture, &result] { result = capture->end(); }, Qt::BlockingQueuedConnection);
  releaseCapture();
  stopClock();
  if (result.started) path_ = result.path;
  phase_ = Phase::Idle;
  return result;
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
  path_.clear();
  recordedMs_ = 0;
  runningSince_.reset();
  inputLost_ = false;
  marks_ = 0;
  setPhase(Phase::Starting);

  thread_ = std::make_unique<QThread>();
  thread_->setObjectName(QStringLiteral("Tallowen capture"));
  capture_ = new Capture(setup, sources_);  // deleted on its own thread
  capture_->moveToThread(thread_.get());
  // The capture's reports come from its thread and are taken here in turn. A report that
  // was on its way when its recording ended (the session no longer waits for the capture
  // to go) belongs to that recording: its run's number drops it.
  const quint64 run = ++run_;
  auto take = [this, run](auto signal, auto slot) {
    connect(capture_, signal, this, [this, run, slot](auto... args) {
      if (run == run_) (this->*slot)(args...);
    }, Qt::QueuedConnection);
  };
  take(&Capture::begun, &RecordingSession::onBegun);
  take(&Capture::ended, &RecordingSession::onEnded);
  take(&Capture::fileChanged, &RecordingSession::onFileChanged);
  take(&Capture::inputLost, &RecordingSession::onInputLost);
  take(&Capture::inputBack, &RecordingSession::onInputBack);
  take(&Capture::marked, &RecordingSession::marked);
  take(&Capture::soundLost, &RecordingSession::soundLost);
  take(&Capture::journalTrouble, &RecordingSession::journalTrouble);
  thread_->start(QThread::HighPriority);
  onCapture([](Capture& c) { c.begin(); });
}

void RecordingSession::onFileChanged(const QString& path, FileChange change) {
  path_ = path;
  emit fileChanged(path, change);
}

void RecordingSession::onInputLost() {
  inputLost_ = true;
  emit inputLostChanged(true, 0, 0);
}

void RecordingSession::onInputBack(qint64 gapMs, qint64 silenceMs) {
  inputLost_ = false;
  emit inputLostChanged(false, gapMs, silenceMs);
}

void RecordingSession::onBegun() {
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
  if (result.started) path_ = result.path;
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

std::shared_ptr<const LoudnessMeter> RecordingSession::loudness() const {
  if (phase_ == Phase::Idle || !capture_) return nullptr;
  return capture_->loudness();
}

bool RecordingSession::inputSilent() const {
  return phase_ == Phase::Recording && capture_ && capture_->level().silent();
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
