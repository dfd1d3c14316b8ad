#include "recording/RecordingLog.h"

namespace tallowen {

// Off by default (critical only): a recorder says what matters in its windows.
Q_LOGGING_CATEGORY(lcRecording, "tallowen.recording", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRepair, "tallowen.repair", QtWarningMsg)

}  // namespace tallowen
