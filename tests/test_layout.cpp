#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>

#include "app/Form1.h"
#include "app/LevelMeter.h"
#include "app/TimeBox.h"
#include "config/frmConfig.h"
#include "help/frmAbout.h"
#include "player/frmPlayer.h"
#include "platform/ToolWindow.h"
#include "support/FakeSeams.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// Pixels of the label's text drawn in a box of the given size.
int inkPixels(const QLabel& label, QSize size) {
  QLabel copy(label.text());
  // The time box draws each text at the size that fits it, smaller than its own font where
  // the desktop's font needs that.
  const auto* box = qobject_cast<const TimeBox*>(&label);
  copy.setFont(box ? box->fontFor(label.text()) : label.font());
  copy.setPalette(label.palette());
  copy.setAutoFillBackground(true);
  copy.setAlignment(label.alignment());
  copy.setWordWrap(label.wordWrap());
  copy.setIndent(label.indent());
  copy.setMargin(label.margin());
  copy.setFixedSize(size);
  const QImage image = copy.grab().toImage();
  const QColor background = copy.palette().color(QPalette::Window);
  int ink = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      ink += std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                 std::abs(c.blue() - background.blue()) >
             150;
    }
  return ink;
}

// The texts of the window that do not show whole. A label's text is drawn once in the box
// it has and once with room to spare: what the first lacks was cut. A button's text must
// fit between its frame's edges.
QStringList cutTexts(QWidget* window) {
  QStringList cut;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window) || w->window() != window) continue;
    const QRect inWindow(w->mapTo(window, QPoint()), w->size());
    const QString where = QStringLiteral("%1 \"%2\"").arg(w->objectName());
    if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty()) {
      const QSize box = label->contentsRect().size();
      const QSize roomy(label->wordWrap() ? box.width() : box.width() + 400, box.height() + 400);
      const int shown = inkPixels(*label, box), whole = inkPixels(*label, roomy);
      if (shown < whole * 0.98) cut << where.arg(label->text()) + QStringLiteral(": %1 of %2 pixels").arg(shown).arg(whole);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w); button && !button->text().isEmpty()) {
      const QFontMetrics m = button->fontMetrics();
      const QString text = QString(button->text()).remove(QLatin1Char('&'));
      if (m.horizontalAdvance(text) > button->width() - 4 || m.tightBoundingRect(text).height() > button->height() - 2)
        cut << where.arg(text) + QStringLiteral(": needs %1x%2, has %3x%4")
                                     .arg(m.horizontalAdvance(text))
                                     .arg(m.tightBoundingRect(text).height())
                                     .arg(button->width())
                                     .arg(button->height());
    } else {
      continue;
    }
    if (!window->rect().contains(inWindow)) cut << where.arg(QString()) + QStringLiteral(": outside the window");
  }
  return cut;
}

class WindowText : public ::testing::Test {
 protected:
  void TearDown() override {
    DeleteWindowsLeftOpen();
  }
  void expectWhole(QWidget* window) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(cutTexts(window).join(QLatin1Char('\n')).toStdString(), "") << window->objectName().toStdString();
  }
  FakeSystem sys_;
};

// With the fonts the program is made for (the deps script installs Liberation for Arial and
// Courier New), and with whatever a machine without them falls back to (the test command
// runs this program a second time with only DejaVu and Noto CJK): no text is ever cut.
TEST_F(WindowText, EveryWindowShowsItsTextsWhole) {
  std::printf("Arial is drawn with %s, Courier New with %s\n",
              qPrintable(QFontInfo(QFont(QStringLiteral("Arial"))).family()),
              qPrintable(QFontInfo(QFont(QStringLiteral("Courier New"))).family()));
  Form1 form(sys_.seams(), sys_.settings);
  expectWhole(&form);
  // Each menu's title shows in the bar, none behind the » button of titles that do not fit.
  for (QAction* menu : form.menuBar()->actions())
    EXPECT_TRUE(form.menuBar()->rect().contains(form.menuBar()->actionGeometry(menu))) << menu->text().toStdString();
  for (const QString& status : {QStringLiteral("Starting..."), QStringLiteral("Stopping..."),
                                QStringLiteral("00:00:00"), QStringLiteral("23:59:59"), QStringLiteral("入力なし"),
                                QStringLiteral("一時停止中"), QStringLiteral("マーク 100")}) {
    form.findChild<QLabel*>(QStringLiteral("Label1"))->setText(status);
    EXPECT_EQ(cutTexts(&form).join(QLatin1Char('\n')).toStdString(), "");
  }
  frmConfig config(sys_.seams(), sys_.settings);
  expectWhole(&config);
  frmPlayer player(sys_.seams(), sys_.settings);
  player.findChild<QLabel*>(QStringLiteral("Label1"))->setText(QStringLiteral("100:00:00"));
  expectWhole(&player);
  frmAbout about(&sys_.launcher);
  expectWhole(&about);
}

// The time box draws its texts itself, at a size whose ink fits between its frame and the
// level bar: the ink of each text stays clear of both, with the bar full at its loudest.
TEST_F(WindowText, TheTimeBoxShowsEachTextWholeAboveTheLevelBar) {
  Form1 form(sys_.seams(), sys_.settings);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  auto* box = form.findChild<TimeBox*>(QStringLiteral("Label1"));
  auto* meter = box ? box->findChild<LevelMeter*>() : nullptr;
  ASSERT_TRUE(box && meter);
  meter->show();
  meter->showPeak(1.0f);
  const QRect frame = box->contentsRect();
  ASSERT_GT(meter->y(), frame.top() + frame.height() / 2) << "the bar runs along the bottom";
  for (const QString& status : {QStringLiteral("Stopping..."), QStringLiteral("00:00:00"), QStringLiteral("23:59:59"),
                                QStringLiteral("入力なし"), QStringLiteral("一時停止中"), QStringLiteral("マーク 2"),
                                QStringLiteral("マーク 100")}) {
    box->setText(status);
    const QImage image = box->grab().toImage();
    const QColor background = box->palette().color(QPalette::Window);
    QRect ink;
    for (int y = frame.top(); y < meter->y(); ++y)
      for (int x = frame.left(); x <= frame.right(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                std::abs(c.blue() - background.blue()) >
            150)
          ink |= QRect(x, y, 1, 1);
      }
    const std::string what = status.toStdString();
    ASSERT_FALSE(ink.isEmpty()) << what;
    EXPECT_GT(ink.top(), frame.top()) << what << ": up to the frame";
    EXPECT_LT(ink.bottom(), meter->y() - 1) << what << ": down to the bar at row " << meter->y();
    EXPECT_GT(ink.left(), frame.left()) << what;
    EXPECT_LT(ink.right(), frame.right()) << what;
    EXPECT_GE(ink.height(), 6) << what << ": still a size to read";
  }
}

}  // namespace

// A window that would stand out of the screen, or is larger than it, comes inside.
TEST(WindowPlace, AWindowStandingOutOfTheScreenComesInside) {
  const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
  QWidget tall;
  tall.resize(300, room.height() + 200);
  tall.move(room.right() - 100, room.top() + 50);
  FitOnScreen(&tall);
  tall.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tall));
  EXPECT_TRUE(room.contains(tall.frameGeometry())) << "shrunk and moved in";
  EXPECT_EQ(tall.width(), 300);

  QWidget small;
  small.resize(200, 100);
  small.move(room.left() + 40, room.top() + 60);
  FitOnScreen(&small);
  EXPECT_EQ(small.pos(), QPoint(room.left() + 40, room.top() + 60)) << "a window that fits stays where it was put";
}
