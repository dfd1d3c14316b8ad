#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>
#include <QDir>
#include <QGuiApplication>
#include <QUrl>
#include <QMimeData>
#include <QClipboard>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <condition_variable>
#include <cmath>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "app/FirstStart.h"
#include "app/Form1.h"
#include "player/MediaPlayer.h"
#include "player/PositionText.h"
#include "player/RecordingList.h"
#include "player/SeekBar.h"
#include "player/frmPlayer.h"
#include "player/frmRecordings.h"
#include "recording/AsfFormat.h"
#include "recording/AsfReader.h"
#include "settings/modINI.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"
#include "support/Widgets.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;
using PlayState = MediaPlayer::PlayState;

namespace {


QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A copy of the ASF file `source` at `copy`, its header changed by `edit`, which gets the
// File Properties Object and the first stream's WAVEFORMATEX.
QString withHeader(const QString& source, const QString& copy, const std::function<void(uint8_t*, uint8_t*)>& edit) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = in.readAll();
  auto find = [&](const asf::Guid& g) {
    return bytes.indexOf(QByteArray(reinterpret_cast<const char*>(g.data()), qsizetype(g.size())));
  };
  const qsizetype file = find(asf::kFileProperties), stream = find(asf::kStreamProperties);
  EXPECT_GT(file, 0);
  EXPECT_GT(stream, 0);
  if (file <= 0 || stream <= 0) return {};
  auto* b = reinterpret_cast<uint8_t*>(bytes.data());
  edit(b + file, b + stream + asf::kSpTypeData);
  QFile out(copy);
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) return {};
  return copy;
}

// The play and send durations of a File Properties Object, for `hours` of sound.
void claimHours(uint8_t* fileProperties, qint64 hours) {
  const uint64_t duration = uint64_t(hours * 3600 * 1000 + asf::le(fileProperties + asf::kFpPreroll, 8)) * 10000;
  asf::putLe(fileProperties + asf::kFpPlayDuration, duration, 8);
  asf::putLe(fileProperties + asf::kFpSendDuration, duration, 8);
}

template <typename T = QWidget>
T* child(const QWidget& window, const char* name) {
  T* found = window.findChild<T*>(QString::fromLatin1(name));
  EXPECT_TRUE(found) << name;
  return found;
}

MediaPlayer* control(const QWidget& window) { return child<MediaPlayer>(window, "MediaPlayer1"); }

bool playing(const MediaPlayer* player) {
  return player->playState() == PlayState::Playing && player->CurrentPosition() > 0.2;
}

bool reaches(const MediaPlayer* player, double seconds) {
  return waitUntil([&] { return std::abs(player->CurrentPosition() - seconds) < 0.15; }, 5000);
}

// A key as the user presses it, to whatever has the focus in the window.
void press(QWidget& window, Qt::Key key) {
  QWidget* target = window.focusWidget() ? window.focusWidget() : &window;
  QTest::keyClick(target, key);
}

void activate(QWidget& window) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

bool japanese(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x3000; });
}

// What the test sound server's sink plays, heard at its monitor as mono floats.
class SinkMonitor {
 public:
  static constexpr int kRate = 48000;
  explicit SinkMonitor(const QString& sink) {
    parec_.start(QStringLiteral("parec"),
                 {QStringLiteral("-d"), sink + QStringLiteral(".monitor"), QStringLiteral("--raw"),
                  QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"), QStringLiteral("--channels=1"),
                  QStringLiteral("--latency-msec=20")});
  }
  ~SinkMonitor() {
    parec_.kill();
    parec_.waitForFinished(3000);
  }
  bool started() { return parec_.waitForStarted(5000); }
  // Forgets what was heard so far.
  void restart() {
    read();
    samples_.clear();
  }
  // Runs the event loop until `seconds` more sound has been heard.
  bool hear(double seconds) {
    const size_t wanted = samples_.size() + size_t(seconds * kRate);
    return waitUntil(
        [&] {
          read();
          return samples_.size() >= wanted;
        },
        int(seconds * 1000) + 5000);
  }
  // What was heard after the first `skipSeconds`, which may still hold older sound.
  std::vector<float> after(double skipSeconds) const {
    const size_t skip = std::min(samples_.size(), size_t(skipSeconds * kRate));
    return {samples_.begin() + long(skip), samples_.end()};
  }

 private:
  void read() {
    pending_ += parec_.readAllStandardOutput();
    const qsizetype count = pending_.size() / qsizetype(sizeof(float));
    const auto* values = reinterpret_cast<const float*>(pending_.constData());
    samples_.insert(samples_.end(), values, values + count);
    pending_.remove(0, count * qsizetype(sizeof(float)));
  }
  QProcess parec_;
  QByteArray pending_;
  std::vector<float> samples_;
};

// The pitch from the rising zero crossings (counted only after the wave has gone clearly
// below zero): the mean of the periods near their median, so that a gap in what the sound
// server delivered under load does not count as a slower tone.
double zeroCrossingHz(const std::vector<float>& s, int rate) {
  std::vector<double> periods;
  double last = -1;
  bool armed = false;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] < -0.02f) armed = true;
    if (armed && s[i - 1] < 0 && s[i] >= 0) {
      const double at = double(i - 1) + s[i - 1] / (s[i - 1] - s[i]);
      if (last >= 0) periods.push_back(at - last);
      last = at;
      armed = false;
    }
  }
  if (periods.size() < 10) return 0;
  std::vector<double> sorted = periods;
  std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
  const double median = sorted[sorted.size() / 2];
  double sum = 0;
  int used = 0;
  for (const double period : periods) {
    if (std::abs(period - median) > median * 0.1) continue;
    sum += period;
    ++used;
  }
  return rate * used / sum;
}

double rms(const std::vector<float>& s) {
  double sum = 0;
  for (const float v : s) sum += double(v) * v;
  return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

TEST(PositionText, CutsToWholeSecondsWithTwoDigitsAtLeast) {
  const std::pair<double, const char*> cases[] = {
      {0.4, "00:00:00"},     {9, "00:00:09"},       {59.9, "00:00:59"},       {60, "00:01:00"},
      {3599.5, "00:59:59"},  {3600, "01:00:00"},    {3661, "01:01:01"},       {36000, "10:00:00"},
      {360000, "100:00:00"}, {7322.99, "02:02:02"}, {86399, "23:59:59"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(PositionText(seconds), QString::fromLatin1(text)) << seconds;
}

// A header may claim any length: what is shown stays as wide as three digits of hours
// allow, and says that it is more.
TEST(PositionText, TimesBeyondThreeDigitsOfHoursOrBeforeTheStartAreBounded) {
  const std::pair<double, const char*> cases[] = {
      {999 * 3600.0 + 3599.9, "999:59:59"},
      {1000 * 3600.0, "999時間超"},
      {32768 * 3600.0, "999時間超"},
      {40000 * 3600.0, "999時間超"},
      {1.8e15, "999時間超"},
      {std::numeric_limits<double>::infinity(), "999時間超"},
      {-1, "00:00:00"},
      {-1e18, "00:00:00"},
      {std::numeric_limits<double>::quiet_NaN(), "00:00:00"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(PositionText(seconds), QString::fromUtf8(text)) << seconds;
  EXPECT_EQ(SplitPlayPos(40000.0 * 3600).PosHours, 32767) << "the largest count, not a wrapped one";
}

class PlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    tone_ = makeWma(folder_->path(), QStringLiteral("tone"), 440, 6);
    other_ = makeWma(folder_->path(), QStringLiteral("other"), 1000, 6, {1500, 4000});
    long_ = makeWma(folder_->path(), QStringLiteral("long"), 660, 30);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(SettingsFilePath());
    ASSERT_TRUE(QFile::exists(long_)) << "ffmpeg could not make the test files";
  }
  void TearDown() override { QFile::remove(SettingsFilePath()); }

  std::unique_ptr<Form1> mainWindow() {
    QFile::remove(FirstStartMarkerPath());
    MarkStarted();
    auto form = std::make_unique<Form1>(sys_.seams(), sys_.settings);
    form->load();
    form->show();
    return form;
  }

  static QTemporaryDir* folder_;
  static QString tone_, other_, long_;
  FakeSystem sys_;
};
QTemporaryDir* PlayerTest::folder_ = nullptr;
QString PlayerTest::tone_;
QString PlayerTest::other_;
QString PlayerTest::long_;

// What a downloaded file's header claims reaches the list bounded: a length of 40,000
// hours, a start in the year 60095, a bit rate beyond 31 bits.
TEST_F(PlayerTest, TheListShowsWhatAnImpossibleHeaderClaimsWithinBounds) {
  QTemporaryDir folder;
  withHeader(tone_, folder.filePath(QStringLiteral("forever.wma")), [](uint8_t* file, uint8_t* format) {
    claimHours(file, 40000);
    asf::putLe(file + asf::kFpCreationDate, ~uint64_t(0), 8);
    asf::putLe(format + 8, 0xffffffff, 4);  // bytes a second
  });
  const std::optional<AsfInfo> info = ReadAsfInfo(folder.filePath(QStringLiteral("forever.wma")));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->durationMs, 40000LL * 3600 * 1000);
  EXPECT_FALSE(info->created.isValid()) << info->created.toString().toStdString();
  EXPECT_EQ(info->bitRate, std::numeric_limits<int>::max());

  WriteSetting(kSaveFolderSetting, folder.path());
  frmRecordings window(sys_.seams(), sys_.settings, [] { return LiveRecording{}; });
  window.show();
  const RecordingList& list = window.list();
  ASSERT_TRUE(waitUntil([&] { return list.complete(); }, 5000));
  ASSERT_EQ(list.rowCount(), 1);
  const QString length = list.index(0, RecordingList::Length).data().toString();
  EXPECT_EQ(length, QStringLiteral("999時間超"));
  // Whole in its column, not cut short with "…".
  auto* view = find<QTreeView>(&window, "recordingList");
  const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
  EXPECT_LE(view->fontMetrics().horizontalAdvance(length), view->visualRect(list.index(0, RecordingList::Length)).width() - 2 * margin);
  // No date in the header: the file's own.
  EXPECT_EQ(list.index(0, RecordingList::Recorded).data().toString(),
            QFileInfo(folder.filePath(QStringLiteral("forever.wma"))).lastModified().toString(QStringLiteral("yyyy/MM/dd HH:mm")));
}

TEST_F(PlayerTest, EscLeavesEitherPlayerOpenWhileTheCloseBoxStillCloses) {
  frmPlayer latest(sys_.seams(), sys_.settings);
  frmPlayer2 chosen(sys_.seams(), sys_.settings);
  for (frmPlayer* window : {&latest, static_cast<frmPlayer*>(&chosen)}) {
    SCOPED_TRACE(window->objectName().toStdString());
    window->show();
    // Wherever the focus is: the window itself or any of its controls.
    QList<QWidget*> targets{window};
    for (QWidget* c : window->findChildren<QWidget*>())
      if (c->isVisible() && c->focusPolicy() != Qt::NoFocus) targets << c;
    ASSERT_GT(targets.size(), 3);
    for (QWidget* target : targets) {
      QTest::keyClick(target, Qt::Key_Escape);
      EXPECT_TRUE(window->isVisible()) << target->objectName().toStdString();
    }
    window->close();
    EXPECT_FALSE(window->isVisible());
  }
}

TEST_F(PlayerTest, ThePlayButtonSaysThereIsNothingToPlayBeforeTheFirstRecording) {
  auto form = mainWindow();
  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  EXPECT_FALSE(openWindow<frmPlayer>("frmPlayer")) << "no empty grey player";
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_EQ(sys_.prompter.messages[0].owner, form.get());
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("録音がまだありません")))
      << sys_.prompter.messages[0].text.toStdString();
  EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Information);
  EXPECT_EQ(sys_.prompter.messages[0].buttons, Prompter::Buttons::Ok);

  // A recording that has gone since is the player's to say.
  WriteSetting(kLastRecordingSetting, folder_->filePath(QStringLiteral("gone.wma")));
  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  ASSERT_TRUE(openWindow<frmPlayer>("frmPlayer"));
  EXPECT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(control(*openWindow<frmPlayer>("frmPlayer"))->problem().startsWith(QStringLiteral("ファイルが見つかりません")));
  openWindow<frmPlayer>("frmPlayer")->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(PlayerTest, FoldersAndPipesAreNotFilesAndNothingWaitsOnAPipe) {
  const QString pipe = folder_->filePath(QStringLiteral("pipe.wma"));
  ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  // Whatever opened the pipe to read would wait for a writer for ever: this one comes
  // after three seconds, and the test then knows.
  std::mutex mutex;
  std::condition_variable loaded;
  bool done = false, rescued = false;
  std::thread rescuer([&] {
    std::unique_lock lock(mutex);
    if (loaded.wait_for(lock, std::chrono::seconds(3), [&] { return done; })) return;
    const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
    rescued = fd >= 0;
    if (fd >= 0) ::close(fd);
  });
  QElapsedTimer clock;
  clock.start();
  WriteSetting(kLastRecordingSetting, pipe);
  frmPlayer latest(sys_.seams(), sys_.settings);
  sys_.prompter.fileAnswer = folder_->path();
  frmPlayer2 chosen(sys_.seams(), sys_.settings);
  const qint64 took = clock.elapsed();
  {
    const std::lock_guard lock(mutex);
    done = true;
  }
  loaded.notify_one();
  rescuer.join();
  EXPECT_FALSE(rescued) << "the window waited on the pipe";
  EXPECT_LT(took, 1000);

  EXPECT_EQ(control(latest)->problem(), QStringLiteral("ファイルではありません: ") + pipe);
  EXPECT_EQ(control(chosen)->problem(), QStringLiteral("ファイルではありません: ") + folder_->path());
  runFor(300);
  for (frmPlayer* window : {&latest, static_cast<frmPlayer*>(&chosen)}) {
    EXPECT_EQ(control(*window)->CurrentPosition(), -1);
    EXPECT_FALSE(child(*window, "play")->isEnabled());
    EXPECT_TRUE(child<QLabel>(*window, "Label1")->text().isEmpty());
  }
  const int reader = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
  EXPECT_LT(reader, 0) << "something holds the pipe open to read";
  if (reader >= 0) ::close(reader);
}

