#include <gtest/gtest.h>

#include <QAction>

#include <QApplication>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <stdexcept>

#include "player/MediaPlayer.h"
#include "player/frmPlayer.h"
#include "app/FirstStart.h"
#include "app/Form1.h"
#include "settings/modINI.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"
#include "support/Widgets.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// A WMA file of a sine tone, made by ffmpeg rather than by the program itself.
QString makeWma(const QString& folder, const QString& name, int frequency, int seconds) {
  const QString wav = folder + QStringLiteral("/") + name + QStringLiteral(".wav");
  const QString wma = folder + QStringLiteral("/") + name + QStringLiteral(".wma");
  writeToneWav(wav, frequency, seconds, 44100, 2);
  QProcess p;
  p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                                     QStringLiteral("-i"), wav, QStringLiteral("-c:a"), QStringLiteral("wmav2"),
                                     QStringLiteral("-b:a"), QStringLiteral("64k"), wma});
  p.waitForFinished(30000);
  QFile::remove(wav);
  return wma;
}

bool playing(const frmPlayer& window) {
  return window.MediaPlayer1->engine()->playbackState() == QMediaPlayer::PlayingState &&
         window.MediaPlayer1->CurrentPosition() > 0.2;
}

class PlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    tone_ = makeWma(folder_->path(), QStringLiteral("tone"), 440, 6);
    other_ = makeWma(folder_->path(), QStringLiteral("other"), 1000, 6);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(SettingsFilePath());
    ASSERT_TRUE(QFile::exists(tone_)) << "ffmpeg could not make the test file";
  }
  void TearDown() override { QFile::remove(SettingsFilePath()); }

  // The label after one tick that reads this position.
  static QString shown(frmPlayer& window, std::function<double()> position) {
    window.setPositionReaderForTesting(std::move(position));
    window.Timer1_Tick();
    return window.Label1->text();
  }

  static QTemporaryDir* folder_;
  static QString tone_, other_;
  FakeSystem sys_;
};
QTemporaryDir* PlayerTest::folder_ = nullptr;
QString PlayerTest::tone_;
QString PlayerTest::other_;

TEST_F(PlayerTest, PositionTextCutsToWholeSecondsWithTwoDigitsAtLeast) {
  frmPlayer window(sys_.seams());
  window.Timer1->stop();
  const std::pair<double, const char*> cases[] = {
      {0.4, "00:00:00"},     {9, "00:00:09"},       {59.9, "00:00:59"},       {60, "00:01:00"},
      {3599.5, "00:59:59"},  {3600, "01:00:00"},    {3661, "01:01:01"},       {36000, "10:00:00"},
      {360000, "100:00:00"}, {7322.99, "02:02:02"}, {86399, "23:59:59"},
  };
  for (const auto& [seconds, text] : cases)
    EXPECT_EQ(shown(window, [s = seconds] { return s; }), QString::fromLatin1(text)) << seconds;

  EXPECT_EQ(shown(window, [] { return -1.0; }), QStringLiteral("23:59:59")) << "-1 leaves the label";
  EXPECT_EQ(shown(window, []() -> double { throw std::runtime_error("gone"); }), QStringLiteral("00:00:00"))
      << "a failed read counts as 0";
}

TEST_F(PlayerTest, EscLeavesEitherPlayerOpenWhileTheCloseBoxStillCloses) {
  frmPlayer latest(sys_.seams());
  frmPlayer2 chosen(sys_.seams());
  for (frmPlayer* window : {&latest, static_cast<frmPlayer*>(&chosen)}) {
    SCOPED_TRACE(window->objectName().toStdString());
    window->show();
    // Wherever the focus is: the window itself or any of its controls.
    QList<QWidget*> targets{window};
    for (QWidget* child : window->findChildren<QWidget*>())
      if (child->isVisible() && child->focusPolicy() != Qt::NoFocus) targets << child;
    ASSERT_GT(targets.size(), 3);
    for (QWidget* target : targets) {
      QTest::keyClick(target, Qt::Key_Escape);
      EXPECT_TRUE(window->isVisible()) << target->metaObject()->className() << " "
                                       << target->objectName().toStdString();
    }
    window->close();
    EXPECT_FALSE(window->isVisible());
  }
}

