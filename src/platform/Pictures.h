#pragma once

#include <QIcon>
#include <QPixmap>

namespace tallowen {

// The program's pictures by name ("icon", "record", "stop_grey", ...). They are compiled
// in as the XPM sources they are: loading them as files would go through QImageReader,
// whose first use scans all of Qt's image plugins, a cost on every start.
QPixmap Picture(const char* name);
inline QIcon PictureIcon(const char* name) { return QIcon(Picture(name)); }

}  // namespace tallowen
