#include "platform/AccessibleText.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

namespace tallowen {

QString ReadOnlyText::text(int startOffset, int endOffset) const {
  const QString all = shownText();
  if (endOffset < 0 || endOffset > all.size()) endOffset = int(all.size());
  startOffset = std::clamp(startOffset, 0, endOffset);
  return all.mid(startOffset, endOffset - startOffset);
}

QString ReadOnlyText::attributes(int offset, int* startOffset, int* endOffset) const {
  Q_UNUSED(offset);
  *startOffset = 0;
  *endOffset = characterCount();
  return {};
}

namespace {

// Set on the controls that are named by their purpose; the factory looks for it.
constexpr char kByPurpose[] = "tallowenNamedByPurpose";

class PurposeLabel : public QAccessibleWidget, public ReadOnlyText {
 public:
  explicit PurposeLabel(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return shownText();
    return QAccessibleWidget::text(t);
  }
  QString shownText() const override { return static_cast<QLabel*>(widget())->text(); }
};

// Qt's own combo box interface is private; this one keeps its tree (the list, then the
// line edit when the box takes typing) and its actions, and takes the name it is given.
class PurposeComboBox : public QAccessibleWidget, public ReadOnlyText {
 public:
  explicit PurposeComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return shownText();
    return QAccessibleWidget::text(t);
  }
  QString shownText() const override { return box()->isEditable() ? box()->lineEdit()->text() : box()->currentText(); }

  int childCount() const override { return box()->isEditable() ? 2 : 1; }
  QAccessibleInterface* child(int index) const override {
    if (index == 0) return QAccessible::queryAccessibleInterface(box()->view());
    if (index == 1 && box()->isEditable()) return QAccessible::queryAccessibleInterface(box()->lineEdit());
    return nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child) return -1;
    if (child->object() == box()->view()) return 0;
    if (box()->isEditable() && child->object() == box()->lineEdit()) return 1;
    return -1;
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.expandable = true;
    s.expanded = box()->view()->isVisible();
    s.editable = box()->isEditable();
    return s;
  }

  QStringList actionNames() const override {
    return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == showMenuAction() || action == pressAction()) {
      if (box()->view()->isVisible())
        box()->hidePopup();
      else
        box()->showPopup();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* byPurpose(const QString&, QObject* object) {
  if (!object || !object->property(kByPurpose).toBool()) return nullptr;
  if (auto* box = qobject_cast<QComboBox*>(object)) return new PurposeComboBox(box);
  if (auto* label = qobject_cast<QLabel*>(object)) return new PurposeLabel(label);
  return nullptr;
}

void nameByPurpose(QWidget* w, const QString& purpose) {
  static const bool installed = (QAccessible::installFactory(&byPurpose), true);
  Q_UNUSED(installed);
  w->setProperty(kByPurpose, true);
  // An interface made before the mark (an event of a screen reader already listening)
  // would stay Qt's own: it is dropped, and the next look makes ours.
  if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(w))
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
  w->setAccessibleName(purpose);
}

}  // namespace

void NameByPurpose(QLabel* label, const QString& purpose) { nameByPurpose(label, purpose); }
void NameByPurpose(QComboBox* box, const QString& purpose) { nameByPurpose(box, purpose); }

}  // namespace tallowen
