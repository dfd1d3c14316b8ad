#include "help/HelpLog.h"

namespace tallowen {

Q_LOGGING_CATEGORY(lcHelp, "tallowen.help", QtWarningMsg)

}  // namespace tallowen
