#pragma once

#include <QIcon>
#include <QPixmap>

namespace tallowen {

// The program's pictures by name ("icon", "record", "stop_grey", ...), each drawn at 32 x 32
// and again at two and three times that, so that a scaled screen gets pixels of its own
// rather than blown-up ones. They are compiled in as the XPM sources they are: loading them
// as files would go through QImageReader, whose first use scans all of Qt's image plugins,
// a cost on every start.

// The picture at whatever size Qt asks for: the drawing of that size, or one made from the
// largest drawing pixel by pixel. It looks as drawn in every mode: what is inactive has
// grey pictures of its own. Null for an unknown name.
QIcon PictureIcon(const char* name);
// The picture for a device pixel ratio (0: the application's), carrying that ratio, so
// that it covers 32 x 32 logical pixels. Null for an unknown name.
QPixmap Picture(const char* name, qreal devicePixelRatio = 0);

}  // namespace tallowen
