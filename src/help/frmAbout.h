#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tallowen {

class Launcher;

// The About box: name, version, the maker's web page and the notices.
class frmAbout : public QDialog {
  Q_OBJECT
 public:
  // The link opens the web page through `launcher`, which must outlive the box.
  explicit frmAbout(Launcher* launcher, QWidget* parent = nullptr);

  // The page the link opens.
  static QString webPage();

 protected:
  void showEvent(QShowEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void openWebPage();
  void setLinkColour(const QColor& colour);

  Launcher* launcher_;
  QPushButton* okButton_;
  QLabel* iconPicture_;
  QLabel* disclaimerLabel_;
  QLabel* titleLabel_;
  QLabel* moreInfoLabel_;
  QLabel* linkLabel_;
  QLabel* creditLabel_;
};

}  // namespace tallowen
