#include "config/frmConfig.h"

#include <QIcon>
#include <QLabel>

namespace tallowen {

// Until the dialog's own controls exist it stores nothing; the recording start goes on
// with the first profile.
frmConfig::frmConfig(const Seams& seams, QWidget* parent) : QDialog(parent), seams_(seams) {
  setObjectName(QStringLiteral("frmConfig"));
  setWindowTitle(QStringLiteral("Tallowen - 設定変更"));
  setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.xpm")));
  setFixedSize(480, 119);
  new QLabel(QStringLiteral("保存場所"), this);
}

}  // namespace tallowen
