#include "recording/FileInput.h"

#include "recording/EncoderError.h"

namespace tallowen {

namespace {

std::unique_ptr<PcmReader> openSound(const QString& path) {
  try {
    return LoadedCodec().openFile(path);
  } catch (const EncoderError& e) {
    if (e.kind() == EncoderFailure::Component) throw;
    throw EncoderError(EncoderFailure::NoInput, path, e.reason());
  }
}

}  // namespace

FileInput::FileInput(const QString& path, Pace pace, bool repeat)
    : reader_(openSound(path)), pace_(pace), repeat_(repeat) {
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &FileInput::tick);
}

FileInput::~FileInput() { stop(); }

void FileInput::start(AudioCallback onAudio, EndCallback onEnded) {
  onAudio_ = std::move(onAudio);
  onEnded_ = std::move(onEnded);
  delivered_ = 0;
  clock_.start();
  // Real time: top up every 10 ms like a sound card's period. Fast: one burst per
  // event-loop round, so that a stop request still gets through between bursts.
  timer_.start(pace_ == Pace::RealTime ? 10 : 0);
}

void FileInput::stop() {
  timer_.stop();
  onEnded_ = nullptr;
}

void FileInput::tick() {
  const int64_t rate = reader_->format().sampleRate;
  const int64_t due = pace_ == Pace::RealTime ? clock_.nsecsElapsed() * rate / 1'000'000'000
                                              : delivered_ + rate;  // about a second per burst
  while (delivered_ < due) {
    if (deliverNextFrame()) continue;
    timer_.stop();
    if (onEnded_) {
      auto ended = std::move(onEnded_);
      onEnded_ = nullptr;
      ended(QString());
    }
    return;
  }
}

bool FileInput::deliverNextFrame() {
  for (;;) {
    const uint8_t* const* planes = nullptr;
    const int frames = reader_->read(&planes);
    if (frames > 0) {
      framesSinceRewind_ = true;
      if (onAudio_) onAudio_(planes, frames);
      delivered_ += frames;
      return true;
    }
    // A damaged file ends where it can no longer be decoded; a file with no sound at all
    // would otherwise be rewound for ever.
    if (frames < 0 || !repeat_ || !framesSinceRewind_) return false;
    framesSinceRewind_ = false;
    reader_->rewind();
  }
}

}  // namespace tallowen
