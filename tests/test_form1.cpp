#include <gtest/gtest.h>

#include <optional>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <functional>

#include "app/FailureText.h"
#include "app/FirstStart.h"
#include "app/Form1.h"
#include "app/LevelMeter.h"
#include "config/frmConfig.h"
#include "help/HTMLHelp.h"
#include "help/frmAbout.h"
#include "platform/ApplicationFolder.h"
#include "platform/ToolWindow.h"
#include "player/RecordingList.h"
#include "player/frmPlayer.h"
#include "player/frmRecordings.h"
#include "recording/AsfReader.h"
#include "recording/AsfRepair.h"
#include "recording/PulseSource.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingName.h"
#include "settings/modINI.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"
#include "support/MicFeeder.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"
#include "support/Widgets.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

const QString kUnavailable = QStringLiteral(
    "Windows Media Encoderのインストールがまだ終了していません。しばらくおまちください。\r\n"
    "この現象に関する情報がヘルプにありますのでご覧ください。");
const QString kFirstUse =
    QStringLiteral("録音を始める前に、音質の設定を行います。OKを押したあと録音品質を選択してください。");

using Phase = RecordingSession::Phase;

QPushButton* button(const Form1& form, const char* name) { return find<QPushButton>(&form, name); }
QLabel* timeBox(const Form1& form) { return find<QLabel>(&form, "Label1"); }
QAction* action(const Form1& form, const char* name) { return find<QAction>(&form, name); }
Phase phaseOf(Form1& form) { return form.session().phase(); }
// The recording commands that act now; the menus show the others grey.
QStringList enabledCommands(const Form1& form) {
  QStringList names;
  for (const QAction* a : form.centralWidget()->actions())
    if (a->isEnabled()) names << a->objectName();
  return names;
}

// Which of the paired buttons show, what the time box says and which timers run: one row
// of the window's table of looks.
struct Look {
  bool c2, c8, c3, c9, c4, c10, c11, c12;
  QString label;
  bool timer1, timer2;
  bool operator==(const Look&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Look& l) {
  return os << "2:" << l.c2 << " 8:" << l.c8 << " 3:" << l.c3 << " 9:" << l.c9 << " 4:" << l.c4 << " 10:" << l.c10
            << " 11:" << l.c11 << " 12:" << l.c12 << " label:'" << l.label.toStdString() << "' timer1:" << l.timer1
            << " timer2:" << l.timer2;
}

Look lookOf(const Form1& f) {
  auto shown = [&](const char* name) { return button(f, name)->isVisible(); };
  return {shown("Command2"),  shown("Command8"),  shown("Command3"),
          shown("Command9"),  shown("Command4"),  shown("Command10"),
          shown("Command11"), shown("Command12"), timeBox(f)->text(),
          find<QTimer>(&f, "Timer1")->isActive(), find<QTimer>(&f, "Timer2")->isActive()};
}

const Look kIdle{true, false, false, true, true, false, false, false, QString(), false, false};
// Idle after a recording: the time box names it for a few seconds.
Look idleAfter(const QString& name) {
  Look look = kIdle;
  look.label = name;
  return look;
}
const Look kIdleAfterTheFirst = idleAfter(QStringLiteral("2002-04-03_09-05"));
const Look kStarting{false, true, false, true, false, true, false, false, QStringLiteral("Starting..."), false, false};
const Look kStopping{false, true, false, true, false, true, false, false, QStringLiteral("Stopping..."), false, false};

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    QStandardPaths::setTestModeEnabled(true);
    state_.emplace("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
    QFile::remove(FirstStartMarkerPath());
    QFile::remove(SettingsFilePath());
    ASSERT_TRUE(dir_.isValid());
    sys_.sound.file = dir_.filePath(QStringLiteral("tone.wav"));
    writeToneWav(sys_.sound.file, 1000, 2, 44100, 2);
    saveFolder_ = dir_.filePath(QStringLiteral("rec"));
    QDir().mkpath(saveFolder_);
  }
  void TearDown() override {
    QFile::remove(SettingsFilePath());
    DeleteWindowsLeftOpen();
    // A window closed without an event loop after it waits for its deletion, and would be
    // found by the next test among the top-level windows, in no set order.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  std::unique_ptr<Form1> shownForm(Seams seams) {
    auto form = std::make_unique<Form1>(seams, sys_.settings);
    form->load();
    form->show();
    return form;
  }
  std::unique_ptr<Form1> shownForm() { return shownForm(sys_.seams()); }
  // Recording the default input, which the test sound server feeds from a pipe.
  std::unique_ptr<Form1> shownFormOnTheDefaultInput() {
    Seams seams = sys_.seams();
    seams.sound = &server_;
    return shownForm(seams);
  }
  void storeSettings() {
    WriteSetting(kQualitySetting, QStringLiteral("FM ラジオ"));
    WriteSetting(kSaveFolderSetting, saveFolder_);
  }
  static bool reaches(Form1& form, Phase phase, int timeoutMs = 10000) {
    return waitUntil([&] { return phaseOf(form) == phase; }, timeoutMs);
  }
  QString expectedPath(const QString& name = QStringLiteral("2002-04-03_09-05.wma")) const {
    return saveFolder_ + QLatin1Char('/') + name;
  }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> state_;
  QString saveFolder_;
  FakeSystem sys_;
  PulseSources server_;
};

// Recordings at the pace of a real input, against the clock.
class Form1Live : public Form1Test {};

struct ProgramRun {
  size_t stepsRun = 0;
  bool endedByItself = false;  // rather than by the test, when the steps were long done
};

// The program's own event loop, as main() runs it: Qt decides whether the program ends
// only inside exec(). Each step runs in a turn of the loop of its own.
ProgramRun runProgram(const std::vector<std::function<void()>>& steps) {
  ProgramRun run;
  QTimer next;
  next.setInterval(20);
  QObject::connect(&next, &QTimer::timeout, [&] {
    if (run.stepsRun == steps.size()) return next.stop();
    steps[run.stepsRun++]();
  });
  bool ended = false;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [&] {
    ended = true;
    QCoreApplication::exit(1);
  });
  next.start();
  deadline.start(10000);
  QApplication::exec();
  run.endedByItself = !ended;
  return run;
}

TEST(RecordingName, NamesFollowTheLocalMinuteAndNeverRepeat) {
  EXPECT_EQ(RecordingFileName(QDateTime(QDate(2002, 4, 3), QTime(9, 5, 59))), QStringLiteral("2002-04-03_09-05.wma"));
  EXPECT_EQ(RecordingFileName(QDateTime(QDate(2002, 12, 31), QTime(23, 59, 0))),
            QStringLiteral("2002-12-31_23-59.wma"));
  EXPECT_EQ(RecordingFileName(QDateTime(QDate(2003, 1, 1), QTime(0, 0, 1))), QStringLiteral("2003-01-01_00-00.wma"));
  EXPECT_EQ(RecordingFileName(QDateTime(QDate(2002, 4, 3), QTime(13, 0))), QStringLiteral("2002-04-03_13-00.wma"));

  QTemporaryDir dir;
  const QString name = QStringLiteral("2002-04-03_09-05.wma");
  EXPECT_EQ(RecordingPath(dir.path(), name), dir.path() + QStringLiteral("/") + name);
  QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
  EXPECT_EQ(RecordingPath(dir.path(), name), dir.filePath(QStringLiteral("2002-04-03_09-05(2).wma")));
  QFile(dir.filePath(QStringLiteral("2002-04-03_09-05(2).wma"))).open(QIODevice::WriteOnly);
  EXPECT_EQ(RecordingPath(dir.path(), name), dir.filePath(QStringLiteral("2002-04-03_09-05(3).wma")));
  EXPECT_EQ(RecordingPath(QStringLiteral("/"), name), QStringLiteral("/") + name) << "the root takes no second separator";
}

