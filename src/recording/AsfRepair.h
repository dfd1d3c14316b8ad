#pragma once

#include <QList>
#include <QString>
#include <cstdint>

#include "recording/AsfFormat.h"

namespace tallowen {

// What mending a recording's header found and did.
struct AsfRepairOutcome {
  enum class Result {
    Sound,     // the header already told the truth; not a byte was changed
    Repaired,  // header counts and duration now match the packets on disk
    Failed,    // not a file we can mend (see `problem` and `error`); left as it was
  };
  enum class Problem {
    None,
    Io,       // the file could not be opened, read or written, or is not a regular file
    Damaged,  // not ASF, a damaged header, or data before the end that is no packet
  };
  Result result = Result::Failed;
  Problem problem = Problem::None;
  QString error;
  int64_t packets = 0;       // whole data packets kept
  int64_t durationMs = 0;    // playing time, as the header now gives it
  int64_t droppedBytes = 0;  // a torn last packet (and zeros after it) cut off the end
};

// Mends, in place, an ASF file whose writer died before completing it: the file size,
// packet counts and durations in the header are set from the data packets that reached
// the disk. Audio data is neither moved nor rewritten, and only a torn last packet, or
// zeros that a power cut left after the last whole packet, may be cut off. Anything else
// that does not parse (a damaged packet with more after it, a tag) leaves the file as it
// was. A file that is already complete is left untouched.
//
// Works on the open descriptor `fd` alone, with pread and pwrite (its offset is not
// moved), so that a file is mended only if it is the one the caller opened. `fd` must be
// open for reading and, for a file that needs mending, for writing. The file is never cut
// shorter than `keepAtLeast` bytes: what was already synced to the disk. `marks`, the index
// marks the journal kept, go into the header's room for them. `name` is for messages only.
// Needs no event loop and no GUI: safe on any thread.
AsfRepairOutcome RepairAsfDescriptor(int fd, const QString& name, int64_t keepAtLeast = 0,
                                     const QList<asf::Mark>& marks = {});

// The same, for the file at `path` as it is now (the tools and the tests). Never waits on
// a FIFO and does not follow a symbolic link at the last step of the path.
AsfRepairOutcome RepairAsfFile(const QString& path);

// Opens a recording to be mended as RepairAsfFile does: for reading and writing, or for
// reading alone where it may not be written (it can still be found sound); never following
// a link at the last step, never waiting on a pipe. -1 with errno set when it cannot be.
int OpenRecordingToMend(const QString& path);

}  // namespace tallowen
