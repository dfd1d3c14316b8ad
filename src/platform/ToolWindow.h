#pragma once

class QWidget;

namespace tallowen {

// A window of the program's own beside the main window (settings, players): a fixed dialog
// frame with a close box only, kept out of the taskbar as a tool window. It still counts
// among the windows that keep the program running: the program ends when its last window
// closes, whichever that is.
void MakeToolWindow(QWidget* window);

// Keeps a window about to be shown inside the available area of its screen: larger than
// the area, it shrinks as far as it may; placed by the program (moved), it moves in where
// it would stand out. Left unplaced, the window manager places it.
void FitOnScreen(QWidget* window);

// Deletes every top-level window that would be deleted when closed, but `except`: what is
// still open when the program ends. A window may take others with it (a message box it
// owns), so each is looked at only while it still exists.
void DeleteWindowsLeftOpen(const QWidget* except = nullptr);

}  // namespace tallowen
