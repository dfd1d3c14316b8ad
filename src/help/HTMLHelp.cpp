#include "help/HTMLHelp.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QWidget>

#include "help/BuiltHelpFile.h"
#include "help/HelpLog.h"
#include "help/HelpViewer.h"
#include "platform/ToolWindow.h"

namespace tallowen {

namespace {

// The viewer already showing this file, if any. The open windows are the only record: the
// module itself keeps nothing between calls.
HelpViewer* openViewer(const QString& helpFile) {
  const QString wanted = QFileInfo(helpFile).absoluteFilePath();
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* viewer = qobject_cast<HelpViewer*>(w); viewer && viewer->helpFile() == wanted) return viewer;
  return nullptr;
}

template <typename Show>
quintptr present(QWidget* owner, const QString& helpFile, Show show) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    qCDebug(lcHelp) << "no help window without a QApplication:" << helpFile;
    return 0;
  }
  HelpViewer* viewer = openViewer(helpFile);
  if (!viewer) {
    // No parent: the help window outlives the window that asked for it (a settings dialog
    // is destroyed when closed), and it does not keep the program running on its own.
    // The program's help file is the one it was built with; anything else is damaged.
    viewer = new HelpViewer(helpFile, BuiltHelpFile());
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setAttribute(Qt::WA_QuitOnClose, false);
    if (owner && owner->screen()) viewer->setScreen(owner->screen());
    // Near the window that asked, or in the middle of the screen.
    FitOnScreen(viewer);
    const QPoint at = owner ? owner->window()->frameGeometry().topLeft() + QPoint(40, 40)
                            : viewer->screen()->availableGeometry().center() - viewer->rect().center();
    FitOnScreen(viewer, at);
  }
  show(*viewer);
  if (viewer->isMinimized()) viewer->showNormal();
  viewer->show();
  viewer->raise();
  viewer->activateWindow();
  return static_cast<quintptr>(viewer->winId());
}

}  // namespace

quintptr ShowHelpContents(QWidget* owner, const QString& helpFile) {
  return present(owner, helpFile, [](HelpViewer& v) { v.showContents(); });
}

quintptr ShowHelpTopic(QWidget* owner, const QString& helpFile, int topic) {
  return present(owner, helpFile, [topic](HelpViewer& v) { v.showTopic(topic); });
}

}  // namespace tallowen
