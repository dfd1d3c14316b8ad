#include "player/SpokenSlider.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>

namespace tallowen {

namespace {

class SpokenSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit SpokenSliderAccessible(SpokenSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return slider()->valueText();
    return QAccessibleWidget::text(t);
  }
  QVariant currentValue() const override { return slider()->value(); }
  void setCurrentValue(const QVariant& value) override { slider()->chooseValue(value.toInt()); }
  QVariant maximumValue() const override { return slider()->maximum(); }
  QVariant minimumValue() const override { return slider()->minimum(); }
  QVariant minimumStepSize() const override { return slider()->singleStep(); }

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
