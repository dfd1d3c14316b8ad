#include "platform/ToolWindow.h"

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

}  // namespace tallowen
