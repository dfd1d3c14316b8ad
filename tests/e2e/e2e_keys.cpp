// The keys of the real program, under a window manager as on a desktop: Enter on the
// focused button, the 録音 menu, the context menu from the keyboard, and where the focus
// goes when a dialog or a message closes.
#include <sys/prctl.h>

#include <csignal>

#include "e2e/EndToEnd.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// The names of the root window's properties: what a window manager announces there.
QStringList rootProperties() {
  QStringList names;
  for (const QString& line : run(QStringLiteral("xprop"), {QStringLiteral("-root")}).split(QLatin1Char('\n')))
    if (const qsizetype type = line.indexOf(QLatin1Char('(')); type > 0 && !line.startsWith(QLatin1Char(' ')))
      names << line.left(type);
  names.sort();
  return names;
}

QString activeWindow() { return xdotool({QStringLiteral("getactivewindow")}); }

bool becomesActive(const QString& window, int timeoutMs = 5000) {
  return !window.isEmpty() && waitUntil([&] { return activeWindow() == window; }, timeoutMs);
}

QString nameOf(const QString& window) { return xdotool({QStringLiteral("getwindowname"), window}); }

// Keys to whatever has the focus: unlike keys(), the window manager's choice is kept.
void press(const QStringList& keyNames) {
  xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40")} + keyNames);
  runFor(250);
}

// Openbox on the test screen for these tests only, so that the focus goes where a desktop
// sends it: to a window of the program's own choosing, or to the one Openbox prefers. The
// tests that follow get the screen back as it was, without a window manager.
class KeysUnderAWindowManagerLive : public EndToEndLive {
 protected:
  void SetUp() override {
    EndToEndLive::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    rootBefore_ = rootProperties();
    openbox_.setStandardOutputFile(QProcess::nullDevice());
    openbox_.setStandardErrorFile(QProcess::nullDevice());  // it misses Debian's menu file
    // A test killed on its deadline leaves no window manager behind for the tests after it.
    openbox_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    openbox_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    ASSERT_TRUE(openbox_.waitForStarted()) << "needs openbox (scripts/deps.sh test)";
    ASSERT_TRUE(waitUntil([] { return rootProperties().contains(QStringLiteral("_NET_SUPPORTED")); }, 10000))
        << "openbox did not take the screen";
  }
  void TearDown() override {
    EndToEndLive::TearDown();  // the program first, while its windows are managed
    if (openbox_.state() == QProcess::NotRunning) return;
    openbox_.terminate();
    if (!openbox_.waitForFinished(5000)) {
      openbox_.kill();
      openbox_.waitForFinished();
    }
    // Its desktops, work area and check window stay on the root window after it: a program
    // started later would take them for a window manager's.
    for (const QString& name : rootProperties())
      if (!rootBefore_.contains(name)) run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("-remove"), name});
    EXPECT_EQ(rootProperties(), rootBefore_) << "the screen is not as it was";
  }

  QProcess openbox_;
  QStringList rootBefore_;
};

TEST_F(KeysUnderAWindowManagerLive, EveryKeyDoesWhatItShowsAndTheFocusComesBackWhereItWas) {
  const QString main = startWithChoicesMade();
  ASSERT_FALSE(main.isEmpty()) << "the main window did not come up";
  ASSERT_TRUE(becomesActive(main)) << "after the first-start offer the focus is on " << nameOf(activeWindow()).toStdString();

  // Enter on the focused button: record, and then stop, which the focus went to.
  press({QStringLiteral("Return")});
  const qint64 first = trace_.waitFor("first-sample");
  ASSERT_GT(first, 0) << "Enter on the record button did not record";
  press({QStringLiteral("Return")});
  const qint64 closed = trace_.waitFor("file-closed", first);
  ASSERT_GT(closed, 0) << "Enter on the stop button did not stop";

  // The 録音 menu opens on what acts now: record when stopped, pause while recording.
  press({QStringLiteral("alt+r"), QStringLiteral("Return")});
  const qint64 second = trace_.waitFor("first-sample", closed);
  ASSERT_GT(second, 0) << "録音 → 録音 / 再開 did not record";
  press({QStringLiteral("alt+r"), QStringLiteral("Return")});
  const qint64 paused = trace_.waitFor("paused", second);
  ASSERT_GT(paused, 0) << "録音 → 一時停止 / 再開 did not pause";

  // The context menu from the keyboard, with both of its keys: paused, its third command
  // that acts is 停止; stopped, the first is 録音.
  press({QStringLiteral("shift+F10"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"),
         QStringLiteral("Return")});
  const qint64 stopped = trace_.waitFor("file-closed", paused);
  ASSERT_GT(stopped, 0) << "Shift+F10 → 停止 did not stop";
  press({QStringLiteral("Menu"), QStringLiteral("Down"), QStringLiteral("Return")});
  const qint64 third = trace_.waitFor("first-sample", stopped);
  ASSERT_GT(third, 0) << "the Menu key → 録音 / 再開 did not record";
  press({QStringLiteral("s")});
  const qint64 done = trace_.waitFor("file-closed", third);
  ASSERT_GT(done, 0);

  // The settings by Tab and Enter (record, play, settings), and in them 参照 (folder,
  // quality, OK, 参照): the folder dialog. When it closes, the focus comes back to the
  // settings, which Openbox passes over as a utility window, and a key typed then is not
  // the main window's behind them.
  press({QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Return")});
  const QString settings = findWindow(QStringLiteral("Tallowen - 設定変更"));
  ASSERT_TRUE(becomesActive(settings)) << "the settings did not open with the focus";
  press({QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Return")});
  const QString folders = findWindow(QStringLiteral("フォルダを指定"));
  ASSERT_TRUE(becomesActive(folders)) << "Enter on 参照 did not open the folder dialog";
  press({QStringLiteral("Escape")});
  EXPECT_TRUE(becomesActive(settings)) << "after the folder dialog the focus is on "
                                       << nameOf(activeWindow()).toStdString();
  EXPECT_TRUE(staysTrue([&] { return activeWindow() == settings; }, 300));
  press({QStringLiteral("r")});
  EXPECT_LT(trace_.waitFor("record-click", done, 500), 0) << "R in the settings started a recording";

  // A message of the settings gives the focus back to them as well: a folder too long to
  // be kept (over 1023 bytes, pasted together from a short one), and OK.
  press({QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"), QStringLiteral("ctrl+a")});
  xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("4"), QLatin1Char('/') + QString(44, QLatin1Char('a'))});
  QStringList paste{QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c"), QStringLiteral("End")};
  for (int i = 0; i < 24; ++i) paste << QStringLiteral("ctrl+v");
  press(paste + QStringList{QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Return")});
  const QString refused = findWindow(QStringLiteral("Tallowen"));
  ASSERT_TRUE(becomesActive(refused)) << "the folder was not refused";
  press({QStringLiteral("Return")});
  EXPECT_TRUE(becomesActive(settings)) << "after the message the focus is on " << nameOf(activeWindow()).toStdString();
  EXPECT_FALSE(findWindow(QStringLiteral("Tallowen - 設定変更"), 0, 500).isEmpty()) << "the settings stay open";

  // キャンセル, four Tabs from the folder box, closes them: the main window has the focus.
  press({QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"),
         QStringLiteral("Return")});
  EXPECT_TRUE(becomesActive(main)) << "the focus is on " << nameOf(activeWindow()).toStdString();
  EXPECT_TRUE(findWindow(QStringLiteral("Tallowen - 設定変更"), 0, 300).isEmpty());
}

}  // namespace
