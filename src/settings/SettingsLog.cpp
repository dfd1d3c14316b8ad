#include "settings/SettingsLog.h"

namespace tallowen {

Q_LOGGING_CATEGORY(lcSettings, "tallowen.settings", QtWarningMsg)

}  // namespace tallowen
