#pragma once

#include <QByteArray>
#include <QString>

namespace tallowen {

// Names in a folder as the file system spells them (bytes), looked at and changed without
// following a symbolic link: a link that leads nowhere still takes its name, and no rename
// goes through one to wherever it points.

// Whether anything stands at the path: a file, a folder, or a link, wherever it leads.
bool NameTaken(const QByteArray& nativePath);
bool NameTaken(const QString& path);

// Whether a name, as the file system gives it, reads back as the same bytes in the
// encoding file names are taken in: a name that does not (bytes of another code page) has
// no path that names it.
bool NameDecodes(const QByteArray& nativeName);
// The name as it can be shown whatever it holds: each byte that does not read, and each
// control character, as \xHH.
QString ShownName(const QByteArray& nativeName);

struct RenameResult {
  enum class Outcome {
    Renamed,
    Taken,  // something else stands at the new name: nothing was changed
    Gone,   // nothing stands at the old name
    Failed,
  };
  Outcome outcome = Outcome::Failed;
  int error = 0;  // errno of a failure
  // A failure half way through a change of case: the file is here, under a third name.
  QByteArray leftAt;
};

// Renames a file to another name in the same folder, never over anything that stands at
// the new name and never by copying. A new name that differs from the old in its letters'
// case alone, on a file system that holds them as the same name (FAT), is the same file:
// it goes through a name of its own on the way.
RenameResult RenameWithoutReplacing(const QByteArray& from, const QByteArray& to);

}  // namespace tallowen
