#pragma once

#include <QPoint>
#include <optional>

class QWidget;

namespace tallowen {

// A window of the program's own beside the main window (settings, players): a fixed dialog
// frame with a close box only, kept out of the taskbar as a tool window. It still counts
// among the windows that keep the program running: the program ends when its last window
// closes, whichever that is.
void MakeToolWindow(QWidget* window);

// Keeps a window inside the available area of its screen, frame and all: larger than the
// area, it shrinks as far as its minimum size allows. It then stands at `at` (its frame's
// top left), or where the program put it, as near as the area allows; a window nobody
// placed is left where the window manager puts it.
void FitOnScreen(QWidget* window, std::optional<QPoint> at = std::nullopt);

// From now on every window the program shows, message boxes and Qt's own file dialogs
// included, is fitted to its screen as it is shown, and once more as it first appears,
// when the window manager has framed and placed it: the frame it draws is known only then.
void KeepWindowsOnScreen();

// Deletes every top-level window that would be deleted when closed, but `except`: what is
// still open when the program ends. A window may take others with it (a message box it
// owns), so each is looked at only while it still exists.
void DeleteWindowsLeftOpen(const QWidget* except = nullptr);

}  // namespace tallowen