TEST_F(PlayerTest, VolumeAndMuteAreKeptBetweenOpenings) {
  WriteSetting(kLastRecordingSetting, folder_->filePath(QStringLiteral("gone.wma")));
  {
    frmPlayer first(sys_.seams(), sys_.settings);
    EXPECT_EQ(control(first)->Volume(), -600) << "nothing stored yet";
    EXPECT_FALSE(control(first)->Mute());
    EXPECT_TRUE(ReadSetting(kPlayerVolumeSetting).isEmpty()) << "loading stores nothing";
    activate(first);
    auto* volume = child<QSlider>(first, "volume");
    volume->setFocus();
    // The arrows move the slider that has the focus, not the position.
    press(first, Qt::Key_Right);
    press(first, Qt::Key_Right);
    EXPECT_EQ(control(first)->Volume(), -400);
    child<QToolButton>(first, "mute")->click();
    EXPECT_TRUE(control(first)->Mute());
  }
  EXPECT_EQ(ReadSetting(kPlayerVolumeSetting), QStringLiteral("-400"));
  EXPECT_EQ(ReadSetting(kPlayerMutedSetting), QStringLiteral("1"));
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), folder_->filePath(QStringLiteral("gone.wma")));

  frmPlayer2 second(sys_.seams(), sys_.settings);
  EXPECT_EQ(control(second)->Volume(), -400);
  EXPECT_TRUE(control(second)->Mute());
  EXPECT_TRUE(child<QToolButton>(second, "mute")->isChecked());
  EXPECT_EQ(child<QSlider>(second, "volume")->value(), -400);

  // Full volume is a choice too, not "nothing stored".
  WriteSetting(kPlayerVolumeSetting, QStringLiteral("0"));
  WriteSetting(kPlayerMutedSetting, QStringLiteral("0"));
  frmPlayer full(sys_.seams(), sys_.settings);
  EXPECT_EQ(control(full)->Volume(), 0);
  EXPECT_FALSE(control(full)->Mute());

  // A value from elsewhere that is no number: the first volume, and a warning in the log,
  // which is shown without asking.
  WriteSetting(kPlayerVolumeSetting, QStringLiteral("loud"));
  static QStringList logged;
  logged.clear();
  const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& where, const QString& text) {
    if (type == QtWarningMsg && QLatin1String(where.category) == QLatin1String("tallowen.settings")) logged << text;
  });
  frmPlayer odd(sys_.seams(), sys_.settings);
  qInstallMessageHandler(previous);
  EXPECT_EQ(control(odd)->Volume(), -600);
  EXPECT_TRUE(logged.join(QLatin1Char('\n')).contains(QStringLiteral("loud"))) << logged.join(QLatin1Char('\n')).toStdString();
}

TEST_F(PlayerTest, EveryControlHasAJapaneseNameAndTheWindowOpensOnTheScreen) {
  frmPlayer window(sys_.seams(), sys_.settings);
  window.move(5000, 5000);
  window.show();
  EXPECT_TRUE(window.screen()->availableGeometry().contains(window.frameGeometry()))
      << window.frameGeometry().x() << "," << window.frameGeometry().y();

  QStringList named;
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window) || (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QAbstractSlider*>(w) &&
                                     !qobject_cast<QLabel*>(w)))
      continue;
    named << w->objectName();
    EXPECT_TRUE(japanese(w->accessibleName())) << w->objectName().toStdString();
    if (!w->toolTip().isEmpty() && w->toolTip() != w->accessibleName()) {
      EXPECT_FALSE(w->accessibleDescription().isEmpty()) << w->objectName().toStdString() << " says more in its tooltip";
    }
  }
  named.sort();
  EXPECT_EQ(named.join(QLatin1Char(' ')),
            QStringLiteral("Command1 Label1 back end forward length mute play seekBar speed start stop volume"));

  // The volume in words and as a value an assistive tool may set.
  QAccessibleInterface* volume = QAccessible::queryAccessibleInterface(child(window, "volume"));
  ASSERT_TRUE(volume && volume->valueInterface());
  EXPECT_EQ(volume->text(QAccessible::Name), QStringLiteral("音量"));
  EXPECT_EQ(volume->text(QAccessible::Value), QStringLiteral("50 %"));
  ASSERT_TRUE(volume->textInterface());
  EXPECT_EQ(volume->textInterface()->text(0, -1), QStringLiteral("50 %"));
  // The number a tool reads and sets is the percent it hears, never hundredths of a decibel.
  EXPECT_EQ(volume->valueInterface()->currentValue().toDouble(), 50);
  EXPECT_EQ(volume->valueInterface()->minimumValue().toDouble(), 0);
  EXPECT_EQ(volume->valueInterface()->maximumValue().toDouble(), 100);
  volume->valueInterface()->setCurrentValue(25);
  EXPECT_EQ(volume->text(QAccessible::Value), QStringLiteral("25 %"));
  EXPECT_EQ(control(window)->Volume(), -1204);
  volume->valueInterface()->setCurrentValue(0);
  EXPECT_EQ(volume->text(QAccessible::Value), QStringLiteral("無音"));
  volume->valueInterface()->setCurrentValue(100);
  EXPECT_EQ(control(window)->Volume(), 0);
  EXPECT_EQ(ReadSetting(kPlayerVolumeSetting), QStringLiteral("0"));
}

// Playing real files against the clock.
class PlayerLive : public PlayerTest {};