// Whatever stands at a name takes it: a link that leads nowhere would have the recording
// made wherever it points (or not at all), and a folder cannot be written over.
TEST(RecordingName, ALinkOrAFolderAtANameTakesIt) {
  QTemporaryDir dir, elsewhere;
  const QString name = QStringLiteral("2002-04-03_09-05.wma");
  ASSERT_TRUE(QFile::link(elsewhere.filePath(QStringLiteral("gone.wma")), dir.filePath(name)));
  ASSERT_FALSE(QFileInfo::exists(dir.filePath(name))) << "a link that leads nowhere";
  EXPECT_EQ(RecordingPath(dir.path(), name), dir.filePath(QStringLiteral("2002-04-03_09-05(2).wma")));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("2002-04-03_09-05(2).wma")));
  ASSERT_TRUE(QFile::link(QStringLiteral("2002-04-03_09-05(3).wma"), dir.filePath(QStringLiteral("2002-04-03_09-05(3).wma"))));
  EXPECT_EQ(RecordingPath(dir.path(), name), dir.filePath(QStringLiteral("2002-04-03_09-05(4).wma")))
      << "a folder, and a link to itself";
  EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

TEST(RecordingName, ElapsedTimeDropsWholeDays) {
  EXPECT_EQ(ElapsedText(0), QStringLiteral("00:00:00"));
  EXPECT_EQ(ElapsedText(999), QStringLiteral("00:00:00"));
  EXPECT_EQ(ElapsedText(3661'000), QStringLiteral("01:01:01"));
  EXPECT_EQ(ElapsedText(86399'000), QStringLiteral("23:59:59"));
  EXPECT_EQ(ElapsedText(86400'000 + 5'000), QStringLiteral("00:00:05"));
  EXPECT_EQ(ElapsedText(-2000), QStringLiteral("00:00:00")) << "a clock set back shows no negative time";
}

TEST_F(Form1Test, WindowHasItsControlsMenuAndLook) {
  auto form = shownForm();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Tallowen"));
  EXPECT_EQ(form->centralWidget()->size(), QSize(175, 47));
  EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "fixed size";
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form->windowIcon().isNull());

  const struct {
    const char* name;
    QRect place;
    bool visible;
  } buttons[] = {{"Command12", {104, 16, 9, 25}, false}, {"Command11", {104, 16, 9, 25}, false},
                 {"Command10", {72, 16, 33, 25}, false}, {"Command9", {40, 16, 33, 25}, true},
                 {"Command8", {8, 16, 33, 25}, false},   {"Command5", {144, 16, 25, 25}, true},
                 {"Command4", {72, 16, 33, 25}, true},   {"Command3", {40, 16, 33, 25}, false},
                 {"Command2", {8, 16, 33, 25}, true},    {"Command1", {120, 16, 25, 25}, true}};
  for (const auto& b : buttons) {
    SCOPED_TRACE(b.name);
    QPushButton* w = button(*form, b.name);
    EXPECT_EQ(w->geometry(), b.place);
    EXPECT_EQ(w->isVisible(), b.visible);
    EXPECT_FALSE(w->icon().isNull());
    EXPECT_TRUE(w->text().isEmpty());
    EXPECT_FALSE(w->accessibleName().isEmpty()) << "a screen reader names it";
  }
  EXPECT_EQ(button(*form, "Command1")->toolTip(), QStringLiteral("ファイルの保存場所と音質を変更する"));
  EXPECT_EQ(button(*form, "Command5")->toolTip(), QStringLiteral("録音時の音量を調整"));
  EXPECT_EQ(timeBox(*form)->geometry(), QRect(8, 0, 97, 17));
  EXPECT_EQ(timeBox(*form)->alignment(), Qt::AlignCenter);
  auto* stateBox = find<QLineEdit>(form.get(), "Text1");
  EXPECT_FALSE(stateBox->isVisible());
  EXPECT_EQ(stateBox->text(), QStringLiteral("Text1"));
  EXPECT_EQ(find<QTimer>(form.get(), "Timer2")->interval(), 500);
  EXPECT_EQ(lookOf(*form), kIdle);

  // The recording commands are in a menu of their own, with their keys; the other menus
  // stay as they were, without keys.
  QStringList menu;
  for (QAction* top : form->menuBar()->actions()) {
    menu << top->text();
    const bool commands = top->menu()->objectName() == QLatin1String("MRecord");
    for (QAction* item : top->menu()->actions()) {
      menu << (item->isSeparator() ? QStringLiteral("-") : item->text());
      EXPECT_EQ(item->shortcut().isEmpty(), !commands) << item->text().toStdString();
    }
  }
  EXPECT_EQ(menu, (QStringList{"ファイル(&F)", "ファイルを指定して再生(&P)", "録音一覧(&R)", "-", "終了(&E)", "録音(&R)",
                               "録音 / 再開", "一時停止 / 再開", "停止", "最新の録音を再生", "マークを付ける",
                               "ヘルプ(&H)", "目次とキーワード(&C)", "-", "バージョン情報(&A)"}));
  EXPECT_EQ(find<QMenu>(form.get(), "MRecord")->actions(), form->centralWidget()->actions())
      << "the same commands as the context menu";
  EXPECT_EQ(enabledCommands(*form), (QStringList{"recordCommand", "playCommand"})) << "the rest is grey";
  EXPECT_EQ(action(*form, "MBar2")->isSeparator(), true);
}

TEST(LevelMeter, ShowsDecibelsHoldsThePeakAndLightsUpWhenTheSoundClips) {
  LevelMeter meter;
  meter.resize(95, 3);
  EXPECT_DOUBLE_EQ(LevelMeter::fraction(-60), 0.0);
  EXPECT_DOUBLE_EQ(LevelMeter::fraction(-30), 0.5);
  EXPECT_DOUBLE_EQ(LevelMeter::fraction(0), 1.0);
  EXPECT_DOUBLE_EQ(LevelMeter::fraction(-90), 0.0);
  meter.showPeak(0.0f);
  EXPECT_DOUBLE_EQ(meter.levelDb(), -60) << "digital silence at the floor";
  meter.showPeak(0.5f);
  EXPECT_NEAR(meter.levelDb(), -6.02, 0.01);
  EXPECT_FALSE(meter.clipping());
  meter.showPeak(0.01f);  // -40 dB: the mark stays at the loudest for a while
  EXPECT_NEAR(meter.levelDb(), -40, 0.01);
  EXPECT_NEAR(meter.peakHoldDb(), -6.02, 0.01);
  for (int i = 0; i < LevelMeter::kHoldUpdates; ++i) meter.showPeak(0.01f);
  EXPECT_NEAR(meter.peakHoldDb(), -40, 0.01) << "and then follows the level again";
  meter.showPeak(0.95f);  // -0.45 dB
  EXPECT_TRUE(meter.clipping());
  for (int i = 0; i < LevelMeter::kHoldUpdates - 1; ++i) meter.showPeak(0.1f);
  EXPECT_TRUE(meter.clipping()) << "the light stays a second";
  meter.showPeak(0.1f);
  EXPECT_FALSE(meter.clipping());
  meter.showPeak(1.2f);
  meter.clear();
  EXPECT_DOUBLE_EQ(meter.levelDb(), -60);
  EXPECT_FALSE(meter.clipping());
}

TEST(QtTranslation, StandardButtonsReadInJapanese) {
  ASSERT_TRUE(LoadQtTranslation());
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("はい(&Y)"));
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("いいえ(&N)"));
}

TEST(StartUpRepairReport, ManyEntriesAreCountedNotAllListed) {
  using State = InterruptedRecording::State;
  // Twenty recordings on a disk that stays unplugged, and one mended: the notice stays short.
  QList<InterruptedRecording> found;
  for (int i = 0; i < 20; ++i) found.append({QStringLiteral("/media/usb/%1.wma").arg(i), State::Missing, {}, 0, true, 0});
  found.append({QStringLiteral("/home/u/mended.wma"), State::Mended, {}, 1, false, 5000});
  const QString text = InterruptedRecordingsReport(found);
  const QStringList lines = text.split(QStringLiteral("\r\n"));
  EXPECT_LE(lines.size(), 15) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("/home/u/mended.wma"))) << "what was mended is always named";
  EXPECT_TRUE(text.contains(QStringLiteral("/media/usb/0.wma: 見つかりません。")));
  EXPECT_FALSE(text.contains(QStringLiteral("/media/usb/19.wma")));
  EXPECT_TRUE(lines.contains(QStringLiteral("ほか 12 件"))) << text.toStdString();
}

