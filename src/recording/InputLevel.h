#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace tallowen {

// What the window shows of the sound arriving: the peak of every 16th of a second, in the
// order it came, and whether the input has been quiet (below -60 dBFS, or silence put in
// for an input that delivered nothing) for five seconds of recording. Fed on the capture
// thread, read on the window's.
class InputLevel {
 public:
  static constexpr float kQuiet = 0.001f;  // -60 dBFS
  static constexpr int kQuietSeconds = 5;
  // A meter looks smooth at 16 looks a second; each look is a wake-up of the window.
  static constexpr int kPeaksPerSecond = 16;

  // Capture thread: the layout of what follows, 32-bit float interleaved.
  void start(int sampleRate, int channels);
  void feed(const float* samples, int frames);

  // Window thread: the peak (0 to 1, more when it clips) of the next 16th of a second; none
  // when no new sound came. Sound arrives in bursts: the window takes a block at each of
  // its looks, and skips what it fell behind on, so the bar moves evenly, a little late.
  std::optional<float> nextPeak();
  bool silent() const { return silent_; }

 private:
  static constexpr int kRing = 64;
  static constexpr int kKeep = 12;  // the most the window may lag: more than one burst

  int channels_ = 1;
  int blockFrames_ = 800;
  int inBlock_ = 0;        // frames of the block being measured
  float blockPeak_ = 0.0f;
  int64_t quietFrames_ = 0;
  int64_t quietLimit_ = 0;
  std::array<std::atomic<float>, kRing> peaks_{};
  std::atomic<uint64_t> written_{0};
  uint64_t read_ = 0;  // window thread only
  std::atomic<bool> silent_{false};
};

}  // namespace tallowen
