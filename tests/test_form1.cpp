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
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <tuple>

#include "config/frmConfig.h"
#include "help/HTMLHelp.h"
#include "help/frmAbout.h"
#include "player/frmPlayer.h"
#include "recording/AsfRepair.h"
#include "recording/Encoder.h"
#include "recording/EncoderFactory.h"
#include "app/FirstStart.h"
#include "platform/ApplicationFolder.h"
#include "app/Form1.h"
#include "app/LevelMeter.h"
#include "recording/OutputFile.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingName.h"
#include "settings/modINI.h"
#include "platform/ToolWindow.h"
#include "support/ScopedEnv.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"
#include "support/MicFeeder.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

const QString kUnavailable = QStringLiteral(
    "Windows Media Encoderのインストールがまだ終了していません。しばらくおまちください。\r\n"
    "この現象に関する情報がヘルプにありますのでご覧ください。");
const QString kFirstUse =
    QStringLiteral("録音を始める前に、音質の設定を行います。OKを押したあと録音品質を選択してください。");

using Phase = RecordingSession::Phase;

// Which of the paired buttons show, what the label says and which timers run: one row of
// the window's table of looks.
struct Look {
  bool c2, c8, c3, c9, c4, c10, c11, c12;
  QString label;
  bool timer1, timer2;
  bool operator==(const Look&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Look& l) {
  return os << "2:" << l.c2 << " 8:" << l.c8 << " 3:" << l.c3 << " 9:" << l.c9 << " 4:" << l.c4
            << " 10:" << l.c10 << " 11:" << l.c11 << " 12:" << l.c12 << " label:'" << l.label.toStdString()
            << "' timer1:" << l.timer1 << " timer2:" << l.timer2;
}

Look lookOf(const Form1& f) {
  return {f.Command2->isVisible(),  f.Command8->isVisible(),  f.Command3->isVisible(),
          f.Command9->isVisible(),  f.Command4->isVisible(),  f.Command10->isVisible(),
          f.Command11->isVisible(), f.Command12->isVisible(), f.Label1->text(),
          f.Timer1->isActive(),     f.Timer2->isActive()};
}

const Look kIdle{true, false, false, true, true, false, false, false, QString(), false, false};
const Look kStarting{false, true, false, true, false, true, false, false, QStringLiteral("Starting..."), false, false};
const Look kStopping{false, true, false, true, false, true, false, false, QStringLiteral("Stopping..."), false, false};

// The default input itself, which the test sound server feeds from a pipe.
class DefaultInput : public AudioInputChoice {
 public:
  void adjust(Source&) override {}
};

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    QStandardPaths::setTestModeEnabled(true);
    state_.emplace("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
    QFile::remove(FirstStartMarkerPath());
    QFile::remove(SettingsFilePath());
    ASSERT_TRUE(dir_.isValid());
    sys_.audio.file = dir_.filePath(QStringLiteral("tone.wav"));
    writeToneWav(sys_.audio.file, 1000, 2, 44100, 2);
    saveFolder_ = dir_.filePath(QStringLiteral("rec"));
    QDir().mkpath(saveFolder_);
  }
  void TearDown() override {
    QFile::remove(SettingsFilePath());
    DeleteWindowsLeftOpen();
  }

  std::unique_ptr<Form1> shownForm() {
    auto form = std::make_unique<Form1>(sys_.seams());
    form->Form_Load();
    form->show();
    return form;
  }
  // Recording the default input, which the test sound server feeds from a pipe.
  std::unique_ptr<Form1> shownFormOnTheDefaultInput() {
    Seams seams = sys_.seams();
    seams.audioInput = &defaultInput_;
    auto form = std::make_unique<Form1>(seams);
    form->Form_Load();
    form->show();
    return form;
  }
  void storeSettings() {
    WriteSetting(kQualitySetting, QStringLiteral("FM ラジオ"));
    WriteSetting(kSaveFolderSetting, saveFolder_);
  }
  static bool reaches(const Form1& form, Phase phase, int timeoutMs = 10000) {
    return waitUntil([&] { return form.phase() == phase; }, timeoutMs);
  }
  QString expectedPath(const QString& name = QStringLiteral("2002-04-03_09-05.wma")) const {
    return saveFolder_ + QLatin1Char('/') + name;
  }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> state_;
  QString saveFolder_;
  FakeSystem sys_;
  DefaultInput defaultInput_;
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
  EXPECT_EQ(RecordingFileName(QDateTime(QDate(2002, 4, 3), QTime(9, 5, 59))),
            QStringLiteral("2002-04-03_09-05.wma"));
  EXPECT_EQ(RecordingFileName(QDateTime(QDate(2002, 12, 31), QTime(23, 59, 0))),
            QStringLiteral("2002-12-31_23-59.wma"));
  EXPECT_EQ(RecordingFileName(QDateTime(QDate(2003, 1, 1), QTime(0, 0, 1))),
            QStringLiteral("2003-01-01_00-00.wma"));
  EXPECT_EQ(RecordingFileName(QDateTime(QDate(2002, 4, 3), QTime(13, 0))),
            QStringLiteral("2002-04-03_13-00.wma"));

