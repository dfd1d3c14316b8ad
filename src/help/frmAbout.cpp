#include "help/frmAbout.h"

#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "help/HelpLog.h"
#include "platform/Pictures.h"
#include "platform/Seams.h"
#include "platform/TextFit.h"
#include "platform/ToolWindow.h"
#include "platform/Twips.h"

namespace tallowen {

namespace {

QFont makeFont(const char* family, double points, bool bold = false, bool underline = false) {
  QFont f(QString::fromLatin1(family));
  f.setPointSizeF(points);
  f.setBold(bold);
  f.setUnderline(underline);
  return f;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
              int height, const QFont& font) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(px(left), px(top), px(width), px(height));
  l->setFont(font);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  l->setWordWrap(true);
  return l;
}

const QColor kLinkBlue(0, 0, 255);
const QColor kLinkRed(255, 0, 0);

}  // namespace

QString frmAbout::webPage() { return QStringLiteral("https://github.com/tallowen/tallowen"); }

frmAbout::frmAbout(Launcher* launcher, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      launcher_(launcher) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Tallowen"));
  setAccessibleName(QStringLiteral("Tallowen のバージョン情報"));
  setWindowIcon(PictureIcon("icon"));
  // A fixed place, not centred on anything; the geometry is that of the client area.
  setGeometry(px(2340), px(1935), px(5730), px(2235));
  setFixedSize(px(5730), px(2235));
  // Mouse moves over the bare background turn the link blue again.
  setMouseTracking(true);

  // Created in tab order.
  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("cmdOK"));
  okButton_->setGeometry(px(4200), px(1800), px(1380), px(345));
  okButton_->setDefault(true);
  okButton_->setAccessibleName(QStringLiteral("OK (閉じる)"));
  okButton_->setAccessibleDescription(
      QStringLiteral("バージョン情報を閉じます (Enter キーまたは Esc キー)。"));
  connect(okButton_, &QPushButton::clicked, this, &QWidget::close);

  iconPicture_ = new QLabel(this);
  iconPicture_->setObjectName(QStringLiteral("picIcon"));
  iconPicture_->setAccessibleName(QStringLiteral("Tallowen のアイコン (スタンドに立てたマイク)"));
  // The drawing for this screen's scale, 32 x 32 logical pixels at any.
  const QPixmap icon = Picture("icon", devicePixelRatio());
  iconPicture_->setPixmap(icon);
  iconPicture_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  iconPicture_->setLineWidth(2);
  iconPicture_->setAlignment(Qt::AlignCenter);
  // The box takes the picture's size, with its border around it.
  const QSize pictureSize =
      icon.isNull() ? QSize(px(540) - 4, px(540) - 4) : icon.deviceIndependentSize().toSize();
  iconPicture_->setGeometry(px(240), px(120), pictureSize.width() + 4, pictureSize.height() + 4);

  const QFont arial9 = makeFont("Arial", 9);
  disclaimerLabel_ = label(this, "lblDisclaimer",
                           QStringLiteral("Copyright (C) 2026 the Tallowen developers."
                                          "                                        All rights reserved."),
                           120, 1680, 3870, 465, arial9);
  titleLabel_ = label(this, "lblTitle", QStringLiteral("Tallowen v1.01"), 960, 120, 4005, 360,
                      makeFont("Courier New", 14.25, true));
  moreInfoLabel_ = label(this, "Label1", QStringLiteral("For more information, please visit us at"), 960, 480,
                         3855, 255, arial9);
  linkLabel_ = label(this, "Label2", QStringLiteral("github.com/tallowen"), 1200, 720, 2535, 255,
                     makeFont("Arial", 9.75, true, true));
  linkLabel_->setWordWrap(false);
  linkLabel_->setMouseTracking(true);
  linkLabel_->installEventFilter(this);
  creditLabel_ = label(this, "Label3",
                       QStringLiteral("Portions of this program use FFmpeg's WMA encoder.\n"
                                      "Copyright (C) 2000-2026 the FFmpeg developers."),
                       120, 1080, 4575, 495, arial9);
  for (QLabel* black : {disclaimerLabel_, titleLabel_}) {
    QPalette p = black->palette();
    p.setColor(QPalette::WindowText, Qt::black);
    black->setPalette(p);
  }
  // The texts are English; what each one is, is said in Japanese before it.
  const std::pair<QLabel*, QString> said[] = {
      {titleLabel_, QStringLiteral("製品名とバージョン")},
      {moreInfoLabel_, QStringLiteral("案内")},
      {creditLabel_, QStringLiteral("使用している技術")},
      {disclaimerLabel_, QStringLiteral("著作権")},
  };
  for (const auto& [text, what] : said)
    text->setAccessibleName(QStringLiteral("%1: %2").arg(what, text->text().simplified()));
  linkLabel_->setAccessibleName(
      QStringLiteral("Tallowen のウェブページを開くリンク: %1").arg(linkLabel_->text()));
  linkLabel_->setAccessibleDescription(
      QStringLiteral("クリックすると、ブラウザーで %1 を開きます。").arg(webPage()));
  setLinkColour(kLinkBlue);
  FitTexts(this);
  okButton_->setFocus();
}

void frmAbout::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The fixed place is kept wherever the screen has room for it.
  FitOnScreen(this);
  // Opened from the main window's menu, the box takes the keyboard at once, on OK.
  activateWindow();
  okButton_->setFocus();
}

void frmAbout::setLinkColour(const QColor& colour) {
  QPalette p = linkLabel_->palette();
  p.setColor(QPalette::WindowText, colour);
  linkLabel_->setPalette(p);
}

void frmAbout::mouseMoveEvent(QMouseEvent* event) {
  // Only the bare background turns the link back: a move that reaches the box from one of
  // its controls leaves the colour alone.
  if (!childAt(event->position().toPoint())) setLinkColour(kLinkBlue);
  QDialog::mouseMoveEvent(event);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == linkLabel_) {
    if (event->type() == QEvent::MouseMove) {
      setLinkColour(kLinkRed);
      return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton && linkLabel_->rect().contains(mouse->position().toPoint()))
        openWebPage();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void frmAbout::openWebPage() {
  // Each click hands the address to the desktop's browser anew; when no browser can be
  // started there is nothing more the box could do about it.
  if (launcher_ && !launcher_->start(QStringLiteral("xdg-open"), {webPage()}))
    qCWarning(lcHelp) << "no browser took" << webPage();
}

}  // namespace tallowen