TEST_F(PlayerLive, TheLatestRecordingPlaysWithItsNameAndLengthAndTakesTheFocus) {
  WriteSetting(kLastRecordingSetting, tone_);
  auto form = mainWindow();
  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  frmPlayer* window = openWindow<frmPlayer>("frmPlayer");
  ASSERT_TRUE(window);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Tallowen - 再生"));
  EXPECT_EQ(window->size(), QSize(293, 77));
  EXPECT_EQ(control(*window)->geometry(), QRect(8, 8, 281, 41));
  EXPECT_EQ(child(*window, "Command1")->geometry(), QRect(16, 56, 129, 17));
  EXPECT_EQ(child(*window, "Label1")->geometry(), QRect(200, 56, 81, 17));
  EXPECT_EQ(child<QTimer>(*window, "Timer1")->interval(), 200);
  EXPECT_TRUE(sys_.prompter.fileRequests.empty()) << "the latest recording needs no question";
  EXPECT_EQ(control(*window)->FileName(), tone_);
  EXPECT_EQ(control(*window)->Volume(), -600);

  ASSERT_TRUE(waitUntil([&] { return playing(control(*window)); }, 10000)) << control(*window)->problem().toStdString();
  EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == child(*window, "play"); }, 3000))
      << "focus on " << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "none");
  EXPECT_TRUE(window->isActiveWindow());
  // The window keeps its title and size: the file it plays is named in the position box.
  const QString playing = QStringLiteral("再生中のファイル: ") + QDir::toNativeSeparators(tone_);
  EXPECT_EQ(child<QLabel>(*window, "Label1")->toolTip(), playing);
  EXPECT_EQ(child<QLabel>(*window, "Label1")->accessibleDescription(), playing);
  auto* length = child<QLabel>(*window, "length");
  EXPECT_EQ(length->text(), QStringLiteral("00:00:06"));
  EXPECT_LE(length->fontMetrics().horizontalAdvance(length->text()), length->contentsRect().width());
  // The timer shows the position by itself, and the seek bar says it in words.
  EXPECT_TRUE(waitUntil([&] { return child<QLabel>(*window, "Label1")->text() == QStringLiteral("00:00:01"); }, 5000));
  // The tone's loudness behind the groove, over its whole length.
  ASSERT_TRUE(waitUntil([&] { return !child<SeekBar>(*window, "seekBar")->loudness().levels.empty(); }, 5000));
  EXPECT_NEAR(double(child<SeekBar>(*window, "seekBar")->loudness().lengthMs()), 6000, 100);
  EXPECT_GT(child<SeekBar>(*window, "seekBar")->loudness().peakOver(1000, 5000), Loudness::levelOf(0.05f));
  QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(child(*window, "seekBar"));
  ASSERT_TRUE(bar && bar->valueInterface());
  EXPECT_TRUE(bar->text(QAccessible::Value).endsWith(QStringLiteral(" / 00:00:06"))) << bar->text(QAccessible::Value).toStdString();
  // In seconds, the unit of the time it says.
  EXPECT_NEAR(bar->valueInterface()->maximumValue().toDouble(), 6, 0.1);
  EXPECT_GT(bar->valueInterface()->currentValue().toDouble(), 0.5) << "a second in, not a thousand";
  EXPECT_LT(bar->valueInterface()->currentValue().toDouble(), 6);
  ASSERT_TRUE(bar->textInterface());
  EXPECT_EQ(bar->textInterface()->text(0, -1), bar->text(QAccessible::Value));
  QAccessibleInterface* elapsed = QAccessible::queryAccessibleInterface(child(*window, "Label1"));
  ASSERT_TRUE(elapsed && elapsed->textInterface());
  EXPECT_EQ(elapsed->text(QAccessible::Name), QStringLiteral("経過時間"));
  EXPECT_TRUE(elapsed->textInterface()->text(0, -1).startsWith(QStringLiteral("00:00:0")));

  // Tab runs left to right over what acts, from the play button round to it again.
  QStringList order;
  for (int i = 0; i < 11; ++i) {
    press(*window, Qt::Key_Tab);
    order << QApplication::focusWidget()->objectName();
  }
  EXPECT_EQ(order.join(QLatin1Char(' ')),
            QStringLiteral("stop start back forward end speed mute volume Command1 seekBar play"));
  window->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(PlayerLive, ChosenFileAsksFirstInTheSaveFolder) {
  WriteSetting(kSaveFolderSetting, folder_->path());
  sys_.prompter.fileAnswer = other_;
  frmPlayer2 window(sys_.seams(), sys_.settings);
  ASSERT_EQ(sys_.prompter.fileRequests.size(), 1u);
  EXPECT_FALSE(sys_.prompter.fileRequests[0].owner->isVisible()) << "the question comes before the window";
  EXPECT_EQ(sys_.prompter.fileRequests[0].filter, QStringLiteral("Windows Media Audio (*.wma)"));
  EXPECT_EQ(sys_.prompter.fileRequests[0].folder, folder_->path());
  EXPECT_EQ(window.size(), QSize(295, 78));
  EXPECT_EQ(control(window)->FileName(), other_);
  EXPECT_EQ(control(window)->Volume(), -600);
  window.show();
  EXPECT_TRUE(waitUntil([&] { return playing(control(window)); }, 10000));
}

TEST_F(PlayerLive, CancelledChoicesKeepWhatPlays) {
  frmPlayer2 window(sys_.seams(), sys_.settings);
  ASSERT_EQ(sys_.prompter.fileRequests.size(), 1u);
  EXPECT_TRUE(sys_.prompter.fileRequests[0].folder.isEmpty());
  EXPECT_TRUE(control(window)->FileName().isEmpty());
  window.show();
  auto* otherFile = child<QPushButton>(window, "Command1");

  sys_.prompter.fileAnswer = tone_;
  otherFile->click();
  EXPECT_EQ(control(window)->FileName(), tone_);
  ASSERT_TRUE(waitUntil([&] { return playing(control(window)); }, 10000));
  EXPECT_TRUE(child<QLabel>(window, "Label1")->toolTip().endsWith(QStringLiteral("/tone.wma")));

  sys_.prompter.fileAnswer.clear();
  otherFile->click();
  EXPECT_EQ(control(window)->FileName(), tone_);
  const double before = control(window)->CurrentPosition();
  EXPECT_TRUE(waitUntil([&] { return control(window)->CurrentPosition() > before + 0.3; }, 5000)) << "still playing";

  sys_.prompter.fileAnswer = other_;
  otherFile->click();
  EXPECT_EQ(control(window)->FileName(), other_);
  EXPECT_TRUE(child<QLabel>(window, "Label1")->toolTip().endsWith(QStringLiteral("/other.wma")));
  EXPECT_TRUE(waitUntil([&] { return playing(control(window)); }, 10000));
}

TEST_F(PlayerLive, FilesThatCannotPlayAreSaidInWords) {
  MediaPlayer player;
  player.show();
  const QString missing = folder_->filePath(QStringLiteral("missing.wma"));
  player.setFileName(missing);
  EXPECT_EQ(player.problem(), QStringLiteral("ファイルが見つかりません: ") + missing);
  EXPECT_EQ(player.CurrentPosition(), -1);

  const QString broken = folder_->filePath(QStringLiteral("broken.wma"));
  QFile f(broken);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(20000, 'x'));
  f.close();
  player.setFileName(broken);
  EXPECT_TRUE(waitUntil([&] { return !player.problem().isEmpty(); }, 10000)) << "no word about a broken file";
  EXPECT_EQ(player.problem(), QStringLiteral("このファイルは再生できません: broken.wma"));
  EXPECT_EQ(player.CurrentPosition(), -1);

  player.setFileName(tone_);
  EXPECT_TRUE(player.problem().isEmpty()) << "a good file clears the message";
  EXPECT_TRUE(waitUntil([&] { return player.CurrentPosition() > 0.2; }, 10000));
}

// A stream header with no channels or a rate of 0 is damage, not a missing plugin; a codec
// that nothing installed decodes is still a missing part.
TEST_F(PlayerLive, ADamagedStreamHeaderIsSaidToBeDamagedAndAnUnknownCodecMissing) {
  MediaPlayer player;
  player.show();
  const struct {
    const char* name;
    std::function<void(uint8_t*)> edit;  // of the WAVEFORMATEX
    const char* said;
  } cases[] = {
      {"no-channels.wma", [](uint8_t* format) { asf::putLe(format + 2, 0, 2); }, "ファイルが壊れています: "},
      {"no-rate.wma", [](uint8_t* format) { asf::putLe(format + 4, 0, 4); }, "ファイルが壊れています: "},
      {"unknown-codec.wma", [](uint8_t* format) { asf::putLe(format, 0x7777, 2); }, "再生に必要な部品がありません: "},
  };
  for (const auto& [name, edit, said] : cases) {
    const QString path = withHeader(tone_, folder_->filePath(QString::fromLatin1(name)),
                                    [&edit = edit](uint8_t*, uint8_t* format) { edit(format); });
    player.setFileName(path);
    EXPECT_TRUE(waitUntil([&] { return !player.problem().isEmpty(); }, 10000)) << name;
    EXPECT_EQ(player.problem(), QString::fromUtf8(said) + QString::fromLatin1(name));
    EXPECT_EQ(player.CurrentPosition(), -1) << name;
  }
}

// After a file that cannot play, the position box shows no time of the file before it.
TEST_F(PlayerLive, AFailureLeavesNoTimeOfTheFileBeforeInThePositionBox) {
  WriteSetting(kLastRecordingSetting, tone_);
  frmPlayer window(sys_.seams(), sys_.settings);
  window.show();
  auto* label = child<QLabel>(window, "Label1");
  const QString broken = folder_->filePath(QStringLiteral("garbage.wma"));
  QFile f(broken);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(20000, 'x'));
  f.close();
  for (const QString& failing : {folder_->filePath(QStringLiteral("missing.wma")), broken}) {
    SCOPED_TRACE(failing.toStdString());
    window.play(tone_);
    ASSERT_TRUE(waitUntil([&] { return label->text() == QStringLiteral("00:00:01"); }, 10000)) << label->text().toStdString();
    window.play(failing);
    ASSERT_TRUE(waitUntil([&] { return !control(window)->problem().isEmpty(); }, 10000));
    // By the label's next tick at the latest.
    EXPECT_TRUE(waitUntil([&] { return label->text().isEmpty(); }, 1000)) << label->text().toStdString();
    EXPECT_TRUE(staysTrue([&] { return label->text().isEmpty(); }, 500)) << label->text().toStdString();
  }
}

