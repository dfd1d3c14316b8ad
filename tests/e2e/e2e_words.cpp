// The real program telling the user what happened, as a screen reader hears it: why a
// recording could not start, the first recording from the first start, and where a
// recording went.
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

}  // namespace