TEST_F(Form1Test, InstallOfferComesOnTheFirstStartOnly) {
  sys_.prompter.answers = {Prompter::Answer::Yes};
  auto form = shownForm();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  const Message& offer = sys_.prompter.messages[0];
  EXPECT_EQ(offer.text.split(QStringLiteral("\r\n")).size(), 4);
  EXPECT_TRUE(offer.text.startsWith(
      QStringLiteral("Tallowenの動作に必要な'Windows Media Encoder'をインストールします。\r\n")));
  EXPECT_TRUE(offer.text.endsWith(QStringLiteral("'WMEDist.exe'を実行してインストールしてください。")));
  EXPECT_EQ(offer.icon, Prompter::Icon::Question);
  EXPECT_EQ(offer.buttons, Prompter::Buttons::YesNo);
  ASSERT_EQ(sys_.launcher.started.size(), 1u);
  EXPECT_EQ(sys_.launcher.started[0], (QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/WMEDist"),
                                                   QStringLiteral("/Q:A"), QStringLiteral("/R:N")}));

  Form1 again(sys_.seams(), sys_.settings);
  again.load();
  EXPECT_EQ(sys_.prompter.messages.size(), 1u) << "asked once";
}

TEST_F(Form1Test, OutsideProgramsThatCannotStartAreNamed) {
  sys_.prompter.answers = {Prompter::Answer::No};
  auto form = shownForm();
  EXPECT_TRUE(sys_.launcher.started.empty()) << "No starts nothing";
  sys_.launcher.succeeds = false;
  button(*form, "Command5")->click();
  ASSERT_EQ(sys_.launcher.started.size(), 1u);
  EXPECT_EQ(sys_.launcher.started[0], (QStringList{"pavucontrol", "-t", "4"}));
  ASSERT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_TRUE(sys_.prompter.messages[1].text.contains(QStringLiteral("pavucontrol -t 4")));
  EXPECT_EQ(sys_.prompter.messages[1].icon, Prompter::Icon::Exclamation);
}

TEST_F(Form1Live, EachPhaseOfTheRecordingHasItsLook) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  auto* stateBox = find<QLineEdit>(form.get(), "Text1");
  EXPECT_EQ(lookOf(*form), kIdle);
  button(*form, "Command2")->click();
  EXPECT_EQ(lookOf(*form), kStarting) << "at once, before the capture has started";
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  EXPECT_EQ(lookOf(*form), (Look{false, true, true, false, false, true, true, false, QStringLiteral("00:00:00"),
                                 true, false}));
  EXPECT_EQ(stateBox->text(), QStringLiteral("2")) << "the state numbers of the Windows encoder";

  sys_.clock.steady += 2000;
  QTest::keyClick(form.get(), Qt::Key_Escape);  // the pause button is the cancel button
  EXPECT_EQ(phaseOf(*form), Phase::Paused);
  EXPECT_EQ(stateBox->text(), QStringLiteral("3"));
  // Paused: the record button stays in its place and blinks its picture; the time box
  // shows that the recording is paused.
  EXPECT_EQ(lookOf(*form).c2, true);
  EXPECT_EQ(lookOf(*form).c8, false);
  const Look paused = lookOf(*form);
  EXPECT_EQ((std::tuple{paused.c3, paused.c9, paused.c4, paused.c10, paused.c11, paused.c12, paused.timer2}),
            (std::tuple{true, false, false, true, false, true, true}));
  const qint64 icon = button(*form, "Command2")->icon().cacheKey();
  ASSERT_TRUE(waitUntil([&] { return button(*form, "Command2")->icon().cacheKey() != icon; }, 2000)) << "it blinks";
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->text() == QStringLiteral("一時停止中"); }, 2000));
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->text() == QStringLiteral("00:00:02"); }, 2000));
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_EQ(phaseOf(*form), Phase::Paused) << "Esc does nothing while the pause button is hidden";

  button(*form, "Command2")->click();
  EXPECT_EQ(phaseOf(*form), Phase::Recording);
  button(*form, "Command3")->click();
  EXPECT_EQ(lookOf(*form), kStopping) << "at once, before the file is complete";
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_EQ(lookOf(*form), kIdleAfterTheFirst);
  EXPECT_EQ(stateBox->text(), QStringLiteral("5"));
  EXPECT_TRUE(sys_.prompter.messages.empty());
  EXPECT_TRUE(probe(expectedPath()).ok);
}

// Where a recording went: its name in the time box for a moment, the whole path in the
// box's tooltip and for a screen reader, and the recordings window, if open, chooses it.
TEST_F(Form1Live, AStoppedRecordingIsNamedInTheTimeBoxAndChosenInTheList) {
  MarkStarted();
  storeSettings();
  {
    QFile older(saveFolder_ + QStringLiteral("/older.wma"));
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.write("an older recording");
    ASSERT_TRUE(older.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
  }
  auto form = shownForm();
  action(*form, "MFRecordings")->trigger();
  auto* list = openWindow<frmRecordings>("frmRecordings");
  ASSERT_TRUE(list);
  auto* view = find<QTreeView>(list, "recordingList");
  ASSERT_EQ(list->list().rowCount(), 1);
  view->setCurrentIndex(list->list().index(0, 0));  // the older one is chosen

  const QFont own = timeBox(*form)->font();
  for (const QString& name : {QStringLiteral("2002-04-03_09-05"), QStringLiteral("2002-04-03_09-05(2)")}) {
    SCOPED_TRACE(name.toStdString());
    button(*form, "Command2")->click();
    ASSERT_TRUE(reaches(*form, Phase::Recording));
    EXPECT_EQ(timeBox(*form)->font(), own) << "the box's own font while it records";
    button(*form, "Command3")->click();
    ASSERT_TRUE(reaches(*form, Phase::Idle));
    QLabel* box = timeBox(*form);
    const QString path = QDir::toNativeSeparators(expectedPath(name + QStringLiteral(".wma")));
    EXPECT_EQ(box->text(), name);
    EXPECT_LE(box->fontMetrics().horizontalAdvance(box->text()), box->contentsRect().width()) << "whole in the box";
    EXPECT_GE(box->font().pointSizeF(), 7);
    EXPECT_TRUE(box->toolTip().contains(path)) << box->toolTip().toStdString();
    EXPECT_TRUE(box->accessibleDescription().contains(path)) << box->accessibleDescription().toStdString();
    const int row = view->currentIndex().row();
    ASSERT_GE(row, 0);
    EXPECT_EQ(list->list().entry(row).path, expectedPath(name + QStringLiteral(".wma"))) << "the list chose it";
  }
  list->close();
}

// One click on the record button resumes, whatever moment of its blink it comes at; its
// place keeps the keyboard focus while it blinks.
TEST_F(Form1Live, APausedRecordingResumesWithOneClickAtAnyMomentOfTheBlink) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  QApplication::setActiveWindow(form.get());
  QPushButton* record = button(*form, "Command2");
  record->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  for (const int wait : {0, 250, 600, 900, 3500}) {
    SCOPED_TRACE(wait);
    // Paused by keyboard: the focus goes from the pause button, now hidden, to what resumes.
    button(*form, "Command11")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_EQ(phaseOf(*form), Phase::Paused);
    EXPECT_EQ(QApplication::focusWidget(), record) << "the focus goes to what resumes";
    runFor(wait);
    EXPECT_EQ(QApplication::focusWidget(), record) << "and stays there while it blinks";
    EXPECT_TRUE(record->isVisible() && record->isEnabled());
    QTest::mouseClick(record, Qt::LeftButton);
    EXPECT_EQ(phaseOf(*form), Phase::Recording) << "one click resumes";
  }
  // The same by keyboard, on the focused place: Space.
  button(*form, "Command11")->click();
  record->setFocus();
  runFor(700);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(phaseOf(*form), Phase::Recording);
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
}

