#pragma once
// The help file this build compiled. The program opens its help file only while it is
// still that file: chmlib does not survive every damaged one.

#include "help/ChmArchive.h"

namespace tallowen {

// The size and SHA-256 of TallowenHelp.chm as built.
ExpectedFile BuiltHelpFile();

}  // namespace tallowen