  QTemporaryDir dir;
  const QString name = QStringLiteral("2002-04-03_09-05.wma");
  EXPECT_EQ(RecordingPath(dir.path(), name), dir.path() + QStringLiteral("/") + name);
  QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
  EXPECT_EQ(RecordingPath(dir.path(), name), dir.filePath(QStringLiteral("2002-04-03_09-05(2).wma")));
  QFile(dir.filePath(QStringLiteral("2002-04-03_09-05(2).wma"))).open(QIODevice::WriteOnly);
  EXPECT_EQ(RecordingPath(dir.path(), name), dir.filePath(QStringLiteral("2002-04-03_09-05(3).wma")));
  EXPECT_EQ(RecordingPath(QString(), name), QStringLiteral("/") + name) << "the separator always goes in";
  EXPECT_EQ(RecordingPath(dir.path() + QStringLiteral("/"), QStringLiteral("x.wma")),
            dir.path() + QStringLiteral("//x.wma"));
  EXPECT_EQ(RecordingPath(QStringLiteral("/"), name), QStringLiteral("/") + name) << "the root takes no second separator";
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
    QPushButton* button;
    QRect place;
    bool visible;
  } buttons[] = {{form->Command12, {104, 16, 9, 25}, false}, {form->Command11, {104, 16, 9, 25}, false},
                 {form->Command10, {72, 16, 33, 25}, false}, {form->Command9, {40, 16, 33, 25}, true},
                 {form->Command8, {8, 16, 33, 25}, false},   {form->Command5, {144, 16, 25, 25}, true},
                 {form->Command4, {72, 16, 33, 25}, true},   {form->Command3, {40, 16, 33, 25}, false},
                 {form->Command2, {8, 16, 33, 25}, true},    {form->Command1, {120, 16, 25, 25}, true}};
  for (const auto& b : buttons) {
    SCOPED_TRACE(b.button->objectName().toStdString());
    EXPECT_EQ(b.button->geometry(), b.place);
    EXPECT_EQ(b.button->isVisible(), b.visible);
    EXPECT_FALSE(b.button->icon().isNull());
    EXPECT_TRUE(b.button->text().isEmpty());
  }
  EXPECT_EQ(form->Command1->toolTip(), QStringLiteral("ファイルの保存場所と音質を変更する"));
  EXPECT_EQ(form->Command5->toolTip(), QStringLiteral("録音時の音量を調整"));
  EXPECT_EQ(form->Label1->geometry(), QRect(8, 0, 97, 17));
  EXPECT_EQ(form->Label1->alignment(), Qt::AlignCenter);
  EXPECT_FALSE(form->Text1->isVisible());
  EXPECT_EQ(form->Text1->text(), QStringLiteral("Text1"));
  EXPECT_EQ(form->Timer1->interval(), 100);
  EXPECT_EQ(form->Timer2->interval(), 500);
  EXPECT_FALSE(form->Timer2->isActive());
  EXPECT_EQ(lookOf(*form), kIdle);

  QStringList menu;
  for (QAction* top : form->menuBar()->actions()) {
    menu << top->text();
    for (QAction* item : top->menu()->actions()) {
      menu << (item->isSeparator() ? QStringLiteral("-") : item->text());
      EXPECT_TRUE(item->shortcut().isEmpty());
    }
  }
  EXPECT_EQ(menu, (QStringList{"ファイル(&F)", "ファイルを指定して再生(&P)", "-", "終了(&E)", "ヘルプ(&H)",
                               "目次とキーワード(&C)", "-", "バージョン情報(&A)"}));
  EXPECT_EQ(form->MBar2->objectName(), QStringLiteral("MBar2"));
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
  EXPECT_EQ(sys_.launcher.started[0],
            (QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/WMEDist"),
                         QStringLiteral("/Q:A"), QStringLiteral("/R:N")}));

  Form1 again(sys_.seams());
  again.Form_Load();
  EXPECT_EQ(sys_.prompter.messages.size(), 1u) << "asked once";
}

