#pragma once

#include <QString>

namespace tallowen {

// The folder of the executable; the program's own files are found in it.
QString ApplicationFolder();

// The help file beside the executable.
QString HelpFilePath();

// Qt's own texts (standard buttons, file dialogs) in Japanese, like the rest of the
// program; false when the translation is not installed.
bool LoadQtTranslation();

}  // namespace tallowen
