#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "config/frmConfig.h"
#include "help/frmAbout.h"
#include "player/frmPlayer.h"
#include "recording/AsfRepair.h"
#include "recording/FirstStart.h"
#include "recording/Form1.h"
#include "recording/OutputFile.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingName.h"
#include "settings/modINI.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

const QString kUnavailable = QStringLiteral(
    "Windows Media Encoderのインストールがまだ終了していません。しばらくおまちください。\r\n"
    "この現象に関する情報がヘルプにありますのでご覧ください。");

// Which of the paired buttons show, and what the label says: one row of the state table.
struct Look {
  bool c2, c8, c3, c9, c4, c10;
  QString label;
  bool timer;
  bool operator==(const Look&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Look& l) {
  return os << "2:" << l.c2 << " 8:" << l.c8 << " 3:" << l.c3 << " 9:" << l.c9 << " 4:" << l.c4
            << " 10:" << l.c10 << " label:'" << l.label.toStdString() << "' timer:" << l.timer;
}

Look lookOf(const Form1& f) {
  return {f.Command2->isVisible(), f.Command8->isVisible(),  f.Command3->isVisible(), f.Command9->isVisible(),
          f.Command4->isVisible(), f.Command10->isVisible(), f.Label1->text(),        f.Timer1->isActive()};
}

const Look kIdle{true, false, false, true, true, false, QString(), false};
const Look kStarting{false, true, false, true, false, true, QStringLiteral("Starting..."), false};

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    QStandardPaths::setTestModeEnabled(true);
    qputenv("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
    QFile::remove(FirstStartMarkerPath());
    QFile::remove(SettingsFilePath());
    ASSERT_TRUE(dir_.isValid());
    sys_.audio.file = dir_.filePath(QStringLiteral("tone.wav"));
    writeToneWav(sys_.audio.file, 1000, 2, 44100, 2);
    saveFolder_ = dir_.filePath(QStringLiteral("rec"));
    QDir().mkpath(saveFolder_);
  }
  void TearDown() override {
    qunsetenv("XDG_STATE_HOME");
    OutputFile::setWriteLimitForTesting(-1);
    QFile::remove(SettingsFilePath());
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->testAttribute(Qt::WA_DeleteOnClose)) delete w;
  }

  std::unique_ptr<Form1> shownForm() {
    auto form = std::make_unique<Form1>(sys_.seams());
    form->Form_Load();
    form->show();
    return form;
  }
  void storeSettings() {
    WriteSetting(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("FM ラジオ"));
    WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), saveFolder_);
  }
  QString expectedPath(const QString& name = QStringLiteral("2002-04-03_09-05.wma")) const {
    return saveFolder_ + QLatin1Char('/') + name;
  }

  QTemporaryDir dir_;
  QString saveFolder_;
  FakeSystem sys_;
};

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

TEST_F(Form1Test, RecordingWalksThroughTheStateTable) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  Look duringStart{};
  sys_.audio.onAdjust = [&] { duringStart = lookOf(*form); };
  form->Command2->click();
  EXPECT_EQ(duringStart, kStarting);
  EXPECT_EQ(form->phase(), Form1::Phase::Recording);
  EXPECT_EQ(lookOf(*form),
            (Look{false, true, true, false, false, true, QStringLiteral("Starting..."), true}));
  EXPECT_TRUE(form->Command11->isVisible()) << "pause is offered while recording";
  EXPECT_EQ(ReadSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName")), expectedPath());
  EXPECT_TRUE(sys_.prompter.messages.empty());

  sys_.clock.current = sys_.clock.current.addSecs(3);
  ASSERT_TRUE(waitUntil([&] { return form->Label1->text() == QStringLiteral("00:00:03"); }));
  EXPECT_EQ(form->Text1->text(), QString::number(Encoder::Running));
  runFor(1200);

  std::vector<std::pair<Form1::Phase, Look>> seen;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] { seen.emplace_back(form->phase(), lookOf(*form)); });
  sampler.start(0);
  form->Command3->click();
  sampler.stop();
  EXPECT_EQ(lookOf(*form), kIdle);
  EXPECT_EQ(form->phase(), Form1::Phase::Idle);
  bool sawStopping = false;
  for (const auto& [phase, look] : seen)
    if (phase == Form1::Phase::Stopping) {
      // The elapsed time stays until "Stopping..." replaces it.
      EXPECT_EQ(look, (Look{false, true, false, true, false, true, look.label, false}));
      EXPECT_TRUE(look.label == QStringLiteral("00:00:03") || look.label == QStringLiteral("Stopping..."));
      sawStopping |= look.label == QStringLiteral("Stopping...");
    }
  EXPECT_TRUE(sawStopping);

  const Probe probed = probe(expectedPath());
  EXPECT_EQ(probed.codecName, QStringLiteral("wmav2"));
  EXPECT_EQ(probed.sampleRate, 44100);
  EXPECT_EQ(probed.title, QStringLiteral("2002-04-03_09-05.wma"));
  EXPECT_EQ(probed.author, QStringLiteral("Tallowen"));
  EXPECT_GT(probed.duration, 1.0);

  // Same minute again: a new name, the first recording stays.
  form->Command2->click();
  EXPECT_EQ(ReadSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName")),
            expectedPath(QStringLiteral("2002-04-03_09-05(2).wma")));
  form->Command3->click();
  EXPECT_TRUE(probe(expectedPath()).ok);
  EXPECT_TRUE(probe(expectedPath(QStringLiteral("2002-04-03_09-05(2).wma"))).ok);
}