TEST_F(Form1Test, OutsideProgramsThatCannotStartAreNamed) {
  sys_.prompter.answers = {Prompter::Answer::No};
  auto form = shownForm();
  EXPECT_TRUE(sys_.launcher.started.empty()) << "No starts nothing";
  sys_.launcher.succeeds = false;
  form->Command5->click();
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
  EXPECT_EQ(lookOf(*form), kIdle);
  form->Command2->click();
  EXPECT_EQ(lookOf(*form), kStarting) << "at once, before the encoder has started";
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  // "Starting..." stays until the first tick shows the time.
  EXPECT_EQ(lookOf(*form), (Look{false, true, true, false, false, true, true, false, QStringLiteral("Starting..."),
                                 true, false}));
  ASSERT_TRUE(waitUntil([&] { return form->Label1->text() == QStringLiteral("00:00:00"); }));
  EXPECT_EQ(form->Text1->text(), QString::number(Encoder::Running));

  sys_.clock.steady += 2000;
  QTest::keyClick(form.get(), Qt::Key_Escape);  // the pause button is the cancel button
  EXPECT_EQ(form->phase(), Phase::Paused);
  EXPECT_TRUE(form->Paused);
  const Look paused = lookOf(*form);
  EXPECT_EQ((std::tuple{paused.c3, paused.c9, paused.c4, paused.c10, paused.c11, paused.c12, paused.timer2}),
            (std::tuple{true, false, false, true, false, true, true}));
  EXPECT_NE(paused.c2, paused.c8);
  const bool before = form->Command2->isVisible();
  ASSERT_TRUE(waitUntil([&] { return form->Command2->isVisible() != before; }, 2000)) << "the record button blinks";
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_EQ(form->phase(), Phase::Paused) << "Esc does nothing while the pause button is hidden";

  // Recording by the blinking record button again, then stopping.
  ASSERT_TRUE(waitUntil([&] { return form->Command2->isVisible(); }, 2000));
  form->Command2->click();
  EXPECT_EQ(form->phase(), Phase::Recording);
  EXPECT_FALSE(form->Paused);
  EXPECT_EQ(lookOf(*form), (Look{false, true, true, false, false, true, true, false, form->Label1->text(), true,
                                 false}));
  form->Command3->click();
  EXPECT_EQ(lookOf(*form), kStopping) << "at once, before the file is complete";
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_EQ(lookOf(*form), kIdle);
  EXPECT_EQ(form->Text1->text(), QString::number(Encoder::Stopped));
  EXPECT_TRUE(sys_.prompter.messages.empty());
  EXPECT_TRUE(probe(expectedPath()).ok);
}

TEST_F(Form1Live, TheElapsedTimeStandsStillWhilePausedAndNeverGoesBack) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  std::vector<QString> shown;
  QObject::connect(form->Timer1, &QTimer::timeout, [&] { shown.push_back(form->Label1->text()); });
  form->Command2->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  sys_.clock.steady += 2000;
  ASSERT_TRUE(waitUntil([&] { return form->Label1->text() == QStringLiteral("00:00:02"); }));
  form->Command11->click();
  sys_.clock.steady += 5000;
  sys_.clock.current = sys_.clock.current.addSecs(-3600);  // the date and time set back meanwhile
  runFor(400);
  EXPECT_EQ(form->Label1->text(), QStringLiteral("00:00:02")) << "paused: the time stands";
  // The stored quality is gone meanwhile: resuming does not ask for it.
  WriteSetting(kQualitySetting, QString());
  ASSERT_TRUE(waitUntil([&] { return form->Command2->isVisible(); }, 2000));
  form->Command2->click();
  EXPECT_EQ(form->phase(), Phase::Recording);
  EXPECT_TRUE(sys_.prompter.messages.empty());
  EXPECT_TRUE(sys_.prompter.modalWindows.empty());
  sys_.clock.steady += 1000;
  ASSERT_TRUE(waitUntil([&] { return form->Label1->text() == QStringLiteral("00:00:03"); }));
  form->Command3->click();
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
  form->Command2->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_EQ(sys_.prompter.messages[0].text, kFirstUse);
  EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Information);
  ASSERT_EQ(sys_.prompter.modalWindows.size(), 1u);
  EXPECT_TRUE(qobject_cast<frmConfig*>(sys_.prompter.modalWindows[0]));
  ASSERT_TRUE(reaches(*form, Phase::Recording)) << "the start goes on after the dialog, whatever was done in it";
  form->Command3->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));

  // The dialog open modeless: the start waits on that same dialog.
  form->Command1->click();
  frmConfig* open = form->configWindow();
  ASSERT_TRUE(open);
  sys_.prompter.whileModal = [](QWidget*) { WriteSetting(kQualitySetting, QStringLiteral("CD 品質")); };
  form->Command2->click();
  ASSERT_EQ(sys_.prompter.modalWindows.size(), 2u);
  EXPECT_EQ(sys_.prompter.modalWindows[1], open);
  EXPECT_TRUE(sys_.prompter.wasVisible[1]);
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  form->Command3->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_NEAR(probe(ReadSetting(kLastRecordingSetting)).bitRate, 128000, 12800)
      << "the quality chosen in the dialog is used at once";

  form->Command2->click();
  EXPECT_EQ(sys_.prompter.modalWindows.size(), 2u) << "no question once a quality is stored";
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  form->Command3->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
}

