#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include "app/Form1.h"
#include "help/frmAbout.h"
#include "platform/Pictures.h"
#include "platform/ToolWindow.h"
#include "support/FakeSeams.h"
#include "support/Widgets.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

class AboutTest : public ::testing::Test {
 protected:
  void TearDown() override { DeleteWindowsLeftOpen(); }
  // Opened as the main window opens it: modeless, destroyed when closed.
  frmAbout* shownBox() {
    auto* box = new frmAbout(&launcher_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
    return box;
  }
  static QColor linkColour(const frmAbout* box) {
    return find<QLabel>(box, "Label2")->palette().color(QPalette::WindowText);
  }
  static void closesOn(frmAbout* box, Qt::Key key) {
    QPointer<frmAbout> guard(box);
    QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, key);
    EXPECT_FALSE(box->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(guard) << "closing destroys it";
  }

  FakeLauncher launcher_;
};

TEST_F(AboutTest, TheBoxAndItsTextsFitTheirPlaces) {
  frmAbout* box = shownBox();
  EXPECT_EQ(box->windowTitle(), QStringLiteral("About Tallowen"));
  EXPECT_EQ(box->size(), QSize(382, 149));
  EXPECT_EQ(box->minimumSize(), box->maximumSize()) << "not resizable";
  // Its fixed place, where the screen has room for it (at scale 2 the test screen has not).
  const QRect area = box->screen()->availableGeometry();
  if (area.contains(QRect(156, 129, 382, 149))) {
    EXPECT_EQ(box->geometry().topLeft(), QPoint(156, 129));
  }
  EXPECT_TRUE(area.contains(box->geometry()));
  // The icon as drawn for the screen's scale, the same size at every scale.
  auto* icon = find<QLabel>(box, "picIcon");
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_EQ(icon->pixmap().devicePixelRatio(), box->devicePixelRatio());
  EXPECT_EQ(icon->size(), QSize(36, 36));
  // Every text shows on the lines it is meant to have, none cut off above its baseline
  // (the fonts standing in for Arial and Courier New run a little taller).
  const std::pair<const char*, int> lines[] = {
      {"lblDisclaimer", 2}, {"lblTitle", 1}, {"Label1", 1}, {"Label2", 1}, {"Label3", 2}};
  for (const auto& [name, count] : lines) {
    auto* label = find<QLabel>(box, name);
    const QFontMetrics metrics = label->fontMetrics();
    const QRect needed = metrics.boundingRect(label->rect(), Qt::TextWordWrap, label->text());
    EXPECT_LE(needed.width(), label->width()) << label->objectName().toStdString();
    EXPECT_EQ(qRound(double(needed.height()) / metrics.lineSpacing()), count)
        << label->objectName().toStdString();
    EXPECT_LE((count - 1) * metrics.lineSpacing() + metrics.ascent(), label->height())
        << label->objectName().toStdString();
  }
}

TEST_F(AboutTest, ItOpensWithTheKeyboardOnOkAndEachControlNamedInJapanese) {
  FakeSystem sys;
  Form1 form(sys.seams(), sys.settings);
  form.show();
  form.findChild<QAction*>(QStringLiteral("MAbout"))->trigger();
  auto* box = openWindow<frmAbout>("frmAbout");
  ASSERT_TRUE(box);
  ASSERT_TRUE(QTest::qWaitForWindowActive(box)) << "the box takes the keyboard from the main window";
  EXPECT_EQ(QApplication::focusWidget(), find(box, "cmdOK"));

  static const QRegularExpression japanese(QStringLiteral("[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]"));
  for (const char* name : {"cmdOK", "picIcon", "lblDisclaimer", "lblTitle", "Label1", "Label2", "Label3"})
    EXPECT_TRUE(find(box, name)->accessibleName().contains(japanese))
        << name << ": " << find(box, name)->accessibleName().toStdString();
  // What the English texts say is in their names too.
  EXPECT_TRUE(find(box, "lblTitle")->accessibleName().contains(QStringLiteral("Tallowen v1.01")));
  QWidget* link = find(box, "Label2");
  EXPECT_TRUE(link->accessibleName().contains(QStringLiteral("リンク")));
  EXPECT_TRUE(link->accessibleDescription().contains(frmAbout::webPage()));
}

TEST_F(AboutTest, EnterAndEscCloseIt) {
  frmAbout* box = shownBox();
  EXPECT_TRUE(find<QPushButton>(box, "cmdOK")->isDefault());
  closesOn(box, Qt::Key_Return);
  closesOn(shownBox(), Qt::Key_Escape);
  frmAbout* third = shownBox();
  third->setFocus();  // not on the button
  closesOn(third, Qt::Key_Enter);
}

TEST_F(AboutTest, TheLinkTurnsRedOverItAndBlueOnlyOverTheBareBackground) {
  frmAbout* box = shownBox();
  EXPECT_EQ(linkColour(box), kBlue);
  QTest::mouseMove(find(box, "Label2"));
  EXPECT_EQ(linkColour(box), kRed);
  // Straight onto the label above it, then the picture and the button: still red.
  for (const char* other : {"Label1", "picIcon", "cmdOK"})
    QTest::mouseMove(box, find(box, other)->geometry().center());
  EXPECT_EQ(linkColour(box), kRed);
  const QPoint background(box->width() - 4, 4);
  ASSERT_FALSE(box->childAt(background));
  QTest::mouseMove(box, background);
  EXPECT_EQ(linkColour(box), kBlue);
}

TEST_F(AboutTest, EachClickOnTheLinkOpensThePageAgain) {
  frmAbout* box = shownBox();
  QTest::mouseClick(find(box, "Label1"), Qt::LeftButton);
  EXPECT_TRUE(launcher_.started.empty());
  QTest::mouseClick(find(box, "Label2"), Qt::LeftButton);
  QTest::mouseClick(find(box, "Label2"), Qt::LeftButton);
  const QStringList opened{QStringLiteral("xdg-open"),
                           QStringLiteral("https://github.com/tallowen/tallowen")};
  ASSERT_EQ(launcher_.started.size(), 2u);
  EXPECT_EQ(launcher_.started[0], opened);
  EXPECT_EQ(launcher_.started[1], opened);
  EXPECT_TRUE(box->isVisible());
}

TEST_F(AboutTest, TheMainWindowsBoxOpensThePageThroughItsLauncher) {
  FakeSystem sys;
  Form1 form(sys.seams(), sys.settings);
  form.findChild<QAction*>(QStringLiteral("MAbout"))->trigger();
  auto* box = openWindow<frmAbout>("frmAbout");
  ASSERT_TRUE(box);
  QTest::mouseClick(find(box, "Label2"), Qt::LeftButton);
  EXPECT_EQ(sys.launcher.started.size(), 1u);
}

// ---- The program's pictures ------------------------------------------------------------

const char* const kPictures[] = {"icon",      "record", "record_grey", "stop",     "stop_grey", "play",
                                 "play_grey", "pause",  "pause_grey",  "settings", "volume"};

// The 16 VGA colours the pictures are drawn in, or the transparent background.
bool drawnColour(QRgb pixel) {
  static const QList<QRgb> vga = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                  0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                  0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  return qAlpha(pixel) == 0 || (qAlpha(pixel) == 255 && vga.contains(pixel & 0xFFFFFF));
}

// Pixels that are neither one of the 16 colours nor transparent: what smoothing leaves.
int blendedPixels(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
  int blended = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) blended += drawnColour(image.pixel(x, y)) ? 0 : 1;
  return blended;
}