TEST_F(Form1Test, FirstUseAsksForSettingsOnEveryStartUntilAProfileIsStored) {
  MarkStarted();
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), saveFolder_);
  auto form = shownForm();
  form->Command2->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_EQ(
      sys_.prompter.messages[0].text,
      QStringLiteral("録音を始める前に、音質の設定を行います。OKを押したあと録音品質を選択してください。"));
  EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Information);
  ASSERT_EQ(sys_.prompter.modalWindows.size(), 1u);
  EXPECT_TRUE(qobject_cast<frmConfig*>(sys_.prompter.modalWindows[0]));
  EXPECT_EQ(form->phase(), Form1::Phase::Recording) << "the start goes on after the dialog";
  form->Command3->click();

  // The dialog open modeless: the start waits on that same dialog.
  form->Command1->click();
  frmConfig* open = form->configWindow();
  ASSERT_TRUE(open);
  sys_.prompter.whileModal = [](QWidget*) {
    WriteSetting(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("CD 品質"));
  };
  form->Command2->click();
  ASSERT_EQ(sys_.prompter.modalWindows.size(), 2u);
  EXPECT_EQ(sys_.prompter.modalWindows[1], open);
  EXPECT_TRUE(sys_.prompter.wasVisible[1]);
  form->Command3->click();
  EXPECT_NEAR(probe(ReadSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName"))).bitRate, 128000,
              12800)
      << "the profile chosen in the dialog is used at once";

  form->Command2->click();
  EXPECT_EQ(sys_.prompter.modalWindows.size(), 2u) << "no question once a profile is stored";
  form->Command3->click();
}

TEST_F(Form1Test, FailedStartWarnsOpensHelpTopicOneAndAllowsAnotherTry) {
  MarkStarted();
  storeSettings();
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), dir_.filePath(QStringLiteral("missing")));
  auto form = shownForm();
  form->Command2->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_EQ(sys_.prompter.messages[0].text, kUnavailable);
  EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Exclamation);
  EXPECT_EQ(sys_.prompter.messages[0].buttons, Prompter::Buttons::Ok);
  EXPECT_EQ(sys_.prompter.messages[0].owner, form.get());
  ASSERT_EQ(sys_.help.calls.size(), 1u);
  EXPECT_EQ(sys_.help.calls[0].owner, form.get());
  EXPECT_EQ(sys_.help.calls[0].file,
            QCoreApplication::applicationDirPath() + QStringLiteral("/TallowenHelp.chm"));
  EXPECT_EQ(sys_.help.calls[0].topic, 1);
  EXPECT_EQ(lookOf(*form), kIdle);
  EXPECT_EQ(ReadSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName")),
            dir_.filePath(QStringLiteral("missing/2002-04-03_09-05.wma")))
      << "written before the start";

  sys_.encoders.failure = QStringLiteral("no encoder");  // failing to create one counts the same
  form->Command2->click();
  ASSERT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_EQ(sys_.prompter.messages[1].text, kUnavailable);
  EXPECT_EQ(sys_.help.calls.size(), 2u);
  EXPECT_EQ(lookOf(*form), kIdle);

  sys_.encoders.failure.clear();
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), saveFolder_);
  form->Command2->click();
  EXPECT_EQ(form->phase(), Form1::Phase::Recording) << "the user can try again";
  form->Command3->click();
}

