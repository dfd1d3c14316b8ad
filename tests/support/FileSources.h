#pragma once
// Sound files as a recording's input, for the tests and the benchmarks: decoded with
// FFmpeg, converted to the recording's format, and handed over at a real input's pace or
// as fast as possible. The faults of a real input can be caused at will.

#include <QString>
#include <atomic>
#include <functional>

#include "recording/SoundSource.h"

namespace tallowen::test {

class FileSources : public SoundSources {
 public:
  enum class Pace { RealTime, AsFastAsPossible };

  explicit FileSources(QString file = QString(), Pace pace = Pace::RealTime, bool repeat = true)
      : file(std::move(file)), pace(pace), repeat(repeat) {}

  std::unique_ptr<SoundSource> open(const AudioInput& input, const SoundFormat& format) override;

  QString file;  // what every input plays; a missing file is an input that cannot be opened
  Pace pace;
  bool repeat;
  int startDelayMs = 0;                // an input opens this much later, as a slow device does
  std::function<void()> onOpen;        // runs where the input opens, as the start begins
  std::atomic<bool> stalled{false};    // inputs deliver nothing meanwhile; what passes is lost
  std::atomic<bool> serverDown{false};  // inputs lose their server; none opens meanwhile
  std::atomic<int> opened{0};
  std::atomic<int64_t> framesDelivered{0};
};

}  // namespace tallowen::test
