#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <limits>
#include <cstdio>
#include <csignal>

#include "recording/Codec.h"
#include "recording/Encoder.h"
#include "recording/InputLevel.h"
#include "recording/OutputFile.h"
#include "support/AudioCheck.h"
#include "support/MicFeeder.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

class EncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    tone_ = dir_.filePath(QStringLiteral("tone.wav"));
    writeToneWav(tone_, 1000, 1.5, 48000, 2);
  }

  // An encoder set up the way the main window sets one up, on the given input.
  std::unique_ptr<Encoder> makeEncoder(const QString& input, int profile, const QString& out,
                                       Source::Pace pace = Source::Pace::AsFastAsPossible,
                                       bool repeat = false) {
    auto encoder = std::make_unique<Encoder>();
    SourceGroup& group = encoder->sourceGroupCollection().add(QStringLiteral("SG_1"));
    Source& source = group.addSource(SourceType::Audio);
    group.setProfile(encoder->profileCollection().item(profile));
    source.setInput(input);
    source.setPace(pace);
    source.setRepeat(repeat);
    encoder->displayInfo().setAuthor(QStringLiteral("Tallowen"));
    encoder->displayInfo().setTitle(QFileInfo(out).fileName());
    encoder->file().setLocalFileName(out);
    encoder->setFlushPackets(true);
    encoder->setSyncToDisk(true);
    return encoder;
  }

  QString out(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
  QString tone_;
};

TEST_F(EncoderTest, EveryProfileRecordsTheToneAtItsSettings) {
  ProfileCollection profiles;
  ASSERT_GE(profiles.count(), 6);
  for (int i = 0; i < profiles.count(); ++i) {
    const Profile& p = profiles.item(i);
    SCOPED_TRACE(p.name.toStdString());
    const QString path = out(QStringLiteral("p%1.wma").arg(i));
    auto encoder = makeEncoder(tone_, i, path);
    encoder->start();
    ASSERT_TRUE(waitUntil([&] { return encoder->state() == Encoder::Stopped; }));
    EXPECT_EQ(encoder->lastError(), QString());

    const Probe probed = probe(path);
    ASSERT_TRUE(probed.ok);
    EXPECT_EQ(probed.formatName, QStringLiteral("asf"));
    EXPECT_EQ(probed.codecName, QStringLiteral("wmav2"));
    EXPECT_EQ(probed.sampleRate, p.sampleRate);
    EXPECT_EQ(probed.channels, p.channels);
    EXPECT_NEAR(probed.bitRate, p.bitRate, p.bitRate * 0.1);
    // Whole frames (up to 64 ms each), and the silent frame that primes the decoder just
    // before zero.
    EXPECT_GE(probed.duration, 1.49);
    EXPECT_LE(probed.duration, 1.5 + 2 * 0.064 + 0.002);
    EXPECT_EQ(probed.title, QStringLiteral("p%1.wma").arg(i));
    EXPECT_EQ(probed.author, QStringLiteral("Tallowen"));

    const std::vector<float> sound = decodeMono(path, 16000);
    EXPECT_NEAR(dominantFrequency(sound, 16000), 1000, 10);
    EXPECT_LT(longestSilenceSeconds(sound, 16000, 0.1, 1.4), 0.005) << "a gap inside the recording";
  }
}

// A start that fails on the worker: its failure, once the encoder is back to Stopped.
std::optional<EncoderError> failedStart(Encoder& encoder) {
  std::vector<int> states;
  QObject::connect(&encoder, &Encoder::stateChanged, [&](int s) { states.push_back(s); });
  encoder.start();
  if (!waitUntil([&] { return !states.empty() && states.back() == Encoder::Stopped; })) return std::nullopt;
  EXPECT_EQ(states, (std::vector<int>{Encoder::Starting, Encoder::Stopped})) << "never Running";
  return encoder.failure();
}

