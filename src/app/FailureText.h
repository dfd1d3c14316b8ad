#pragma once
// What the window says when recording cannot start or ends badly.

#include <QString>

#include "recording/RecordingFailure.h"
#include "recording/RecordingJournal.h"

namespace tallowen {

// One line in Japanese that names the cause and the path or device, with the system's own
// words in brackets.
QString FailureLine(const RecordingFailure& failure);

// What the start found of recordings that a crash or a power cut interrupted: those
// mended, and those that could not be, each with why. Empty when there is nothing to say.
QString InterruptedRecordingsReport(const QList<InterruptedRecording>& found);

}  // namespace tallowen
