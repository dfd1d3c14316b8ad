#include "player/SpokenSlider.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <algorithm>
#include <cmath>

#include "platform/AccessibleText.h"

namespace tallowen {

namespace {

// Over AT-SPI, Qt gives a slider's value as a number alone: the number is in the slider's
// unit, and its words are the slider's text.
class SpokenSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface, public ReadOnlyText {
 public:
  explicit SpokenSliderAccessible(SpokenSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return slider()->valueText();
    return QAccessibleWidget::text(t);
  }
  QString shownText() const override { return slider()->valueText(); }
  QVariant currentValue() const override { return slider()->inUnit(slider()->value()); }
  void setCurrentValue(const QVariant& value) override { slider()->chooseValue(slider()->fromUnit(value.toDouble())); }
  QVariant maximumValue() const override { return slider()->inUnit(slider()->maximum()); }
  QVariant minimumValue() const override { return slider()->inUnit(slider()->minimum()); }
  QVariant minimumStepSize() const override {
    // A step from where the slider stands, in the unit: not every step is as large.
    const SpokenSlider* s = slider();
    const int from = std::min(s->value(), s->maximum() - s->singleStep());
    return std::abs(s->inUnit(from + s->singleStep()) - s->inUnit(from));
  }

 private:
  SpokenSlider* slider() const { return static_cast<SpokenSlider*>(widget()); }
};

QAccessibleInterface* spokenSliderInterface(const QString&, QObject* object) {
  if (auto* slider = qobject_cast<SpokenSlider*>(object)) return new SpokenSliderAccessible(slider);
  return nullptr;
}

}  // namespace

SpokenSlider::SpokenSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  static const bool installed = (QAccessible::installFactory(&spokenSliderInterface), true);
  Q_UNUSED(installed);
}

void SpokenSlider::setValueUnit(std::function<double(int)> toUnit, std::function<int(double)> fromUnit) {
  toUnit_ = std::move(toUnit);
  fromUnit_ = std::move(fromUnit);
}

int SpokenSlider::fromUnit(double inUnit) const {
  return std::clamp(fromUnit_ ? fromUnit_(inUnit) : int(std::lround(inUnit)), minimum(), maximum());
}

QString SpokenSlider::valueText() const { return words_ ? words_(value()) : QString::number(value()); }

void SpokenSlider::chooseValue(int value) {
  setValue(value);
  emit valueChosen(this->value());
}

bool SpokenSlider::event(QEvent* event) {
  if (keepsNavigationKeys_ && event->type() == QEvent::ShortcutOverride) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Left:
      case Qt::Key_Right:
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
      case Qt::Key_Home:
      case Qt::Key_End:
        event->accept();
        return true;
      default:
        break;
    }
  }
  return QSlider::event(event);
}

}  // namespace tallowen