// Tab runs left to right over what acts; the grey members never take the focus; keys work
// whenever the window is active, and a button that goes hands the focus to what takes its
// role.
TEST_F(Form1Live, TheKeyboardReachesWhatActsAndKeysWorkWhateverHasTheFocus) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  QApplication::setActiveWindow(form.get());
  for (const char* grey : {"Command8", "Command9", "Command10", "Command12"}) {
    EXPECT_FALSE(button(*form, grey)->isEnabled()) << grey;
    EXPECT_FALSE(button(*form, grey)->focusPolicy() & Qt::TabFocus && button(*form, grey)->isEnabled());
  }
  button(*form, "Command2")->setFocus();
  QStringList order{QApplication::focusWidget()->objectName()};
  for (int i = 0; i < 3; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(order, (QStringList{"Command2", "Command4", "Command1", "Command5"}));

  // Space on record: the focus goes to stop, not on to the settings.
  button(*form, "Command2")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  EXPECT_EQ(QApplication::focusWidget(), button(*form, "Command3"));
  EXPECT_EQ(enabledCommands(*form), (QStringList{"pauseCommand", "stopCommand", "markCommand"}));
  EXPECT_TRUE(button(*form, "Command2")->toolTip().contains(QStringLiteral("(R)")));
  EXPECT_TRUE(button(*form, "Command3")->toolTip().contains(QStringLiteral("(S)")));
  EXPECT_TRUE(button(*form, "Command11")->toolTip().contains(QStringLiteral("P")));

  // The keys, with the focus on the settings button.
  button(*form, "Command1")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_P);
  EXPECT_EQ(phaseOf(*form), Phase::Paused);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_P);
  EXPECT_EQ(phaseOf(*form), Phase::Recording);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_M);
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->text() == QStringLiteral("マーク 1"); }, 2000))
      << "the mark's number shows for a moment";
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->text().contains(QLatin1Char(':')); }, 2000));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_S);
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  ASSERT_TRUE(ReadAsfInfo(expectedPath()));
  EXPECT_EQ(ReadAsfInfo(expectedPath())->marks.size(), 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_R);
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_S);
  ASSERT_TRUE(reaches(*form, Phase::Idle));

  // The same commands are in the window's context menu, with their keys.
  QStringList commands;
  for (QAction* a : form->centralWidget()->actions()) commands << a->text() + QLatin1Char(' ') + a->shortcut().toString();
  EXPECT_EQ(commands, (QStringList{"録音 / 再開 R", "一時停止 / 再開 P", "停止 S", "最新の録音を再生 L",
                                   "マークを付ける M"}));
}

// The window's keys act while it has the focus, and not in a tool window it owns, which Qt
// would let them reach: there the user would not see what they start.
TEST_F(Form1Test, TheWindowsKeysActOnlyWhereItHasTheFocus) {
  MarkStarted();
  auto form = shownForm();
  QWidget tool(form.get(), Qt::Tool);
  auto* field = new QLineEdit(&tool);
  field->setReadOnly(true);
  const auto press = [](QWidget& window, Qt::Key key) {
    QApplication::setActiveWindow(&window);
    QTest::keyClick(window.focusWidget() ? window.focusWidget() : &window, key);
  };
  // Nothing chosen nor recorded yet: R asks for the settings, L says there is nothing to
  // play. Either message shows that the key acted.
  tool.show();
  for (const Qt::Key key : {Qt::Key_R, Qt::Key_L}) press(tool, key);
  EXPECT_TRUE(sys_.prompter.messages.empty());
  EXPECT_TRUE(sys_.prompter.modalWindows.empty());
  tool.hide();
  press(*form, Qt::Key_L);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.startsWith(QStringLiteral("再生する録音がまだありません")));
}

// Marks at both ends: one pressed with the record key lands at the first moment; past the
// header's room for them, the time box says so, and no message opens at each press.
TEST_F(Form1Live, AMarkWithTheRecordKeyLandsAtTheStartAndAFullRoomIsSaidInTheTimeBox) {
  MarkStarted();
  storeSettings();
  sys_.sound.startDelayMs = 300;  // an input slow to open
  auto form = shownForm();
  QApplication::setActiveWindow(form.get());
  QTest::keyClick(form.get(), Qt::Key_R);
  QTest::keyClick(form.get(), Qt::Key_M);
  EXPECT_EQ(phaseOf(*form), Phase::Starting);
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  bool full = false;
  for (int press = 0; press < 250 && phaseOf(*form) == Phase::Recording; ++press) {
    QTest::keyClick(form.get(), Qt::Key_M);
    QCoreApplication::processEvents();
    full = full || timeBox(*form)->text() == QStringLiteral("マーク満杯");
  }
  full = full || waitUntil([&] { return timeBox(*form)->text() == QStringLiteral("マーク満杯"); }, 2000);
  EXPECT_TRUE(full) << "the time box did not say the room is full";
  EXPECT_TRUE(sys_.prompter.notices.empty()) << sys_.prompter.notices.front().text.toStdString();
  EXPECT_TRUE(sys_.prompter.messages.empty());
  QTest::keyClick(form.get(), Qt::Key_S);
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  const std::optional<AsfInfo> header = ReadAsfInfo(expectedPath());
  ASSERT_TRUE(header);
  ASSERT_GT(header->marks.size(), 100);
  EXPECT_LT(header->marks.size(), 250);
  EXPECT_EQ(header->marks[0].ms, 0) << "the mark pressed with the record key";
}

TEST_F(Form1Live, TheElapsedTimeStandsStillWhilePausedAndNeverGoesBack) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  std::vector<QString> shown;
  QObject::connect(find<QTimer>(form.get(), "Timer1"), &QTimer::timeout,
                   [&] { shown.push_back(timeBox(*form)->text()); });
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  sys_.clock.steady += 2000;
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->text() == QStringLiteral("00:00:02"); }));
  button(*form, "Command11")->click();
  sys_.clock.steady += 5000;
  sys_.clock.current = sys_.clock.current.addSecs(-3600);  // the date and time set back meanwhile
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->text().contains(QLatin1Char(':')); }, 2000));
  EXPECT_EQ(timeBox(*form)->text(), QStringLiteral("00:00:02")) << "paused: the time stands";
  // The stored quality is gone meanwhile: resuming does not ask for it.
  WriteSetting(kQualitySetting, QString());
  button(*form, "Command2")->click();
  EXPECT_EQ(phaseOf(*form), Phase::Recording);
  EXPECT_TRUE(sys_.prompter.messages.empty());
  EXPECT_TRUE(sys_.prompter.modalWindows.empty());
  sys_.clock.steady += 1000;
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->text() == QStringLiteral("00:00:03"); }));
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  for (size_t i = 1; i < shown.size(); ++i) {
    if (shown[i - 1].contains(QLatin1Char(':')) && shown[i].contains(QLatin1Char(':'))) {
      EXPECT_GE(shown[i], shown[i - 1]) << "the time went back";
    }
  }
}

TEST_F(Form1Live, FirstUseAsksForTheQualityOnEveryStartUntilOneIsStored) {
  MarkStarted();
  WriteSetting(kSaveFolderSetting, saveFolder_);
  auto form = shownForm();
  // The dialog closed without a choice: the quality for speech is offered, and recorded on Yes.
  sys_.prompter.answers = {Prompter::Answer::Ok, Prompter::Answer::Yes};
  button(*form, "Command2")->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_EQ(sys_.prompter.messages[0].text, kFirstUse);
  EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Information);
  ASSERT_EQ(sys_.prompter.modalWindows.size(), 1u);
  EXPECT_TRUE(qobject_cast<frmConfig*>(sys_.prompter.modalWindows[0]));
  EXPECT_TRUE(sys_.prompter.messages[1].text.contains(ProfileCollection().forSpeech().name))
      << "a quality nobody chose is named before it is used";
  EXPECT_EQ(sys_.prompter.messages[1].buttons, Prompter::Buttons::YesNo);
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_NEAR(probe(ReadSetting(kLastRecordingSetting)).bitRate, 32000, 3200);

  // No: nothing starts.
  sys_.prompter.answers = {Prompter::Answer::Ok, Prompter::Answer::No};
  button(*form, "Command2")->click();
  EXPECT_TRUE(staysTrue([&] { return phaseOf(*form) == Phase::Idle; }, 300));

  // The dialog open modeless: the start waits on that same dialog.
  button(*form, "Command1")->click();
  frmConfig* open = openWindow<frmConfig>("frmConfig");
  ASSERT_TRUE(open);
  sys_.prompter.whileModal = [](QWidget*) { WriteSetting(kQualitySetting, QStringLiteral("CD 品質")); };
  button(*form, "Command2")->click();
  ASSERT_EQ(sys_.prompter.modalWindows.size(), 3u);
  EXPECT_EQ(sys_.prompter.modalWindows[2], open);
  EXPECT_TRUE(sys_.prompter.wasVisible[2]);
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_NEAR(probe(ReadSetting(kLastRecordingSetting)).bitRate, 128000, 12800)
      << "the quality chosen in the dialog is used at once";

  const size_t asked = sys_.prompter.modalWindows.size();
  button(*form, "Command2")->click();
  EXPECT_EQ(sys_.prompter.modalWindows.size(), asked) << "no question once a quality is stored";
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
}

