#include "player/frmPlayer.h"

#include <QIcon>

namespace tallowen {

frmPlayer::frmPlayer(const Seams& seams, QWidget* parent) : QDialog(parent), seams_(seams) {
  setObjectName(QStringLiteral("frmPlayer"));
  setWindowTitle(QStringLiteral("Tallowen - 再生"));
  setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.xpm")));
  setFixedSize(293, 77);
}

frmPlayer2* frmPlayer2::create(const Seams& seams) {
  auto* window = new frmPlayer2(seams);
  window->setObjectName(QStringLiteral("frmPlayer2"));
  return window;
}

}  // namespace tallowen