TEST_F(Form1Test, PauseBlinksAndTheElapsedTimeLeavesItOut) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  form->Command2->click();
  runFor(1000);
  sys_.clock.current = sys_.clock.current.addSecs(2);
  QTest::keyClick(form.get(), Qt::Key_Escape);  // the pause button is the cancel button
  EXPECT_EQ(form->phase(), Form1::Phase::Paused);
  EXPECT_TRUE(form->Paused);
  EXPECT_TRUE(form->Command12->isVisible());
  EXPECT_FALSE(form->Command11->isVisible());
  EXPECT_TRUE(form->Command3->isVisible()) << "stop works while paused";
  EXPECT_TRUE(form->Timer2->isActive());
  const bool before = form->Command2->isVisible();
  ASSERT_TRUE(waitUntil([&] { return form->Command2->isVisible() != before; }, 2000))
      << "the record button blinks";
  EXPECT_NE(form->Command2->isVisible(), form->Command8->isVisible());
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_EQ(form->phase(), Form1::Phase::Paused) << "Esc does nothing while the pause button is hidden";

  sys_.clock.current = sys_.clock.current.addSecs(60);
  runFor(1000);
  ASSERT_TRUE(waitUntil([&] { return form->Command2->isVisible(); }, 2000));
  form->Command2->click();
  EXPECT_EQ(form->phase(), Form1::Phase::Recording);
  EXPECT_FALSE(form->Paused);
  EXPECT_FALSE(form->Timer2->isActive());
  EXPECT_TRUE(form->Command11->isVisible());
  EXPECT_FALSE(form->Command12->isVisible());
  EXPECT_FALSE(form->Command2->isVisible());
  sys_.clock.current = sys_.clock.current.addSecs(1);
  form->ShowElapsedTime();
  EXPECT_EQ(form->Label1->text(), QStringLiteral("00:00:03"));
  runFor(1000);
  form->Command3->click();
  EXPECT_NEAR(probe(expectedPath()).duration, 2.0, 0.3) << "the paused second is not in the file";
}

TEST_F(Form1Test, RecordingThatEndsByItselfIsReportedWithItsFile) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  OutputFile::setWriteLimitForTesting(20000);
  form->Command2->click();
  ASSERT_TRUE(waitUntil([&] { return form->phase() == Form1::Phase::Idle; }, 15000));
  EXPECT_EQ(lookOf(*form), kIdle);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(expectedPath()));
  EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Exclamation);
  OutputFile::setWriteLimitForTesting(-1);
  EXPECT_GT(decodeMono(expectedPath(), 16000).size(), 0u) << "what was written still plays";
}

TEST_F(Form1Test, StopThatCannotCompleteTheFileSaysSoAndReturnsToIdle) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  form->Command2->click();
  runFor(600);
  form->Command11->click();  // paused: nothing is written until the stop
  OutputFile::setWriteLimitForTesting(0);
  form->Command3->click();
  EXPECT_EQ(lookOf(*form), kIdle);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.startsWith(
      QStringLiteral("録音ファイルを正しく閉じられませんでした。")));
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(expectedPath()));
}

TEST_F(Form1Test, LoadMendsTheRecordingThatACrashCutShort) {
  MarkStarted();
  storeSettings();
  {
    auto form = shownForm();
    form->Command2->click();
    runFor(1200);
    form->Command3->click();
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

  auto form = shownForm();
  EXPECT_DOUBLE_EQ(probe(expectedPath()).duration, whole);
  EXPECT_EQ(lookOf(*form), kIdle);
  EXPECT_TRUE(sys_.prompter.messages.empty());
  EXPECT_TRUE(RepairInterruptedRecordings().isEmpty()) << "the journal was cleared";
}

TEST_F(Form1Test, FullDiskEndsTheRecordingKeepsWhatWasWrittenAndSaysSo) {
  MarkStarted();
  storeSettings();
  WriteSetting(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("最高音質"));  // 192 kb/s
  saveFolder_ = dir_.filePath(QStringLiteral("small"));
  SmallDisk disk(saveFolder_, 96);
  if (!disk.mounted())
    OutputFile::setWriteLimitForTesting(96 * 1024);  // no mounting here: the same, simulated
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), saveFolder_);
  auto form = shownForm();
  QElapsedTimer recording;
  recording.start();
  form->Command2->click();
  ASSERT_TRUE(waitUntil([&] { return form->phase() == Form1::Phase::Idle; }, 20000));
  const double recorded = recording.elapsed() / 1000.0;
  OutputFile::setWriteLimitForTesting(-1);

  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  const QString told = sys_.prompter.messages[0].text;
  EXPECT_TRUE(told.startsWith(QStringLiteral("録音が止まりました。ここまでの録音は保存されています。")));
  EXPECT_TRUE(told.contains(expectedPath()));
  EXPECT_TRUE(told.contains(QStringLiteral("space"), Qt::CaseInsensitive)) << told.toStdString();
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound) << "completed at once";
  const double kept = probe(expectedPath()).duration;
  EXPECT_NEAR(double(decodeMono(expectedPath(), 16000).size()) / 16000, kept, 0.1);
  // 96 KiB hold about four seconds at 24 kB/s.
  EXPECT_GT(kept, 3.0);
  EXPECT_LT(kept, recorded);
  std::printf("full disk (%s): kept %.2f s of %.2f s recorded\n", disk.mounted() ? "tmpfs" : "write limit",
              kept, recorded);
}

