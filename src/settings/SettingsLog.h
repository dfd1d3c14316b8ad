#pragma once

#include <QLoggingCategory>

namespace tallowen {

// What happens to the settings without a word to the user:
// QT_LOGGING_RULES="tallowen.settings.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcSettings)

}  // namespace tallowen
