#include "help/frmAbout.h"

#include <QIcon>

namespace tallowen {

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Tallowen"));
  setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.xpm")));
  setFixedSize(382, 149);
}

}  // namespace tallowen
