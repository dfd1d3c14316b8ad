#pragma once

#include <QAudioDevice>
#include <QAudioFormat>
#include <memory>

#include "recording/AudioInput.h"

class QAudioSource;
class QIODevice;

namespace tallowen {

// Capture from a sound card input through Qt Multimedia.
class DeviceInput : public AudioInput {
  Q_OBJECT
 public:
  // The device and format are chosen on the user-interface thread (Qt's device list
  // lives there); the capture itself starts on the worker thread.
  DeviceInput(const QAudioDevice& device, const QAudioFormat& format);
  ~DeviceInput() override;

  // The device a "DEVICE://" input names: "Default_Audio_Device" or a device's
  // description or id. Throws EncoderError when there is none.
  static QAudioDevice findDevice(const QString& name);
  // What to ask the device for: the profile's rate and channels when it takes them.
  static QAudioFormat chooseFormat(const QAudioDevice& device, int sampleRate, int channels);

  PcmFormat format() const override;
  void start(AudioCallback onAudio, EndCallback onEnded) override;
  void stop() override;

 private:
  class Receiver;

  QAudioDevice device_;
  QAudioFormat format_;
  std::unique_ptr<QAudioSource> source_;
  std::unique_ptr<Receiver> receiver_;
  AudioCallback onAudio_;
  EndCallback onEnded_;
};

}  // namespace tallowen