// Playing real files against the clock.
class PlayerLive : public PlayerTest {};

TEST_F(PlayerLive, LatestRecordingPlaysAtHalfAmplitude) {
  WriteSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName"), tone_);
  frmPlayer window(sys_.seams());
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Tallowen - 再生"));
  EXPECT_EQ(window.size(), QSize(293, 77));
  EXPECT_EQ(window.MediaPlayer1->geometry(), QRect(8, 8, 281, 41));
  EXPECT_EQ(window.Command1->geometry(), QRect(16, 56, 129, 17));
  EXPECT_EQ(window.Label1->geometry(), QRect(200, 56, 81, 17));
  EXPECT_EQ(window.Timer1->interval(), 200);
  EXPECT_TRUE(window.Timer1->isActive());
  EXPECT_TRUE(sys_.prompter.fileRequests.empty()) << "the latest recording needs no question";

  EXPECT_EQ(window.MediaPlayer1->FileName(), tone_);
  EXPECT_EQ(window.MediaPlayer1->Volume(), -600);
  EXPECT_NEAR(window.MediaPlayer1->output()->volume(), 0.501, 0.002);
  window.show();
  ASSERT_TRUE(waitUntil([&] { return playing(window); }, 10000)) << window.MediaPlayer1->problem().toStdString();
  EXPECT_TRUE(window.MediaPlayer1->problem().isEmpty());
  // The timer shows the position by itself.
  EXPECT_TRUE(waitUntil([&] { return window.Label1->text() == QStringLiteral("00:00:01"); }, 5000));
}

TEST_F(PlayerLive, NothingRecordedYetOpensAnEmptyPlayer) {
  frmPlayer window(sys_.seams());
  int ticks = 0;
  QObject::connect(window.Timer1, &QTimer::timeout, [&] { ++ticks; });
  window.show();
  ASSERT_TRUE(waitUntil([&] { return ticks >= 2; }, 3000)) << "the position timer runs";
  EXPECT_TRUE(window.MediaPlayer1->FileName().isEmpty());
  EXPECT_EQ(window.MediaPlayer1->CurrentPosition(), -1);
  EXPECT_TRUE(window.Label1->text().isEmpty());
  EXPECT_FALSE(window.MediaPlayer1->playButton()->isEnabled());
}

TEST_F(PlayerLive, ChosenFileAsksFirstInTheSaveFolder) {
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), folder_->path());
  sys_.prompter.fileAnswer = other_;
  frmPlayer2 window(sys_.seams());
  ASSERT_EQ(sys_.prompter.fileRequests.size(), 1u);
  EXPECT_FALSE(sys_.prompter.fileRequests[0].owner->isVisible()) << "the question comes before the window";
  EXPECT_EQ(sys_.prompter.fileRequests[0].filter, QStringLiteral("Windows Media Audio (*.wma)"));
  EXPECT_EQ(sys_.prompter.fileRequests[0].folder, folder_->path());
  EXPECT_EQ(window.size(), QSize(295, 78));
  EXPECT_EQ(window.MediaPlayer1->FileName(), other_);
  EXPECT_EQ(window.MediaPlayer1->Volume(), -600);
  window.show();
  EXPECT_TRUE(waitUntil([&] { return playing(window); }, 10000));
}