// The default input itself, which the test sound server feeds from a pipe.
class DefaultInput : public AudioInputChoice {
 public:
  void adjust(Source&) override {}
};

TEST_F(Form1Test, LostMicrophoneEndsTheRecordingKeepsWhatWasWrittenAndSaysSo) {
  MicrophoneModule mic;
  if (!mic.find()) GTEST_SKIP() << "no test sound server (run through the test command)";
  MarkStarted();
  storeSettings();
  DefaultInput device;
  Seams seams = sys_.seams();
  seams.audioInput = &device;
  Form1 form(seams);
  form.Form_Load();
  form.show();
  form.Command2->click();
  QProcess feeder;
  startFeeding(feeder, qEnvironmentVariable("TALLOWEN_TEST_MIC_FIFO"), sys_.audio.file);
  QElapsedTimer recording;
  recording.start();
  runFor(1500);
  const bool unloaded = mic.unload();
  const double recorded = recording.elapsed() / 1000.0;
  const bool ended = waitUntil([&] { return form.phase() == Form1::Phase::Idle; }, 10000);
  feeder.kill();
  feeder.waitForFinished();
  ASSERT_TRUE(mic.restore()) << "later tests need the microphone back";
  ASSERT_TRUE(unloaded);
  ASSERT_TRUE(ended);

  EXPECT_EQ(lookOf(form), kIdle);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  const QString told = sys_.prompter.messages[0].text;
  EXPECT_TRUE(told.contains(expectedPath()));
  EXPECT_TRUE(told.contains(QStringLiteral("gone"))) << told.toStdString();
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
  const double kept = probe(expectedPath()).duration;
  EXPECT_NEAR(kept, recorded, 0.5);
  EXPECT_NEAR(dominantFrequency(decodeMono(expectedPath(), 16000), 16000), 1000, 10);
  std::printf("lost microphone: kept %.2f s of %.2f s recorded\n", kept, recorded);
}

TEST_F(Form1Test, ClosingStopsTheRecordingEvenInTheMiddleOfTheStart) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  QTimer::singleShot(0, form.get(), &QWidget::close);  // arrives while the start lets events run
  form->Command2->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->phase(), Form1::Phase::Idle);
  EXPECT_TRUE(sys_.prompter.messages.empty()) << "closing asks nothing";
  EXPECT_EQ(probe(expectedPath()).formatName, QStringLiteral("asf")) << "the file was completed";

  auto idle = shownForm();
  EXPECT_TRUE(idle->close());
  EXPECT_TRUE(sys_.prompter.messages.empty());
}

TEST_F(Form1Test, EndCompletesTheRecordingFirst) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  form->Command2->click();
  runFor(800);
  form->MEnd->trigger();
  EXPECT_GT(probe(expectedPath()).duration, 0.5);
}

TEST_F(Form1Test, EveryOtherWindowOpensOnceAndCommandsWorkWhileRecording) {
  MarkStarted();
  storeSettings();
  auto form = shownForm();
  form->Command2->click();
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
  EXPECT_EQ(form->phase(), Form1::Phase::Recording);

  config->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(form->configWindow()) << "closing destroys it";
  form->Command3->click();
  form->Command4->click();
  EXPECT_TRUE(form->playerWindow());
  form->Command8->click();
  form->Command9->click();
  EXPECT_EQ(form->phase(), Form1::Phase::Idle) << "grey buttons do nothing";
}

}  // namespace
