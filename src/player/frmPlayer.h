#pragma once

#include <QDialog>

#include "platform/Seams.h"

namespace tallowen {

// Plays the latest recording.
class frmPlayer : public QDialog {
  Q_OBJECT
 public:
  explicit frmPlayer(const Seams& seams, QWidget* parent = nullptr);

 protected:
  Seams seams_;
};

// Plays a file that the user picks before the window opens.
class frmPlayer2 : public frmPlayer {
  Q_OBJECT
 public:
  static frmPlayer2* create(const Seams& seams);

 private:
  using frmPlayer::frmPlayer;
};

}  // namespace tallowen
