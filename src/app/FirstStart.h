#pragma once

#include <QString>

namespace tallowen {

// Whether the program has started on this computer before: a marker in the user's
// configuration folder (setting.ini keeps only what the settings dialog and the recorder
// write).
bool IsFirstStart();
void MarkStarted();
QString FirstStartMarkerPath();

}  // namespace tallowen
