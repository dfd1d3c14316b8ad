#include "platform/ToolWindow.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace tallowen {

void MakeToolWindow(QWidget* window) {
  window->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint);
  // Setting the flags of a parentless tool window takes WA_QuitOnClose away, and Qt then
  // leaves the window out when it looks for the last one: closing the main window would
  // end the program under it. Set afterwards, the attribute stays.
  window->setAttribute(Qt::WA_QuitOnClose, true);
}

void FitOnScreen(QWidget* window) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect room = screen->availableGeometry();
  // The frame is known once shown; before, borders and a title bar's worth are allowed for.
  const QSize frame = window->isVisible() ? window->frameGeometry().size() - window->size() : QSize(8, 40);
  const QSize fits = window->size().boundedTo(room.size() - frame).expandedTo(window->minimumSize());
  if (fits != window->size()) window->resize(fits);
  if (!window->testAttribute(Qt::WA_Moved)) return;
  const QRect outer(window->pos(), window->size() + frame);
  const QPoint at(std::clamp(outer.left(), room.left(), std::max(room.left(), room.right() + 1 - outer.width())),
                  std::clamp(outer.top(), room.top(), std::max(room.top(), room.bottom() + 1 - outer.height())));
  if (at != outer.topLeft()) window->move(at);
}

void DeleteWindowsLeftOpen(const QWidget* except) {
  QList<QPointer<QWidget>> left;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != except && w->testAttribute(Qt::WA_DeleteOnClose)) left << w;
  for (const QPointer<QWidget>& w : left) delete w.data();
}

}  // namespace tallowen
