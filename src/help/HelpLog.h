#pragma once
// What the help does about a failure it handles without a word to the user: off by
// default, on with QT_LOGGING_RULES="tallowen.help.debug=true".

#include <QLoggingCategory>

namespace tallowen {

Q_DECLARE_LOGGING_CATEGORY(lcHelp)

}  // namespace tallowen
