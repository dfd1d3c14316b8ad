#include "platform/Pictures.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmapCache>
#include <array>
#include <cstring>

// The pictures' sources are written by resources/draw_pictures.py.
#include "resources/icon.xpm"
#include "resources/icon@2x.xpm"
#include "resources/icon@3x.xpm"
#include "resources/pause.xpm"
#include "resources/pause@2x.xpm"
#include "resources/pause@3x.xpm"
#include "resources/pause_grey.xpm"
#include "resources/pause_grey@2x.xpm"
#include "resources/pause_grey@3x.xpm"
#include "resources/play.xpm"
#include "resources/play@2x.xpm"
#include "resources/play@3x.xpm"
#include "resources/play_grey.xpm"
#include "resources/play_grey@2x.xpm"
#include "resources/play_grey@3x.xpm"
#include "resources/record.xpm"
#include "resources/record@2x.xpm"
#include "resources/record@3x.xpm"
#include "resources/record_grey.xpm"
#include "resources/record_grey@2x.xpm"
#include "resources/record_grey@3x.xpm"
#include "resources/settings.xpm"
#include "resources/settings@2x.xpm"
#include "resources/settings@3x.xpm"
#include "resources/stop.xpm"
#include "resources/stop@2x.xpm"
#include "resources/stop@3x.xpm"
#include "resources/stop_grey.xpm"
#include "resources/stop_grey@2x.xpm"
#include "resources/stop_grey@3x.xpm"
#include "resources/volume.xpm"
#include "resources/volume@2x.xpm"
#include "resources/volume@3x.xpm"

namespace tallowen {

namespace {

constexpr int kDesignSize = 32;
constexpr std::array<int, 3> kScales = {1, 2, 3};

// The XPM sources of one picture, at 1x, 2x and 3x.
const std::array<const char* const*, 3>* sources(const char* name) {
  static const struct {
    const char* name;
    std::array<const char* const*, 3> xpm;
  } pictures[] = {
      {"icon", {icon_xpm, icon_2x_xpm, icon_3x_xpm}},
      {"pause", {pause_xpm, pause_2x_xpm, pause_3x_xpm}},
      {"pause_grey", {pause_grey_xpm, pause_grey_2x_xpm, pause_grey_3x_xpm}},
      {"play", {play_xpm, play_2x_xpm, play_3x_xpm}},
      {"play_grey", {play_grey_xpm, play_grey_2x_xpm, play_grey_3x_xpm}},
      {"record", {record_xpm, record_2x_xpm, record_3x_xpm}},
      {"record_grey", {record_grey_xpm, record_grey_2x_xpm, record_grey_3x_xpm}},
      {"settings", {settings_xpm, settings_2x_xpm, settings_3x_xpm}},
      {"stop", {stop_xpm, stop_2x_xpm, stop_3x_xpm}},
      {"stop_grey", {stop_grey_xpm, stop_grey_2x_xpm, stop_grey_3x_xpm}},
      {"volume", {volume_xpm, volume_2x_xpm, volume_3x_xpm}},
  };
  for (const auto& p : pictures)
    if (std::strcmp(p.name, name) == 0) return &p.xpm;
  return nullptr;
}

// The drawing at kScales[scaleIndex], at its own size in pixels. Parsed once: the main
// window asks for the record button's pictures twice a second while it blinks.
QPixmap drawing(const QString& name, std::size_t scaleIndex) {
  const auto* xpm = sources(name.toLatin1().constData());
  if (!xpm) return {};
  const QString key = QStringLiteral("tallowen-picture/%1/%2").arg(name).arg(scaleIndex);
  QPixmap pixmap;
  if (!QPixmapCache::find(key, &pixmap)) {
    pixmap = QPixmap((*xpm)[scaleIndex]);
    QPixmapCache::insert(key, pixmap);
  }
  return pixmap;
}

// The picture in `pixels` x `pixels`. A drawn size is given as drawn. A size between them
// (a screen scaled by 1.5 wants 48) is taken from the largest drawing pixel by pixel, so that
// it stays as sharp and in the same 16 colours; smoothing would blur it. Only below the
// smallest drawing, where single pixels would drop out, is it smoothed.
QPixmap drawingAt(const QString& name, int pixels) {
  for (std::size_t i = 0; i < kScales.size(); ++i)
    if (pixels == kDesignSize * kScales[i]) return drawing(name, i);
  if (pixels <= 0) return {};
  const bool small = pixels < kDesignSize;
  const QPixmap source = drawing(name, small ? 0 : kScales.size() - 1);
  if (source.isNull()) return {};
  return source.scaled(pixels, pixels, Qt::IgnoreAspectRatio,
                       small ? Qt::SmoothTransformation : Qt::FastTransformation);
}

// Hands Qt the drawing for each size it asks for, in every mode: what is inactive has
// grey pictures of its own.
class PictureEngine : public QIconEngine {
 public:
  explicit PictureEngine(QString name) : name_(std::move(name)) {}

  QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
    return drawingAt(name_, qMin(size.width(), size.height()));
  }
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    const int side = qMin(rect.width(), rect.height());
    QPixmap shown = pixmap(QSize(side, side) * ratio, mode, state);
    shown.setDevicePixelRatio(ratio);
    painter->drawPixmap(QRect(rect.topLeft(), QSize(side, side)), shown);
  }
  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    const int side = qMin(size.width(), size.height());
    return {side, side};
  }
  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    QList<QSize> sizes;
    for (int scale : kScales) sizes << QSize(kDesignSize * scale, kDesignSize * scale);
    return sizes;
  }
  QString key() const override { return QStringLiteral("tallowen-picture"); }
  QString iconName() override { return name_; }
  QIconEngine* clone() const override { return new PictureEngine(name_); }

 private:
  QString name_;
};

}  // namespace

QIcon PictureIcon(const char* name) {
  if (!sources(name)) return {};
  return QIcon(new PictureEngine(QString::fromLatin1(name)));
}

QPixmap Picture(const char* name, qreal devicePixelRatio) {
  if (devicePixelRatio <= 0) devicePixelRatio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
  QPixmap pixmap = drawingAt(QString::fromLatin1(name), qRound(kDesignSize * devicePixelRatio));
  if (!pixmap.isNull()) pixmap.setDevicePixelRatio(qreal(pixmap.width()) / kDesignSize);
  return pixmap;
}

}  // namespace tallowen
