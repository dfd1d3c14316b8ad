#include "companion/CompanionLog.h"

namespace tallowen {

Q_LOGGING_CATEGORY(lcCompanion, "tallowen.companion", QtWarningMsg)

}  // namespace tallowen
