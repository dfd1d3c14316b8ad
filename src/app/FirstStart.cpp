#include "app/FirstStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace tallowen {

QString FirstStartMarkerPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Tallowen/started");
}

bool IsFirstStart() { return !QFileInfo::exists(FirstStartMarkerPath()); }

void MarkStarted() {
  const QString path = FirstStartMarkerPath();
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile marker(path);
  // If the marker cannot be written the offer simply comes again next time.
  if (marker.open(QIODevice::WriteOnly)) marker.write("The install offer was made.\n");
}

}  // namespace tallowen
