#pragma once

#include <QDialog>

#include "platform/Seams.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tallowen {

class Settings;

// The settings dialog: save folder and recording quality.
class frmConfig : public QDialog {
  Q_OBJECT
 public:
  // Loads the dialog: the stored settings and the recording qualities. OK stores the
  // choices in `settings`.
  frmConfig(const Seams& seams, Settings& settings, QWidget* parent = nullptr);

  // Video and screen-capture profiles are not offered for a voice recorder.
  static bool isListed(const QString& profileName);
  // The folder as stored: one trailing separator less, except for the root "/".
  static QString folderToStore(const QString& typed);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void load();
  void confirm();
  void browse();
  // Why `value`, for the field named `what`, cannot be kept as it is; empty when it can.
  QString storeProblem(const QString& what, const QString& value) const;

  Seams seams_;
  Settings& settings_;
  QLabel* folderLabel_;
  QLineEdit* folderEdit_;
  QPushButton* browseButton_;
  QLabel* qualityLabel_;
  QComboBox* qualityBox_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
};

}  // namespace tallowen