// At the end a step forward stays at the end, and the next K plays from the start, whether
// End was pressed while it played or while it was paused.
TEST_F(PlayerLive, AfterTheEndForwardStaysThereAndTheNextPlayStartsAgain) {
  WriteSetting(kLastRecordingSetting, long_);
  frmPlayer window(sys_.seams(), sys_.settings);
  activate(window);
  MediaPlayer* player = control(window);
  auto* label = child<QLabel>(window, "Label1");
  ASSERT_TRUE(waitUntil([&] { return playing(player); }, 10000));
  for (const bool paused : {false, true}) {
    SCOPED_TRACE(paused ? "paused" : "playing");
    if (paused) {
      press(window, Qt::Key_K);
      ASSERT_TRUE(waitUntil([&] { return player->playState() == PlayState::Paused; }, 3000));
    }
    press(window, Qt::Key_End);
    press(window, Qt::Key_Right);
    EXPECT_TRUE(staysTrue([&] { return player->CurrentPosition() >= 29.9 && player->playState() == PlayState::Stopped; },
                          600))
        << player->CurrentPosition();
    EXPECT_EQ(label->text(), PositionText(player->Duration()));
    EXPECT_GE(player->Duration(), 29.9);
    press(window, Qt::Key_K);
    EXPECT_TRUE(waitUntil([&] { return playing(player) && player->CurrentPosition() < 5; }, 5000))
        << "K played nothing: at " << player->CurrentPosition();
  }
}

// A file cut short while it plays ends where its sound does, and says so; played again it
// plays from the start up to its cut.
TEST_F(PlayerLive, AFileCutShortWhileItPlaysEndsWhereItsSoundDoesAndSaysSo) {
  const QString path = folder_->filePath(QStringLiteral("cut.wma"));
  QFile::remove(path);
  ASSERT_TRUE(QFile::copy(long_, path));
  WriteSetting(kLastRecordingSetting, path);
  frmPlayer window(sys_.seams(), sys_.settings);
  activate(window);
  MediaPlayer* player = control(window);
  auto* label = child<QLabel>(window, "Label1");
  ASSERT_TRUE(waitUntil([&] { return player->CurrentPosition() >= 0.5; }, 10000));
  ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() * 4 / 30));  // some 4 s of the 30 are left
  ASSERT_TRUE(waitUntil([&] { return player->playState() == PlayState::Stopped; }, 10000));
  const double end = player->CurrentPosition();
  std::printf("cut to 4 s of 30: ended at %.3f s\n", end);
  EXPECT_GT(end, 3.0);
  EXPECT_LT(end, 6.0);
  EXPECT_NEAR(player->Duration(), end, 0.001);
  EXPECT_TRUE(waitUntil([&] { return label->text() == PositionText(end); }, 1000)) << label->text().toStdString();
  EXPECT_EQ(player->problem(), QStringLiteral("ファイルが途中で切れています (%1 まで): cut.wma").arg(PositionText(end)));

  press(window, Qt::Key_K);
  EXPECT_TRUE(player->problem().isEmpty());
  EXPECT_TRUE(child(*player, "seekBar")->isVisible());
  EXPECT_EQ(child<QLabel>(*player, "length")->text(), PositionText(end));
  EXPECT_TRUE(waitUntil([&] { return playing(player) && player->CurrentPosition() < 3; }, 5000));
}

// A header that claims 40,000 hours: the length shown is bounded and whole in its label, and
// the file ends where its sound does.
TEST_F(PlayerLive, AHeaderClaimingFortyThousandHoursShowsABoundedLengthAndEndsWithItsSound) {
  const QString path = withHeader(tone_, folder_->filePath(QStringLiteral("forever.wma")),
                                  [](uint8_t* file, uint8_t*) { claimHours(file, 40000); });
  WriteSetting(kLastRecordingSetting, path);
  frmPlayer window(sys_.seams(), sys_.settings);
  activate(window);
  MediaPlayer* player = control(window);
  auto* length = child<QLabel>(*player, "length");
  ASSERT_TRUE(waitUntil([&] { return playing(player); }, 10000)) << player->problem().toStdString();
  EXPECT_NEAR(player->Duration(), 40000.0 * 3600, 1);
  EXPECT_EQ(length->text(), QStringLiteral("999時間超"));
  EXPECT_LE(length->fontMetrics().horizontalAdvance(length->text()), length->contentsRect().width());
  EXPECT_GE(child(*player, "seekBar")->width(), 180) << "the seek bar keeps most of the row";
  QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(child(*player, "seekBar"));
  ASSERT_TRUE(bar);
  EXPECT_TRUE(bar->text(QAccessible::Value).endsWith(QStringLiteral(" / 999時間超"))) << bar->text(QAccessible::Value).toStdString();
  // Its loudness is the sound's, not the claim's: six seconds, and no memory for 40,000 hours.
  ASSERT_TRUE(waitUntil([&] { return !child<SeekBar>(*player, "seekBar")->loudness().levels.empty(); }, 10000));
  EXPECT_NEAR(double(child<SeekBar>(*player, "seekBar")->loudness().lengthMs()), 6000, 100);

  ASSERT_TRUE(waitUntil([&] { return player->playState() == PlayState::Stopped; }, 10000));
  EXPECT_NEAR(player->CurrentPosition(), 6, 0.2);
  EXPECT_TRUE(waitUntil([&] { return child<QLabel>(window, "Label1")->text() == QStringLiteral("00:00:06"); }, 1000));
  EXPECT_TRUE(player->problem().startsWith(QStringLiteral("ファイルが途中で切れています"))) << player->problem().toStdString();
}

TEST_F(PlayerLive, ButtonsPauseSkipStopAndPlayOnceToTheEnd) {
  MediaPlayer player;
  player.setFileName(long_);
  activate(player);
  ASSERT_TRUE(waitUntil([&] { return playing(&player); }, 10000));
  EXPECT_EQ(child(player, "play")->accessibleName(), QStringLiteral("一時停止"));

  child<QToolButton>(player, "play")->click();
  ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Paused; }, 3000));
  EXPECT_EQ(child(player, "play")->accessibleName(), QStringLiteral("再生"));
  const double paused = player.CurrentPosition();
  EXPECT_TRUE(staysTrue([&] { return std::abs(player.CurrentPosition() - paused) < 0.05; }, 500));
  child<QToolButton>(player, "forward")->click();
  EXPECT_TRUE(reaches(&player, paused + 10));
  child<QToolButton>(player, "back")->click();
  EXPECT_TRUE(reaches(&player, paused + 7));

  child<QToolButton>(player, "stop")->click();
  EXPECT_TRUE(reaches(&player, 0)) << "stop goes back to the start";
  EXPECT_EQ(player.playState(), PlayState::Stopped);

  // Played once: at the end it stays there, stopped, and plays again from the start.
  child<QToolButton>(player, "play")->click();
  child<QToolButton>(player, "end")->click();
  ASSERT_TRUE(waitUntil([&] { return player.playState() == PlayState::Stopped; }, 5000));
  EXPECT_TRUE(staysTrue([&] { return player.CurrentPosition() >= 29.9 && player.playState() == PlayState::Stopped; }, 500))
      << player.CurrentPosition();
  child<QToolButton>(player, "play")->click();
  EXPECT_TRUE(waitUntil([&] { return playing(&player) && player.CurrentPosition() < 5; }, 5000));
}

