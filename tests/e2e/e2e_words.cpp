// The real program telling the user what happened, as a screen reader hears it: why a
// recording could not start, the first recording from the first start, and where a
// recording went.
#include <QElapsedTimer>
#include <QImage>
#include <QScopeGuard>

#include "e2e/EndToEnd.h"
#include "e2e/ScreenReader.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// The figure the program noted with the latest `moment` after `after`, or -1.
long long tracedValue(const Trace& trace, const char* moment, qint64 after) {
  QFile f(trace.path());
  if (!f.open(QIODevice::ReadOnly)) return -1;
  long long value = -1;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() == 3 && fields[1] == moment && fields[0].toLongLong() > after) value = fields[2].toLongLong();
  }
  return value;
}

class WordsLive : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (IsSkipped()) return;
    if (!reader_.available()) GTEST_SKIP() << "needs a session bus and AT-SPI (python3-pyatspi)";
    extraEnvironment_.insert(reader_.environment());
  }

  // The text of the message box on screen, as a screen reader reads it out.
  QString messageText() {
    const std::optional<Accessible> text = reader_.waitFor(program_.processId(), [](const Accessible& a) {
      return a.role == QLatin1String("label") && a.window == QLatin1String("Tallowen") && a.name.size() > 10;
    });
    return text ? text->name : QString();
  }

  ScreenReader reader_;
};

// Each way the input or the sound server fails is said in the first line of the warning,
// in Japanese and not as an unfinished install, and the help page of that cause follows.
TEST_F(WordsLive, AStartThatFailsSaysWhyFirstAndOpensThePageOfThatCause) {
  if (!SoundServer::available()) GTEST_SKIP() << "needs the test command's own sound server";
  MicrophoneModule microphone;
  OutputModule output;
  ASSERT_TRUE(microphone.find() && output.find()) << "no test sound server";
  const QString window = startWithChoicesMade();
  ASSERT_FALSE(window.isEmpty()) << "the main window did not come up";

  // Record, read the warning, close it, and see which help page it opened.
  auto failedStart = [&](const char* cause) -> std::pair<QString, long long> {
    SCOPED_TRACE(cause);
    const qint64 before = trace_.latest("record-click");
    keys(window, {QStringLiteral("r")});
    EXPECT_GT(trace_.waitFor("record-click", before), before) << "the key did not record";
    const QString told = messageText();
    const QString box = findWindow(QStringLiteral("Tallowen"), 0, 5000);
    if (!box.isEmpty()) keys(box, {QStringLiteral("Return")});
    long long topic = -1;
    waitUntil([&] { return (topic = tracedValue(trace_, "help-topic", before)) > 0; }, 10000);
    std::printf("%s: \"%s\", help topic %lld\n", cause, told.toStdString().c_str(), topic);
    EXPECT_FALSE(told.contains(QStringLiteral("Windows Media Encoder"))) << "not an install that never ends";
    EXPECT_FALSE(trace_.latest("first-sample") > before) << "it recorded after all";
    return {told.split(QLatin1Char('\n')).value(0), topic};
  };

  // Another program has the microphone: the sound server suspends it for that program, as
  // pasuspender hands a device over.
  ASSERT_EQ(run(QStringLiteral("pactl"), {QStringLiteral("suspend-source"), QStringLiteral("mic"), QStringLiteral("1")}),
            QString());
  auto [held, heldTopic] = failedStart("held by another program");
  run(QStringLiteral("pactl"), {QStringLiteral("suspend-source"), QStringLiteral("mic"), QStringLiteral("0")});
  EXPECT_TRUE(held.startsWith(QStringLiteral("録音デバイス「")) && held.endsWith(QStringLiteral("」は、ほかのプログラムが使っています。")))
      << held.toStdString();
  EXPECT_EQ(heldTopic, 4);

  // No input at all: neither the microphone nor the output, whose monitor would stand in.
  {
    ASSERT_TRUE(microphone.unload());
    const bool outputUnloaded = output.unload();
    const auto putBack = qScopeGuard([&] {
      if (outputUnloaded) {
        EXPECT_TRUE(output.restore());
      }
      EXPECT_TRUE(microphone.restore()) << "later tests need the microphone back";
    });
    ASSERT_TRUE(outputUnloaded);
    auto [none, noneTopic] = failedStart("no input");
    EXPECT_EQ(none, QStringLiteral("録音デバイス (マイク) が見つかりません。"));
    EXPECT_EQ(noneTopic, 2);
  }

  // No sound server answers.
  {
    ASSERT_TRUE(SoundServer::stop());
    const auto putBack = qScopeGuard([&] {
      EXPECT_TRUE(SoundServer::start());
      mic_ = std::make_unique<MicFeeder>(440);  // the new server's microphone
    });
    auto [away, awayTopic] = failedStart("no sound server");
    EXPECT_EQ(away, QStringLiteral("音声サーバー (PipeWire または PulseAudio) が応答しません。"));
    EXPECT_EQ(awayTopic, 3);
  }
}

