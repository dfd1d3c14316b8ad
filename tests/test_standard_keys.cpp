#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "platform/StandardKeys.h"

using namespace tallowen;

namespace {

// A window as the program's are: buttons that are nobody's default, beside a text box.
class StandardKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qApp->installEventFilter(&keys_);
    window_.resize(300, 100);
    push_ = new QPushButton(QStringLiteral("押す"), &window_);
    push_->setAutoDefault(false);
    toggle_ = new QToolButton(&window_);
    toggle_->setCheckable(true);
    toggle_->setFocusPolicy(Qt::TabFocus);
    edit_ = new QLineEdit(&window_);
    toggle_->move(100, 0);
    edit_->move(150, 0);
    window_.show();
    QApplication::setActiveWindow(&window_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  }

  StandardKeys keys_;
  QWidget window_;
  QPushButton* push_;
  QToolButton* toggle_;
  QLineEdit* edit_;
};

TEST_F(StandardKeysTest, EnterPressesTheFocusedButtonOfAnyKindOnce) {
  QSignalSpy pushed(push_, &QPushButton::clicked);
  push_->setFocus();
  QTest::keyClick(push_, Qt::Key_Return);
  QTest::keyClick(push_, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(pushed.count(), 2);

  // Held down, it presses once; with Ctrl or Alt it is another key.
  QTest::sendKeyEvent(QTest::KeyAction::Press, push_, Qt::Key_Return, QString(), Qt::NoModifier);
  QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
  QApplication::sendEvent(push_, &repeat);
  QTest::keyClick(push_, Qt::Key_Return, Qt::ControlModifier);
  QTest::keyClick(push_, Qt::Key_Return, Qt::AltModifier);
  EXPECT_EQ(pushed.count(), 3);

  toggle_->setFocus();
  QTest::keyClick(toggle_, Qt::Key_Return);
  EXPECT_TRUE(toggle_->isChecked());
  QTest::keyClick(toggle_, Qt::Key_Return);
  EXPECT_FALSE(toggle_->isChecked());
  EXPECT_EQ(pushed.count(), 3) << "only the focused button";
}

TEST_F(StandardKeysTest, EnterElsewhereIsLeftToTheControlAndTheDialog) {
  // In a dialog, Enter in a text box still presses the default button; on another button,
  // that button and not the default.
  QDialog dialog;
  auto* fallback = new QPushButton(QStringLiteral("OK"), &dialog);
  fallback->setDefault(true);
  auto* other = new QPushButton(QStringLiteral("参照"), &dialog);
  other->setAutoDefault(false);
  auto* text = new QLineEdit(&dialog);
  other->move(0, 40);
  text->move(0, 80);
  QSignalSpy byDefault(fallback, &QPushButton::clicked), byOther(other, &QPushButton::clicked);
  QSignalSpy returned(text, &QLineEdit::returnPressed);
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  text->setFocus();
  QTest::keyClick(text, Qt::Key_Return);
  EXPECT_EQ(returned.count(), 1);
  EXPECT_EQ(byDefault.count(), 1);
  other->setFocus();
  QTest::keyClick(other, Qt::Key_Return);
  EXPECT_EQ(byOther.count(), 1);
  EXPECT_EQ(byDefault.count(), 1);
}

TEST_F(StandardKeysTest, ShiftF10OpensTheMenuOfTheControlOrOfWhatHoldsIt) {
  // The buttons have no menu of their own: the window's opens, near the focused button.
  window_.setContextMenuPolicy(Qt::CustomContextMenu);
  QSignalSpy asked(&window_, &QWidget::customContextMenuRequested);
  push_->setFocus();
  QTest::keyClick(push_, Qt::Key_F10, Qt::ShiftModifier);
  ASSERT_EQ(asked.count(), 1);
  EXPECT_TRUE(push_->geometry().contains(asked.at(0).at(0).toPoint()));
  QTest::keyClick(push_, Qt::Key_F10);
  EXPECT_EQ(asked.count(), 1) << "F10 alone is not the menu's key";

  // A control with a menu of its own opens that one; and with nothing focused, the window's.
  toggle_->setContextMenuPolicy(Qt::CustomContextMenu);
  QSignalSpy ownMenu(toggle_, &QWidget::customContextMenuRequested);
  toggle_->setFocus();
  QTest::keyClick(toggle_, Qt::Key_F10, Qt::ShiftModifier);
  EXPECT_EQ(ownMenu.count(), 1);
  EXPECT_EQ(asked.count(), 1);
  toggle_->clearFocus();
  ASSERT_EQ(QApplication::focusWidget(), nullptr);
  QTest::keyClick(&window_, Qt::Key_F10, Qt::ShiftModifier);
  EXPECT_EQ(asked.count(), 2);
}

}  // namespace
