#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "help/frmAbout.h"
#include "app/Form1.h"
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
  void TearDown() override {
    DeleteWindowsLeftOpen();
  }
  // Opened as the main window opens it: modeless, destroyed when closed.
  frmAbout* shownBox() {
    auto* box = new frmAbout(&launcher_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
    return box;
  }
  static QColor linkColour(const frmAbout& box) { return box.Label2->palette().color(QPalette::WindowText); }
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
  EXPECT_FALSE(box->picIcon->pixmap().isNull());
  EXPECT_EQ(box->picIcon->size(), QSize(36, 36));
  // Every text shows on the lines it is meant to have, none cut off above its baseline
  // (the fonts standing in for Arial and Courier New run a little taller).
  const std::pair<QLabel*, int> lines[] = {
      {box->lblDisclaimer, 2}, {box->lblTitle, 1}, {box->Label1, 1}, {box->Label2, 1}, {box->Label3, 2}};
  for (const auto& [label, count] : lines) {
    const QFontMetrics metrics = label->fontMetrics();
    const QRect needed = metrics.boundingRect(label->rect(), Qt::TextWordWrap, label->text());
    EXPECT_LE(needed.width(), label->width()) << label->objectName().toStdString();
    EXPECT_EQ(qRound(double(needed.height()) / metrics.lineSpacing()), count)
        << label->objectName().toStdString();
    EXPECT_LE((count - 1) * metrics.lineSpacing() + metrics.ascent(), label->height())
        << label->objectName().toStdString();
  }
}

TEST_F(AboutTest, EnterAndEscCloseIt) {
  frmAbout* box = shownBox();
  EXPECT_TRUE(box->cmdOK->isDefault());
  closesOn(box, Qt::Key_Return);
  closesOn(shownBox(), Qt::Key_Escape);
  frmAbout* third = shownBox();
  third->setFocus();  // not on the button
  closesOn(third, Qt::Key_Enter);
}

TEST_F(AboutTest, TheLinkTurnsRedOverItAndBlueOnlyOverTheBareBackground) {
  frmAbout* box = shownBox();
  EXPECT_EQ(linkColour(*box), kBlue);
  QTest::mouseMove(box->Label2);
  EXPECT_EQ(linkColour(*box), kRed);
  // Straight onto the label above it, then the picture and the button: still red.
  QTest::mouseMove(box, box->Label1->geometry().center());
  QTest::mouseMove(box, box->picIcon->geometry().center());
  QTest::mouseMove(box, box->cmdOK->geometry().center());
  EXPECT_EQ(linkColour(*box), kRed);
  const QPoint background(box->width() - 4, 4);
  ASSERT_FALSE(box->childAt(background));
  QTest::mouseMove(box, background);
  EXPECT_EQ(linkColour(*box), kBlue);
}

TEST_F(AboutTest, EachClickOnTheLinkOpensThePageAgain) {
  frmAbout* box = shownBox();
  QTest::mouseClick(box->Label1, Qt::LeftButton);
  EXPECT_TRUE(launcher_.started.empty());
  QTest::mouseClick(box->Label2, Qt::LeftButton);
  QTest::mouseClick(box->Label2, Qt::LeftButton);
  const QStringList opened{QStringLiteral("xdg-open"),
                           QStringLiteral("https://github.com/tallowen/tallowen")};
  ASSERT_EQ(launcher_.started.size(), 2u);
  EXPECT_EQ(launcher_.started[0], opened);
  EXPECT_EQ(launcher_.started[1], opened);
  EXPECT_TRUE(box->isVisible());
}

TEST_F(AboutTest, TheMainWindowsBoxOpensThePageThroughItsLauncher) {
  FakeSystem sys;
  Form1 form(sys.seams());
  form.findChild<QAction*>(QStringLiteral("MAbout"))->trigger();
  auto* box = openWindow<frmAbout>("frmAbout");
  ASSERT_TRUE(box);
  QTest::mouseClick(box->Label2, Qt::LeftButton);
  EXPECT_EQ(sys.launcher.started.size(), 1u);
}

}  // namespace