// From the first start to the first recording as a new user goes, with the mouse: No to
// the offer, record, OK to the first-use message, OK in the settings dialog, which proposes
// the quality for speech and the folder. Then a click on the quality's text opens its list.
TEST_F(WordsLive, TheFirstRecordingTakesFourClicksFromTheFirstStart) {
  const QString offer = startProgram(false);
  ASSERT_FALSE(offer.isEmpty()) << "the first-start offer did not come up";
  const qint64 pid = program_.processId();
  int clicks = 0;
  auto control = [&](const char* role, const QString& window, const std::function<bool(const QString&)>& named) {
    return reader_.waitFor(pid, [&](const Accessible& a) {
      return a.role == QLatin1String(role) && a.window == window && named(a.name) && !a.extents.isEmpty();
    });
  };
  auto button = [&](const QString& window, const QString& name) {
    return control("push button", window, [&](const QString& n) { return n == name; });
  };
  auto click = [&](const std::optional<Accessible>& target, const char* what) {
    if (!target) return false;
    clickOn(*target);
    ++clicks;
    std::printf("click %d: %s\n", clicks, what);
    return true;
  };
  const QString tallowen = QStringLiteral("Tallowen"), settings = QStringLiteral("Tallowen - 設定変更");

  ASSERT_TRUE(click(control("push button", tallowen, [](const QString& n) { return n.startsWith(QStringLiteral("いいえ")); }),
                    "いいえ to the offer"));
  const QString window = findWindow(tallowen, 175);
  ASSERT_FALSE(window.isEmpty()) << "the main window did not come up";
  ASSERT_TRUE(click(button(tallowen, QStringLiteral("録音")), "record"));
  ASSERT_TRUE(click(button(tallowen, QStringLiteral("OK")), "OK to the first-use message"));
  const std::optional<Accessible> ok = button(settings, QStringLiteral("OK"));
  screenshot(findWindow(settings), QStringLiteral("settings-first-use.png"));
  ASSERT_TRUE(click(ok, "OK in the settings dialog"));
  const qint64 first = trace_.waitFor("first-sample");
  EXPECT_GT(first, 0) << "no recording after " << clicks << " clicks";
  EXPECT_EQ(clicks, 4);
  EXPECT_TRUE(findWindow(tallowen, 0, 300).isEmpty()) << "a question came before the recording";
  if (first <= 0) return;

  runFor(1000);
  clickButton(window, 56);  // stop
  ASSERT_GT(trace_.waitFor("file-closed", first), 0) << "the file was not completed";
  const QString speech = QStringLiteral("音声 標準 (32 kbps, 22 kHz, モノラル)");
  EXPECT_EQ(stored(QStringLiteral("Profile"), QStringLiteral("Prof")), speech);
  const QString path = stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName"));
  EXPECT_TRUE(path.startsWith(app_ + QStringLiteral("/Rec/"))) << "in the folder proposed: " << path.toStdString();
  const Probe probed = probe(path);
  EXPECT_EQ(probed.sampleRate, 22050);
  EXPECT_EQ(probed.channels, 1);

  // A click on the quality's text, not on its arrow, opens the list. (The box is the
  // dialog's one combo box: its name is its value.)
  clickButton(window, 132);  // settings
  const std::optional<Accessible> box =
      control("combo box", settings, [](const QString&) { return true; });
  ASSERT_TRUE(box) << "the settings dialog did not come up; on screen:\n" << reader_.listing(pid).toStdString();
  xdotool({QStringLiteral("mousemove"), QString::number(box->extents.left() + 20), QString::number(box->centre().y()),
           QStringLiteral("click"), QStringLiteral("1")});
  // The list is open where it drops below the box; closed, it stands nowhere.
  const std::optional<Accessible> better = reader_.waitFor(pid, [&](const Accessible& a) {
    return a.role == QLatin1String("list item") && a.name.startsWith(QStringLiteral("音声 高音質")) &&
           a.extents.top() >= box->extents.bottom() - 2 && a.extents.left() >= box->extents.left() - 4;
  });
  ASSERT_TRUE(better) << "the list did not open; on screen:\n" << reader_.listing(pid).toStdString();
  screenshot(QStringLiteral("root"), QStringLiteral("settings-quality-list.png"));
  clickOn(*better);
  clickOn(*button(settings, QStringLiteral("OK")));
  EXPECT_TRUE(waitUntil([&] { return stored(QStringLiteral("Profile"), QStringLiteral("Prof")).contains(QStringLiteral("48 kbps")); }, 3000))
      << stored(QStringLiteral("Profile"), QStringLiteral("Prof")).toStdString();
}