TEST_F(Form1Live, AStoredQualityThatNamesNoProfileIsAskedForAgain) {
  MarkStarted();
  WriteSetting(kSaveFolderSetting, saveFolder_);
  WriteSetting(kQualitySetting, QStringLiteral("Windows Media Audio 8 for Dial-up Modem (Mono, 16 Kbps)"));
  auto form = shownForm();
  QString shownInTheBox;
  sys_.prompter.whileModal = [&](QWidget* window) {
    auto* dialog = qobject_cast<frmConfig*>(window);
    shownInTheBox = dialog->Combo1->currentText();
    dialog->Combo1->setCurrentIndex(3);
    dialog->Command1->click();
  };
  form->Command2->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_EQ(sys_.prompter.messages[0].text, kFirstUse) << "not the encoder-unavailable warning";
  EXPECT_EQ(shownInTheBox, QStringLiteral("Windows Media Audio 8 for Dial-up Modem (Mono, 16 Kbps)"))
      << "the dialog shows what was stored";
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  form->Command3->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_TRUE(ReadSetting(kQualitySetting).contains(QStringLiteral("64 kbps")));
}

TEST_F(Form1Live, AFailedStartSaysWhatFailedThenOpensHelpTopicOne) {
  MarkStarted();
  storeSettings();
  WriteSetting(kLastRecordingSetting, QStringLiteral("/earlier.wma"));
  QFile blocker(dir_.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString impossible = dir_.filePath(QStringLiteral("file/rec"));
  WriteSetting(kSaveFolderSetting, impossible);
  auto form = shownForm();
  form->Command2->click();
  ASSERT_TRUE(waitUntil([&] { return !sys_.prompter.messages.empty(); }));
  const Message& told = sys_.prompter.messages[0];
  EXPECT_TRUE(told.text.startsWith(kUnavailable + QStringLiteral("\r\n"))) << told.text.toStdString();
  EXPECT_TRUE(told.text.contains(QStringLiteral("保存先フォルダー「%1」").arg(impossible))) << told.text.toStdString();
  EXPECT_EQ(told.icon, Prompter::Icon::Exclamation);
  EXPECT_EQ(told.buttons, Prompter::Buttons::Ok);
  EXPECT_EQ(told.owner, form.get());
  ASSERT_EQ(sys_.help.calls.size(), 1u);
  EXPECT_EQ(sys_.help.calls[0].owner, form.get());
  EXPECT_EQ(sys_.help.calls[0].file, QCoreApplication::applicationDirPath() + QStringLiteral("/TallowenHelp.chm"));
  EXPECT_EQ(sys_.help.calls[0].topic, 1);
  EXPECT_EQ(lookOf(*form), kIdle);
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), QStringLiteral("/earlier.wma")) << "no file was made";

  // The recording component itself: the warning alone, as it always was.
  struct NoModule : EncoderFactory {
    std::unique_ptr<Encoder> create() override {
      throw EncoderError(EncoderFailure::Component, QString(), QStringLiteral("missing"));
    }
  } noModule;
  Seams seams = sys_.seams();
  seams.encoders = &noModule;
  Form1 without(seams);
  without.Command2->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_EQ(sys_.prompter.messages[1].text, kUnavailable);
  EXPECT_EQ(sys_.help.calls.size(), 2u);

  WriteSetting(kSaveFolderSetting, saveFolder_);
  form->Command2->click();
  EXPECT_TRUE(reaches(*form, Phase::Recording)) << "the user can try again";
  form->Command3->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
}

