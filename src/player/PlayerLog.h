#pragma once

#include <QLoggingCategory>

namespace tallowen {

// Failures of the player that are handled without a word to the user. Off by default;
// QT_LOGGING_RULES="tallowen.player.debug=true" turns it on.
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)

}  // namespace tallowen