// Dark pixels inside `area` of the screen (its frame left out): text drawn there.
int inkIn(const QString& shot, const QRect& area) {
  run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), shot});
  const QImage screen(shot);
  int ink = 0;
  const QRect inside = area.adjusted(2, 2, -2, -2) & screen.rect();
  for (int y = inside.top(); y <= inside.bottom(); ++y)
    for (int x = inside.left(); x <= inside.right(); ++x) ink += qGray(screen.pixel(x, y)) < 128;
  return ink;
}

// A stop says where the file went: its name in the time box for a few seconds, its path to
// a screen reader, the recordings window chooses it (so F2 renames this one), the rename
// gives the file its new title, and the player names the file it plays.
TEST_F(WordsLive, AStoppedRecordingSaysWhereItWentAndARenameRetitlesIt) {
  QDir().mkpath(saveFolder_);
  {
    QFile older(saveFolder_ + QStringLiteral("/older.wma"));
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.write("an older recording");
    ASSERT_TRUE(older.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
  }
  const QString window = startWithChoicesMade();
  ASSERT_FALSE(window.isEmpty()) << "the main window did not come up";
  const qint64 pid = program_.processId();
  keys(window, {QStringLiteral("alt+f")});
  keys(window, {QStringLiteral("r")});
  const QString list = findWindow(QStringLiteral("Tallowen - 録音一覧"));
  ASSERT_FALSE(list.isEmpty()) << "the recordings window did not come up";
  // Beside the main window, as a window manager would place it; its one row, the older
  // recording, is chosen.
  xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), list, QStringLiteral("300"), QStringLiteral("200")});

  keys(window, {QStringLiteral("r")});
  const qint64 first = trace_.waitFor("first-sample");
  ASSERT_GT(first, 0) << "no sound reached the recording";
  const std::optional<Accessible> box =
      reader_.waitFor(pid, [&](const Accessible& a) { return a.name == QStringLiteral("録音時間"); });
  ASSERT_TRUE(box) << "no time box:\n" << reader_.listing(pid).toStdString();
  runFor(1000);
  keys(window, {QStringLiteral("s")});
  ASSERT_GT(trace_.waitFor("file-closed", first), 0) << "the file was not completed";
  QElapsedTimer sinceStop;
  sinceStop.start();
  const QString path = stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName"));
  ASSERT_TRUE(path.startsWith(saveFolder_ + QLatin1Char('/'))) << path.toStdString();
  // Told once the stop is over; while it stops, the box shows "Stopping...".
  EXPECT_TRUE(reader_.waitFor(pid, [&](const Accessible& a) {
    return a.name == QStringLiteral("録音時間") && a.description.contains(path);
  })) << "the time box does not tell where the file is:\n" << reader_.listing(pid).toStdString();
  const QString shot = work_.filePath(QStringLiteral("screen.png"));
  EXPECT_GT(inkIn(shot, box->extents), 20) << "the time box shows nothing";
  screenshot(window, QStringLiteral("stopped.png"));

  // F2 renames what the list has chosen.
  keys(list, {QStringLiteral("F2")});
  xdotool({QStringLiteral("type"), QStringLiteral("meeting notes")});
  keys(list, {QStringLiteral("Return")});
  const QString renamed = saveFolder_ + QStringLiteral("/meeting notes.wma");
  EXPECT_TRUE(waitUntil([&] { return QFile::exists(renamed); }, 3000)) << "the new recording was not the one chosen";
  EXPECT_TRUE(QFile::exists(saveFolder_ + QStringLiteral("/older.wma")));
  EXPECT_EQ(probe(renamed).title, QStringLiteral("meeting notes.wma")) << "the title in the file follows its name";
  EXPECT_EQ(stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName")), renamed);

  // The name goes after a few seconds (before the player opens, which may cover the box).
  EXPECT_TRUE(waitUntil([&] { return inkIn(shot, box->extents) == 0; }, 8000)) << "the name stays";
  std::printf("the name went %.1f s after the stop was seen\n", sinceStop.elapsed() / 1000.0);

  // Enter plays it; the player names it where the time is.
  keys(list, {QStringLiteral("Return")});
  ASSERT_FALSE(findWindow(QStringLiteral("Tallowen - 再生")).isEmpty()) << "the player did not come up";
  const std::optional<Accessible> position = reader_.waitFor(pid, [&](const Accessible& a) {
    return a.name == QStringLiteral("経過時間") && a.window == QStringLiteral("Tallowen - 再生");
  });
  ASSERT_TRUE(position);
  EXPECT_EQ(position->description, QStringLiteral("再生中のファイル: ") + renamed);
}

}  // namespace
