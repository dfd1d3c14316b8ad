#pragma once

#include <atomic>
#include <cstdint>

#include "recording/Codec.h"

namespace tallowen {

// The loudest sample of a block of PCM as a fraction of full scale (0 to 1, or a little
// over for float sound that clips), whatever its layout.
float PeakOf(const uint8_t* const* planes, int frames, const PcmFormat& format);

// What the window shows of the sound arriving: the peak since it last looked, and whether
// the input has been quiet (below -60 dBFS, or digital silence) for five seconds of
// recording. Fed on the capture thread, read on the window's.
class InputLevel {
 public:
  static constexpr float kQuiet = 0.001f;  // -60 dBFS
  static constexpr int kQuietSeconds = 5;

  void feed(const uint8_t* const* planes, int frames, const PcmFormat& format);
  // The loudest sample since the last call; 0 when nothing came.
  float takePeak() { return peak_.exchange(0.0f); }
  bool silent() const { return silent_; }

 private:
  std::atomic<float> peak_{0.0f};
  std::atomic<bool> silent_{false};
  int64_t quietFrames_ = 0;  // in a row, capture thread only
};

}  // namespace tallowen
