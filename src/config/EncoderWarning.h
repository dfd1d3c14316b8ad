#pragma once

#include <QString>

namespace tallowen {

// The warning of the recording start and of the settings dialog's loading when recording
// cannot work, then the help topic that explains it.
QString EncoderUnavailableMessage();
inline constexpr int kEncoderHelpTopic = 1;

}  // namespace tallowen
