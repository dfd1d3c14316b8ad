#pragma once
// What the window says when recording cannot start or ends badly.

#include <QString>

#include "recording/EncoderError.h"
#include "recording/RecordingJournal.h"

namespace tallowen {

// The warning of the recording start and of the settings dialog's loading, then the help
// topic that explains it.
QString EncoderUnavailableMessage();
inline constexpr int kEncoderHelpTopic = 1;

// One line in Japanese that names the cause and the path or device, with the system's own
// words in brackets.
QString FailureLine(const EncoderError& failure);

// What the start found of recordings that a crash or a power cut interrupted: those
// mended, and those that could not be, each with why. Empty when there is nothing to say.
QString InterruptedRecordingsReport(const QList<InterruptedRecording>& found);

}  // namespace tallowen