TEST_F(Form1Live, AStoredQualityThatNamesNoProfileIsAskedForAgain) {
  MarkStarted();
  WriteSetting(kSaveFolderSetting, saveFolder_);
  WriteSetting(kQualitySetting, QStringLiteral("Windows Media Audio 8 for Dial-up Modem (Mono, 16 Kbps)"));
  auto form = shownForm();
  QString shownInTheBox;
  sys_.prompter.whileModal = [&](QWidget* window) {
    auto* box = find<QComboBox>(window, "Combo1");
    shownInTheBox = box->currentText();
    box->setCurrentIndex(3);
    find<QPushButton>(window, "Command1")->click();
  };
  button(*form, "Command2")->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_EQ(sys_.prompter.messages[0].text, kFirstUse) << "not the encoder-unavailable warning";
  EXPECT_EQ(shownInTheBox, QStringLiteral("Windows Media Audio 8 for Dial-up Modem (Mono, 16 Kbps)"))
      << "the dialog shows what was stored";
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_TRUE(ReadSetting(kQualitySetting).contains(QStringLiteral("64 kbps")));
}

// No recording goes where nobody chose: an empty folder never means the root, and a
// folder that read back cut is never made.
TEST_F(Form1Live, ARecordingGoesOnlyWhereSomebodyChose) {
  MarkStarted();
  WriteSetting(kQualitySetting, QStringLiteral("FM ラジオ"));
  auto form = shownForm();
  // Empty: the dialog is asked for; closed without a folder, nothing starts.
  sys_.prompter.whileModal = [](QWidget* window) {
    find<QLineEdit>(window, "Text1")->clear();
    find<QPushButton>(window, "Command1")->click();
  };
  button(*form, "Command2")->click();
  ASSERT_EQ(sys_.prompter.modalWindows.size(), 1u);
  ASSERT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("保存先フォルダーが設定されていません")));
  EXPECT_TRUE(sys_.prompter.messages[1].text.contains(QStringLiteral("録音を始めませんでした")));
  EXPECT_TRUE(staysTrue([&] { return phaseOf(*form) == Phase::Idle; }, 300));

  // Cut short when read: never made; the dialog chooses anew.
  const QString longFolder = dir_.filePath(QString(400, QChar(0x97f3)));
  QFile ini(SettingsFilePath());
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[SaveTo]\r\nPath=" + longFolder.toUtf8() + "\r\n[Profile]\r\nProf=FM\r\n");
  ini.close();
  sys_.prompter.whileModal = [this](QWidget* window) {
    find<QLineEdit>(window, "Text1")->setText(saveFolder_);
    find<QPushButton>(window, "Command1")->click();
  };
  button(*form, "Command2")->click();
  EXPECT_TRUE(sys_.prompter.messages[2].text.contains(QStringLiteral("長すぎて")));
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_TRUE(QFileInfo::exists(expectedPath()));
  EXPECT_TRUE(QDir(dir_.path()).entryList({QString(4, QChar(0x97f3)) + QLatin1Char('*')}, QDir::Dirs).isEmpty())
      << "the cut folder was never made";
}

// The first line names what failed, the system's own words come last, and the help page
// about that cause follows; the install warning is for the recording module alone.
TEST_F(Form1Live, AFailedStartSaysWhatFailedFirstThenOpensThePageOfThatCause) {
  MarkStarted();
  storeSettings();
  WriteSetting(kLastRecordingSetting, QStringLiteral("/earlier.wma"));
  QFile blocker(dir_.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString impossible = dir_.filePath(QStringLiteral("file/rec"));
  const QString tone = sys_.sound.file;
  struct Case {
    const char* what;
    std::function<void()> cause, mend;
    QString firstLine;
    int topic;
  };
  const Case cases[] = {
      {"a save folder that cannot be made", [&] { WriteSetting(kSaveFolderSetting, impossible); },
       [&] { WriteSetting(kSaveFolderSetting, saveFolder_); },
       QStringLiteral("保存先フォルダー「%1」がなく、作成することもできません。").arg(impossible), 5},
      {"no input", [&] { sys_.sound.file = dir_.filePath(QStringLiteral("no-microphone.wav")); },
       [&] { sys_.sound.file = tone; }, QStringLiteral("録音デバイス「no-microphone.wav」が見つかりません。"), 2},
      {"no sound server", [&] { sys_.sound.serverDown = true; }, [&] { sys_.sound.serverDown = false; },
       QStringLiteral("音声サーバー (PipeWire または PulseAudio) が応答しません。"), 3},
  };
  auto form = shownForm();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sys_.prompter.messages.clear();
    sys_.help.calls.clear();
    c.cause();
    button(*form, "Command2")->click();
    ASSERT_TRUE(waitUntil([&] { return !sys_.prompter.messages.empty(); }));
    const Message& told = sys_.prompter.messages[0];
    const QStringList lines = told.text.split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines[0], c.firstLine) << told.text.toStdString();
    EXPECT_FALSE(told.text.contains(QStringLiteral("Windows Media Encoder")));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("詳細: "))) << "the system's words, last";
    EXPECT_EQ(told.icon, Prompter::Icon::Exclamation);
    EXPECT_EQ(told.buttons, Prompter::Buttons::Ok);
    EXPECT_EQ(told.owner, form.get());
    ASSERT_EQ(sys_.help.calls.size(), 1u);
    EXPECT_EQ(sys_.help.calls[0].owner, form.get());
    EXPECT_EQ(sys_.help.calls[0].file, HelpFilePath());
    EXPECT_EQ(sys_.help.calls[0].topic, c.topic);
    EXPECT_EQ(lookOf(*form), kIdle);
    EXPECT_EQ(ReadSetting(kLastRecordingSetting), QStringLiteral("/earlier.wma")) << "no file was made";
    c.mend();
  }

  button(*form, "Command2")->click();
  EXPECT_TRUE(reaches(*form, Phase::Recording)) << "the user can try again";
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
}

TEST(StartFailureMessage, OnlyTheRecordingModuleItselfKeepsTheInstallWarning) {
  const RecordingFailure missing{FailureCause::Component, QString(), QStringLiteral("libtallowen_codec.so: cannot open")};
  const QString module = StartFailureMessage(missing);
  EXPECT_TRUE(module.startsWith(kUnavailable)) << module.toStdString();
  EXPECT_TRUE(module.endsWith(QStringLiteral("\r\n詳細: libtallowen_codec.so: cannot open")));
  EXPECT_EQ(StartFailureHelpTopic(FailureCause::Component), 1);
  // Another program holds the microphone: named, and what to do said before the details.
  const QString held = StartFailureMessage({FailureCause::InputHeld, QStringLiteral("USB マイク"), QString()});
  EXPECT_TRUE(held.startsWith(QStringLiteral("録音デバイス「USB マイク」は、ほかのプログラムが使っています。\r\n")))
      << held.toStdString();
  EXPECT_FALSE(held.contains(QStringLiteral("詳細"))) << "no details line without details";
  EXPECT_EQ(StartFailureHelpTopic(FailureCause::InputHeld), 4);
}

