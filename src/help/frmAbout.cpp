#include "help/frmAbout.h"

#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "platform/Seams.h"
#include "platform/Twips.h"
#include "platform/Pictures.h"
#include "platform/TextFit.h"

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
  setWindowIcon(PictureIcon("icon"));
  // A fixed place, not centred on anything; the geometry is that of the client area.
  setGeometry(px(2340), px(1935), px(5730), px(2235));
  setFixedSize(px(5730), px(2235));
  // Mouse moves over the bare background turn the link blue again.
  setMouseTracking(true);

  // Created in tab order.
  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setGeometry(px(4200), px(1800), px(1380), px(345));
  cmdOK->setDefault(true);
  connect(cmdOK, &QPushButton::clicked, this, &QWidget::close);

  picIcon = new QLabel(this);
  picIcon->setObjectName(QStringLiteral("picIcon"));
  const QPixmap icon = Picture("icon");
  picIcon->setPixmap(icon);
  picIcon->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  picIcon->setLineWidth(2);
  picIcon->setAlignment(Qt::AlignCenter);
  // The box takes the picture's size, with its border around it.
  const QSize pictureSize = icon.isNull() ? QSize(px(540) - 4, px(540) - 4) : icon.size();
  picIcon->setGeometry(px(240), px(120), pictureSize.width() + 4, pictureSize.height() + 4);

  const QFont arial9 = makeFont("Arial", 9);
  lblDisclaimer = label(this, "lblDisclaimer",
                        QStringLiteral("Copyright (C) 2026 the Tallowen developers."
                                       "                                        All rights reserved."),
                        120, 1680, 3870, 465, arial9);
  lblTitle = label(this, "lblTitle", QStringLiteral("Tallowen v1.01"), 960, 120, 4005, 360,
                   makeFont("Courier New", 14.25, true));
  Label1 = label(this, "Label1", QStringLiteral("For more information, please visit us at"), 960, 480, 3855,
                 255, arial9);
  Label2 = label(this, "Label2", QStringLiteral("github.com/tallowen"), 1200, 720, 2535, 255,
                 makeFont("Arial", 9.75, true, true));
  Label2->setWordWrap(false);
  Label2->setMouseTracking(true);
  Label2->installEventFilter(this);
  Label3 = label(this, "Label3",
                 QStringLiteral("Portions of this program use FFmpeg's WMA encoder.\n"
                                "Copyright (C) 2000-2026 the FFmpeg developers."),
                 120, 1080, 4575, 495, arial9);
  for (QLabel* black : {lblDisclaimer, lblTitle}) {
    QPalette p = black->palette();
    p.setColor(QPalette::WindowText, Qt::black);
    black->setPalette(p);
  }
  setLinkColour(kLinkBlue);
  FitTexts(this);
  cmdOK->setFocus();
}

void frmAbout::setLinkColour(const QColor& colour) {
  QPalette p = Label2->palette();
  p.setColor(QPalette::WindowText, colour);
  Label2->setPalette(p);
}

void frmAbout::mouseMoveEvent(QMouseEvent* event) {
  // Only the bare background turns the link back: a move that reaches the box from one of
  // its controls leaves the colour alone.
  if (!childAt(event->position().toPoint())) setLinkColour(kLinkBlue);
  QDialog::mouseMoveEvent(event);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label2) {
    if (event->type() == QEvent::MouseMove) {
      setLinkColour(kLinkRed);
      return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton && Label2->rect().contains(mouse->position().toPoint()))
        Label2_Click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void frmAbout::Label2_Click() {
  // Each click hands the address to the desktop's browser anew; when no browser can be
  // started there is nothing more the box could do about it.
  if (launcher_) launcher_->start(QStringLiteral("xdg-open"), {webPage()});
}

}  // namespace tallowen