// Keys act wherever the focus is in the window, here on "ほかのファイルを再生".
TEST_F(PlayerLive, KeysSkipJumpToMarksChangeSpeedAndRepeat) {
  WriteSetting(kLastRecordingSetting, long_);
  frmPlayer window(sys_.seams(), sys_.settings);
  activate(window);
  MediaPlayer* player = control(window);
  ASSERT_TRUE(waitUntil([&] { return playing(player); }, 10000));
  child(window, "Command1")->setFocus();

  press(window, Qt::Key_K);
  ASSERT_TRUE(waitUntil([&] { return player->playState() == PlayState::Paused; }, 3000));
  press(window, Qt::Key_Home);
  EXPECT_TRUE(reaches(player, 0));
  const std::pair<Qt::Key, double> skips[] = {{Qt::Key_Right, 10}, {Qt::Key_Left, 7},  {Qt::Key_L, 17},
                                              {Qt::Key_J, 14},     {Qt::Key_Left, 11}, {Qt::Key_End, 30}};
  for (const auto& [key, expected] : skips) {
    press(window, key);
    EXPECT_TRUE(reaches(player, expected)) << QKeySequence(key).toString().toStdString() << " to " << expected
                                           << ": at " << player->CurrentPosition();
  }

  // Marks: drawn on the seek bar, and Page Down / Page Up walk through them.
  auto* bar = child(window, "seekBar");
  const QImage without = bar->grab().toImage();
  player->setMarks({20000, 5000, 12000});
  EXPECT_EQ(player->marks(), (QList<qint64>{5000, 12000, 20000}));
  EXPECT_NE(bar->grab().toImage(), without) << "the marks are not drawn";
  press(window, Qt::Key_Home);
  const std::pair<Qt::Key, double> marks[] = {{Qt::Key_PageDown, 5}, {Qt::Key_PageDown, 12}, {Qt::Key_PageUp, 5},
                                              {Qt::Key_PageUp, 0},   {Qt::Key_PageUp, 0},    {Qt::Key_PageDown, 5}};
  for (const auto& [key, expected] : marks) {
    press(window, key);
    EXPECT_TRUE(reaches(player, expected)) << QKeySequence(key).toString().toStdString() << " to " << expected
                                           << ": at " << player->CurrentPosition();
  }

  // So do ⏮ and ⏭ with marks in the file, and beyond the last and the first they go to
  // the end and the start as without marks.
  auto* start = child<QToolButton>(window, "start");
  auto* end = child<QToolButton>(window, "end");
  EXPECT_EQ(start->accessibleName(), QStringLiteral("前のマークへ"));
  EXPECT_EQ(end->toolTip(), QStringLiteral("次のマークへ (PageDown)"));
  const std::pair<QToolButton*, double> buttons[] = {{end, 12}, {end, 20}, {end, 30}, {start, 20}, {start, 12},
                                                     {start, 5}, {start, 0}, {end, 5}};
  for (const auto& [button, expected] : buttons) {
    button->click();
    EXPECT_TRUE(reaches(player, expected)) << button->objectName().toStdString() << " to " << expected << ": at "
                                           << player->CurrentPosition();
  }
  player->setMarks({});
  EXPECT_EQ(start->accessibleName(), QStringLiteral("先頭へ"));
  EXPECT_EQ(end->toolTip(), QStringLiteral("末尾へ (End)"));

  // Speed: one step slower and faster, and back to normal.
  auto* speed = child<QToolButton>(window, "speed");
  press(window, Qt::Key_BracketRight);
  press(window, Qt::Key_BracketRight);
  EXPECT_EQ(player->Rate(), 1.5);
  EXPECT_EQ(speed->text(), QStringLiteral("1.5×"));
  press(window, Qt::Key_BracketLeft);
  EXPECT_EQ(speed->text(), QStringLiteral("1.25×"));
  press(window, Qt::Key_Equal);
  EXPECT_EQ(player->Rate(), 1.0);
  for (int i = 0; i < 12; ++i) press(window, Qt::Key_BracketLeft);
  EXPECT_EQ(player->Rate(), MediaPlayer::speeds().front());
  press(window, Qt::Key_Equal);

  // A-B: the stretch plays over and over until A is pressed a third time.
  press(window, Qt::Key_K);
  ASSERT_TRUE(waitUntil([&] { return player->CurrentPosition() >= 6; }, 5000));
  press(window, Qt::Key_A);
  const double a = player->CurrentPosition();
  ASSERT_TRUE(waitUntil([&] { return player->CurrentPosition() >= a + 1.5; }, 5000));
  const double b = player->CurrentPosition();
  press(window, Qt::Key_A);
  double highest = 0, lowest = 100;
  int wraps = 0;
  double last = player->CurrentPosition();
  EXPECT_TRUE(staysTrue(
      [&] {
        const double now = player->CurrentPosition();
        if (now < last - 0.5) ++wraps;
        last = now;
        highest = std::max(highest, now);
        lowest = std::min(lowest, now);
        return player->playState() == PlayState::Playing;
      },
      4000));
  std::printf("A-B %.2f..%.2f s: played %.2f..%.2f s, %d times round\n", a, b, lowest, highest, wraps);
  EXPECT_GE(wraps, 2);
  EXPECT_GT(lowest, a - 0.2);
  EXPECT_LT(highest, b + 0.3);
  press(window, Qt::Key_A);
  EXPECT_TRUE(waitUntil([&] { return player->CurrentPosition() > b + 1; }, 4000)) << "the repeat is over";

  // Esc leaves the window open and playing.
  press(window, Qt::Key_Escape);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(player->playState(), PlayState::Playing);
}

// A tick is one pixel wide and a pixel of this bar spans a quarter of a second: a click
// beside it still lands on the mark, not on the time under the pointer.
TEST(SeekBar, AClickOnAMarksTickLandsOnTheMark) {
  SeekBar bar;
  bar.resize(240, 17);
  bar.setRange(0, 60000);
  bar.setMarks({20800, 41300});
  bar.show();
  QSignalSpy asked(&bar, &SeekBar::seekRequested);
  const auto clickAt = [&](int x) {
    asked.clear();
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(x, bar.height() / 2));
    QList<int> values;
    for (const QList<QVariant>& call : asked) values << call.at(0).toInt();
    return values;
  };
  for (const int beside : {0, 2, -3}) {
    EXPECT_EQ(clickAt(bar.xOf(41300) + beside), QList<int>{41300}) << beside;
    EXPECT_EQ(clickAt(bar.xOf(20800) + beside), QList<int>{20800}) << beside;
  }
  EXPECT_EQ(bar.value(), 20800);
  // Farther away, the click means the time there.
  const QList<int> between = clickAt(bar.xOf(20800) + 12);
  ASSERT_EQ(between.size(), 1);
  EXPECT_EQ(between[0], bar.valueAt(bar.xOf(20800) + 12));
  EXPECT_GT(between[0], 21000);
}

TEST_F(PlayerLive, AClickOnTheSeekBarJumpsThere) {
  MediaPlayer player;
  player.setFileName(long_);
  player.show();
  ASSERT_TRUE(waitUntil([&] { return playing(&player); }, 10000));
  auto* bar = child<QSlider>(player, "seekBar");
  for (const double share : {0.75, 0.2}) {
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(int(bar->width() * share), bar->height() / 2));
    EXPECT_TRUE(waitUntil([&] { return std::abs(player.CurrentPosition() - 30 * share) < 1.0; }, 3000))
        << share << ": at " << player.CurrentPosition();
  }
  EXPECT_EQ(player.playState(), PlayState::Playing);
}

TEST_F(PlayerLive, MainWindowOpensEachPlayerOnceAndBothPlayTogether) {
  WriteSetting(kLastRecordingSetting, tone_);
  sys_.prompter.fileAnswer = other_;
  auto form = std::make_unique<Form1>(sys_.seams(), sys_.settings);
  form->load();
  form->show();

  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  frmPlayer* first = openWindow<frmPlayer>("frmPlayer");
  ASSERT_TRUE(first);
  form->findChild<QAction*>(QStringLiteral("MFPlay"))->trigger();
  frmPlayer2* second = openWindow<frmPlayer2>("frmPlayer2");
  ASSERT_TRUE(second);
  EXPECT_EQ(control(*second)->marks(), (QList<qint64>{1500, 4000})) << "the file's own index marks";
  EXPECT_TRUE(control(*first)->marks().isEmpty());
  EXPECT_TRUE(waitUntil([&] { return playing(control(*first)) && playing(control(*second)); }, 10000));

  // A newer recording does not replace what the open window plays.
  WriteSetting(kLastRecordingSetting, other_);
  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  form->findChild<QAction*>(QStringLiteral("MFPlay"))->trigger();
  EXPECT_EQ(openWindow<frmPlayer>("frmPlayer"), first);
  EXPECT_EQ(openWindow<frmPlayer2>("frmPlayer2"), second);
  EXPECT_EQ(control(*first)->FileName(), tone_);
  EXPECT_EQ(sys_.prompter.fileRequests.size(), 1u);

  // Closed and opened again: the latest recording now.
  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(openWindow<frmPlayer>("frmPlayer"));
  EXPECT_TRUE(playing(control(*second))) << "closing one leaves the other playing";
  form->findChild<QPushButton*>(QStringLiteral("Command4"))->click();
  ASSERT_TRUE(openWindow<frmPlayer>("frmPlayer"));
  EXPECT_EQ(control(*openWindow<frmPlayer>("frmPlayer"))->FileName(), other_);
  openWindow<frmPlayer>("frmPlayer")->close();
  second->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Real sound: what reaches the test sound server's output is the file's tone, at half the
// amplitude that -600 stands for, and nothing once muted.
TEST_F(PlayerLive, PlaysTheToneAtItsVolumeIntoTheSoundServer) {
  const QString sink = qEnvironmentVariable("TALLOWEN_TEST_SINK");
  if (sink.isEmpty()) GTEST_SKIP() << "needs the test command's sound server";
  WriteSetting(kLastRecordingSetting, long_);
  frmPlayer window(sys_.seams(), sys_.settings);
  window.show();
  ASSERT_TRUE(waitUntil([&] { return playing(control(window)); }, 10000));
  SinkMonitor monitor(sink);
  ASSERT_TRUE(monitor.started());
  // Meanwhile the label advances by a second a second: it shows the whole seconds played.
  auto shown = [&] {
    return QTime::fromString(child<QLabel>(window, "Label1")->text(), QStringLiteral("hh:mm:ss")).msecsSinceStartOfDay() / 1000;
  };
  ASSERT_TRUE(waitUntil([&] { return shown() >= 1; }, 5000));
  QElapsedTimer watch;
  watch.start();
  const int first = shown();
  ASSERT_TRUE(waitUntil([&] { return shown() >= first + 2; }, 5000));
  EXPECT_NEAR(watch.elapsed(), 2000, 400) << "two seconds of the label in two seconds of time";
  ASSERT_TRUE(monitor.hear(0.5));
  const std::vector<float> heard = monitor.after(0.3);
  const double level = rms(heard);
  const double expected = 12000.0 / 32768 * MediaPlayer::amplitudeOf(-600) / std::sqrt(2.0);
  std::printf("heard %.1f Hz at RMS %.4f (expected %.4f)\n", zeroCrossingHz(heard, SinkMonitor::kRate), level, expected);
  EXPECT_NEAR(zeroCrossingHz(heard, SinkMonitor::kRate), 660, 660 * 0.01);
  EXPECT_NEAR(level, expected, expected * 0.12);

  child<QToolButton>(window, "mute")->click();
  monitor.restart();
  ASSERT_TRUE(monitor.hear(1.0));
  EXPECT_LT(rms(monitor.after(0.5)), 0.002) << "muted";
  EXPECT_EQ(control(window)->playState(), PlayState::Playing);
}

// 1.5x plays a 1 kHz tone as 1 kHz, one and a half seconds of the file a second; the
// other speeds are measured and held to the same.
TEST_F(PlayerLive, OtherSpeedsKeepThePitch) {
  const QString sink = qEnvironmentVariable("TALLOWEN_TEST_SINK");
  if (sink.isEmpty()) GTEST_SKIP() << "needs the test command's sound server";
  WriteSetting(kLastRecordingSetting, makeWma(folder_->path(), QStringLiteral("khz"), 1000, 9));
  frmPlayer window(sys_.seams(), sys_.settings);
  activate(window);
  MediaPlayer* player = control(window);
  ASSERT_TRUE(waitUntil([&] { return playing(player); }, 10000));
  press(window, Qt::Key_BracketRight);
  press(window, Qt::Key_BracketRight);
  ASSERT_EQ(player->Rate(), 1.5);
  press(window, Qt::Key_Home);
  QElapsedTimer whole;
  whole.start();
  SinkMonitor monitor(sink);
  ASSERT_TRUE(monitor.started());

  // Heard and advanced over the same two seconds.
  ASSERT_TRUE(waitUntil([&] { return player->CurrentPosition() >= 0.6; }, 3000));
  QElapsedTimer clock;
  clock.start();
  const double from = player->CurrentPosition();
  monitor.restart();
  ASSERT_TRUE(monitor.hear(2.0));
  const double advance = (player->CurrentPosition() - from) / (clock.elapsed() / 1000.0);
  const double pitch = zeroCrossingHz(monitor.after(0.3), SinkMonitor::kRate);
  ASSERT_TRUE(waitUntil([&] { return player->playState() == PlayState::Stopped; }, 10000));
  const double took = whole.elapsed() / 1000.0;
  std::printf("1.5x: heard %.1f Hz, %.3f s of the file a second, the 9 s file played in %.2f s\n", pitch, advance,
              took);
  EXPECT_NEAR(pitch, 1000, 20);
  EXPECT_NEAR(advance, 1.5, 0.075);
  EXPECT_NEAR(took, 6.0, 0.4);

  for (const double rate : MediaPlayer::speeds()) {
    if (rate == 1.5) continue;
    player->setRate(rate);
    press(window, Qt::Key_Home);
    if (player->playState() != PlayState::Playing) press(window, Qt::Key_K);
    ASSERT_TRUE(waitUntil([&] { return playing(player); }, 3000));
    clock.restart();
    const double start = player->CurrentPosition();
    monitor.restart();
    ASSERT_TRUE(monitor.hear(std::min(1.5, 2.5 / rate)));
    const double speed = (player->CurrentPosition() - start) / (clock.elapsed() / 1000.0);
    const double heard = zeroCrossingHz(monitor.after(0.3), SinkMonitor::kRate);
    std::printf("%.2fx: heard %.1f Hz, %.3f s of the file a second\n", rate, heard, speed);
    EXPECT_NEAR(heard, 1000, 20) << rate;
    EXPECT_NEAR(speed, rate, rate * 0.07) << rate;
  }
}

}  // namespace

