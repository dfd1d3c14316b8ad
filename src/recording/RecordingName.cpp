#include "recording/RecordingName.h"

#include "platform/FolderNames.h"

namespace tallowen {

QString RecordingFileName(const QDateTime& start) {
  return start.toString(QStringLiteral("yyyy-MM-dd_HH-mm")) + QStringLiteral(".wma");
}

QString RecordingPath(const QString& folder, const QString& fileName) {
  // The separator goes in even after a folder that ends with one (stored paths and the
  // names made from them stay as they were); the root alone is its own separator.
  const QString base = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
  QString path = base + fileName;
  const QString stem = fileName.chopped(4);  // without ".wma"
  // Whatever stands at a name takes it, a link that leads nowhere too: a new file cannot be
  // made there without going wherever the link points.
  for (int n = 2; NameTaken(path); ++n) path = base + stem + QStringLiteral("(%1).wma").arg(n);
  return path;
}

QString ElapsedText(qint64 elapsedMs) {
  const qint64 seconds = (elapsedMs < 0 ? 0 : elapsedMs / 1000) % 86400;
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace tallowen
