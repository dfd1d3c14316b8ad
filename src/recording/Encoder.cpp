#include "recording/Encoder.h"

#include <QMediaDevices>
#include <QThread>
#include <QTimer>

#include "recording/CaptureWorker.h"
#include "recording/DeviceInput.h"
#include "recording/FileInput.h"

namespace tallowen {

namespace {

const QString kDeviceScheme = QStringLiteral("DEVICE://");
const QString kFileScheme = QStringLiteral("FILE://");
// What the disk holds is at most a second behind: a power cut loses no more.
constexpr std::chrono::milliseconds kSyncInterval{1000};

}  // namespace

void Source::setInput(const QString& input, const QString& scheme, const QString& streamName) {
  Q_UNUSED(streamName);  // one stream per source here
  input_ = scheme.isEmpty() ? input : scheme + input;
}

Source& SourceGroup::addSource(SourceType type) {
  if (type != SourceType::Audio) throw EncoderError(QStringLiteral("Only sound can be recorded."));
  if (!sources_.empty()) throw EncoderError(QStringLiteral("A source group records one audio source."));
  return sources_.emplace_back();
}

Source& SourceGroup::source(int index) {
  if (index < 0 || index >= sourceCount())
    throw EncoderError(QStringLiteral("No source has the index %1.").arg(index));
  return sources_[static_cast<size_t>(index)];
}

SourceGroup& SourceGroupCollection::add(const QString& name) {
  for (const SourceGroup& g : groups_)
    if (g.name() == name)
      throw EncoderError(QStringLiteral("A source group named %1 exists already.").arg(name));
  return groups_.emplace_back(name);
}

SourceGroup& SourceGroupCollection::item(int index) {
  if (index < 0 || index >= count())
    throw EncoderError(QStringLiteral("No source group has the index %1.").arg(index));
  return groups_[static_cast<size_t>(index)];
}

Encoder::Encoder(QObject* parent) : Encoder(ProfileCollection(), parent) {}

Encoder::Encoder(ProfileCollection profiles, QObject* parent)
    : QObject(parent), profiles_(std::move(profiles)) {
  CheckCodecModule();
}

Encoder::~Encoder() { stopAndWait(); }

int64_t Encoder::samplesEncoded() const { return worker_ ? worker_->samplesEncoded() : outcome_.samples; }

void Encoder::setState(State state) {
  state_ = state;
  // Queued, like the events of a component: the owner sees them after the call returns.
  QMetaObject::invokeMethod(
      this, [this, state] { emit stateChanged(state); }, Qt::QueuedConnection);
}

void Encoder::start() {
  if (state_ == Paused) {
    worker_->setPaused(false);
    setState(Running);
    return;
  }
  if (state_ != Stopped) throw EncoderError(QStringLiteral("The encoder is recording already."));
  if (groups_.count() == 0 || groups_.item(0).sourceCount() == 0)
    throw EncoderError(QStringLiteral("There is no audio source to record."));
  SourceGroup& group = groups_.item(0);
  const Source& source = group.source(0);
  if (!group.profile())
    throw EncoderError(EncoderFailure::NoProfile, QString(), QStringLiteral("No recording quality was chosen."));
  if (file_.localFileName().isEmpty()) throw EncoderError(QStringLiteral("No output file was named."));

  CaptureSetup setup;
  setup.path = file_.localFileName();
  setup.profile = *group.profile();
  setup.texts = displayInfo_.texts();
  setup.options.flushEachPacket = flushPackets_;
  setup.options.syncInterval = syncToDisk_ ? kSyncInterval : std::chrono::milliseconds(0);
  setup.disk = disk_;
  const QString input = source.input();
  if (source.customInput()) {
    setup.makeInput = source.customInput();
  } else if (input.startsWith(kDeviceScheme)) {
    // Qt's device list belongs to this thread; only the capture moves to the worker.
    const QAudioDevice device = DeviceInput::findDevice(input.mid(kDeviceScheme.size()));
    const QAudioFormat format =
        DeviceInput::chooseFormat(device, setup.profile.sampleRate, setup.profile.channels);
    setup.makeInput = [device, format] { return std::make_unique<DeviceInput>(device, format); };
    watchDevice(device.id(), device.description());
  } else if (!input.isEmpty()) {
    const QString path = input.startsWith(kFileScheme) ? input.mid(kFileScheme.size()) : input;
    const auto pace = source.pace() == Source::Pace::RealTime ? FileInput::Pace::RealTime
                                                              : FileInput::Pace::AsFastAsPossible;
    const bool repeat = source.repeat();
    setup.makeInput = [path, pace, repeat] { return std::make_unique<FileInput>(path, pace, repeat); };
  } else {
    throw EncoderError(EncoderFailure::NoInput, QString(), QStringLiteral("The audio source has no input."));
  }

  failure_.reset();
  outcome_ = CaptureOutcome();
  setState(Starting);
  thread_ = std::make_unique<QThread>();
  thread_->setObjectName(QStringLiteral("Tallowen capture"));
  worker_ = std::make_unique<CaptureWorker>(std::move(setup));
  CaptureWorker* worker = worker_.get();
  // The worker tells this thread what happened; the recording's number tells an answer of
  // a recording that is over from one of the current.
  const quint64 run = ++run_;
  worker->onBegun = [this, run](const std::optional<EncoderError>& failure) {
    QMetaObject::invokeMethod(
        this, [this, run, failure] { onBegun(run, failure); }, Qt::QueuedConnection);
  };
  worker->onFileRestored = [this, run](const QString& path) {
    QMetaObject::invokeMethod(
        this,
        [this, run, path] {
          if (run == run_) emit fileRestored(path);
        },
        Qt::QueuedConnection);
  };
  worker->onEndedByItself = [this, run](const CaptureOutcome& outcome) {
    QMetaObject::invokeMethod(
        this, [this, run, outcome] { onFinished(run, outcome); }, Qt::QueuedConnection);
  };
  worker->moveToThread(thread_.get());
  thread_->start(QThread::HighPriority);
  QMetaObject::invokeMethod(worker, [worker] { worker->begin(); }, Qt::QueuedConnection);
}

void Encoder::onBegun(quint64 run, const std::optional<EncoderError>& failure) {
  if (!worker_ || run != run_) return;
  if (failure) {
    releaseWorker();
    failure_ = failure;
    setState(Stopped);
    return;
  }
  if (state_ == Starting) setState(Running);  // unless a stop came meanwhile
}

void Encoder::pause() {
  if (state_ != Running) throw EncoderError(QStringLiteral("The encoder is not recording."));
  worker_->setPaused(true);
  setState(Paused);
}

void Encoder::stop() {
  if (!worker_ || state_ == Stopping) return;
  setState(Stopping);
  CaptureWorker* worker = worker_.get();
  // After begin() on the worker's queue: a stop while starting waits for the start.
  QMetaObject::invokeMethod(
      worker,
      [this, worker, run = run_] {
        const CaptureOutcome outcome = worker->end();
        QMetaObject::invokeMethod(
            this, [this, run, outcome] { onFinished(run, outcome); }, Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void Encoder::stopAndWait() {
  if (!worker_) return;
  if (state_ != Stopping) setState(Stopping);
  CaptureWorker* worker = worker_.get();
  CaptureOutcome outcome;
  // The one wait of the encoder: the program is ending, and the file must be whole first.
  QMetaObject::invokeMethod(
      worker, [worker, &outcome] { outcome = worker->end(); }, Qt::BlockingQueuedConnection);
  onFinished(run_, outcome);
}

void Encoder::onFinished(quint64 run, const CaptureOutcome& outcome) {
  if (!worker_ || run != run_) return;
  releaseWorker();
  outcome_ = outcome;
  failure_ = outcome.failure;
  setState(Stopped);
}

void Encoder::watchDevice(const QByteArray& id, const QString& description) {
  // The sound server may move a capture whose device went away onto another one (a
  // monitor, say) without telling it: the device list is what shows the loss. Qt does
  // not always signal a change of the list, so it is also looked at four times a second.
  deviceId_ = id;
  deviceDescription_ = description;
  devices_ = std::make_unique<QMediaDevices>();
  connect(devices_.get(), &QMediaDevices::audioInputsChanged, this, &Encoder::checkDevice);
  devicePoll_ = std::make_unique<QTimer>();
  connect(devicePoll_.get(), &QTimer::timeout, this, &Encoder::checkDevice);
  devicePoll_->start(250);
}

void Encoder::checkDevice() {
  if (!worker_ || !devicePoll_ || !devicePoll_->isActive()) return;
  for (const QAudioDevice& d : QMediaDevices::audioInputs())
    if (d.id() == deviceId_) return;
  devicePoll_->stop();  // once is enough
  CaptureWorker* worker = worker_.get();
  const EncoderError reason(EncoderFailure::InputLost, deviceDescription_,
                            QStringLiteral("The audio input %1 is gone.").arg(deviceDescription_));
  QMetaObject::invokeMethod(
      worker, [worker, reason] { worker->endBecause(reason); }, Qt::QueuedConnection);
}

void Encoder::releaseWorker() {
  devicePoll_.reset();
  devices_.reset();
  if (!thread_) return;
  // The worker is deleted on its own thread, which then ends; it has finished its work,
  // so this wait is for the thread to wind down, not for the disk.
  CaptureWorker* worker = worker_.release();
  QThread* thread = thread_.get();
  QMetaObject::invokeMethod(
      worker,
      [worker, thread] {
        delete worker;
        thread->quit();
      },
      Qt::QueuedConnection);
  thread_->wait();
  thread_.reset();
}

}  // namespace tallowen
