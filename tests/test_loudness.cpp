#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <cmath>
#include <optional>

#include "recording/Codec.h"
#include "recording/Loudness.h"
#include "recording/LoudnessCache.h"
#include "recording/LoudnessMaker.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// A WMA file of `seconds`, a 1 kHz tone at half of full scale where `tone` (an expression
// of t for FFmpeg's aevalsrc) is 1 and silence where it is 0.
QString makeWma(const QString& path, const QString& tone, int seconds) {
  QProcess ffmpeg;
  ffmpeg.start(QStringLiteral("ffmpeg"),
               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("aevalsrc=0.5*sin(2*PI*1000*t)*(%1):s=44100:c=stereo:d=%2").arg(QString(tone).replace(QLatin1Char(','), QStringLiteral("\\,"))).arg(seconds),
                QStringLiteral("-c:a"), QStringLiteral("wmav2"), QStringLiteral("-b:a"), QStringLiteral("128k"), path});
  ffmpeg.waitForFinished(60000);
  return ffmpeg.exitCode() == 0 && QFile::exists(path) ? path : QString();
}

// The loudest level of [fromMs, toMs) and the quietest.
std::pair<int, int> range(const Loudness& l, int64_t fromMs, int64_t toMs) {
  int lo = 255, hi = 0;
  for (int64_t b = Loudness::blockAt(fromMs); b < Loudness::blockAt(toMs) && b < int64_t(l.levels.size()); ++b) {
    lo = std::min<int>(lo, l.levels[size_t(b)]);
    hi = std::max<int>(hi, l.levels[size_t(b)]);
  }
  return {hi, lo};
}

const uint8_t kHalfScale = Loudness::levelOf(0.5f);

class MakerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  // Makes the file's loudness, and counts what the maker told on the way.
  std::optional<Loudness> make(LoudnessMaker& maker, const QString& path, int timeoutMs = 20000) {
    std::optional<Loudness> made;
    std::optional<QString> failure;
    QObject context;
    QObject::connect(&maker, &LoudnessMaker::ready, &context, [&](const Loudness& l) { made = l; });
    QObject::connect(&maker, &LoudnessMaker::failed, &context, [&](const QString& why) { failure = why; });
    QObject::connect(&maker, &LoudnessMaker::progress, &context, [&](const Loudness&, int) { ++progressed_; });
    maker.make(path);
    waitUntil([&] { return made || failure; }, timeoutMs);
    failure_ = failure.value_or(QString());
    return made;
  }
  QString file(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
  LoudnessCache cache_{dir_.filePath(QStringLiteral("cache"))};
  int progressed_ = 0;
  QString failure_;
};

}  // namespace

// The meter sums each 20 ms however the sound is handed to it, and tells the block not yet
// full as well: that sound is in the file too.
TEST(LoudnessMeter, SumsEveryTwentyMillisecondsWhateverTheSizesItIsFed) {
  EXPECT_EQ(Loudness::levelOf(0.0f), 0);
  EXPECT_EQ(Loudness::levelOf(std::nanf("")), 0);
  EXPECT_EQ(Loudness::levelOf(1.0f), 255);
  EXPECT_EQ(Loudness::levelOf(4.0f), 255);
  EXPECT_EQ(Loudness::levelOf(0.0005f), 0);  // below -60 dB
  EXPECT_NEAR(Loudness::dbOf(Loudness::levelOf(0.1f)), -20.0f, 0.3f);

  LoudnessMeter meter;
  meter.start(48000, 2);
  std::vector<float> sound(size_t(48000) * 2 * 3, 0.0f);
  // A second of tone at half scale, a second of silence, 10 ms of full scale.
  for (size_t i = 0; i < size_t(48000) * 2; ++i) sound[i] = (i % 7 == 0) ? -0.5f : 0.1f;
  for (size_t i = size_t(96000) * 2; i < size_t(96000 + 480) * 2; ++i) sound[i] = 1.0f;
  size_t at = 0;
  for (int chunk : {1, 959, 961, 4800, 37}) {
    meter.feed(sound.data() + at * 2, chunk);
    at += size_t(chunk);
  }
  meter.feed(sound.data() + at * 2, int(96000 + 480 - at));
  EXPECT_EQ(meter.blocks(), 100);
  const Loudness whole = meter.whole();
  ASSERT_EQ(whole.levels.size(), 101u);
  EXPECT_EQ(range(whole, 0, 1000), std::make_pair(int(kHalfScale), int(kHalfScale)));
  EXPECT_EQ(range(whole, 1000, 2000), std::make_pair(0, 0));
  EXPECT_EQ(whole.levels.back(), 255);
  EXPECT_EQ(whole.peakOver(900, 1100), kHalfScale);
  EXPECT_EQ(whole.peakOver(1500, 1501), 0);
  EXPECT_EQ(meter.levelsFrom(98).size(), 2u);
  EXPECT_TRUE(meter.levelsFrom(500).empty());
}

