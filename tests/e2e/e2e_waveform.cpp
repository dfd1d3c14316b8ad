// The waveform of a recording in the real program's recordings window, read back from the
// screen: where the microphone sounded it is tall, where it was silent it is flat.
#include <QImage>
#include <chrono>

#include "e2e/EndToEnd.h"
#include "e2e/ScreenReader.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

qint64 now() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

class WaveformLive : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (IsSkipped()) return;
    if (!reader_.available()) GTEST_SKIP() << "needs a session bus and AT-SPI (python3-pyatspi)";
    extraEnvironment_.insert(reader_.environment());
    extraEnvironment_.insert(QStringLiteral("XDG_CACHE_HOME"), work_.filePath(QStringLiteral("cache")));
  }
  ScreenReader reader_;
};

// The screen as it is, in the screen's own pixels.
QImage screenPicture() {
  QProcess p;
  p.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
  p.waitForFinished(10000);
  return QImage::fromData(p.readAllStandardOutput(), "PNG");
}

// How much of each column of `area` is drawn on, in pixels: what differs from the colour
// that most of its top row has, the waveform's background.
std::vector<int> inkPerColumn(const QImage& picture) {
  QHash<QRgb, int> top;
  for (int x = 0; x < picture.width(); ++x) ++top[picture.pixel(x, 2)];
  QRgb background = 0;
  int most = 0;
  for (auto it = top.cbegin(); it != top.cend(); ++it)
    if (it.value() > most) most = it.value(), background = it.key();
  std::vector<int> ink(size_t(picture.width()), 0);
  for (int x = 0; x < picture.width(); ++x)
    for (int y = 0; y < picture.height(); ++y) {
      const QRgb c = picture.pixel(x, y);
      const int d = std::abs(qRed(c) - qRed(background)) + std::abs(qGreen(c) - qGreen(background)) +
                    std::abs(qBlue(c) - qBlue(background));
      if (d > 90) ++ink[size_t(x)];
    }
  return ink;
}

TEST_F(WaveformLive, ToneSilenceToneIsTallFlatTallAtItsTimes) {
  const Recording r = startRecording();
  ASSERT_GT(r.first, 0) << "the recording did not start";
  // 2 s of tone, 2 s of silence, 2 s of tone, each counted from the first sample; a mark
  // in the silence and one at the second tone.
  auto until = [&](double seconds) { waitUntil([&] { return secondsBetween(r.first, now()) >= seconds; }, 20000); };
  until(2.0);
  mic_->setAmplitude(0);
  until(3.0);
  keys(r.window, {QStringLiteral("m")});
  until(4.0);
  mic_->setAmplitude(0.35);
  keys(r.window, {QStringLiteral("m")});
  until(6.0);
  clickButton(r.window, 56);  // stop
  ASSERT_GT(trace_.waitFor("file-closed", r.first), 0) << "the file was not completed";
  const QString recorded = stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName"));
  const double seconds = probe(recorded).duration;
  ASSERT_GT(seconds, 5.5);

  keys(r.window, {QStringLiteral("alt+f")});
  keys(r.window, {QStringLiteral("r")});
  const qint64 pid = program_.processId();
  const std::optional<Accessible> wave = reader_.waitFor(pid, [](const Accessible& a) {
    return a.name == QStringLiteral("波形") && a.extents.width() > 200;
  });
  ASSERT_TRUE(wave) << "no waveform on screen:\n" << reader_.listing(pid).toStdString();
  runFor(500);  // drawn
  const QString list = findWindow(QStringLiteral("Tallowen - 録音一覧"));
  screenshot(list, QStringLiteral("recordings.png"));

  const QImage picture = screenPicture().copy(wave->extents);
  ASSERT_FALSE(picture.isNull());
  const std::vector<int> ink = inkPerColumn(picture);
  const int height = picture.height();
  // The column at a second of the recording, and its neighbours: the tallest of them, so
  // that a mark's line or the position's does not count.
  auto at = [&](double s) {
    const int x = int(s / seconds * picture.width());
    int least = height;
    for (int dx = -3; dx <= 3; ++dx) least = std::min(least, ink[size_t(std::clamp(x + dx, 0, int(ink.size()) - 1))]);
    return least;
  };
  for (double s : {0.5, 1.0, 1.5, 4.5, 5.0, 5.5})
    EXPECT_GT(at(s), height / 3) << "the tone at " << s << " s is not tall; the columns " << at(s) << " of " << height;
  for (double s : {2.5, 3.5}) EXPECT_LT(at(s), 6) << "the silence at " << s << " s is not flat: " << at(s);

  // Enter plays it in the player, whose seek bar draws the same loudness.
  const qint64 before = trace_.latest("player-length");
  keys(list, {QStringLiteral("Return")});
  const QString player = findWindow(QStringLiteral("Tallowen - 再生"));
  ASSERT_FALSE(player.isEmpty()) << "the player did not come up";
  EXPECT_GT(trace_.waitFor("player-length", before), 0);
  runFor(1500);
  screenshot(player, QStringLiteral("player-waveform.png"));
}

}  // namespace
