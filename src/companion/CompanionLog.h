#pragma once
// What the recording check does about a failure it handles without a word to the user: off
// by default, on with QT_LOGGING_RULES="tallowen.companion.debug=true".

#include <QLoggingCategory>

namespace tallowen {

Q_DECLARE_LOGGING_CATEGORY(lcCompanion)

}  // namespace tallowen
