#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/ToolWindow.h"

namespace tallowen {

// A window that exists at most once: created at its first opening, destroyed when closed,
// and only brought to the front while it is open.
template <typename Window>
class SingleWindow {
 public:
  // `make` creates the window and runs its loading step; it may return null when the
  // window decides not to open.
  template <typename Make>
  Window* open(Make make) {
    if (window_) {
      window_->show();
      window_->raise();
      window_->activateWindow();
      return window_;
    }
    window_ = make();
    if (window_) {
      window_->setAttribute(Qt::WA_DeleteOnClose);
      // On the screen, in front, and where the keys go.
      FitOnScreen(window_);
      window_->show();
      window_->raise();
      window_->activateWindow();
    }
    return window_;
  }
  // Creates the window, loaded but not shown, unless it is open already.
  template <typename Make>
  Window* get(Make make) {
    if (!window_) {
      window_ = make();
      if (window_) window_->setAttribute(Qt::WA_DeleteOnClose);
    }
    return window_;
  }
  Window* window() const { return window_; }

 private:
  QPointer<Window> window_;
};

}  // namespace tallowen