TEST_F(EncoderTest, StartRefusesWhatCannotBeRecordedNamesWhyAndOverwritesNothing) {
  const QString existing = out(QStringLiteral("existing.wma"));
  {
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("an earlier recording");
  }
  auto encoder = makeEncoder(tone_, 0, existing);
  const auto exists = failedStart(*encoder);
  ASSERT_TRUE(exists);
  EXPECT_EQ(exists->kind(), EncoderFailure::FileExists);
  EXPECT_EQ(exists->subject(), existing);
  EXPECT_FALSE(encoder->fileMade());
  QFile f(existing);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("an earlier recording"));

  auto noFolder = makeEncoder(tone_, 0, out(QStringLiteral("missing/x.wma")));
  const auto folder = failedStart(*noFolder);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->kind(), EncoderFailure::SaveFolder);
  EXPECT_EQ(folder->subject(), out(QStringLiteral("missing")));

  auto noInput = makeEncoder(out(QStringLiteral("no-such.wav")), 0, out(QStringLiteral("y.wma")));
  const auto input = failedStart(*noInput);
  ASSERT_TRUE(input);
  EXPECT_EQ(input->kind(), EncoderFailure::NoInput);
  EXPECT_FALSE(QFile::exists(out(QStringLiteral("y.wma")))) << "a failed start leaves no file behind";

  auto noDevice = makeEncoder(QStringLiteral("DEVICE://No such microphone"), 0, out(QStringLiteral("d.wma")));
  try {
    noDevice->start();
    FAIL() << "started on a device that does not exist";
  } catch (const EncoderError& e) {
    EXPECT_EQ(e.kind(), EncoderFailure::NoInput);
    EXPECT_EQ(e.subject(), QStringLiteral("No such microphone"));
  }

  Encoder unprepared;
  EXPECT_THROW(unprepared.start(), EncoderError);
  unprepared.sourceGroupCollection().add(QStringLiteral("SG_1")).addSource(SourceType::Audio).setInput(tone_);
  unprepared.file().setLocalFileName(out(QStringLiteral("z.wma")));
  try {
    unprepared.start();
    FAIL() << "started without a quality";
  } catch (const EncoderError& e) {
    EXPECT_EQ(e.kind(), EncoderFailure::NoProfile);
  }
  EXPECT_THROW(unprepared.sourceGroupCollection().add(QStringLiteral("SG_1")), EncoderError);
}

// The level the window shows, read from any layout a source delivers.
TEST(InputLevel, PeaksOfEveryLayoutAndFiveQuietSecondsOfRecording) {
  const int16_t s16[] = {100, -16384, 3000, 200};  // interleaved stereo
  const auto* s16Plane = reinterpret_cast<const uint8_t*>(s16);
  EXPECT_FLOAT_EQ(PeakOf(&s16Plane, 2, {44100, 2, SampleType::S16, false}), 0.5f);
  EXPECT_FLOAT_EQ(PeakOf(&s16Plane, 1, {44100, 2, SampleType::S16, false}), 0.5f) << "one frame is both channels";
  const float left[] = {0.1f, -0.2f}, right[] = {0.9f, 0.0f};
  const uint8_t* planar[] = {reinterpret_cast<const uint8_t*>(left), reinterpret_cast<const uint8_t*>(right)};
  EXPECT_FLOAT_EQ(PeakOf(planar, 2, {48000, 2, SampleType::Float, true}), 0.9f) << "the second channel's plane";
  EXPECT_FLOAT_EQ(PeakOf(planar, 2, {48000, 1, SampleType::Float, true}), 0.2f);
  const uint8_t u8[] = {128, 0, 192};
  const uint8_t* u8Plane = u8;
  EXPECT_FLOAT_EQ(PeakOf(&u8Plane, 3, {8000, 1, SampleType::U8, false}), 1.0f);
  const float broken[] = {std::numeric_limits<float>::quiet_NaN(), 0.25f};
  const auto* brokenPlane = reinterpret_cast<const uint8_t*>(broken);
  EXPECT_FLOAT_EQ(PeakOf(&brokenPlane, 2, {8000, 1, SampleType::Float, false}), 0.25f);

  InputLevel level;
  const PcmFormat mono{1000, 1, SampleType::Float, false};
  std::vector<float> quiet(1000, 0.0005f), loud(1000, 0.0f);
  loud[10] = 0.3f;
  const auto* quietPlane = reinterpret_cast<const uint8_t*>(quiet.data());
  const auto* loudPlane = reinterpret_cast<const uint8_t*>(loud.data());
  level.feed(&loudPlane, 1000, mono);
  level.feed(&quietPlane, 1000, mono);
  EXPECT_FLOAT_EQ(level.takePeak(), 0.3f) << "the loudest since the last look";
  EXPECT_FLOAT_EQ(level.takePeak(), 0.0f);
  level.feed(&loudPlane, 1000, mono);  // the quiet starts again from here
  for (int second = 0; second < 4; ++second) level.feed(&quietPlane, 1000, mono);
  EXPECT_FALSE(level.silent()) << "five seconds, not four";
  level.feed(&quietPlane, 1000, mono);
  EXPECT_TRUE(level.silent()) << "below -60 dBFS for five seconds of sound";
  level.feed(&loudPlane, 1000, mono);
  EXPECT_FALSE(level.silent()) << "sound clears it at once";
}

