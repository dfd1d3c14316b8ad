#include "platform/ToolWindow.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace tallowen {

void MakeToolWindow(QWidget* window) {
  window->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint);
  // Setting the flags of a parentless tool window takes WA_QuitOnClose away, and Qt then
  // leaves the window out when it looks for the last one: closing the main window would
  // end the program under it. Set afterwards, the attribute stays.
  window->setAttribute(Qt::WA_QuitOnClose, true);
}

void DeleteWindowsLeftOpen(const QWidget* except) {
  QList<QPointer<QWidget>> left;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != except && w->testAttribute(Qt::WA_DeleteOnClose)) left << w;
  for (const QPointer<QWidget>& w : left) delete w.data();
}

}  // namespace tallowen
