#pragma once

#include <QString>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tallowen {

// How loud a recording is over its length: the peak of every 20 ms, as a byte from 0
// (-60 dBFS or quieter) to 255 (full scale or louder) on a scale of decibels. Ten hours
// take 1.8 MB.
struct Loudness {
  static constexpr int kBlocksPerSecond = 50;
  static constexpr int kBlockMs = 1000 / kBlocksPerSecond;
  static constexpr float kFloorDb = -60.0f;

  std::vector<uint8_t> levels;

  static uint8_t levelOf(float peak);
  // The level in dBFS, kFloorDb for the quietest.
  static float dbOf(uint8_t level);
  // The block that holds the sound at `ms`.
  static int64_t blockAt(int64_t ms) { return ms / kBlockMs; }
  int64_t lengthMs() const { return int64_t(levels.size()) * kBlockMs; }
  // The loudest block of [fromMs, toMs); 0 where there is no sound.
  uint8_t peakOver(int64_t fromMs, int64_t toMs) const;
};

// Sums the loudness of sound as it comes, 32-bit float interleaved: on the capture thread
// as a recording goes, or on a decoder's. Another thread reads what is summed so far.
class LoudnessMeter {
 public:
  void start(int sampleRate, int channels);
  // Takes the lock once a call, never per block.
  void feed(const float* samples, int frames);

  // Any thread: the levels from block `from` on, as summed so far.
  std::vector<uint8_t> levelsFrom(int64_t from) const;
  int64_t blocks() const;
  Loudness whole() const;

 private:
  int channels_ = 1;
  int blockFrames_ = 960;
  int inBlock_ = 0;
  float blockPeak_ = 0.0f;
  mutable std::mutex lock_;
  std::vector<uint8_t> levels_;
  int partialLevel_ = -1;  // of the block not yet full, -1 without one; under lock_
};

}  // namespace tallowen