// Without its recording component the program still starts; recording then says why not.
TEST(RecordingComponent, ThatCannotBeLoadedIsSaidInWords) {
  auto reason = [](const QStringList& files) {
    try {
      LoadCodecFrom(files);
      return QString();
    } catch (const EncoderError& e) {
      return e.reason();
    }
  };
  QTemporaryDir dir;
  const QString garbage = dir.filePath(QStringLiteral("libtallowen_codec.so"));
  {
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a library");
  }
  const QString otherLibrary = QLibraryInfo::path(QLibraryInfo::LibrariesPath) + QStringLiteral("/libQt6Core.so.6");
  ASSERT_TRUE(QFile::exists(otherLibrary));

  EXPECT_TRUE(reason({dir.filePath(QStringLiteral("gone.so"))}).contains(QStringLiteral("missing")));
  const QString both = reason({garbage, otherLibrary});
  EXPECT_TRUE(both.contains(garbage)) << both.toStdString();
  EXPECT_TRUE(both.contains(QStringLiteral("another version"))) << both.toStdString();
  // The real one is found all the same, and answers across the module's boundary.
  EXPECT_TRUE(LoadedCodec().missingComponents().isEmpty());
}

// Recordings at the pace of a real input, against the clock.
class EncoderLive : public EncoderTest {};

TEST_F(EncoderLive, PausedTimeIsLeftOutAndStateChangesArriveInOrder) {
  const QString path = out(QStringLiteral("paused.wma"));
  auto encoder = makeEncoder(tone_, 3, path, Source::Pace::RealTime, true);
  std::vector<int> states;
  QObject::connect(encoder.get(), &Encoder::stateChanged, [&](int s) { states.push_back(s); });
  QElapsedTimer clock;
  clock.start();
  encoder->start();
  ASSERT_TRUE(waitUntil([&] { return encoder->state() == Encoder::Running; }));
  const qint64 started = clock.elapsed();
  runFor(1000);
  const qint64 pausing = clock.elapsed();
  encoder->pause();
  runFor(1000);
  encoder->start();
  const qint64 resumed = clock.elapsed();
  runFor(1000);
  const qint64 stopping = clock.elapsed();
  encoder->stop();
  ASSERT_TRUE(waitUntil([&] { return states.size() == 6; }, 5000));
  EXPECT_EQ(states, (std::vector<int>{Encoder::Starting, Encoder::Running, Encoder::Paused, Encoder::Running,
                                      Encoder::Stopping, Encoder::Stopped}));
  // The time between the calls that let sound in, plus the silent frame before zero.
  const double unpaused = double(pausing - started + stopping - resumed) / 1000;
  EXPECT_NEAR(probe(path).duration, unpaused + 0.046, 0.1);
}

