#pragma once
// What the recording does without telling the user, for whoever looks:
// QT_LOGGING_RULES="tallowen.recording.debug=true;tallowen.repair.debug=true".

#include <QLoggingCategory>

namespace tallowen {

Q_DECLARE_LOGGING_CATEGORY(lcRecording)
Q_DECLARE_LOGGING_CATEGORY(lcRepair)

}  // namespace tallowen