TEST(Pictures, AButtonOfIconSize32GetsPixelsOfItsOwnAtScales1To3InTheSixteenColours) {
  for (const char* name : kPictures) {
    const QIcon icon = PictureIcon(name);
    ASSERT_FALSE(icon.isNull()) << name;
    EXPECT_EQ(icon.availableSizes(), (QList<QSize>{{32, 32}, {64, 64}, {96, 96}})) << name;
    for (qreal scale : {1.0, 1.5, 2.0, 3.0}) {
      for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
        const QPixmap shown = icon.pixmap(QSize(32, 32), scale, mode);
        const int side = qRound(32 * scale);
        EXPECT_EQ(shown.size(), QSize(side, side)) << name << " at " << scale;
        EXPECT_EQ(shown.deviceIndependentSize(), QSizeF(32, 32)) << name << " at " << scale;
        EXPECT_EQ(blendedPixels(shown), 0) << name << " at " << scale << ": smoothed";
        if (mode == QIcon::Disabled) {
          EXPECT_EQ(shown.toImage(), icon.pixmap(QSize(32, 32), scale).toImage()) << name << " dimmed";
        }
      }
    }
    // The same picture for a label.
    for (qreal scale : {1.0, 1.5, 2.0}) {
      const QPixmap picture = Picture(name, scale);
      EXPECT_EQ(picture.devicePixelRatio(), scale) << name;
      EXPECT_EQ(picture.deviceIndependentSize(), QSizeF(32, 32)) << name;
      EXPECT_EQ(picture.toImage(), icon.pixmap(QSize(32, 32), scale).toImage()) << name << " at " << scale;
    }
  }
  EXPECT_TRUE(PictureIcon("nothing").isNull());
  EXPECT_TRUE(Picture("nothing", 2).isNull());
}

TEST(Pictures, RoundAndSlantedEdgesAreDrawnAgainAtEachScaleNotBlownUp) {
  for (const char* name : {"icon", "record", "play", "settings"}) {
    const QImage once = Picture(name, 1).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int scale : {2, 3}) {
      const QImage blownUp =
          once.scaled(32 * scale, 32 * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
      QImage drawn = Picture(name, scale).toImage().convertToFormat(QImage::Format_ARGB32);
      drawn.setDevicePixelRatio(1);
      EXPECT_NE(drawn, blownUp) << name << " at " << scale << " is the 32-pixel picture enlarged";
    }
  }
}

}  // namespace
