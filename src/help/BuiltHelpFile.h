#pragma once
// The help file this build compiled. The program opens its help file only while it is
// still that file: chmlib does not survive every damaged one.

#include <QByteArray>

namespace tallowen {

// The SHA-256 of TallowenHelp.chm as built, 32 bytes.
QByteArray BuiltHelpFileSha256();

}  // namespace tallowen