// Closing the window and 終了 at every moment of a recording: the file is completed, and a
// start that was still waiting for the quality does not go on.
TEST_F(Form1Live, ClosingOrEndingAtAnyMomentCompletesTheFileAndStartsNothingMore) {
  MarkStarted();
  storeSettings();
  sys_.audio.startDelayMs = 600;  // time to act in the middle of the start
  QStringList made;
  for (const char* moment : {"starting", "recording", "stopping"}) {
    for (const bool viaMenu : {false, true}) {
      SCOPED_TRACE(std::string(moment) + (viaMenu ? " by 終了" : " by closing"));
      sys_.clock.current = sys_.clock.current.addSecs(60);
      {
        auto form = shownForm();
        form->Command2->click();
        if (std::string(moment) != "starting") {
          ASSERT_TRUE(reaches(*form, Phase::Recording));
        }
        if (std::string(moment) == "stopping") {
          form->Command3->click();
          EXPECT_EQ(form->phase(), Phase::Stopping);
        }
        if (viaMenu) {
          form->MEnd->trigger();
        } else {
          EXPECT_TRUE(form->close());
          EXPECT_FALSE(form->isVisible());
        }
        form->Command2->click();  // a click queued behind the close
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
          form->MEnd->trigger();
        else
          form->close();
      };
      sys_.prompter.onMessage = inTheDialog ? std::function<void()>() : leave;
      sys_.prompter.whileModal = inTheDialog ? [&](QWidget*) { leave(); } : std::function<void(QWidget*)>();
      form->Command2->click();
      EXPECT_EQ(form->phase(), Phase::Idle);
      runFor(300);
      EXPECT_EQ(form->phase(), Phase::Idle) << "no recording began in the closed window";
    }
  }
  sys_.prompter.onMessage = nullptr;
  sys_.prompter.whileModal = nullptr;
  EXPECT_EQ(QDir(saveFolder_).entryList(QDir::Files), before);
}

TEST_F(Form1Live, RecordingThatEndsByItselfIsReportedWithItsFile) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  sys_.encoders.disk->fullAt = 20000;
  form->Command2->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  ASSERT_TRUE(reaches(*form, Phase::Idle, 15000));
  EXPECT_EQ(lookOf(*form), kIdle);
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
  auto form = shownForm();
  form->Command2->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  runFor(600);
  form->Command11->click();  // paused: nothing is written until the stop
  sys_.encoders.disk->fullAt = 0;
  form->Command3->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  EXPECT_EQ(lookOf(*form), kIdle);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.startsWith(
      QStringLiteral("録音の最後を書き込めませんでした。それまでの録音は保存されています。\r\n") + expectedPath()))
      << sys_.prompter.messages[0].text.toStdString();
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
}

