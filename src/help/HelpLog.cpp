#include "help/HelpLog.h"

namespace tallowen {

Q_LOGGING_CATEGORY(lcHelp, "tallowen.help", QtCriticalMsg)

}  // namespace tallowen