TEST_F(EncoderLive, BlockedUserInterfaceLosesNoSound) {
  const QString path = out(QStringLiteral("blocked.wma"));
  auto encoder = makeEncoder(tone_, 3, path, Source::Pace::RealTime, true);
  QElapsedTimer wall;
  encoder->start();
  ASSERT_TRUE(waitUntil([&] { return encoder->state() == Encoder::Running; }));
  wall.start();
  runFor(300);
  QThread::msleep(2000);  // the window's thread is busy; capture must not notice
  runFor(300);
  const double recorded = wall.elapsed() / 1000.0;
  encoder->stop();
  ASSERT_TRUE(waitUntil([&] { return encoder->state() == Encoder::Stopped; }));
  EXPECT_NEAR(probe(path).duration, recorded + 0.046, 0.1);
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_LT(longestSilenceSeconds(sound, 16000, 0.1, recorded - 0.1), 0.005);
}

TEST_F(EncoderTest, WriteFailureEndsTheRecordingAndKeepsWhatWasWritten) {
  const QString longTone = out(QStringLiteral("long.wav"));
  writeToneWav(longTone, 1000, 20, 44100, 2);
  const QString path = out(QStringLiteral("full.wma"));
  // Full at 40 kB: this encoder's disk only, nobody else's.
  struct FullAt40k : DiskSpace {
    bool allows(int64_t size) const override { return size <= 40000; }
  };
  auto encoder = makeEncoder(longTone, 3, path);
  encoder->setDiskSpace(std::make_shared<FullAt40k>());
  encoder->start();
  ASSERT_TRUE(waitUntil([&] { return encoder->state() == Encoder::Stopped; }));
  EXPECT_TRUE(encoder->lastError().contains(QStringLiteral("space"))) << encoder->lastError().toStdString();
  ASSERT_TRUE(encoder->failure());
  EXPECT_EQ(encoder->failure()->kind(), EncoderFailure::Write);
  EXPECT_TRUE(encoder->endedByItself());
  EXPECT_TRUE(encoder->fileComplete()) << "mended from the packets that reached the disk";
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_GT(sound.size(), 16000u * 3) << "what reached the disk still plays";
}

TEST_F(EncoderLive, KilledRecordingStillDecodes) {
  const QString longTone = out(QStringLiteral("long.wav"));
  writeToneWav(longTone, 1000, 20, 44100, 2);
  const QString path = out(QStringLiteral("killed.wma"));
  QProcess tool;
  tool.start(QStringLiteral(RECORD_TOOL), {longTone, path, QStringLiteral("0"), QStringLiteral("0"),
                                           QStringLiteral("flush"), QStringLiteral("sync")});
  ASSERT_TRUE(tool.waitForStarted());
  ASSERT_TRUE(tool.waitForReadyRead(10000));
  QThread::msleep(3000);
  ::kill(pid_t(tool.processId()), SIGKILL);
  tool.waitForFinished();
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_GE(sound.size(), 16000u * 2);
  EXPECT_NEAR(dominantFrequency(sound, 16000), 1000, 10);
}

// Three tones whose sum does not repeat within a recording: a shifted stretch of it
// matches the original only in place.
double threeTones(int64_t i) {
  const double t = double(i) / 44100;
  return 0.3 * std::sin(2 * M_PI * 997 * t) + 0.2 * std::sin(2 * M_PI * 311 * t) +
         0.1 * std::sin(2 * M_PI * 1733 * t);
}

// Where, within +-range samples, the decoded stretch at `from` lines up with the signal.
int alignment(const std::vector<float>& decoded, int64_t from, int range) {
  int best = 0;
  double bestScore = -1e30;
  for (int lag = -range; lag <= range; ++lag) {
    double score = 0;
    for (int64_t i = from; i < from + 1024; ++i) score += decoded[size_t(i)] * threeTones(i + lag);
    if (score > bestScore) bestScore = score, best = lag;
  }
  return best;
}