TEST_F(Form1Live, LoadMendsTheRecordingThatACrashCutShort) {
  MarkStarted();
  storeSettings();
  {
    auto form = shownForm();
    form->Command2->click();
    ASSERT_TRUE(reaches(*form, Phase::Recording));
    runFor(1200);
    form->Command3->click();
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

  auto form = shownForm();
  EXPECT_EQ(lookOf(*form), kIdle) << "the window is up while the mending goes on";
  ASSERT_TRUE(waitUntil([&] { return form->repairDone(); }));
  EXPECT_DOUBLE_EQ(probe(expectedPath()).duration, whole);
  EXPECT_TRUE(sys_.prompter.messages.empty()) << "nothing to answer";
  ASSERT_EQ(sys_.prompter.notices.size(), 1u);
  const QString told = sys_.prompter.notices[0].text;
  EXPECT_TRUE(told.contains(QStringLiteral("次の録音ファイルを修復しました。\r\n") + expectedPath()))
      << told.toStdString();
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
  SmallDisk disk(saveFolder_, 96);
  if (!disk.mounted())
    sys_.encoders.disk->fullAt = 96 * 1024;  // no mounting here: the same, simulated
  WriteSetting(kSaveFolderSetting, saveFolder_);
  sys_.encoders.disk->free = 96 * 1024;
  auto form = shownForm();
  QElapsedTimer recording;
  recording.start();
  sys_.prompter.answers = {Prompter::Answer::Yes};  // "record anyway": the disk is nearly full
  form->Command2->click();
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
  // 96 KiB hold about four seconds at 24 kB/s.
  EXPECT_GT(kept, 3.0);
  EXPECT_LT(kept, recorded);
  std::printf("full disk (%s): kept %.2f s of %.2f s recorded\n", disk.mounted() ? "tmpfs" : "write limit",
              kept, recorded);
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
  form.Command2->click();
  ASSERT_TRUE(reaches(form, Phase::Recording));
  LevelMeter* meter = form.levelMeter();
  EXPECT_TRUE(meter->isVisible());
  EXPECT_TRUE(form.Label1->rect().contains(meter->geometry())) << "inside the time box";
  EXPECT_EQ(form.centralWidget()->size(), QSize(175, 47)) << "the window keeps its size";
  ASSERT_TRUE(waitUntil([&] { return std::abs(meter->levelDb() - -9.1) < 1.0; }, 3000)) << meter->levelDb();
  EXPECT_FALSE(meter->clipping());
  // The tooltip tells how long the disk lasts.
  ASSERT_TRUE(waitUntil([&] { return form.Label1->toolTip().contains(QStringLiteral("録音できます")); }, 2000));

  // Silence: the warning within six seconds, the recording going on.
  QElapsedTimer silent;
  mic.setAmplitude(0);
  silent.start();
  ASSERT_TRUE(waitUntil([&] { return form.Label1->text() == QStringLiteral("入力なし"); }, 8000));
  const qint64 warnedAfter = silent.elapsed();
  EXPECT_LE(warnedAfter, 6000);
  EXPECT_GE(warnedAfter, 4500) << "not before five seconds of silence";
  EXPECT_DOUBLE_EQ(meter->levelDb(), LevelMeter::kFloorDb);
  EXPECT_TRUE(form.Label1->toolTip().contains(QStringLiteral("録音時の音量を調整"))) << "points to the level button";
  EXPECT_EQ(form.phase(), Phase::Recording);
  EXPECT_TRUE(sys_.prompter.messages.empty()) << "no box to answer";
  ASSERT_TRUE(waitUntil([&] { return form.Label1->text().contains(QLatin1Char(':')); }, 2500))
      << "alternating with the time";

  // A clipping tone: the warning goes within a second, and the meter turns red.
  QElapsedTimer sound;
  mic.setAmplitude(2.0);
  sound.start();
  ASSERT_TRUE(waitUntil([&] { return meter->clipping(); }, 3000));
  const qint64 heardAfter = sound.elapsed();
  EXPECT_TRUE(staysTrue([&] { return form.Label1->text() != QStringLiteral("入力なし"); }, 300));
  EXPECT_LE(heardAfter, 1000);
  EXPECT_GE(meter->levelDb(), LevelMeter::kClipDb);
  EXPECT_FALSE(form.Label1->toolTip().contains(QStringLiteral("入力の音がありません")));

  // Paused, the meter stands still.
  form.Command11->click();
  const double still = meter->levelDb();
  mic.setAmplitude(0.05);
  EXPECT_TRUE(staysTrue([&] { return meter->levelDb() == still; }, 400));
  form.Command3->click();
  ASSERT_TRUE(reaches(form, Phase::Idle));
  EXPECT_FALSE(meter->isVisible());
  std::printf("silence warned after %lld ms; sound noticed after %lld ms\n", (long long)warnedAfter,
              (long long)heardAfter);
}

TEST_F(Form1Live, ALowDiskAsksBeforeRecordingAndTheTimeBoxTellsTheRoomLeft) {
  MarkStarted();
  storeSettings();
  WriteSetting(kQualitySetting, QStringLiteral("最高音質"));  // 192 kb/s: 24.7 kB a second
  sys_.encoders.disk->free = 5'000'000;                       // about 3 minutes
  auto form = shownForm();
  sys_.prompter.answers = {Prompter::Answer::No};
  form->Command2->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("約 3 分しか録音できません")))
      << sys_.prompter.messages[0].text.toStdString();
  EXPECT_EQ(sys_.prompter.messages[0].buttons, Prompter::Buttons::YesNo);
  EXPECT_TRUE(staysTrue([&] { return form->phase() == Phase::Idle; }, 300)) << "No starts nothing";

  sys_.prompter.answers = {Prompter::Answer::Yes};
  form->Command2->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording)) << "Yes records anyway";
  ASSERT_TRUE(waitUntil([&] { return form->Label1->toolTip().contains(QStringLiteral("あと約 3 分")); }, 2000))
      << form->Label1->toolTip().toStdString();
  form->Command3->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));

  sys_.encoders.disk->free = 3600LL * 24700 * 5 / 2;  // two and a half hours
  form->Command2->click();
  EXPECT_EQ(sys_.prompter.messages.size(), 2u) << "room enough: no question";
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  ASSERT_TRUE(waitUntil([&] { return form->Label1->toolTip().contains(QStringLiteral("あと約 2 時間 2")); }, 2000))
      << form->Label1->toolTip().toStdString();
  form->Command3->click();
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
  form.Command2->click();
  const double started = clock.elapsed() / 1000.0;
  runFor(1500);
  const double pulled = clock.elapsed() / 1000.0;
  const bool unloaded = module.unload();
  const bool ended = reaches(form, Phase::Idle);
  const double noticed = clock.elapsed() / 1000.0;
  ASSERT_TRUE(module.restore()) << "later tests need the microphone back";
  ASSERT_TRUE(unloaded);
  ASSERT_TRUE(ended);

  EXPECT_EQ(lookOf(form), kIdle);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  const QString told = sys_.prompter.messages[0].text;
  EXPECT_TRUE(told.contains(expectedPath()));
  EXPECT_TRUE(told.contains(QStringLiteral("が使えなくなりました。"))) << told.toStdString();
  EXPECT_TRUE(told.contains(QStringLiteral("gone"))) << told.toStdString();
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
  // Everything up to the moment the microphone went; after it, at most the silence the
  // sound server gave until the loss was noticed.
  const double kept = probe(expectedPath()).duration;
  EXPECT_GT(kept, pulled - started - 0.2);
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
  WriteSetting(kLastRecordingSetting, sys_.audio.file);
  const std::pair<const char*, std::function<QWidget*(Form1&)>> windows[] = {
      {"settings", [](Form1& f) -> QWidget* { return f.Command1->click(), f.configWindow(); }},
      {"player", [](Form1& f) -> QWidget* { return f.Command4->click(), f.playerWindow(); }},
      {"player of a chosen file", [](Form1& f) -> QWidget* { return f.MFPlay->trigger(), f.player2Window(); }},
      {"About", [](Form1& f) -> QWidget* { return f.MAbout->trigger(), f.aboutWindow(); }},
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
    form->Command1->click();
    form->Command4->click();
    form->MAbout->trigger();
    const ProgramRun run = runProgram({[&] { form->MEnd->trigger(); }});
    EXPECT_TRUE(run.endedByItself) << "終了 waits for no window";
    EXPECT_TRUE(form->configWindow() && form->configWindow()->isVisible());
  }
}

