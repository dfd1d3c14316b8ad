#pragma once

#include <QDialog>

#include "platform/Seams.h"

namespace tallowen {

// The settings dialog: save folder and recording quality.
class frmConfig : public QDialog {
  Q_OBJECT
 public:
  explicit frmConfig(const Seams& seams, QWidget* parent = nullptr);

 private:
  Seams seams_;
};

}  // namespace tallowen
