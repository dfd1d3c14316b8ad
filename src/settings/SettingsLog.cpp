#include "settings/SettingsLog.h"

namespace tallowen {

Q_LOGGING_CATEGORY(lcSettings, "tallowen.settings", QtCriticalMsg)

}  // namespace tallowen
