#include "app/LevelMeter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace tallowen {

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LevelMeter"));
  // The time box's tooltip stays reachable through the bar.
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

double LevelMeter::fraction(double db) { return std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0); }

void LevelMeter::showPeak(float peak) {
  const double db = peak > 0 ? std::max(20.0 * std::log10(double(peak)), kFloorDb) : kFloorDb;
  level_ = db;
  if (db >= hold_ || holdLeft_ == 0) {
    hold_ = db;
    holdLeft_ = kHoldUpdates;
  } else {
    --holdLeft_;
  }
  if (db >= kClipDb)
    clipLeft_ = kHoldUpdates;
  else if (clipLeft_ > 0)
    --clipLeft_;
  update();
}

void LevelMeter::clear() {
  level_ = hold_ = kFloorDb;
  holdLeft_ = clipLeft_ = 0;
  update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int filled = int(std::lround(fraction(level_) * width()));
  if (filled > 0)
    painter.fillRect(0, 0, filled, height(), clipping() ? QColor(0xd0, 0x10, 0x10) : QColor(0x20, 0xa0, 0x40));
  if (hold_ > kFloorDb) {
    const int at = std::clamp(int(std::lround(fraction(hold_) * width())) - 1, 0, width() - 1);
    painter.fillRect(at, 0, 1, height(), clipping() ? QColor(0x90, 0x00, 0x00) : QColor(0x10, 0x60, 0x20));
  }
}

}  // namespace tallowen
