#pragma once

#include <QString>
#include <cstdint>

namespace tallowen {

// What mending a recording's header found and did.
struct AsfRepairOutcome {
  enum class Result {
    Sound,     // the header already told the truth; not a byte was changed
    Repaired,  // header counts and duration now match the packets on disk
    Failed,    // not a file we can mend (see `error`); left as it was
  };
  Result result = Result::Failed;
  QString error;
  int64_t packets = 0;       // whole data packets kept
  int64_t durationMs = 0;    // playing time, as the header now gives it
  int64_t droppedBytes = 0;  // a torn last packet cut off the end
};

// Mends, in place, an ASF file whose writer died before completing it: the file size,
// packet counts and durations in the header are set from the data packets that reached
// the disk, and a torn last packet is cut off. Audio data is neither moved nor rewritten.
// A file that is already complete is left untouched.
AsfRepairOutcome RepairAsfFile(const QString& path);

}  // namespace tallowen