// ---- The recordings window ------------------------------------------------------------

class RecordingsWindowTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    // Beside the desktop's trash of the tests' own home, on the same disk, as a user's
    // recordings usually are. A fresh home has no data folder until something makes one.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    saveFolder_ = std::make_unique<QTemporaryDir>(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                                  QStringLiteral("/../recordings-XXXXXX"));
    ASSERT_TRUE(saveFolder_->isValid());
    WriteSetting(kSaveFolderSetting, saveFolder_->path());
  }
  void TearDown() override {
    QDir(trash()).removeRecursively();
    PlayerTest::TearDown();
  }
  static QString trash() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
  }
  // A copy of `source` named `name`, last written `age` seconds ago.
  QString recording(const QString& source, const QString& name, int age) {
    const QString path = saveFolder_->filePath(name);
    EXPECT_TRUE(QFile::copy(source, path));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadWrite));
    EXPECT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime));
    return path;
  }
  static QStringList column(const RecordingList& list, int c) {
    QStringList texts;
    for (int row = 0; row < list.rowCount(); ++row) texts << list.index(row, c).data().toString();
    return texts;
  }
  // The window over the save folder as the main window opens it, its list read whole and
  // its first row current; `recordingNow_` names the file being recorded.
  std::unique_ptr<frmRecordings> openOverFolder() {
    auto window = std::make_unique<frmRecordings>(sys_.seams(), sys_.settings, [this] { return LiveRecording{recordingNow_, nullptr}; });
    activate(*window);
    EXPECT_TRUE(waitUntil([&] { return window->list().complete(); }));
    find<QTreeView>(window.get(), "recordingList")->setCurrentIndex(window->list().index(0, 0));
    return window;
  }
  frmRecordings* openFrom(Form1& form) {
    find<QAction>(&form, "MFRecordings")->trigger();
    auto* window = openWindow<frmRecordings>("frmRecordings");
    EXPECT_TRUE(window);
    if (window) {
      EXPECT_TRUE(waitUntil([&] { return window->list().complete(); }, 10000));
    }
    return window;
  }
  // Types `name` over the selected recording's name, as F2 and the keyboard do.
  static void typeName(frmRecordings& window, const QString& name) {
    auto* view = find<QTreeView>(&window, "recordingList");
    QTest::keyClick(view, Qt::Key_F2);
    auto* editor = view->findChild<QLineEdit*>();
    ASSERT_TRUE(editor) << "F2 opened no editor";
    editor->selectAll();
    editor->insert(name);  // as an input method puts in Japanese
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();  // the name is taken after the key, as the list gets to it
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  std::unique_ptr<QTemporaryDir> saveFolder_;
  QString recordingNow_;
};

TEST_F(RecordingsWindowTest, ListsTheFolderNewestFirstWithLengthSizeAndMarksFromTheHeaders) {
  recording(tone_, QStringLiteral("2024-01-01_09-00.wma"), 300);
  recording(other_, QStringLiteral("marked.wma"), 200);
  recording(long_, QStringLiteral("newest.wma"), 100);
  QFile broken(saveFolder_->filePath(QStringLiteral("broken.wma")));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("not a recording");
  broken.close();
  QFile(saveFolder_->filePath(QStringLiteral("notes.txt"))).open(QIODevice::WriteOnly);

  auto form = mainWindow();
  frmRecordings* window = openFrom(*form);
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->isVisible());
  const RecordingList& list = window->list();
  EXPECT_EQ(column(list, RecordingList::Name),
            (QStringList{"broken.wma", "newest.wma", "marked.wma", "2024-01-01_09-00.wma"}));
  EXPECT_EQ(column(list, RecordingList::Length), (QStringList{"不明", "00:00:30", "00:00:06", "00:00:06"}));
  EXPECT_EQ(column(list, RecordingList::Marks), (QStringList{"不明", "0", "2", "0"}));
  EXPECT_EQ(list.index(1, RecordingList::Size).data().toString(), SizeText(QFileInfo(long_).size()));
  EXPECT_TRUE(list.index(1, RecordingList::Size).data().toString().endsWith(QStringLiteral(" KB")));
  // The menu keeps its items in their order, the list after the file player.
  QStringList items;
  for (QAction* a : find<QMenu>(form.get(), "MFile")->actions()) items << a->objectName();
  EXPECT_EQ(items, (QStringList{"MFPlay", "MFRecordings", "MBar2", "MEnd"}));

  // Opened again: the same window, in front.
  EXPECT_EQ(openFrom(*form), window);
  // A recording that appears shows by itself.
  recording(tone_, QStringLiteral("copied.wma"), 0);
  EXPECT_TRUE(waitUntil([&] { return list.rowCount() == 5 && list.complete(); }, 5000));
  EXPECT_EQ(list.index(0, RecordingList::Name).data().toString(), QStringLiteral("copied.wma"));
}

TEST_F(RecordingsWindowTest, EnterPlaysTheChosenRecordingAndTheFolderButtonOpensTheFileManager) {
  recording(tone_, QStringLiteral("older.wma"), 200);
  const QString newer = recording(other_, QStringLiteral("newer.wma"), 100);
  WriteSetting(kLastRecordingSetting, saveFolder_->filePath(QStringLiteral("older.wma")));
  auto form = mainWindow();
  frmRecordings* window = openFrom(*form);
  ASSERT_TRUE(window);
  auto* view = find<QTreeView>(window, "recordingList");
  view->setFocus();
  view->setCurrentIndex(window->list().index(0, 0));
  QTest::keyClick(view, Qt::Key_Return);
  auto* player = openWindow<frmPlayer>("frmPlayer");
  ASSERT_TRUE(player) << "Enter opened no player";
  EXPECT_EQ(control(*player)->FileName(), newer);
  EXPECT_TRUE(waitUntil([&] { return control(*player)->playState() == PlayState::Playing; }, 5000));

  find<QPushButton>(window, "folderButton")->click();
  ASSERT_EQ(sys_.launcher.started.size(), 1u);
  EXPECT_EQ(sys_.launcher.started[0], (QStringList{"xdg-open", saveFolder_->path()}));
  sys_.launcher.succeeds = false;
  find<QPushButton>(window, "folderButton")->click();
  ASSERT_FALSE(sys_.prompter.messages.empty()) << "a file manager that does not start is said";
}

TEST_F(RecordingsWindowTest, RenameKeepsNamesUniqueAndTheLatestRecordingFollowsItsNewName) {
  const QString older = recording(tone_, QStringLiteral("older.wma"), 200);
  const QString latest = recording(other_, QStringLiteral("latest.wma"), 100);
  WriteSetting(kLastRecordingSetting, latest);
  const auto opened = openOverFolder();
  frmRecordings& window = *opened;
  auto* view = find<QTreeView>(&window, "recordingList");

  // The other recording's name: refused, with a word, and nothing changes.
  typeName(window, QStringLiteral("older"));
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("older.wma")));
  EXPECT_TRUE(QFile::exists(latest));
  EXPECT_TRUE(QFile::exists(older));
  // A name with a slash would move it elsewhere: refused.
  typeName(window, QStringLiteral("../away"));
  EXPECT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_TRUE(QFile::exists(latest));
  // A line break (pasted) or a tab would be stored cut in setting.ini: refused.
  typeName(window, QStringLiteral("講義\n第1回"));
  typeName(window, QStringLiteral("講義\t第1回"));
  ASSERT_EQ(sys_.prompter.messages.size(), 4u);
  EXPECT_TRUE(sys_.prompter.messages[2].text.contains(QStringLiteral("改行")));
  EXPECT_TRUE(sys_.prompter.messages[3].text.contains(QStringLiteral("制御文字")));
  EXPECT_TRUE(QFile::exists(latest));
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), latest);

  const QByteArray sound = readAll(latest);
  typeName(window, QStringLiteral("講義 第1回"));
  const QString renamed = saveFolder_->filePath(QStringLiteral("講義 第1回.wma"));
  EXPECT_EQ(readAll(renamed), sound) << "FFmpeg's header has no room for a title: left as it was";
  EXPECT_FALSE(QFile::exists(latest));
  EXPECT_TRUE(QFile::exists(renamed)) << "the extension is kept";
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), renamed) << "the play button plays it under its new name";
  EXPECT_EQ(window.list().index(0, 0).data().toString(), QStringLiteral("講義 第1回.wma"));

  // Another recording renamed: the latest stays the latest.
  view->setCurrentIndex(window.list().index(1, 0));
  typeName(window, QStringLiteral("first.wma"));
  EXPECT_TRUE(QFile::exists(saveFolder_->filePath(QStringLiteral("first.wma"))));
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), renamed);

  // The file being recorded keeps its name.
  recordingNow_ = renamed;
  view->setCurrentIndex(window.list().index(0, 0));
  QTest::keyClick(view, Qt::Key_F2);
  EXPECT_FALSE(view->findChild<QLineEdit*>() && view->findChild<QLineEdit*>()->isVisible());
  EXPECT_EQ(sys_.prompter.messages.size(), 5u);
  EXPECT_TRUE(QFile::exists(renamed));
}