TEST_F(Form1Live, EveryOtherWindowOpensOnceAndCommandsWorkWhileRecording) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  form->Command2->click();
  ASSERT_TRUE(reaches(*form, Phase::Recording));
  form->Command1->click();
  frmConfig* config = form->configWindow();
  form->Command1->click();
  EXPECT_EQ(form->configWindow(), config);
  form->MFPlay->trigger();
  form->MAbout->trigger();
  form->MAbout->trigger();
  int abouts = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) abouts += qobject_cast<frmAbout*>(w) && w->isVisible();
  EXPECT_EQ(abouts, 1);
  EXPECT_TRUE(form->player2Window());
  form->MHelp2->trigger();
  ASSERT_EQ(sys_.help.calls.size(), 1u);
  EXPECT_EQ(sys_.help.calls[0].topic, 0);
  EXPECT_EQ(sys_.help.calls[0].owner, form.get());
  EXPECT_EQ(form->phase(), Phase::Recording);

  config->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(form->configWindow()) << "closing destroys it";
  form->Command3->click();
  ASSERT_TRUE(reaches(*form, Phase::Idle));
  form->Command4->click();
  EXPECT_TRUE(form->playerWindow());
  form->Command8->click();
  form->Command9->click();
  EXPECT_EQ(form->phase(), Phase::Idle) << "grey buttons do nothing";
}

}  // namespace
