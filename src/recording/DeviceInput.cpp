#include "recording/DeviceInput.h"

#include <QAudioSource>
#include <QMediaDevices>

#include "recording/EncoderError.h"

namespace tallowen {

namespace {

SampleType typeOf(QAudioFormat::SampleFormat f) {
  switch (f) {
    case QAudioFormat::UInt8:
      return SampleType::U8;
    case QAudioFormat::Int16:
      return SampleType::S16;
    case QAudioFormat::Int32:
      return SampleType::S32;
    case QAudioFormat::Float:
      return SampleType::Float;
    default:
      return SampleType::None;
  }
}

}  // namespace

DeviceInput::DeviceInput(const QAudioDevice& device, const QAudioFormat& format)
    : device_(device), format_(format) {}

DeviceInput::~DeviceInput() { stop(); }

QAudioDevice DeviceInput::findDevice(const QString& name) {
  if (name == QLatin1String("Default_Audio_Device")) {
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
      throw EncoderError(EncoderFailure::NoInput, QString(), QStringLiteral("This computer has no audio input."));
    return device;
  }
  for (const QAudioDevice& device : QMediaDevices::audioInputs())
    if (device.description() == name || QString::fromUtf8(device.id()) == name) return device;
  throw EncoderError(EncoderFailure::NoInput, name, QStringLiteral("There is no audio input named %1.").arg(name));
}

QAudioFormat DeviceInput::chooseFormat(const QAudioDevice& device, int sampleRate, int channels) {
  QAudioFormat wanted;
  wanted.setSampleRate(sampleRate);
  wanted.setChannelCount(channels);
  wanted.setSampleFormat(QAudioFormat::Int16);
  if (device.isFormatSupported(wanted)) return wanted;
  QAudioFormat preferred = device.preferredFormat();
  if (typeOf(preferred.sampleFormat()) == SampleType::None) preferred.setSampleFormat(QAudioFormat::Int16);
  return preferred;
}

PcmFormat DeviceInput::format() const {
  // Qt delivers interleaved frames.
  return PcmFormat{format_.sampleRate(), format_.channelCount(), typeOf(format_.sampleFormat()), false};
}

// Qt writes what it captured into this device; it hands whole frames on at once.
class DeviceInput::Receiver : public QIODevice {
 public:
  Receiver(int frameBytes, DeviceInput::AudioCallback& onAudio) : frameBytes_(frameBytes), onAudio_(onAudio) {
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
  }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    // A partial frame waits for the rest rather than split a sample.
    pending_.append(data, size);
    const int frames = frameBytes_ > 0 ? static_cast<int>(pending_.size() / frameBytes_) : 0;
    if (frames > 0) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(pending_.constData());
      if (onAudio_) onAudio_(&bytes, frames);
      pending_.remove(0, qsizetype(frames) * frameBytes_);
    }
    return size;
  }

 private:
  int frameBytes_;
  DeviceInput::AudioCallback& onAudio_;
  QByteArray pending_;
};

void DeviceInput::start(AudioCallback onAudio, EndCallback onEnded) {
  onAudio_ = std::move(onAudio);
  onEnded_ = std::move(onEnded);
  receiver_ = std::make_unique<Receiver>(format_.bytesPerFrame(), onAudio_);
  source_ = std::make_unique<QAudioSource>(device_, format_);
  // Short periods keep the sound server's chunks small; the worker thread has nothing
  // else to do, and the server holds several periods should it be held up.
  source_->setBufferSize(format_.bytesForDuration(50'000));
  source_->start(receiver_.get());
  if (source_->error() != QAudio::NoError)
    throw EncoderError(EncoderFailure::NoInput, device_.description(),
                       QStringLiteral("The audio input %1 cannot be opened.").arg(device_.description()));
  connect(source_.get(), &QAudioSource::stateChanged, this, [this](QAudio::State state) {
    if (state == QAudio::StoppedState && source_ && source_->error() != QAudio::NoError && onEnded_) {
      auto ended = std::move(onEnded_);
      onEnded_ = nullptr;
      ended(QStringLiteral("The audio input %1 stopped delivering sound.").arg(device_.description()));
    }
  });
}

void DeviceInput::stop() {
  if (!source_) return;
  onEnded_ = nullptr;
  source_->stop();
  source_.reset();
  receiver_.reset();
}

}  // namespace tallowen
