#include "help/HTMLHelp.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QWidget>

#include "help/BuiltHelpFile.h"
#include "help/HelpViewer.h"

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
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
  HelpViewer* viewer = openViewer(helpFile);
  if (!viewer) {
    // No parent: the help window outlives the window that asked for it (a settings dialog
    // is destroyed when closed), and it does not keep the program running on its own.
    // The program's help file is the one it was built with; anything else is damaged.
    viewer = new HelpViewer(helpFile, BuiltHelpFileSha256());
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setAttribute(Qt::WA_QuitOnClose, false);
    if (owner) {
      const QRect area =
          (owner->screen() ? owner->screen() : QGuiApplication::primaryScreen())->availableGeometry();
      QPoint at = owner->window()->frameGeometry().topLeft() + QPoint(40, 40);
      at.setX(qBound(area.left(), at.x(), qMax(area.left(), area.right() - viewer->width())));
      at.setY(qBound(area.top(), at.y(), qMax(area.top(), area.bottom() - viewer->height())));
      viewer->move(at);
    }
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