TEST_F(RecordingsWindowTest, DeleteAsksAndMovesTheRecordingToTheTrashNeverUnlinkingIt) {
  const QString kept = recording(tone_, QStringLiteral("kept.wma"), 200);
  const QString doomed = recording(long_, QStringLiteral("doomed.wma"), 100);
  const QByteArray sound = [&] {
    QFile f(doomed);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  const auto opened = openOverFolder();
  frmRecordings& window = *opened;
  auto* view = find<QTreeView>(&window, "recordingList");

  // No: nothing happens.
  sys_.prompter.answers = {Prompter::Answer::No};
  QTest::keyClick(view, Qt::Key_Delete);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_EQ(sys_.prompter.messages[0].buttons, Prompter::Buttons::YesNo);
  EXPECT_TRUE(QFile::exists(doomed));

  // Being recorded: refused before any question.
  recordingNow_ = doomed;
  QTest::keyClick(view, Qt::Key_Delete);
  EXPECT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_EQ(sys_.prompter.messages[1].buttons, Prompter::Buttons::Ok);
  EXPECT_TRUE(QFile::exists(doomed));
  recordingNow_.clear();

  sys_.prompter.answers = {Prompter::Answer::Yes};
  find<QPushButton>(&window, "deleteButton")->click();
  EXPECT_FALSE(QFile::exists(doomed));
  QFile trashed(trash() + QStringLiteral("/files/doomed.wma"));
  ASSERT_TRUE(trashed.open(QIODevice::ReadOnly)) << "not in the trash";
  EXPECT_EQ(trashed.readAll(), sound) << "whole, in the trash";
  EXPECT_TRUE(QFile::exists(trash() + QStringLiteral("/info/doomed.wma.trashinfo"))) << "it can be put back";
  EXPECT_EQ(column(window.list(), RecordingList::Name), QStringList{"kept.wma"});
  EXPECT_TRUE(QFile::exists(kept));

  // For a while it can be put back, trash and all: by the bar's button or Ctrl+Z.
  auto* bar = find(&window, "undoBar");
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(find<QLabel>(&window, "undoText")->text(), QStringLiteral("「doomed.wma」をごみ箱に移しました。"));
  QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_FALSE(bar->isVisible());
  QFile back(doomed);
  ASSERT_TRUE(back.open(QIODevice::ReadOnly)) << "not put back";
  EXPECT_EQ(back.readAll(), sound);
  EXPECT_FALSE(QFile::exists(trash() + QStringLiteral("/files/doomed.wma")));
  EXPECT_FALSE(QFile::exists(trash() + QStringLiteral("/info/doomed.wma.trashinfo"))) << "the trash still lists it";
  EXPECT_TRUE(waitUntil([&] { return column(window.list(), RecordingList::Name).contains(QStringLiteral("doomed.wma")); }));

  // Put back over nothing: a file that took the name meanwhile stays, the recording stays
  // in the trash.
  view->setCurrentIndex(window.list().index(window.list().rowOf(QFile::encodeName(doomed)), 0));
  sys_.prompter.answers = {Prompter::Answer::Yes};
  QTest::keyClick(view, Qt::Key_Delete);
  ASSERT_FALSE(QFile::exists(doomed));
  {
    QFile taken(doomed);
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.write("another file");
  }
  const size_t said = sys_.prompter.messages.size();
  find<QPushButton>(&window, "undoButton")->click();
  ASSERT_EQ(sys_.prompter.messages.size(), said + 1);
  EXPECT_TRUE(sys_.prompter.messages.back().text.contains(QStringLiteral("ごみ箱に残っています")));
  EXPECT_TRUE(QFile::exists(trash() + QStringLiteral("/files/doomed.wma")));
  QFile other(doomed);
  ASSERT_TRUE(other.open(QIODevice::ReadOnly));
  EXPECT_EQ(other.readAll(), QByteArray("another file"));
}

// A recording goes to other programs as a file: dragged out of the list, copied with
// Ctrl+C for a file manager to paste, or shown in its folder by the file manager.
TEST_F(RecordingsWindowTest, ARecordingIsDraggedCopiedAndShownAsAFile) {
  const QString talk = recording(tone_, QStringLiteral("講義 1.wma"), 100);
  const auto opened = openOverFolder();
  frmRecordings& window = *opened;
  auto* view = find<QTreeView>(&window, "recordingList");
  const QModelIndex row = window.list().index(0, RecordingList::Name);
  EXPECT_TRUE(window.list().flags(row) & Qt::ItemIsDragEnabled);
  EXPECT_TRUE(view->dragEnabled());
  std::unique_ptr<QMimeData> dragged(window.list().mimeData({row, window.list().index(0, RecordingList::Size)}));
  ASSERT_TRUE(dragged);
  EXPECT_EQ(dragged->urls(), QList<QUrl>{QUrl::fromLocalFile(talk)}) << "once, however many columns";

  QGuiApplication::clipboard()->clear();
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->urls(), QList<QUrl>{QUrl::fromLocalFile(talk)});
  EXPECT_EQ(copied->data(QStringLiteral("x-special/gnome-copied-files")),
            "copy\n" + QUrl::fromLocalFile(talk).toEncoded());

  // Without a file manager on the desktop's bus, its folder opens.
  sys_.launcher.started.clear();
  QAction* show = nullptr;
  for (QAction* a : window.findChildren<QAction*>())
    if (a->text() == QStringLiteral("フォルダーに表示(&S)")) show = a;
  ASSERT_TRUE(show) << "no menu command";
  show->trigger();
  ASSERT_TRUE(waitUntil([&] { return !sys_.launcher.started.empty(); }, 10000));
  EXPECT_EQ(sys_.launcher.started[0], (QStringList{QStringLiteral("xdg-open"), saveFolder_->path()}));
}

namespace {

QByteArray contents(const QByteArray& nativePath) {
  QFile f(QFile::decodeName(nativePath));
  const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return {};
  return f.readAll();
}

// A file at a path that may not read as a QString, `age` seconds old.
void writeNative(const QByteArray& nativePath, const QByteArray& bytes, int age) {
  const int fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << nativePath.toStdString();
  ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
  const timespec when{::time(nullptr) - age, 0};
  const timespec times[2] = {when, when};
  ASSERT_EQ(::futimens(fd, times), 0);
  ::close(fd);
}

bool exists(const QByteArray& nativePath) {
  struct stat st;
  return ::lstat(nativePath.constData(), &st) == 0;
}

// This thread without the superuser's way past a file's permissions, as any user reads
// files: a file the user may not read is then one to the tests too.
class AsAnyUser {
 public:
  AsAnyUser() {
    if (::geteuid() != 0 || ::syscall(SYS_capget, &header_, kept_) != 0) return;
    __user_cap_data_struct fewer[2] = {kept_[0], kept_[1]};
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
      fewer[CAP_TO_INDEX(cap)].effective &= ~CAP_TO_MASK(cap);
    dropped_ = ::syscall(SYS_capset, &header_, fewer) == 0;
  }
  ~AsAnyUser() {
    if (dropped_) ::syscall(SYS_capset, &header_, kept_);
  }
  AsAnyUser(const AsAnyUser&) = delete;
  AsAnyUser& operator=(const AsAnyUser&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct kept_[2]{};
  bool dropped_ = false;
};

int exitStatus(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit) return -1;
  return p.exitCode();
}

// A FAT file system made by mkfs.vfat in a file and mounted on `folder`: by the kernel, or
// by fusefat where the kernel has no FAT. `mounted()` says whether either could.
class FatDisk {
 public:
  explicit FatDisk(const QString& folder) : folder_(folder), image_(folder + QStringLiteral(".img")) {
    QDir().mkpath(folder);
    QFile image(image_);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(8 << 20)) return;
    image.close();
    if (exitStatus(QStringLiteral("mkfs.vfat"), {image_}) != 0) return;
    if (exitStatus(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("vfat"), QStringLiteral("-o"),
                                             QStringLiteral("loop"), image_, folder}) != 0)
      exitStatus(QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+"), image_, folder});
    struct stat inside, outside;
    mounted_ = ::stat(QFile::encodeName(folder).constData(), &inside) == 0 &&
               ::stat(QFile::encodeName(folder + QStringLiteral("/..")).constData(), &outside) == 0 &&
               inside.st_dev != outside.st_dev;
  }
  ~FatDisk() {
    if (mounted_) exitStatus(QStringLiteral("umount"), {folder_});
    QFile::remove(image_);
  }
  bool mounted() const { return mounted_; }

 private:
  QString folder_, image_;
  bool mounted_ = false;
};

}  // namespace

