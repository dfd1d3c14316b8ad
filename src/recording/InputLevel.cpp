#include "recording/InputLevel.h"

#include <algorithm>
#include <cmath>

namespace tallowen {

namespace {

template <typename Sample, typename Scale>
float peakOfRun(const uint8_t* data, int64_t count, Scale scale) {
  const auto* samples = reinterpret_cast<const Sample*>(data);
  float peak = 0.0f;
  for (int64_t i = 0; i < count; ++i) peak = std::max(peak, std::fabs(scale(samples[i])));
  return peak;
}

float peakOfPlane(const uint8_t* data, int64_t count, SampleType type) {
  switch (type) {
    case SampleType::U8:
      return peakOfRun<uint8_t>(data, count, [](uint8_t s) { return (float(s) - 128.0f) / 128.0f; });
    case SampleType::S16:
      return peakOfRun<int16_t>(data, count, [](int16_t s) { return float(s) / 32768.0f; });
    case SampleType::S32:
      return peakOfRun<int32_t>(data, count, [](int32_t s) { return float(s) / 2147483648.0f; });
    case SampleType::Float:
      return peakOfRun<float>(data, count, [](float s) { return std::isfinite(s) ? s : 0.0f; });
    case SampleType::Double:
      return peakOfRun<double>(data, count, [](double s) { return std::isfinite(s) ? float(s) : 0.0f; });
    case SampleType::None:
      break;
  }
  return 0.0f;
}

}  // namespace

float PeakOf(const uint8_t* const* planes, int frames, const PcmFormat& format) {
  if (!planes || frames <= 0 || format.channels <= 0) return 0.0f;
  if (!format.planar) return peakOfPlane(planes[0], int64_t(frames) * format.channels, format.sampleType);
  float peak = 0.0f;
  for (int c = 0; c < format.channels; ++c)
    peak = std::max(peak, peakOfPlane(planes[c], frames, format.sampleType));
  return peak;
}

void InputLevel::feed(const uint8_t* const* planes, int frames, const PcmFormat& format) {
  const float peak = PeakOf(planes, frames, format);
  float seen = peak_.load();
  while (peak > seen && !peak_.compare_exchange_weak(seen, peak)) {
  }
  if (peak >= kQuiet) {
    quietFrames_ = 0;
    silent_ = false;
  } else {
    quietFrames_ += frames;
    if (quietFrames_ >= int64_t(kQuietSeconds) * format.sampleRate) silent_ = true;
  }
}

}  // namespace tallowen