TEST_F(PlayerLive, CancelledChoicesKeepWhatPlays) {
  // Opening: nothing chosen, the dialog in its own folder, an empty player.
  frmPlayer2 window(sys_.seams());
  ASSERT_EQ(sys_.prompter.fileRequests.size(), 1u);
  EXPECT_TRUE(sys_.prompter.fileRequests[0].folder.isEmpty());
  EXPECT_TRUE(window.MediaPlayer1->FileName().isEmpty());
  window.show();

  sys_.prompter.fileAnswer = tone_;
  window.Command1->click();
  EXPECT_EQ(window.MediaPlayer1->FileName(), tone_);
  ASSERT_TRUE(waitUntil([&] { return playing(window); }, 10000));
  EXPECT_EQ(window.MediaPlayer1->Volume(), -600) << "the volume is left as it was";

  sys_.prompter.fileAnswer.clear();
  window.Command1->click();
  EXPECT_EQ(window.MediaPlayer1->FileName(), tone_);
  const double before = window.MediaPlayer1->CurrentPosition();
  EXPECT_TRUE(waitUntil([&] { return window.MediaPlayer1->CurrentPosition() > before + 0.3; }, 5000))
      << "still playing";

  sys_.prompter.fileAnswer = other_;
  window.Command1->click();
  EXPECT_EQ(window.MediaPlayer1->FileName(), other_);
  EXPECT_TRUE(waitUntil([&] { return playing(window); }, 10000));
}

TEST_F(PlayerLive, FilesThatCannotPlayAreSaidInWords) {
  MediaPlayer player;
  player.show();
  const QString missing = folder_->filePath(QStringLiteral("missing.wma"));
  player.setFileName(missing);
  EXPECT_TRUE(player.problem().contains(missing)) << player.problem().toStdString();
  EXPECT_EQ(player.CurrentPosition(), -1);

  const QString broken = folder_->filePath(QStringLiteral("broken.wma"));
  QFile f(broken);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(20000, 'x'));
  f.close();
  player.setFileName(broken);
  EXPECT_TRUE(waitUntil([&] { return !player.problem().isEmpty(); }, 10000)) << "no word about a broken file";
  EXPECT_TRUE(player.problem().contains(QStringLiteral("broken.wma")));
  EXPECT_EQ(player.CurrentPosition(), -1);

  player.setFileName(tone_);
  EXPECT_TRUE(player.problem().isEmpty()) << "a good file clears the message";
  EXPECT_TRUE(waitUntil([&] { return player.CurrentPosition() > 0.2; }, 10000));
}

TEST_F(PlayerLive, ControlsStopPauseSeekAndMute) {
  MediaPlayer player;
  player.show();
  player.setFileName(tone_);
  ASSERT_TRUE(waitUntil([&] { return player.CurrentPosition() > 0.3; }, 10000));
  EXPECT_FALSE(player.playButton()->isEnabled());

  player.pauseButton()->click();
  ASSERT_TRUE(waitUntil([&] { return player.engine()->playbackState() == QMediaPlayer::PausedState; }, 3000));
  const double paused = player.CurrentPosition();
  EXPECT_TRUE(staysTrue([&] { return std::abs(player.CurrentPosition() - paused) < 0.05; }, 500));

  ASSERT_TRUE(waitUntil([&] { return player.engine()->isSeekable(); }, 3000));
  player.findChild<QToolButton*>(QStringLiteral("forward"))->click();
  EXPECT_TRUE(waitUntil([&] { return player.CurrentPosition() >= paused + 4.5; }, 3000));

  player.stopButton()->click();
  EXPECT_TRUE(waitUntil([&] { return player.CurrentPosition() == 0; }, 3000)) << "stop goes back to the start";

  player.muteButton()->click();
  EXPECT_TRUE(player.output()->isMuted());
  player.muteButton()->click();
  EXPECT_FALSE(player.output()->isMuted());

  player.setVolume(-2000);
  EXPECT_NEAR(player.output()->volume(), 0.1, 0.001);
  player.setVolume(-20000);
  EXPECT_EQ(player.Volume(), -10000);
  EXPECT_EQ(player.output()->volume(), 0.0f);
  player.volumeSlider()->setValue(0);
  EXPECT_EQ(player.Volume(), 0) << "the slider sets the volume";
  EXPECT_NEAR(player.output()->volume(), 1.0, 0.001);
}

TEST_F(PlayerLive, EndOfFileStaysAtTheEnd) {
  MediaPlayer player;
  player.show();
  player.setFileName(tone_);
  ASSERT_TRUE(waitUntil([&] { return player.engine()->isSeekable(); }, 10000));
  player.engine()->setPosition(5000);
  ASSERT_TRUE(waitUntil([&] { return player.engine()->mediaStatus() == QMediaPlayer::EndOfMedia; }, 10000));
  EXPECT_TRUE(staysTrue(
      [&] {
        return player.CurrentPosition() > 5.5 && player.engine()->playbackState() == QMediaPlayer::StoppedState;
      },
      500))
      << "played once, not rewound";
}