// A name copied from a disk of another system (Shift_JIS bytes, where names are taken as
// UTF-8) and a file this user may not read are recordings all the same: listed, counted,
// and said for what they are. The odd name can be renamed, which is how it is mended;
// what needs a name that reads (the player, the trash) asks for that first.
TEST_F(RecordingsWindowTest, NamesThatDoNotReadAndFilesThatCannotBeReadAreListedAndCounted) {
  recording(tone_, QStringLiteral("plain.wma"), 300);
  const QByteArray sjis = QFile::encodeName(saveFolder_->path()) + "/\x89\xEF\x8B\x63.wma";  // 会議 in Shift_JIS
  const QByteArray sound = contents(QFile::encodeName(other_));
  writeNative(sjis, sound, 200);
  const QString locked = recording(long_, QStringLiteral("locked.wma"), 100);
  ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
  const AsAnyUser user;
  if (::faccessat(AT_FDCWD, QFile::encodeName(locked).constData(), R_OK, AT_EACCESS) == 0)
    GTEST_SKIP() << "this user reads a file of mode 000";

  const auto opened = openOverFolder();
  frmRecordings& window = *opened;
  const RecordingList& list = window.list();
  auto* view = find<QTreeView>(&window, "recordingList");
  EXPECT_EQ(column(list, RecordingList::Name), (QStringList{"locked.wma", "\\x89\\xEF\\x8Bc.wma", "plain.wma"}));
  EXPECT_TRUE(find<QLabel>(&window, "summaryLabel")->text().endsWith(QStringLiteral("(3 件)")));
  EXPECT_EQ(column(list, RecordingList::Length), (QStringList{"読めません", "00:00:06", "00:00:06"}))
      << "the odd name's header is read all the same";
  EXPECT_TRUE(list.index(0, RecordingList::Name).data(Qt::ToolTipRole).toString().contains(QStringLiteral("権限")));
  EXPECT_TRUE(list.index(1, RecordingList::Name).data(Qt::ToolTipRole).toString().contains(QStringLiteral("F2")));

  // Neither plays; each says why, and the player is not asked.
  QSignalSpy plays(&window, &frmRecordings::playRequested);
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Return);
  view->setCurrentIndex(list.index(1, 0));
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_EQ(plays.size(), 0);
  ASSERT_EQ(sys_.prompter.messages.size(), 2u);
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("読む権限")));
  EXPECT_TRUE(sys_.prompter.messages[1].text.contains(QStringLiteral("名前を変えて")));
  // The trash cannot take the odd name: said before anything is asked.
  QTest::keyClick(view, Qt::Key_Delete);
  ASSERT_EQ(sys_.prompter.messages.size(), 3u);
  EXPECT_EQ(sys_.prompter.messages[2].buttons, Prompter::Buttons::Ok);
  EXPECT_TRUE(exists(sjis));

  typeName(window, QStringLiteral("会議"));
  const QString renamed = saveFolder_->filePath(QStringLiteral("会議.wma"));
  EXPECT_EQ(sys_.prompter.messages.size(), 3u) << sys_.prompter.messages.back().text.toStdString();
  EXPECT_FALSE(exists(sjis));
  EXPECT_EQ(contents(QFile::encodeName(renamed)), sound);
  EXPECT_EQ(list.index(1, RecordingList::Name).data().toString(), QStringLiteral("会議.wma"));
  QTest::keyClick(view, Qt::Key_Return);
  ASSERT_EQ(plays.size(), 1) << "now it plays";
  EXPECT_EQ(plays[0][0].toString(), renamed);

  // The unreadable file is renamed as any other: the folder is what a rename changes.
  view->setCurrentIndex(list.index(0, 0));
  typeName(window, QStringLiteral("unlocked"));
  EXPECT_TRUE(exists(QFile::encodeName(saveFolder_->filePath(QStringLiteral("unlocked.wma")))));
  EXPECT_FALSE(exists(QFile::encodeName(locked)));
  EXPECT_EQ(sys_.prompter.messages.size(), 3u);
}

// On FAT "talk.wma" and "TALK.wma" are one name: a change of case alone renames the file,
// as on any other disk; a name that another file holds in other letters is refused.
TEST_F(RecordingsWindowTest, AChangeOfCaseAloneRenamesTheFileEvenOnFat) {
  // Where case tells names apart, two files differ in case alone: neither takes the other's name.
  const QString take = recording(tone_, QStringLiteral("take.wma"), 200);
  const QString TAKE = recording(other_, QStringLiteral("TAKE.wma"), 100);
  {
    const auto opened = openOverFolder();
    find<QTreeView>(opened.get(), "recordingList")->setCurrentIndex(opened->list().index(1, 0));
    typeName(*opened, QStringLiteral("TAKE"));
    ASSERT_EQ(sys_.prompter.messages.size(), 1u);
    EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("すでにあります")));
    EXPECT_EQ(contents(QFile::encodeName(take)), contents(QFile::encodeName(tone_)));
    EXPECT_EQ(contents(QFile::encodeName(TAKE)), contents(QFile::encodeName(other_)));
    sys_.prompter.messages.clear();
  }

  const QString fat = saveFolder_->filePath(QStringLiteral("fat"));
  FatDisk disk(fat);
  if (!disk.mounted()) GTEST_SKIP() << "no FAT file system can be mounted here";
  WriteSetting(kSaveFolderSetting, fat);
  const QString talk = fat + QStringLiteral("/talk.wma");
  ASSERT_TRUE(QFile::copy(tone_, talk));
  ASSERT_TRUE(QFile::copy(other_, fat + QStringLiteral("/notes.wma")));
  WriteSetting(kLastRecordingSetting, talk);
  const auto opened = openOverFolder();
  frmRecordings& window = *opened;
  auto* view = find<QTreeView>(&window, "recordingList");
  const int row = column(window.list(), RecordingList::Name).indexOf(QStringLiteral("talk.wma"));
  ASSERT_GE(row, 0);
  view->setCurrentIndex(window.list().index(row, 0));

  typeName(window, QStringLiteral("TALK"));
  EXPECT_TRUE(sys_.prompter.messages.empty()) << sys_.prompter.messages[0].text.toStdString();
  QStringList names = QDir(fat).entryList(QDir::Files | QDir::Hidden);
  names.sort();
  EXPECT_EQ(names, (QStringList{"TALK.wma", "notes.wma"})) << "renamed, and nothing left on the way";
  EXPECT_EQ(contents(QFile::encodeName(fat + QStringLiteral("/TALK.wma"))), contents(QFile::encodeName(tone_)));
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), fat + QStringLiteral("/TALK.wma"));
  EXPECT_EQ(window.list().index(row, 0).data().toString(), QStringLiteral("TALK.wma"));

  view->setCurrentIndex(window.list().index(1 - row, 0));
  typeName(window, QStringLiteral("talk"));
  ASSERT_EQ(sys_.prompter.messages.size(), 1u) << "TALK.wma holds that name";
  EXPECT_TRUE(sys_.prompter.messages[0].text.contains(QStringLiteral("すでにあります")));
  EXPECT_EQ(contents(QFile::encodeName(fat + QStringLiteral("/notes.wma"))), contents(QFile::encodeName(other_)));
  EXPECT_EQ(contents(QFile::encodeName(fat + QStringLiteral("/TALK.wma"))), contents(QFile::encodeName(tone_)));
}

// A file that went behind the window's back (a file manager, another program) is said to
// be gone, and the folder is listed again; nothing claims that it stayed.
TEST_F(RecordingsWindowTest, AFileAlreadyGoneIsSaidToBeGoneAndTheFolderIsListedAgain) {
  const QString kept = recording(tone_, QStringLiteral("kept.wma"), 300);
  const QString gone = recording(other_, QStringLiteral("gone.wma"), 200);
  const auto opened = openOverFolder();
  frmRecordings& window = *opened;
  auto* view = find<QTreeView>(&window, "recordingList");
  auto names = [&] { return column(window.list(), RecordingList::Name); };
  auto saidGone = [&](size_t i) {
    return i < sys_.prompter.messages.size() && sys_.prompter.messages[i].text.contains(QStringLiteral("もうありません")) &&
           !sys_.prompter.messages[i].text.contains(QStringLiteral("そのまま残って"));
  };

  ASSERT_TRUE(QFile::remove(gone));
  QTest::keyClick(view, Qt::Key_Delete);
  ASSERT_EQ(sys_.prompter.messages.size(), 1u) << "nothing asked about a file that is not there";
  EXPECT_TRUE(saidGone(0)) << sys_.prompter.messages[0].text.toStdString();
  EXPECT_TRUE(waitUntil([&] { return names() == QStringList{"kept.wma"}; }, 5000));

  // Gone while the question waits for its answer.
  const QString late = recording(long_, QStringLiteral("late.wma"), 100);
  ASSERT_TRUE(waitUntil([&] { return names() == (QStringList{"late.wma", "kept.wma"}); }, 5000));
  view->setCurrentIndex(window.list().index(0, 0));
  sys_.prompter.answers = {Prompter::Answer::Yes};
  sys_.prompter.onMessage = [&] { QFile::remove(late); };
  QTest::keyClick(view, Qt::Key_Delete);
  sys_.prompter.onMessage = nullptr;
  ASSERT_EQ(sys_.prompter.messages.size(), 3u);
  EXPECT_EQ(sys_.prompter.messages[1].buttons, Prompter::Buttons::YesNo);
  EXPECT_TRUE(saidGone(2)) << sys_.prompter.messages[2].text.toStdString();
  EXPECT_TRUE(waitUntil([&] { return names() == QStringList{"kept.wma"}; }, 5000));

  // And a rename of a file gone.
  view->setCurrentIndex(window.list().index(0, 0));
  ASSERT_TRUE(QFile::remove(kept));
  typeName(window, QStringLiteral("renamed"));
  ASSERT_EQ(sys_.prompter.messages.size(), 4u);
  EXPECT_TRUE(saidGone(3)) << sys_.prompter.messages[3].text.toStdString();
  EXPECT_FALSE(QFile::exists(saveFolder_->filePath(QStringLiteral("renamed.wma"))));
  EXPECT_TRUE(waitUntil([&] { return window.list().rowCount() == 0; }, 5000));
}
