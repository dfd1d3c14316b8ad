#pragma once

#include <QObject>

namespace tallowen {

// The keys every window of the program answers alike, whatever kind of button has the
// focus: Enter (and the keypad's) presses the focused button as Space does, and Shift+F10
// opens the focused control's context menu as the Menu key does. Qt leaves Enter to
// default buttons of dialogs only, and gives Shift+F10 no meaning on Linux. Installed once,
// as an event filter of the application.
class StandardKeys : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tallowen