// Closing the window and 終了 at every moment of a recording: the file is completed, and a
// start that was still waiting for the quality does not go on.
TEST_F(Form1Live, ClosingOrEndingAtAnyMomentCompletesTheFileAndStartsNothingMore) {
  MarkStarted();
  storeSettings();
  sys_.sound.startDelayMs = 600;  // time to act in the middle of the start
  QStringList made;
  for (const char* moment : {"starting", "recording", "stopping"}) {
    for (const bool viaMenu : {false, true}) {
      SCOPED_TRACE(std::string(moment) + (viaMenu ? " by 終了" : " by closing"));
      sys_.clock.current = sys_.clock.current.addSecs(60);
      {
        auto form = shownForm();
        button(*form, "Command2")->click();
        if (std::string(moment) != "starting") {
          ASSERT_TRUE(reaches(*form, Phase::Recording));
        }
        if (std::string(moment) == "stopping") {
          button(*form, "Command3")->click();
          EXPECT_EQ(phaseOf(*form), Phase::Stopping);
        }
        if (viaMenu) {
          action(*form, "MEnd")->trigger();
        } else {
          EXPECT_TRUE(form->close());
          EXPECT_FALSE(form->isVisible());
        }
        button(*form, "Command2")->click();  // a click queued behind the close
      }  // the program's end: the window and its session go
      made << ReadSetting(kLastRecordingSetting);
      EXPECT_EQ(RepairAsfFile(made.back()).result, AsfRepairOutcome::Result::Sound) << made.back().toStdString();
    }
  }
  EXPECT_EQ(QSet<QString>(made.begin(), made.end()).size(), made.size()) << "one file each";
  EXPECT_EQ(QDir(saveFolder_).entryList(QDir::Files).size(), made.size()) << "and no other";
  EXPECT_TRUE(sys_.prompter.messages.empty()) << "closing asks nothing";

  // Closed while the first-use question, then while the dialog, is up.
  WriteSetting(kQualitySetting, QString());
  const QStringList before = QDir(saveFolder_).entryList(QDir::Files);
  for (const bool viaMenu : {false, true}) {
    for (const bool inTheDialog : {false, true}) {
      auto form = shownForm();
      auto leave = [&] {
        if (viaMenu)
          action(*form, "MEnd")->trigger();
        else
          form->close();
      };
      sys_.prompter.onMessage = inTheDialog ? std::function<void()>() : leave;
      sys_.prompter.whileModal = inTheDialog ? [&](QWidget*) { leave(); } : std::function<void(QWidget*)>();
      button(*form, "Command2")->click();
      EXPECT_EQ(phaseOf(*form), Phase::Idle);
      runFor(300);
      EXPECT_EQ(phaseOf(*form), Phase::Idle) << "no recording began in the closed window";
    }
  }
  sys_.prompter.onMessage = nullptr;
  sys_.prompter.whileModal = nullptr;
  EXPECT_EQ(QDir(saveFolder_).entryList(QDir::Files), before);
}

TEST_F(Form1Live, ARecordingThatEndsByItselfIsReportedWithItsFile) {
  MarkStarted();
  storeSettings();
  sys_.sound.repeat = false;  // the input runs out after two seconds
  auto form = shownForm();
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  ASSERT_TRUE(reaches(*form, Phase::Idle, 15000));
  EXPECT_EQ(lookOf(*form), kIdleAfterTheFirst);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  const QString told = sys_.prompter.messages[0].text;
  EXPECT_TRUE(told.startsWith(QStringLiteral("録音が止まりました。ここまでの録音は保存されています。\r\n") +
                              expectedPath()))
      << told.toStdString();
  EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Exclamation);
  EXPECT_GT(decodeMono(expectedPath(), 16000).size(), 0u) << "what was written still plays";
}

TEST_F(Form1Live, AStopWhoseLastWritesFailSaysSoAndKeepsTheRecording) {
  MarkStarted();
  storeSettings();
  QDir().mkpath(saveFolder_);
  // Too small for the room a recording keeps ahead of its sound, which would take the last
  // writes: they need room the disk no longer has.
  SmallDisk disk(saveFolder_, 128);
  if (!disk.mounted()) GTEST_SKIP() << "a small file system needs the test command's rights (root)";
  auto form = shownForm();
  sys_.prompter.answers = {Prompter::Answer::Yes};  // the disk is nearly full: record all the same
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  runFor(600);
  button(*form, "Command11")->click();  // paused: nothing is written until the stop
  runFor(300);
  {
    // Another program fills the disk meanwhile.
    QFile filler(saveFolder_ + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size()) {
    }
  }
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_EQ(lookOf(*form), kIdleAfterTheFirst);
  ASSERT_EQ(sys_.prompter.messages.size(), 2u) << sys_.prompter.messages.back().text.toStdString();
  EXPECT_TRUE(sys_.prompter.messages[1].text.startsWith(
      QStringLiteral("録音の最後を書き込めませんでした。それまでの録音は保存されています。\r\n") + expectedPath()))
      << sys_.prompter.messages[1].text.toStdString();
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
}

TEST_F(Form1Live, LoadMendsTheRecordingThatACrashCutShort) {
  MarkStarted();
  storeSettings();
  {
    auto form = shownForm();
    button(*form, "Command2")->click();
    ASSERT_TRUE(reaches(*form, Phase::Recording));
    runFor(1200);
    button(*form, "Command3")->click();
    ASSERT_TRUE(reaches(*form, Phase::Idle));
  }
  const double whole = probe(expectedPath()).duration;
  ASSERT_GT(whole, 1.0);
  // As a crash leaves it: a header without its length, still named in the journal.
  resetHeaderLikeACrash(expectedPath());
  {
    QFile file(expectedPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    RecordingJournalEntry entry(expectedPath(), file.handle());
  }
  ASSERT_FALSE(probe(expectedPath()).duration > 0);

  // Another recording, whose file another program replaced meanwhile: left alone, and said.
  const QString replaced = saveFolder_ + QStringLiteral("/replaced.wma");
  {
    QFile file(replaced);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'r'));
    RecordingJournalEntry entry(replaced, file.handle());
  }
  ASSERT_TRUE(QFile::remove(replaced));
  {
    QFile other(replaced);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("somebody else's file");
  }

  auto form = std::make_unique<Form1>(sys_.seams(), sys_.settings);
  QSignalSpy repaired(form.get(), &Form1::startUpRepairDone);
  form->load();
  form->show();
  EXPECT_EQ(lookOf(*form), kIdle) << "the window is up while the mending goes on";
  ASSERT_TRUE(waitUntil([&] { return repaired.count() == 1; }));
  EXPECT_DOUBLE_EQ(probe(expectedPath()).duration, whole);
  EXPECT_TRUE(sys_.prompter.messages.empty()) << "nothing to answer";
  ASSERT_EQ(sys_.prompter.notices.size(), 1u);
  const QString told = sys_.prompter.notices[0].text;
  EXPECT_TRUE(told.contains(QStringLiteral("次の録音ファイルを修復しました。\r\n") + expectedPath())) << told.toStdString();
  EXPECT_TRUE(told.contains(replaced + QStringLiteral(": 別のファイルに置き換えられていたため"))) << told.toStdString();
  QFile other(replaced);
  ASSERT_TRUE(other.open(QIODevice::ReadOnly));
  EXPECT_EQ(other.readAll(), QByteArray("somebody else's file"));
  EXPECT_TRUE(RepairInterruptedRecordings().isEmpty()) << "the journal was cleared";
}

TEST_F(Form1Live, FullDiskEndsTheRecordingKeepsWhatWasWrittenAndSaysSo) {
  MarkStarted();
  storeSettings();
  WriteSetting(kQualitySetting, QStringLiteral("最高音質"));  // 192 kb/s
  saveFolder_ = dir_.filePath(QStringLiteral("small"));
  QDir().mkpath(saveFolder_);
  SmallDisk disk(saveFolder_, 96);
  if (!disk.mounted()) GTEST_SKIP() << "a small file system needs the test command's rights (root)";
  WriteSetting(kSaveFolderSetting, saveFolder_);
  auto form = shownForm();
  QElapsedTimer recording;
  recording.start();
  sys_.prompter.answers = {Prompter::Answer::Yes};  // "record anyway": the disk is nearly full
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  ASSERT_TRUE(reaches(*form, Phase::Idle, 20000));
  const double recorded = recording.elapsed() / 1000.0;

  ASSERT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("約 0 分しか録音できません")));
  const QString told = sys_.prompter.messages[1].text;
  EXPECT_TRUE(told.startsWith(QStringLiteral("録音が止まりました。ここまでの録音は保存されています。")));
  EXPECT_TRUE(told.contains(expectedPath()));
  EXPECT_TRUE(told.contains(QStringLiteral("に書き込めません。"))) << told.toStdString();
  // The system's own words, in Japanese once Qt's translation is loaded in this process.
  EXPECT_TRUE(told.contains(QStringLiteral("space"), Qt::CaseInsensitive) || told.contains(QStringLiteral("空き容量")))
      << told.toStdString();
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound) << "completed at once";
  const double kept = probe(expectedPath()).duration;
  EXPECT_NEAR(double(decodeMono(expectedPath(), 16000).size()) / 16000, kept, 0.1);
  // 96 KiB hold about three seconds at 24 kB/s and the container's headers.
  EXPECT_GT(kept, 2.5);
  EXPECT_LT(kept, recorded);
  std::printf("full disk: kept %.2f s of %.2f s recorded\n", kept, recorded);
}

