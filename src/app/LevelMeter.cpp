#include "app/LevelMeter.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace tallowen {

namespace {

// What a screen reader learns of the bar: a level in decibels, from -60 to 0.
class AccessibleMeter : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit AccessibleMeter(LevelMeter* meter) : QAccessibleWidget(meter, QAccessible::ProgressBar) {}
  void* interface_cast(QAccessible::InterfaceType type) override {
    return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                               : QAccessibleWidget::interface_cast(type);
  }
  QVariant currentValue() const override { return std::round(meter()->levelDb()); }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return 0.0; }
  QVariant minimumValue() const override { return LevelMeter::kFloorDb; }
  QVariant minimumStepSize() const override { return 1.0; }

 private:
  LevelMeter* meter() const { return static_cast<LevelMeter*>(widget()); }
};

QAccessibleInterface* accessibleMeter(const QString& className, QObject* object) {
  if (className == QLatin1String("tallowen::LevelMeter") && object->isWidgetType())
    return new AccessibleMeter(static_cast<LevelMeter*>(object));
  return nullptr;
}

}  // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
  static const bool installed = (QAccessible::installFactory(accessibleMeter), true);
  Q_UNUSED(installed);
  setObjectName(QStringLiteral("LevelMeter"));
  setAccessibleName(QStringLiteral("入力レベル"));
  setAccessibleDescription(QStringLiteral("入力の音の大きさ (dB、0 が最大)"));
  // The time box's tooltip stays reachable through the bar.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  // It paints its whole area: the time box behind it need not be drawn again.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

double LevelMeter::fraction(double db) { return std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0); }

void LevelMeter::showPeak(float peak) {
  const double db = peak > 0 ? std::max(20.0 * std::log10(double(peak)), kFloorDb) : kFloorDb;
  // A screen reader hears of the level a step of 3 dB at a time, not sixteen times a second.
  if (std::lround(db / 3) != std::lround(level_ / 3)) {
    QAccessibleValueChangeEvent event(this, std::round(db));
    QAccessible::updateAccessibility(&event);
  }
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
  refresh();
}

void LevelMeter::clear() {
  level_ = hold_ = kFloorDb;
  holdLeft_ = clipLeft_ = 0;
  refresh();
}

LevelMeter::Look LevelMeter::look() const {
  Look look;
  look.filled = int(std::lround(fraction(level_) * width()));
  if (hold_ > kFloorDb) look.holdAt = std::clamp(int(std::lround(fraction(hold_) * width())) - 1, 0, width() - 1);
  look.clip = clipping();
  return look;
}

void LevelMeter::refresh() {
  const Look now = look();
  if (now == shown_) return;
  shown_ = now;
  update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const Look look = this->look();
  painter.fillRect(rect(), palette().window());
  if (look.filled > 0)
    painter.fillRect(0, 0, look.filled, height(), look.clip ? QColor(0xd0, 0x10, 0x10) : QColor(0x20, 0xa0, 0x40));
  if (look.holdAt >= 0)
    painter.fillRect(look.holdAt, 0, 1, height(), look.clip ? QColor(0x90, 0x00, 0x00) : QColor(0x10, 0x60, 0x20));
}

}  // namespace tallowen