// A summary is found again for the same sound under another name, never for a file that
// changed, and never when it was torn.
TEST_F(MakerTest, TheCacheKnowsAFileByItsSoundAndDropsWhatDoesNotAgree) {
  const QString wma = makeWma(file(QStringLiteral("a.wma")), QStringLiteral("1"), 3);
  ASSERT_FALSE(wma.isEmpty());
  Loudness l;
  l.levels = {0, 10, 200, 255, 7};
  ASSERT_TRUE(cache_.store(wma, l));
  ASSERT_TRUE(cache_.load(wma));
  EXPECT_EQ(cache_.load(wma)->levels, l.levels);
  EXPECT_EQ(QDir(cache_.folder()).entryList(QDir::Files).size(), 1);  // no temporary left

  const QString renamed = file(QStringLiteral("renamed.wma"));
  ASSERT_TRUE(QFile::rename(wma, renamed));
  ASSERT_TRUE(cache_.load(renamed));

  const QString entry = QDir(cache_.folder()).entryInfoList(QDir::Files).first().filePath();
  {
    QFile f(entry);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    bytes[bytes.size() - 25] = char(bytes[bytes.size() - 25] ^ 0x40);
    f.seek(0);
    f.write(bytes);
  }
  EXPECT_FALSE(cache_.load(renamed)) << "a torn summary";
  ASSERT_TRUE(cache_.store(renamed, l));
  {
    QFile f(renamed);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("more");
  }
  EXPECT_FALSE(cache_.load(renamed)) << "the file changed";
  EXPECT_FALSE(cache_.load(file(QStringLiteral("missing.wma"))));
}

// A file not made here is decoded: its tone is loud, its silence quiet, at their times; the
// second time it comes from the cache at once.
TEST_F(MakerTest, AForeignFileIsDecodedAndThenKnown) {
  const QString wma = makeWma(file(QStringLiteral("b.wma")), QStringLiteral("lt(t,2)+gte(t,4)"), 6);
  ASSERT_FALSE(wma.isEmpty());
  LoudnessMaker maker(cache_);
  const std::optional<Loudness> made = make(maker, wma);
  ASSERT_TRUE(made) << failure_.toStdString();
  EXPECT_NEAR(double(made->lengthMs()), 6000, 100);
  EXPECT_GE(range(*made, 100, 1900).second, kHalfScale - 3);
  EXPECT_LE(range(*made, 2200, 3800).first, 20);
  EXPECT_GE(range(*made, 4200, 5900).second, kHalfScale - 3);
  EXPECT_TRUE(cache_.load(wma));

  // What the cache holds is what comes, not a decode: told apart by a level changed there.
  Loudness known = *made;
  known.levels[0] = 7;
  ASSERT_TRUE(cache_.store(wma, known));
  progressed_ = 0;
  const std::optional<Loudness> again = make(maker, wma);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->levels, known.levels);
  EXPECT_EQ(progressed_, 0);
}

// A long file is decoded in two pieces at once; where they meet there is neither a gap nor
// a step, so the waveform is the one a single decode gives.
TEST_F(MakerTest, TwoPiecesMeetWhereOneDecodeWouldBe) {
  const QString wma = makeWma(file(QStringLiteral("long.wma")), QStringLiteral("lt(mod(t,2),1)"), 320);
  ASSERT_FALSE(wma.isEmpty());
  LoudnessMaker maker(cache_);
  const std::optional<Loudness> made = make(maker, wma, 60000);
  ASSERT_TRUE(made) << failure_.toStdString();

  struct Collect final : PeakSink {
    std::vector<uint8_t> levels;
    void takePeaks(int64_t first, const float* peaks, int count) override {
      levels.resize(size_t(std::max<int64_t>(int64_t(levels.size()), first + count)));
      for (int i = 0; i < count; ++i) levels[size_t(first + i)] = Loudness::levelOf(peaks[i]);
    }
  } once;
  std::atomic<bool> cancel{false};
  ASSERT_TRUE(LoadedCodec().openDecoder(wma)->decodePeaks(0, -1, once, cancel));
  ASSERT_EQ(made->levels.size(), once.levels.size());
  int differing = 0;
  for (size_t i = 0; i < once.levels.size(); ++i)
    if (std::abs(int(made->levels[i]) - int(once.levels[i])) > 2) ++differing;
  EXPECT_LE(differing, 2);
  // Every second's tone is there, the one at the seam too.
  for (int s = 0; s < 320; s += 2) ASSERT_GE(range(*made, s * 1000 + 100, s * 1000 + 900).second, kHalfScale - 3) << s;
}

// Only the file asked for last is told; one that cannot be read is said in words.
TEST_F(MakerTest, TheLastFileAskedForIsTheOneToldAndAFailureIsSaid) {
  const QString first = makeWma(file(QStringLiteral("first.wma")), QStringLiteral("1"), 30);
  const QString second = makeWma(file(QStringLiteral("second.wma")), QStringLiteral("0"), 2);
  ASSERT_FALSE(first.isEmpty());
  ASSERT_FALSE(second.isEmpty());
  LoudnessMaker maker(cache_);
  std::vector<int64_t> told;
  QObject::connect(&maker, &LoudnessMaker::ready, [&](const Loudness& l) { told.push_back(l.lengthMs()); });
  maker.make(first);
  const std::optional<Loudness> made = make(maker, second);
  ASSERT_TRUE(made);
  EXPECT_TRUE(staysTrue([&] { return told.size() == 1; }, 300));
  EXPECT_NEAR(double(told.at(0)), 2000, 100);
  EXPECT_EQ(maker.path(), second);

  const QString text = file(QStringLiteral("notes.wma"));
  {
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a sound at all");
  }
  EXPECT_FALSE(make(maker, text));
  EXPECT_TRUE(failure_.startsWith(QStringLiteral("この録音の波形は作れません"))) << failure_.toStdString();
}
