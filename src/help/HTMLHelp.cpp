#include "help/HTMLHelp.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <optional>

#include "help/BuiltHelpFile.h"
#include "help/HelpLog.h"
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

// The window frame around `window`: the window manager's once it has framed the window,
// the style's idea of a title bar and border before.
QMargins frameOf(const QWidget* window) {
  const QRect frame = window->frameGeometry();
  const QRect inside = window->geometry();
  const QMargins known(inside.left() - frame.left(), inside.top() - frame.top(),
                       frame.right() - inside.right(), frame.bottom() - inside.bottom());
  if (!known.isNull()) return known;
  const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
  const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
  return {border, title + border, border, border};
}

// Shrinks the window, frame and all, to fit `area` when it is bigger, and moves it to
// `near` (its frame's top left), or to the middle, as far as the area allows.
void placeInside(QWidget* window, const QRect& area, std::optional<QPoint> near) {
  const QMargins frame = frameOf(window);
  const QSize room = area.size().shrunkBy(frame);
  window->resize(window->size().boundedTo(room).expandedTo(window->minimumSize()));
  const QSize outer = window->size().grownBy(frame);
  QPoint at = near ? *near : area.center() - QPoint(outer.width() / 2, outer.height() / 2);
  at.setX(qBound(area.left(), at.x(), qMax(area.left(), area.left() + area.width() - outer.width())));
  at.setY(qBound(area.top(), at.y(), qMax(area.top(), area.top() + area.height() - outer.height())));
  window->move(at);  // a move places the frame
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
    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) {
      std::optional<QPoint> near;
      if (owner) near = owner->window()->frameGeometry().topLeft() + QPoint(40, 40);
      placeInside(viewer, screen->availableGeometry(), near);
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
