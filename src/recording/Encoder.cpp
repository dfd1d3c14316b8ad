#include "recording/Encoder.h"

#include <QMediaDevices>
#include <QThread>
#include <QTimer>
#include <exception>

#include "recording/CaptureWorker.h"
#include "recording/DeviceInput.h"
#include "recording/FileInput.h"

namespace tallowen {

namespace {

const QString kDeviceScheme = QStringLiteral("DEVICE://");
const QString kFileScheme = QStringLiteral("FILE://");
constexpr std::chrono::milliseconds kSyncInterval{5000};

// Runs `work` on the object's thread and waits; what it throws is thrown here.
template <typename Work>
void runOn(QObject* object, Work work) {
  std::exception_ptr failure;
  QMetaObject::invokeMethod(
      object,
      [&] {
        try {
          work();
        } catch (...) {
          failure = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (failure) std::rethrow_exception(failure);
}

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
  const QString missing = LoadedCodec().missingComponents();
  if (!missing.isEmpty()) throw EncoderError(QStringLiteral("This FFmpeg lacks %1.").arg(missing));
}

Encoder::~Encoder() {
  try {
    stop();
  } catch (const EncoderError&) {
    // Whatever reached the disk stays there; nobody is left to tell.
  }
}

int64_t Encoder::samplesEncoded() const { return worker_ ? worker_->samplesEncoded() : samplesAtEnd_; }

void Encoder::setState(State state) {
  state_ = state;
  // Queued, like the events of a component: the owner sees them after the call returns.
  QMetaObject::invokeMethod(
      this, [this, state] { emit stateChanged(state); }, Qt::QueuedConnection);
}

void Encoder::start() {
  if (state_ == Paused) {
    runOn(worker_.get(), [this] { worker_->setPaused(false); });
    setState(Running);
    return;
  }
  if (state_ != Stopped) throw EncoderError(QStringLiteral("The encoder is recording already."));
  if (groups_.count() == 0 || groups_.item(0).sourceCount() == 0)
    throw EncoderError(QStringLiteral("There is no audio source to record."));
  SourceGroup& group = groups_.item(0);
  const Source& source = group.source(0);
  if (!group.profile()) throw EncoderError(QStringLiteral("No recording quality was chosen."));
  if (file_.localFileName().isEmpty()) throw EncoderError(QStringLiteral("No output file was named."));

  CaptureSetup setup;
  setup.path = file_.localFileName();
  setup.profile = *group.profile();
  setup.texts = displayInfo_.texts();
  setup.options.flushEachPacket = flushPackets_;
  setup.options.syncInterval = syncToDisk_ ? kSyncInterval : std::chrono::milliseconds(0);
  setup.disk = disk_;
  const QString input = source.input();
  if (input.startsWith(kDeviceScheme)) {
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
    throw EncoderError(QStringLiteral("The audio source has no input."));
  }

  lastError_.clear();
  samplesAtEnd_ = 0;
  setState(Starting);
  thread_ = std::make_unique<QThread>();
  thread_->setObjectName(QStringLiteral("Tallowen capture"));
  worker_ = std::make_unique<CaptureWorker>(std::move(setup));
  worker_->moveToThread(thread_.get());
  connect(worker_.get(), &CaptureWorker::endedByItself, this, &Encoder::finishFromWorker,
          Qt::QueuedConnection);
  thread_->start(QThread::HighPriority);
  try {
    runOn(worker_.get(), [this] { worker_->begin(); });
  } catch (...) {
    joinWorker();
    setState(Stopped);
    throw;
  }
  setState(Running);
}

void Encoder::pause() {
  if (state_ != Running) throw EncoderError(QStringLiteral("The encoder is not recording."));
  runOn(worker_.get(), [this] { worker_->setPaused(true); });
  setState(Paused);
}

void Encoder::stop() {
  if (!worker_) return;
  setState(Stopping);
  std::exception_ptr failure;
  try {
    runOn(worker_.get(), [this] { worker_->end(); });
  } catch (...) {
    failure = std::current_exception();
  }
  joinWorker();
  setState(Stopped);
  if (failure) std::rethrow_exception(failure);
}

void Encoder::finishFromWorker(const QString& reason) {
  if (!worker_ || sender() != worker_.get()) return;  // stopped meanwhile
  joinWorker();
  lastError_ = reason;
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
  const QString reason = QStringLiteral("The audio input %1 is gone.").arg(deviceDescription_);
  QMetaObject::invokeMethod(
      worker, [worker, reason] { worker->endBecause(reason); }, Qt::QueuedConnection);
}

void Encoder::joinWorker() {
  devicePoll_.reset();
  devices_.reset();
  if (!thread_) return;
  // The worker hands itself back to this thread before its own ends, so that it can be
  // deleted here.
  QThread* here = thread();
  runOn(worker_.get(), [this, here] { worker_->moveToThread(here); });
  thread_->quit();
  thread_->wait();
  samplesAtEnd_ = worker_->samplesEncoded();
  worker_.reset();
  thread_.reset();
}

}  // namespace tallowen