TEST_F(PlayerLive, MainWindowOpensEachPlayerOnceAndBothPlayTogether) {
  QFile::remove(FirstStartMarkerPath());
  MarkStarted();
  WriteSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName"), tone_);
  sys_.prompter.fileAnswer = other_;
  auto form = std::make_unique<Form1>(sys_.seams());
  form->load();
  form->show();

  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  frmPlayer* first = openWindow<frmPlayer>("frmPlayer");
  ASSERT_TRUE(first);
  form->findChild<QAction*>(QStringLiteral("MFPlay"))->trigger();
  frmPlayer2* second = openWindow<frmPlayer2>("frmPlayer2");
  ASSERT_TRUE(second);
  EXPECT_TRUE(waitUntil([&] { return playing(*first) && playing(*second); }, 10000));

  // A newer recording does not replace what the open window plays.
  WriteSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName"), other_);
  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  form->findChild<QAction*>(QStringLiteral("MFPlay"))->trigger();
  EXPECT_EQ(openWindow<frmPlayer>("frmPlayer"), first);
  EXPECT_EQ(openWindow<frmPlayer2>("frmPlayer2"), second);
  EXPECT_EQ(first->MediaPlayer1->FileName(), tone_);
  EXPECT_EQ(sys_.prompter.fileRequests.size(), 1u);

  // Closed and opened again: the latest recording now.
  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(openWindow<frmPlayer>("frmPlayer"));
  EXPECT_TRUE(playing(*second)) << "closing one leaves the other playing";
  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  ASSERT_TRUE(openWindow<frmPlayer>("frmPlayer"));
  EXPECT_EQ(openWindow<frmPlayer>("frmPlayer")->MediaPlayer1->FileName(), other_);
  openWindow<frmPlayer>("frmPlayer")->close();
  second->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Real sound: what reaches the test sound server's output carries the file's tone.
TEST_F(PlayerLive, PlaysTheToneIntoTheSoundServer) {
  const QString sink = qEnvironmentVariable("TALLOWEN_TEST_SINK");
  if (sink.isEmpty()) GTEST_SKIP() << "needs the test command's sound server";
  WriteSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName"), tone_);
  frmPlayer window(sys_.seams());
  window.show();
  ASSERT_TRUE(waitUntil([&] { return playing(window); }, 10000));

  const QString captured = folder_->filePath(QStringLiteral("captured.wav"));
  QProcess recorder;
  recorder.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                                            QStringLiteral("-f"), QStringLiteral("pulse"), QStringLiteral("-i"),
                                            sink + QStringLiteral(".monitor"), QStringLiteral("-t"),
                                            QStringLiteral("2"), captured});
  ASSERT_TRUE(recorder.waitForStarted());
  // Meanwhile the label advances by a second a second: it shows the whole seconds played.
  auto shown = [&] {
    return QTime::fromString(window.Label1->text(), QStringLiteral("hh:mm:ss")).msecsSinceStartOfDay() / 1000;
  };
  ASSERT_TRUE(waitUntil([&] { return shown() >= 1; }, 5000));
  QElapsedTimer watch;
  watch.start();
  const int first = shown();
  ASSERT_TRUE(waitUntil([&] { return shown() >= first + 2; }, 5000)) << window.Label1->text().toStdString();
  EXPECT_NEAR(watch.elapsed(), 2000, 1000) << "two seconds of the label in two seconds of time";
  ASSERT_TRUE(waitUntil([&] { return recorder.state() == QProcess::NotRunning; }, 10000));
  const std::vector<float> heard = decodeMono(captured, 16000);
  ASSERT_GT(heard.size(), 16000u);
  EXPECT_NEAR(dominantFrequency(heard, 16000), 440, 10);
}

}  // namespace