// The test microphone sounds, falls silent, then clips; the window shows each.
TEST_F(Form1Live, TheMeterShowsTheInputAndASilentInputIsWarnedOf) {
  if (!MicFeeder::available()) GTEST_SKIP() << "no test sound server (run through the test command)";
  MarkStarted();
  storeSettings();
  auto shown = shownFormOnTheDefaultInput();
  Form1& form = *shown;
  MicFeeder mic(1000, 0.35);  // -9 dBFS
  ASSERT_TRUE(waitUntil([&] { return mic.frames() > MicFeeder::kRate / 5; }));
  button(form, "Command2")->click();
  ASSERT_TRUE(reaches(form, Phase::Recording));
  auto* meter = find<LevelMeter>(&form, "LevelMeter");
  EXPECT_TRUE(meter->isVisible());
  EXPECT_TRUE(timeBox(form)->rect().contains(meter->geometry())) << "inside the time box";
  EXPECT_EQ(form.centralWidget()->size(), QSize(175, 47)) << "the window keeps its size";
  ASSERT_TRUE(waitUntil([&] { return std::abs(meter->levelDb() - -9.1) < 1.0; }, 3000)) << meter->levelDb();
  EXPECT_FALSE(meter->clipping());
  const QColor normal = timeBox(form)->palette().color(QPalette::Window);
  // The tooltip tells how long the disk lasts.
  ASSERT_TRUE(waitUntil([&] { return timeBox(form)->toolTip().contains(QStringLiteral("録音できます")); }, 2000));

  // Silence: the warning within six seconds, in colour, the recording going on.
  QElapsedTimer silent;
  mic.setAmplitude(0);
  silent.start();
  ASSERT_TRUE(waitUntil([&] { return timeBox(form)->text() == QStringLiteral("入力なし"); }, 8000));
  const qint64 warnedAfter = silent.elapsed();
  EXPECT_LE(warnedAfter, 6000);
  EXPECT_GE(warnedAfter, 4500) << "not before five seconds of silence";
  EXPECT_NE(timeBox(form)->palette().color(QPalette::Window), normal) << "seen at a glance";
  EXPECT_DOUBLE_EQ(meter->levelDb(), LevelMeter::kFloorDb);
  const QString tip = timeBox(form)->toolTip();
  EXPECT_TRUE(tip.contains(QStringLiteral("録音時の音量を調整"))) << "points to the level button";
  EXPECT_TRUE(tip.contains(QStringLiteral("width=\"400\""))) << "a tooltip that wraps: " << tip.toStdString();
  EXPECT_EQ(phaseOf(form), Phase::Recording);
  EXPECT_TRUE(sys_.prompter.messages.empty()) << "no box to answer";
  ASSERT_TRUE(waitUntil([&] { return timeBox(form)->text().contains(QLatin1Char(':')); }, 2500))
      << "alternating with the time";

  // A clipping tone: the warning goes within a second, and the meter turns red.
  QElapsedTimer sound;
  mic.setAmplitude(2.0);
  sound.start();
  ASSERT_TRUE(waitUntil([&] { return meter->clipping(); }, 3000));
  const qint64 heardAfter = sound.elapsed();
  EXPECT_TRUE(staysTrue([&] { return timeBox(form)->text() != QStringLiteral("入力なし"); }, 300));
  EXPECT_LE(heardAfter, 1000);
  EXPECT_GE(meter->levelDb(), LevelMeter::kClipDb);
  EXPECT_EQ(timeBox(form)->palette().color(QPalette::Window), normal);
  EXPECT_FALSE(timeBox(form)->toolTip().contains(QStringLiteral("入力の音がありません")));

  // Out of sight nothing is drawn: the looks at the level stop until the window is back.
  auto* tick = form.findChild<QTimer*>(QStringLiteral("Timer1"));
  ASSERT_TRUE(tick && tick->isActive());
  form.showMinimized();
  EXPECT_TRUE(waitUntil([&] { return !tick->isActive(); }, 1000));
  form.showNormal();
  EXPECT_TRUE(waitUntil([&] { return tick->isActive(); }, 1000));

  // Paused, the meter stands still.
  button(form, "Command11")->click();
  const double still = meter->levelDb();
  mic.setAmplitude(0.05);
  EXPECT_TRUE(staysTrue([&] { return meter->levelDb() == still; }, 400));
  button(form, "Command3")->click();
  ASSERT_TRUE(reaches(form, Phase::Idle));
  EXPECT_FALSE(meter->isVisible());
  std::printf("silence warned after %lld ms; sound noticed after %lld ms\n", (long long)warnedAfter,
              (long long)heardAfter);
}

// An input that delivers nothing at all (a stalled device): warned as silent after five
// seconds, the gap silence in the file, and the clock and the file agree.
TEST_F(Form1Live, AStalledInputIsWarnedOfAndTheFileKeepsTheClocksTime) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  QElapsedTimer wall;
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  wall.start();
  runFor(1000);
  sys_.sound.stalled = true;
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->text() == QStringLiteral("入力なし"); }, 7000));
  sys_.sound.stalled = false;
  runFor(1500);
  const double recorded = wall.elapsed() / 1000.0;
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  const double kept = probe(expectedPath()).duration;
  std::printf("stalled input: recorded %.2f s, the file holds %.2f s\n", recorded, kept);
  EXPECT_NEAR(kept, recorded, 0.5);
}

// Removed from its folder or its folder renamed: the window says where the file is.
TEST_F(Form1Live, AFolderRenamedWhileRecordingIsSaidAndTheLatestRecordingFollows) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  runFor(800);
  const QString renamed = dir_.filePath(QStringLiteral("renamed"));
  ASSERT_TRUE(QDir().rename(saveFolder_, renamed));
  runFor(500);
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  const QString now = renamed + QStringLiteral("/2002-04-03_09-05.wma");
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(now)) << sys_.prompter.messages[0].text.toStdString();
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), now) << "the player finds it";
}

// setting.ini that cannot be written: what the dialog chose holds for this run, and the
// program says so once.
TEST_F(Form1Live, SettingsThatCannotBeKeptHoldForTheRunAndAreSaidOnce) {
  MarkStarted();
  QFile::remove(SettingsFilePath());
  ASSERT_TRUE(QDir().mkpath(SettingsFilePath()));  // a folder where the file should be
  const auto removeIt = qScopeGuard([] { QDir(SettingsFilePath()).removeRecursively(); });
  auto form = shownForm();
  sys_.prompter.answers = {Prompter::Answer::Ok};
  sys_.prompter.whileModal = [this](QWidget* window) {
    find<QLineEdit>(window, "Text1")->setText(saveFolder_);
    find<QComboBox>(window, "Combo1")->setCurrentIndex(3);
    find<QPushButton>(window, "Command1")->click();
  };
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording)) << "the choice holds though it was not stored";
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_EQ(sys_.unstored.size(), 1u) << "said once";
  EXPECT_NEAR(probe(expectedPath()).bitRate, 64000, 6400) << "the quality chosen, not the first";
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/2002-04-03_09-05.wma")));
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording)) << "and for the next recording of the run";
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_EQ(sys_.unstored.size(), 1u);
}

