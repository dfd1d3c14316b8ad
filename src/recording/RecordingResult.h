#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "recording/RecordingFailure.h"

namespace tallowen {

// Why the recording's file is where it is now.
enum class FileChange {
  Made,     // the recording began: the file was made here
  PutBack,  // it was removed while recording, and put back in its folder
  Rescued,  // removed with its folder, which could not be made again: put in the user's own
  Followed, // its folder was renamed or moved, and took the file with it
};

// How a recording ended, or why it never began.
struct RecordingResult {
  bool started = false;  // a file was made; false: the start failed and left nothing behind
  QString path;          // where the file is now
  QString begunAt;       // where it was begun, when it has moved since (its folder renamed)
  bool endedByItself = false;               // the input was lost, the disk full, ...
  std::optional<RecordingFailure> failure;  // why it ended by itself or did not start
  bool complete = false;                    // the file is whole: it plays and seeks to its end
  int64_t soundMs = 0;                      // how long it plays
};

}  // namespace tallowen
