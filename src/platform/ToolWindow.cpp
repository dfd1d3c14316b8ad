#include "platform/ToolWindow.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <vector>

namespace tallowen {

void MakeToolWindow(QWidget* window) {
  window->setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint);
  // Setting the flags of a parentless tool window takes WA_QuitOnClose away, and Qt then
  // leaves the window out when it looks for the last one: closing the main window would
  // end the program under it. Set afterwards, the attribute stays.
  window->setAttribute(Qt::WA_QuitOnClose, true);
}

namespace {

// The window frame around `window`: the window manager's once it has framed the window,
// the style's idea of a title bar and border before.
QMargins frameOf(const QWidget* window) {
  const QRect frame = window->frameGeometry();
  const QRect inside = window->geometry();
  const QMargins known(inside.left() - frame.left(), inside.top() - frame.top(), frame.right() - inside.right(),
                       frame.bottom() - inside.bottom());
  if (!known.isNull()) return known;
  const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
  const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
  return {border, title + border, border, border};
}

}  // namespace

void FitOnScreen(QWidget* window, std::optional<QPoint> at) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  const QMargins frame = frameOf(window);
  window->resize(window->size().boundedTo(area.size().shrunkBy(frame)).expandedTo(window->minimumSize()));
  if (!at && !window->testAttribute(Qt::WA_Moved)) return;
  const QSize outer = window->size().grownBy(frame);
  const QPoint wanted = at ? *at : window->pos();
  window->move(std::clamp(wanted.x(), area.left(), std::max(area.left(), area.left() + area.width() - outer.width())),
               std::clamp(wanted.y(), area.top(), std::max(area.top(), area.top() + area.height() - outer.height())));
}

namespace {

// Windows of a frame and a title: not menus, tooltips or the lists of combo boxes, which
// Qt places itself.
bool isFramed(const QWidget* w) {
  const Qt::WindowType type = w->windowType();
  return w->isWindow() && (type == Qt::Window || type == Qt::Dialog || type == Qt::Tool);
}

class ScreenKeeper : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && !event->spontaneous() && watched->isWidgetType()) {
      auto* window = static_cast<QWidget*>(watched);
      if (isFramed(window)) {
        FitOnScreen(window);
        appearing_.emplace_back(window);
      }
    } else if (event->type() == QEvent::Expose && !appearing_.empty()) {
      if (auto* handle = qobject_cast<QWindow*>(watched); handle && handle->isExposed()) appeared(handle);
    }
    return false;
  }

 private:
  void appeared(const QWindow* handle) {
    const auto it = std::find_if(appearing_.begin(), appearing_.end(),
                                 [&](const QPointer<QWidget>& w) { return !w || w->windowHandle() == handle; });
    if (it == appearing_.end()) return;
    const QPointer<QWidget> window = *it;
    appearing_.erase(it);
    std::erase_if(appearing_, [](const QPointer<QWidget>& w) { return !w; });
    if (!window || !window->screen()) return;
    // Placed by the window manager, or with a frame larger than the program guessed.
    if (!window->screen()->availableGeometry().contains(window->frameGeometry()))
      FitOnScreen(window, window->frameGeometry().topLeft());
  }

  std::vector<QPointer<QWidget>> appearing_;  // shown, and not yet on the screen
};

}  // namespace

void KeepWindowsOnScreen() {
  static ScreenKeeper* keeper = [] {
    auto* k = new ScreenKeeper(qApp);
    qApp->installEventFilter(k);
    return k;
  }();
  Q_UNUSED(keeper);
}

void DeleteWindowsLeftOpen(const QWidget* except) {
  QList<QPointer<QWidget>> left;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != except && w->testAttribute(Qt::WA_DeleteOnClose)) left << w;
  for (const QPointer<QWidget>& w : left) delete w.data();
}

}  // namespace tallowen
