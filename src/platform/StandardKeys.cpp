#include "platform/StandardKeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QWidget>

namespace tallowen {

bool StandardKeys::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  // A key the focused control leaves goes on to its parents: it is looked at once, where
  // it lands first (the window itself when nothing has the focus).
  const QWidget* focused = QApplication::focusWidget();
  if (!widget || (focused ? widget != focused : !widget->isWindow())) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;

  if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (!button) return false;  // a text box or a list: Enter is theirs, or the dialog's
    // A key held down presses once, as Space does: a held Enter must not start and stop
    // a recording over and over.
    if (!key->isAutoRepeat()) button->click();
    return true;
  }

  if (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier) {
    // Where the Menu key would open it: at the text cursor of a text box, in the middle
    // of anything else. The event goes up to the control that has a menu.
    const QRect cursor = widget->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    const QPoint at = cursor.isValid() ? cursor.center() : widget->rect().center();
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, widget->mapToGlobal(at), key->modifiers());
    QApplication::sendEvent(widget, &menu);
    return true;
  }
  return false;
}

}  // namespace tallowen
