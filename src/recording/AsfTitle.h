#pragma once

#include <QByteArray>
#include <QString>

namespace tallowen {

// What giving a recording a new title did.
struct RetitleOutcome {
  enum class Result {
    Retitled,   // the header holds the new title
    Unchanged,  // it held that title already
    NoRoom,     // the header has no padding to take a longer title from: left as it was
    Damaged,    // not ASF, or a header that does not read: left as it was
    Io,         // the file could not be read or written
  };
  Result result = Result::Io;
  QString error;
};

// Writes `title` as the title of the ASF file open on `fd` (for reading and writing): the
// Content Description Object's first text, the others kept. A longer title takes its room
// from the Padding Object that follows, a shorter one gives it back; the objects between
// move with it. The header keeps its size, nothing after it is touched, and it is written
// only once the new one is known to fit and to read, then synced. Without a Content
// Description Object, one goes in before the padding.
RetitleOutcome RetitleAsfDescriptor(int fd, const QString& title);

// The same for the file at `nativePath`, never through a link at its last step.
RetitleOutcome RetitleAsfFile(const QByteArray& nativePath, const QString& title);

}  // namespace tallowen
