#include "recording/Loudness.h"

#include <algorithm>
#include <cmath>

namespace tallowen {

uint8_t Loudness::levelOf(float peak) {
  if (!(peak > 0.0f)) return 0;  // silence, and NaN with it
  const float db = 20.0f * std::log10(peak);
  const float level = (db - kFloorDb) * (255.0f / -kFloorDb);
  return uint8_t(std::lround(std::clamp(level, 0.0f, 255.0f)));
}

float Loudness::dbOf(uint8_t level) { return kFloorDb + float(level) * (-kFloorDb / 255.0f); }

uint8_t Loudness::peakOver(int64_t fromMs, int64_t toMs) const {
  const int64_t count = int64_t(levels.size());
  const int64_t first = std::max<int64_t>(blockAt(std::max<int64_t>(fromMs, 0)), 0);
  // A range shorter than a block still looks at the block it falls in.
  const int64_t end = std::min(std::max((toMs + kBlockMs - 1) / kBlockMs, first + 1), count);
  if (first >= end) return 0;
  return *std::max_element(levels.begin() + first, levels.begin() + end);
}

void LoudnessMeter::start(int sampleRate, int channels) {
  std::lock_guard<std::mutex> lock(lock_);
  channels_ = std::max(channels, 1);
  blockFrames_ = std::max(sampleRate / Loudness::kBlocksPerSecond, 1);
  inBlock_ = 0;
  blockPeak_ = 0.0f;
  partialLevel_ = -1;
  levels_.clear();
}

void LoudnessMeter::feed(const float* samples, int frames) {
  // The peaks are summed without the lock; what completed in this call is handed over
  // under it once at the end, so a reader never holds up the capture for long.
  uint8_t done[64];
  int doneCount = 0;
  auto handOver = [&](bool last) {
    std::lock_guard<std::mutex> lock(lock_);
    levels_.insert(levels_.end(), done, done + doneCount);
    doneCount = 0;
    if (last) partialLevel_ = inBlock_ > 0 ? Loudness::levelOf(blockPeak_) : -1;
  };
  while (frames > 0) {
    const int take = std::min(frames, blockFrames_ - inBlock_);
    const int n = take * channels_;
    float peak = blockPeak_;
    for (int i = 0; i < n; ++i) peak = std::max(peak, std::fabs(samples[i]));
    blockPeak_ = peak;
    samples += n;
    frames -= take;
    inBlock_ += take;
    if (inBlock_ == blockFrames_) {
      done[doneCount++] = Loudness::levelOf(blockPeak_);
      inBlock_ = 0;
      blockPeak_ = 0.0f;
      if (doneCount == int(std::size(done))) handOver(false);
    }
  }
  handOver(true);
}

std::vector<uint8_t> LoudnessMeter::levelsFrom(int64_t from) const {
  std::lock_guard<std::mutex> lock(lock_);
  const int64_t begin = std::clamp<int64_t>(from, 0, int64_t(levels_.size()));
  return std::vector<uint8_t>(levels_.begin() + begin, levels_.end());
}

int64_t LoudnessMeter::blocks() const {
  std::lock_guard<std::mutex> lock(lock_);
  return int64_t(levels_.size());
}

Loudness LoudnessMeter::whole() const {
  Loudness loudness;
  std::lock_guard<std::mutex> lock(lock_);
  loudness.levels = levels_;
  // The sound of a block not yet full is in the file too.
  if (partialLevel_ >= 0) loudness.levels.push_back(uint8_t(partialLevel_));
  return loudness;
}

}  // namespace tallowen
