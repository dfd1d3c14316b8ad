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

  QPushButton* cmdOK;
  QLabel* picIcon;
  QLabel* lblDisclaimer;
  QLabel* lblTitle;
  QLabel* Label1;
  QLabel* Label2;  // the link
  QLabel* Label3;

  void Label2_Click();

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setLinkColour(const QColor& colour);

  Launcher* launcher_;
};

}  // namespace tallowen
