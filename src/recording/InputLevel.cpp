#include "recording/InputLevel.h"

#include <algorithm>
#include <cmath>

namespace tallowen {

void InputLevel::start(int sampleRate, int channels) {
  channels_ = std::max(channels, 1);
  blockFrames_ = std::max(sampleRate / kPeaksPerSecond, 1);
  quietLimit_ = int64_t(kQuietSeconds) * sampleRate;
  inBlock_ = 0;
  blockPeak_ = 0.0f;
  quietFrames_ = 0;
  silent_ = false;
}

void InputLevel::feed(const float* samples, int frames) {
  for (int f = 0; f < frames;) {
    const int take = std::min(frames - f, blockFrames_ - inBlock_);
    float peak = 0.0f;
    const float* s = samples + ptrdiff_t(f) * channels_;
    for (int i = 0; i < take * channels_; ++i) {
      const float v = std::fabs(s[i]);
      if (v > peak && std::isfinite(v)) peak = v;
    }
    blockPeak_ = std::max(blockPeak_, peak);
    if (peak >= kQuiet) {
      quietFrames_ = 0;
      silent_ = false;
    } else if ((quietFrames_ += take) >= quietLimit_) {
      silent_ = true;
    }
    inBlock_ += take;
    f += take;
    if (inBlock_ == blockFrames_) {
      const uint64_t n = written_.load(std::memory_order_relaxed);
      peaks_[n % kRing].store(blockPeak_, std::memory_order_relaxed);
      written_.store(n + 1, std::memory_order_release);
      inBlock_ = 0;
      blockPeak_ = 0.0f;
    }
  }
}

std::optional<float> InputLevel::nextPeak() {
  const uint64_t written = written_.load(std::memory_order_acquire);
  if (written - read_ > kKeep) read_ = written - kKeep;
  if (read_ == written) return std::nullopt;
  return peaks_[read_++ % kRing].load(std::memory_order_relaxed);
}

}  // namespace tallowen
