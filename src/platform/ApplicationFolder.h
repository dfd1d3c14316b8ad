#pragma once

#include <QString>

namespace tallowen {

// Where the program's own files are. A copy run from its own folder (the build folder, or
// a folder copied from it) has them all beside the executable. An installed copy has its
// executables and recording module in <prefix>/lib/tallowen and its data (the help file;
// the pictures are compiled in) in <prefix>/share/tallowen, as Debian's policy wants.
struct ProgramFiles {
  QString programFolder;   // the executables and the recording module
  QString dataFolder;      // the help file
  bool installed = false;  // keeps nothing of a user's (settings, recordings) in its folders
};

// The layout for an executable in this folder (its real path, links resolved); a folder
// of that shape, <prefix>/lib/tallowen, is an installed copy.
ProgramFiles ProgramFilesFor(const QString& executableFolder);

// This process's layout, from the executable the kernel started (/proc/self/exe), never
// from a folder compiled in: the build folder could be anybody's by the time it runs.
// Empty folders when the executable cannot be told.
const ProgramFiles& ThisProgramFiles();

QString HelpFilePath();
QString CodecModulePath();
// WMEDist, the recording check.
QString CompanionPath();

// Qt's own texts (standard buttons, file dialogs) in Japanese, like the rest of the
// program; false when the translation is not installed.
bool LoadQtTranslation();

}  // namespace tallowen
