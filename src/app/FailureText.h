#pragma once
// What the window says when recording cannot start or ends badly.

#include <QString>

#include "recording/RecordingFailure.h"
#include "recording/RecordingJournal.h"

namespace tallowen {

// One line in Japanese that names the cause and the path or device.
QString FailureLine(const RecordingFailure& failure);
// The system's own words for it, as a last line for whoever looks further; empty when it
// gave none.
QString DetailLine(const RecordingFailure& failure);

// The warning of a start that failed: its first line names the cause, the next says what
// to check, the last gives the system's words. A failure of the recording module itself
// keeps the encoder's warning.
QString StartFailureMessage(const RecordingFailure& failure);
// The help topic that follows that warning: the page about its cause.
int StartFailureHelpTopic(FailureCause cause);

// The help file's topics for each cause, as its [MAP] numbers them.
inline constexpr int kNoInputHelpTopic = 2;
inline constexpr int kSoundServerHelpTopic = 3;
inline constexpr int kInputHeldHelpTopic = 4;
inline constexpr int kSaveFolderHelpTopic = 5;

// What the start found of recordings that a crash or a power cut interrupted: those
// mended, and those that could not be, each with why. Empty when there is nothing to say.
QString InterruptedRecordingsReport(const QList<InterruptedRecording>& found);

}  // namespace tallowen
