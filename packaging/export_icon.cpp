// Writes the program's 32-pixel icon as PNG files at the theme's small sizes, named as the
// desktop entry names it:  export_icon ICON.xpm FOLDER NAME
// The picture is drawn at 32 x 32 in 16 colours; the larger sizes are drawn from icon.svg.
#include <QCoreApplication>
#include <QDir>
#include <QImage>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  if (argc < 4) return 2;
  const QImage icon(QString::fromLocal8Bit(argv[1]));
  if (icon.isNull()) return 1;
  const QString out = QString::fromLocal8Bit(argv[2]);
  const QString name = QString::fromLocal8Bit(argv[3]);
  for (int size : {16, 24, 32}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
    QDir().mkpath(folder);
    const QImage scaled =
        size == icon.width() ? icon : icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!scaled.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"))) return 1;
  }
  return 0;
}
