#pragma once

#include <QDialog>

namespace tallowen {

// The About box: name, version, the maker's web page and the notices.
class frmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit frmAbout(QWidget* parent = nullptr);
};

}  // namespace tallowen
