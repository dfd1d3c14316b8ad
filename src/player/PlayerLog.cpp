#include "player/PlayerLog.h"

namespace tallowen {

// Only warnings and worse by default: the player logs its handled failures as debug.
Q_LOGGING_CATEGORY(lcPlayer, "tallowen.player", QtWarningMsg)

}  // namespace tallowen
