#pragma once

#include <QDialog>

#include "platform/Seams.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tallowen {

// The settings dialog: save folder and recording quality.
class frmConfig : public QDialog {
  Q_OBJECT
 public:
  // Loads the dialog: the stored settings and the encoder's profiles.
  explicit frmConfig(const Seams& seams, QWidget* parent = nullptr);

  QLabel* Label1;
  QLineEdit* Text1;
  QPushButton* Command2;  // browse
  QLabel* Label2;
  QComboBox* Combo1;
  QPushButton* Command1;  // OK
  QPushButton* Command3;  // cancel

  // The folder browser, opening on the desktop: a folder, or empty when the user cancels.
  QString BrowseForFolder();

  // Video and screen-capture profiles are not offered for a voice recorder.
  static bool isListed(const QString& profileName);
  // The folder as stored: one trailing separator less, except for the root "/".
  static QString folderToStore(const QString& typed);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Form_Load();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();

  Seams seams_;
};

}  // namespace tallowen