TEST_F(EncoderTest, FiveMinutesAsFastAsPossibleKeepEverySampleInPlace) {
  // Whole frames of 2048 samples: nothing for the encoder to pad at the end.
  const int64_t samples = 6460 * 2048;  // 5 min 0.002 s at 44.1 kHz
  const QString input = out(QStringLiteral("five.wav"));
  QProcess gen;
  gen.start(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
             QStringLiteral("-i"),
             QStringLiteral("aevalsrc=0.3*sin(2*PI*997*t)+0.2*sin(2*PI*311*t)+0.1*sin(2*PI*1733*t):s=44100"),
             QStringLiteral("-af"), QStringLiteral("atrim=end_sample=%1").arg(samples), QStringLiteral("-ac"),
             QStringLiteral("2"), input});
  ASSERT_TRUE(gen.waitForFinished(60000) && gen.exitCode() == 0);

  const QString path = out(QStringLiteral("five.wma"));
  auto encoder = makeEncoder(input, 3, path);
  encoder->start();
  ASSERT_TRUE(waitUntil([&] { return encoder->state() == Encoder::Stopped; }, 120000));
  EXPECT_EQ(encoder->lastError(), QString());
  EXPECT_EQ(encoder->samplesEncoded(), samples);

  const std::vector<float> decoded = decodeMono(path, 44100);
  ASSERT_EQ(int64_t(decoded.size()), samples) << "a sample lost or repeated";
  for (int64_t at : {int64_t(0), int64_t(2048 * 5), samples / 3, samples / 2, samples - 4096})
    EXPECT_EQ(alignment(decoded, at, 2100), 0) << "at sample " << at;
}

// Needs the test command's own sound server, whose default input is fed from a pipe.
TEST_F(EncoderLive, DefaultInputRecordsWhatIsPlayed) {
  if (!MicFeeder::available()) GTEST_SKIP() << "no test sound server (run through the test command)";
  // The microphone sounds before, during and after the recording, as a real one would.
  MicFeeder mic(440);
  ASSERT_TRUE(mic.running());
  ASSERT_TRUE(waitUntil([&] { return mic.frames() > MicFeeder::kRate / 5; }));
  const QString path = out(QStringLiteral("mic.wma"));
  auto encoder = makeEncoder(QStringLiteral("DEVICE://Default_Audio_Device"), 3, path);
  QElapsedTimer clock;
  clock.start();
  encoder->start();
  ASSERT_TRUE(waitUntil([&] { return encoder->state() == Encoder::Running; }));
  const double started = clock.elapsed() / 1000.0;
  runFor(500);
  QThread::msleep(2000);  // a busy window thread: the sound server must not overrun
  runFor(500);
  const double stopping = clock.elapsed() / 1000.0;
  encoder->stop();
  ASSERT_TRUE(waitUntil([&] { return encoder->state() == Encoder::Stopped; }));
  const double stopped = clock.elapsed() / 1000.0;

  const Probe probed = probe(path);
  ASSERT_TRUE(probed.ok);
  EXPECT_EQ(probed.codecName, QStringLiteral("wmav2"));
  EXPECT_EQ(probed.sampleRate, 44100);
  EXPECT_EQ(probed.channels, 2);
  // Capture runs from inside start() to inside stop(): at least the time between the two
  // calls, less what the sound server still held at the stop; at most the time from the
  // first call to the end of the last, and the silent frame before zero.
  EXPECT_GT(probed.duration, stopping - started - 0.2);
  EXPECT_LT(probed.duration, stopped + 0.1);
  std::printf("start() returned after %.3f s, stop() called at %.3f s and returned at %.3f s; the file holds %.3f s\n",
              started, stopping, stopped, probed.duration);
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_NEAR(dominantFrequency(sound, 16000), 440, 10);
  EXPECT_LT(longestSilenceSeconds(sound, 16000, 0.1, probed.duration - 0.1), 0.005);
}

}  // namespace