TEST_F(Form1Live, ALowDiskAsksBeforeRecordingAndTheTimeBoxTellsTheRoomLeft) {
  MarkStarted();
  storeSettings();
  WriteSetting(kQualitySetting, QStringLiteral("最高音質"));  // 192 kb/s
  saveFolder_ = dir_.filePath(QStringLiteral("small"));
  QDir().mkpath(saveFolder_);
  std::optional<SmallDisk> disk(std::in_place, saveFolder_, 5000);  // a few minutes
  if (!disk->mounted()) GTEST_SKIP() << "a small file system needs the test command's rights (root)";
  WriteSetting(kSaveFolderSetting, saveFolder_);
  auto form = shownForm();
  sys_.prompter.answers = {Prompter::Answer::No};
  button(*form, "Command2")->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("分しか録音できません")))
      << sys_.prompter.messages[0].text.toStdString();
  EXPECT_EQ(sys_.prompter.messages[0].buttons, Prompter::Buttons::YesNo);
  EXPECT_TRUE(staysTrue([&] { return phaseOf(*form) == Phase::Idle; }, 300)) << "No starts nothing";

  sys_.prompter.answers = {Prompter::Answer::Yes};
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording)) << "Yes records anyway";
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->toolTip().contains(QStringLiteral(" 分録音できます")); }, 2000))
      << timeBox(*form)->toolTip().toStdString();
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));

  disk.reset();
  disk.emplace(saveFolder_, 300 * 1024);  // hours
  button(*form, "Command2")->click();
  EXPECT_EQ(sys_.prompter.messages.size(), 2u) << "room enough: no question";
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  ASSERT_TRUE(waitUntil([&] { return timeBox(*form)->toolTip().contains(QStringLiteral(" 時間 ")); }, 2000))
      << timeBox(*form)->toolTip().toStdString();
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
}

TEST_F(Form1Live, LostMicrophoneEndsTheRecordingKeepsWhatWasWrittenAndSaysSo) {
  MicrophoneModule module;
  if (!module.find()) GTEST_SKIP() << "no test sound server (run through the test command)";
  MarkStarted();
  storeSettings();
  auto shown = shownFormOnTheDefaultInput();
  Form1& form = *shown;
  MicFeeder mic(1000);
  ASSERT_TRUE(waitUntil([&] { return mic.frames() > MicFeeder::kRate / 5; }));
  QElapsedTimer clock;
  clock.start();
  button(form, "Command2")->click();
  ASSERT_TRUE(reaches(form, Phase::Recording));
  const double started = clock.elapsed() / 1000.0;
  runFor(1500);
  const double pulled = clock.elapsed() / 1000.0;
  const bool unloaded = module.unload();
  const bool ended = reaches(form, Phase::Idle);
  const double noticed = clock.elapsed() / 1000.0;
  ASSERT_TRUE(module.restore()) << "later tests need the microphone back";
  ASSERT_TRUE(unloaded);
  ASSERT_TRUE(ended);

  EXPECT_EQ(lookOf(form), kIdleAfterTheFirst);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  const QString told = sys_.prompter.messages[0].text;
  EXPECT_TRUE(told.contains(expectedPath()));
  EXPECT_TRUE(told.contains(QStringLiteral("が使えなくなりました。"))) << told.toStdString();
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
  // Everything up to the moment the microphone went.
  const double kept = probe(expectedPath()).duration;
  EXPECT_GT(kept, pulled - started - 0.4);
  EXPECT_LT(kept, noticed + 0.1);
  EXPECT_NEAR(dominantFrequency(decodeMono(expectedPath(), 16000), 16000), 1000, 10);
  std::printf("lost microphone: kept %.2f s; pulled after %.2f s, noticed after %.2f s\n", kept, pulled - started,
              noticed - started);
}

// Closing the main window leaves every other window open, and the program runs until the
// last of them closes. The help viewer alone does not keep it running; 終了 ends it at once.
TEST_F(Form1Test, TheProgramEndsWithItsLastWindowWhicheverThatIs) {
  MarkStarted();
  // The player opens only once something has been recorded.
  WriteSetting(kLastRecordingSetting, sys_.sound.file);
  const std::pair<const char*, std::function<QWidget*(Form1&)>> windows[] = {
      {"settings", [](Form1& f) -> QWidget* { return button(f, "Command1")->click(), openWindow("frmConfig"); }},
      {"player", [](Form1& f) -> QWidget* { return button(f, "Command4")->click(), openWindow("frmPlayer"); }},
      {"player of a chosen file",
       [](Form1& f) -> QWidget* { return action(f, "MFPlay")->trigger(), openWindow("frmPlayer2"); }},
      {"About", [](Form1& f) -> QWidget* { return action(f, "MAbout")->trigger(), openWindow("frmAbout"); }},
      {"recordings",
       [](Form1& f) -> QWidget* { return action(f, "MFRecordings")->trigger(), openWindow("frmRecordings"); }},
  };
  auto onlyOpen = [](std::initializer_list<QWidget*> ours) {
    QStringList others;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && std::find(ours.begin(), ours.end(), w) == ours.end()) others << w->objectName();
    return others;
  };
  for (const auto& [name, open] : windows) {
    SCOPED_TRACE(name);
    auto form = shownForm();
    QPointer<QWidget> other = open(*form);
    ASSERT_TRUE(other && other->isVisible());
    ASSERT_EQ(onlyOpen({form.get(), other}), QStringList());
    // On the screen, in front, and where the keys go.
    EXPECT_TRUE(other->screen()->availableGeometry().contains(other->frameGeometry()));
    EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == other; }, 2000));
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    int lastClosedWithMain = -1;
    bool otherStillOpen = false;
    const ProgramRun run = runProgram({[&] {
                                         form->close();
                                         lastClosedWithMain = int(lastClosed.count());
                                       },
                                       [&] {
                                         otherStillOpen = other && other->isVisible();
                                         if (other) other->close();
                                       }});
    EXPECT_EQ(lastClosedWithMain, 0) << "the program ended with the main window";
    EXPECT_EQ(run.stepsRun, 2u);
    EXPECT_TRUE(otherStillOpen);
    EXPECT_EQ(lastClosed.count(), 1) << "closing the last window ends the program";
    EXPECT_TRUE(run.endedByItself);
    delete other;
  }

  {
    SCOPED_TRACE("help");
    auto form = shownForm();
    ASSERT_NE(ShowHelpContents(form.get(), HelpFilePath()), 0u);
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    const ProgramRun run = runProgram({[&] { form->close(); }});
    EXPECT_EQ(lastClosed.count(), 1) << "the help viewer keeps nothing running";
    EXPECT_TRUE(run.endedByItself);
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible()) w->close();
    }
  }

  {
    SCOPED_TRACE("終了");
    auto form = shownForm();
    button(*form, "Command1")->click();
    button(*form, "Command4")->click();
    action(*form, "MAbout")->trigger();
    const ProgramRun run = runProgram({[&] { action(*form, "MEnd")->trigger(); }});
    EXPECT_TRUE(run.endedByItself) << "終了 waits for no window";
    EXPECT_TRUE(openWindow("frmConfig") && openWindow("frmConfig")->isVisible());
  }
}

TEST_F(Form1Live, EveryOtherWindowOpensOnceAndCommandsWorkWhileRecording) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  button(*form, "Command2")->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  button(*form, "Command1")->click();
  QWidget* config = openWindow("frmConfig");
  button(*form, "Command1")->click();
  EXPECT_EQ(openWindow("frmConfig"), config);
  action(*form, "MFPlay")->trigger();
  action(*form, "MAbout")->trigger();
  action(*form, "MAbout")->trigger();
  int abouts = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) abouts += qobject_cast<frmAbout*>(w) && w->isVisible();
  EXPECT_EQ(abouts, 1);
  EXPECT_TRUE(openWindow("frmPlayer2"));
  action(*form, "MHelp2")->trigger();
  ASSERT_EQ(sys_.help.calls.size(), 1u);
  EXPECT_EQ(sys_.help.calls[0].topic, 0);
  EXPECT_EQ(sys_.help.calls[0].owner, form.get());
  EXPECT_EQ(phaseOf(*form), Phase::Recording);

  config->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(openWindow("frmConfig")) << "closing destroys it";
  button(*form, "Command3")->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  button(*form, "Command4")->click();
  EXPECT_TRUE(openWindow("frmPlayer"));
  button(*form, "Command8")->click();
  button(*form, "Command9")->click();
  EXPECT_EQ(phaseOf(*form), Phase::Idle) << "grey buttons do nothing";
}

}  // namespace
