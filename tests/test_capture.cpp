#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>

#include "recording/AsfReader.h"
#include "recording/AsfWriter.h"
#include "recording/AsfRepair.h"
#include "recording/Codec.h"
#include "recording/InputLevel.h"
#include "recording/OutputFile.h"
#include "recording/PulseSource.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingSession.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"
#include "support/MicFeeder.h"
#include "support/Recorder.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;
using Phase = RecordingSession::Phase;

namespace {

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    state_.emplace("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
    tone_ = dir_.filePath(QStringLiteral("tone.wav"));
    writeToneWav(tone_, 1000, 1.5, 48000, 2);
  }
  QString out(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> state_;
  QString tone_;
};

TEST_F(CaptureTest, EveryProfileRecordsTheToneAtItsSettings) {
  ProfileCollection profiles;
  ASSERT_GE(profiles.count(), 6);
  for (int i = 0; i < profiles.count(); ++i) {
    const Profile& p = profiles.item(i);
    SCOPED_TRACE(p.name.toStdString());
    const QString path = out(QStringLiteral("p%1.wma").arg(i));
    Recorder recorder(tone_, FileSources::Pace::AsFastAsPossible, false);
    ASSERT_TRUE(recorder.start(path, i));
    const RecordingResult result = recorder.finished();  // the file runs out
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.complete);
    EXPECT_FALSE(result.failure);

    const Probe probed = probe(path);
    ASSERT_TRUE(probed.ok);
    EXPECT_EQ(probed.formatName, QStringLiteral("asf"));
    EXPECT_EQ(probed.codecName, QStringLiteral("wmav2"));
    EXPECT_EQ(probed.sampleRate, p.sampleRate);
    EXPECT_EQ(probed.channels, p.channels);
    EXPECT_NEAR(probed.bitRate, p.bitRate, p.bitRate * 0.1);
    // Whole frames (up to 128 ms each).
    EXPECT_GE(probed.duration, 1.49);
    EXPECT_LE(probed.duration, 1.5 + 0.13);
    EXPECT_EQ(probed.title, QStringLiteral("p%1.wma").arg(i));
    EXPECT_EQ(probed.author, QStringLiteral("Tallowen"));
    EXPECT_EQ(RepairAsfFile(path).result, AsfRepairOutcome::Result::Sound) << "the header tells the truth";
    const std::optional<AsfInfo> header = ReadAsfInfo(path);
    ASSERT_TRUE(header);
    EXPECT_NEAR(header->durationMs, probed.duration * 1000, 50);
    EXPECT_EQ(header->sampleRate, p.sampleRate);

    const std::vector<float> sound = decodeMono(path, 16000);
    EXPECT_NEAR(dominantFrequency(sound, 16000), 1000, 10);
    EXPECT_LT(longestSilenceSeconds(sound, 16000, 0.1, 1.4), 0.005) << "a gap inside the recording";
  }
}

// What a sync takes to the disk is all a power cut leaves: the packet still filling goes
// with it, and is written over, not after, once it is full.
TEST_F(CaptureTest, ASyncTakesThePacketBeingFilledAndTheFullPacketReplacesIt) {
  ProfileCollection profiles;
  const Profile& profile = profiles.item(0);
  std::unique_ptr<WmaEncoder> encoder = LoadedCodec().createEncoder(profile);
  const QString path = out(QStringLiteral("synced.wma"));
  std::unique_ptr<OutputFile> file = OutputFile::create(path);
  AsfWriter writer(*file, encoder->format(), {QStringLiteral("synced"), QStringLiteral("Tallowen")});
  const int rate = profile.sampleRate;
  std::vector<float> tone(size_t(rate / 10));
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * float(std::sin(2 * M_PI * 1000 * double(i) / rate));
  auto feed = [&](double seconds) {
    for (int n = 0; n < int(seconds * 10 + 0.5); ++n) encoder->encode(tone.data(), int(tone.size()), writer);
  };

  feed(2.2);
  writer.writeOpenPacket();
  file->syncToDisk();
  const int64_t onDisk = writer.soundMs();
  QFile::copy(path, out(QStringLiteral("cut.wma")));  // the disk as a power cut leaves it
  feed(2.0);
  encoder->finish(writer);
  writer.finish();
  file.reset();

  const QString cut = out(QStringLiteral("cut.wma"));
  ASSERT_EQ(RepairAsfFile(cut).result, AsfRepairOutcome::Result::Repaired);
  // A block is 128 ms: one missing shows.
  EXPECT_NEAR(probe(cut).duration, onDisk / 1000.0, 0.05);
  EXPECT_NEAR(double(decodeMono(cut, 16000).size()) / 16000, onDisk / 1000.0, 0.05);
  EXPECT_GT(onDisk, 2000) << "the sound of the open packet is there too";

  EXPECT_EQ(RepairAsfFile(path).result, AsfRepairOutcome::Result::Sound) << "counts and sizes agree";
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_NEAR(double(sound.size()) / 16000, 4.2, 0.15) << "no packet twice, none lost";
  EXPECT_LT(longestSilenceSeconds(sound, 16000, 0.1, 4.0), 0.005);
  EXPECT_NEAR(dominantFrequency(sound, 16000), 1000, 10);
}

TEST_F(CaptureTest, AStartThatCannotRecordSaysWhyAndLeavesNothingBehind) {
  // A file of the same name stays as it was: the recording takes the next name.
  const QString existing = out(QStringLiteral("existing.wma"));
  {
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("an earlier recording");
  }
  Recorder taken(tone_);
  ASSERT_TRUE(taken.start(existing, 0));
  EXPECT_EQ(taken.session.path(), out(QStringLiteral("existing(2).wma")));
  EXPECT_EQ(taken.stop().path, out(QStringLiteral("existing(2).wma")));
  QFile f(existing);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("an earlier recording"));

  // A missing folder is made; one that cannot be made is named.
  Recorder folder(tone_);
  ASSERT_TRUE(folder.start(out(QStringLiteral("new/x.wma")), 0));
  EXPECT_TRUE(folder.stop().complete);
  QFile(out(QStringLiteral("blocker"))).open(QIODevice::WriteOnly);
  Recorder blocked(tone_);
  EXPECT_FALSE(blocked.start(out(QStringLiteral("blocker/x.wma")), 0));
  ASSERT_EQ(blocked.results.size(), 1u);
  EXPECT_FALSE(blocked.results[0].started);
  ASSERT_TRUE(blocked.results[0].failure);
  EXPECT_EQ(blocked.results[0].failure->cause, FailureCause::SaveFolder);
  EXPECT_EQ(blocked.results[0].failure->subject, out(QStringLiteral("blocker")));

  // An input that cannot be opened leaves no file.
  Recorder noInput(out(QStringLiteral("no-such.wav")));
  EXPECT_FALSE(noInput.start(out(QStringLiteral("y.wma")), 0));
  ASSERT_EQ(noInput.results.size(), 1u);
  ASSERT_TRUE(noInput.results[0].failure);
  EXPECT_EQ(noInput.results[0].failure->cause, FailureCause::NoInput);
  EXPECT_FALSE(QFile::exists(out(QStringLiteral("y.wma")))) << "a failed start leaves no file behind";
}

// The level the window shows: the peak of each 16th of a second, in order, and five quiet
// seconds.
TEST(InputLevel, PeaksOfEverySixteenthOfASecondAndFiveQuietSecondsOfRecording) {
  InputLevel level;
  level.start(50 * InputLevel::kPeaksPerSecond, 2);  // 50 frames a block
  std::vector<float> block(100, 0.0f);
  block[7] = -0.5f;  // the second channel of frame 3
  level.feed(block.data(), 50);
  std::vector<float> quiet(100, 0.0005f);
  level.feed(quiet.data(), 25);
  EXPECT_FLOAT_EQ(level.nextPeak().value_or(-1), 0.5f) << "either channel, either sign";
  EXPECT_FALSE(level.nextPeak()) << "half a block is not a block yet";
  level.feed(quiet.data(), 25);
  EXPECT_FLOAT_EQ(level.nextPeak().value_or(-1), 0.0005f);
  std::vector<float> broken{std::numeric_limits<float>::quiet_NaN(), 0.25f};
  level.start(2 * InputLevel::kPeaksPerSecond, 1);  // two frames a block
  level.feed(broken.data(), 2);
  EXPECT_FLOAT_EQ(level.nextPeak().value_or(-1), 0.25f) << "a sample that is no number counts for nothing";

  // A window that did not look for long sees the latest sound, not a backlog.
  level.start(1000, 1);
  std::vector<float> second(1000, 0.1f);
  for (int i = 0; i < 5; ++i) level.feed(second.data(), 1000);
  int waiting = 0;
  while (level.nextPeak()) ++waiting;
  EXPECT_LE(waiting, 12);

  level.start(1000, 1);
  std::vector<float> loud(1000, 0.0f), hushed(1000, 0.0005f);
  loud[10] = 0.3f;
  level.feed(loud.data(), 1000);  // the quiet starts after this
  for (int s = 0; s < 4; ++s) level.feed(hushed.data(), 1000);
  EXPECT_FALSE(level.silent()) << "five seconds, not four";
  level.feed(hushed.data(), 1000);
  EXPECT_TRUE(level.silent()) << "below -60 dBFS for five seconds of sound";
  level.feed(loud.data(), 1000);
  EXPECT_FALSE(level.silent()) << "sound clears it at once";
}

// Without its recording component the program still starts; recording then says why not.
TEST(RecordingComponent, ThatCannotBeLoadedIsSaidInWords) {
  auto reason = [](const QStringList& files) {
    try {
      LoadCodecFrom(files);
      return QString();
    } catch (const RecordingError& e) {
      return e.detail();
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
  // The real one is found beside the program all the same, and answers across the module's
  // boundary.
  EXPECT_TRUE(LoadedCodec().missingComponents().isEmpty());
}

// Recordings at the pace of a real input, against the clock.
class CaptureLive : public CaptureTest {};

TEST_F(CaptureLive, PausedTimeIsLeftOutAndMarksLandWhereTheRecordingStood) {
  const QString path = out(QStringLiteral("paused.wma"));
  Recorder recorder(tone_);
  std::vector<std::pair<int, bool>> marked;
  QObject::connect(&recorder.session, &RecordingSession::marked,
                   [&](int n, bool stored) { marked.emplace_back(n, stored); });
  QElapsedTimer clock;
  ASSERT_TRUE(recorder.start(path, 3));
  clock.start();
  runFor(1000);
  const qint64 pausing = clock.elapsed();
  recorder.session.pause();
  runFor(500);
  recorder.session.addMark(QStringLiteral("マーク 1"));  // while paused: at the point it paused
  runFor(500);
  recorder.session.resume();
  const qint64 resumed = clock.elapsed();
  runFor(1000);
  recorder.session.addMark(QStringLiteral("マーク 2"));
  const qint64 secondMark = pausing + clock.elapsed() - resumed;
  runFor(500);
  const qint64 stopping = clock.elapsed();
  const RecordingResult result = recorder.stop();
  EXPECT_TRUE(result.complete);
  ASSERT_EQ(marked.size(), 2u);
  EXPECT_TRUE(marked[0].second && marked[1].second);
  // The time between the calls that let sound in.
  const double unpaused = double(pausing + stopping - resumed) / 1000;
  EXPECT_NEAR(probe(path).duration, unpaused, 0.15);

  // The marks as the file keeps them: the header's Marker Object, which FFmpeg lists as
  // chapters and the program's own reader reads.
  const std::optional<AsfInfo> header = ReadAsfInfo(path);
  ASSERT_TRUE(header);
  ASSERT_EQ(header->marks.size(), 2);
  EXPECT_EQ(header->marks[0].name, QStringLiteral("マーク 1"));
  EXPECT_NEAR(header->marks[0].ms, pausing, 150);
  EXPECT_EQ(header->marks[1].name, QStringLiteral("マーク 2"));
  EXPECT_NEAR(header->marks[1].ms, secondMark, 150);
  const std::vector<Chapter> chapters = chaptersOf(path);
  ASSERT_EQ(chapters.size(), 2u);
  EXPECT_EQ(chapters[0].title, QStringLiteral("マーク 1"));
  EXPECT_NEAR(chapters[0].start * 1000, header->marks[0].ms, 2);
  EXPECT_EQ(chapters[1].title, QStringLiteral("マーク 2"));
}

TEST_F(CaptureLive, ABlockedWindowThreadLosesNoSound) {
  const QString path = out(QStringLiteral("blocked.wma"));
  Recorder recorder(tone_);
  QElapsedTimer wall;
  ASSERT_TRUE(recorder.start(path, 3));
  wall.start();
  runFor(300);
  QThread::msleep(2000);  // the window's thread is busy; capture must not notice
  runFor(300);
  const double recorded = wall.elapsed() / 1000.0;
  recorder.stop();
  EXPECT_NEAR(probe(path).duration, recorded, 0.15);
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_LT(longestSilenceSeconds(sound, 16000, 0.1, recorded - 0.1), 0.005);
}

// An input that delivers nothing for a while (a stalled device, a frozen sound server):
// the time it is away is silence in the file, which keeps the clock's time, and the input
// counts as silent after five seconds.
TEST_F(CaptureLive, AStalledInputIsFilledWithSilenceAndWarnedAfterFiveSeconds) {
  const QString path = out(QStringLiteral("stalled.wma"));
  Recorder recorder(tone_);
  QElapsedTimer wall;
  ASSERT_TRUE(recorder.start(path, 0));
  wall.start();
  runFor(2000);
  recorder.sound.stalled = true;
  const qint64 stalledAt = wall.elapsed();
  EXPECT_TRUE(staysTrue([&] { return !recorder.session.inputSilent(); }, 4500)) << "not before five seconds";
  ASSERT_TRUE(waitUntil([&] { return recorder.session.inputSilent(); }, 2000));
  const qint64 warnedAt = wall.elapsed();
  runFor(4000);
  recorder.sound.stalled = false;
  const qint64 backAt = wall.elapsed();
  ASSERT_TRUE(waitUntil([&] { return !recorder.session.inputSilent(); }, 2000)) << "sound clears the warning";
  runFor(2000);
  const double recorded = wall.elapsed() / 1000.0;
  recorder.stop();
  std::printf("stalled at %.2f s, warned %.2f s later, back at %.2f s; recorded %.2f s, the file holds %.2f s\n",
              stalledAt / 1000.0, (warnedAt - stalledAt) / 1000.0, backAt / 1000.0, recorded, probe(path).duration);
  EXPECT_NEAR(probe(path).duration, recorded, 0.3) << "the file keeps the clock's time";
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_NEAR(longestSilenceSeconds(sound, 16000, 0.1, recorded - 0.1), (backAt - stalledAt) / 1000.0, 0.6);
}

// The sound server goes away and comes back: the same recording goes on into the same file,
// the gap silence, and the window is told how long it was.
TEST_F(CaptureLive, ARecordingWaitsForItsSoundServerAndGoesOn) {
  const QString path = out(QStringLiteral("server.wma"));
  Recorder recorder(tone_);
  struct Told {
    bool lost;
    qint64 gap, silence;
  };
  std::vector<Told> told;
  QObject::connect(&recorder.session, &RecordingSession::inputLostChanged,
                   [&](bool lost, qint64 gap, qint64 silence) { told.push_back({lost, gap, silence}); });
  QElapsedTimer wall;
  ASSERT_TRUE(recorder.start(path, 0));
  wall.start();
  runFor(1500);
  recorder.sound.serverDown = true;
  ASSERT_TRUE(waitUntil([&] { return recorder.session.inputLost(); }, 2000)) << "noticed within 2 s";
  runFor(3000);
  recorder.sound.serverDown = false;
  ASSERT_TRUE(waitUntil([&] { return !recorder.session.inputLost(); }, 3000)) << "back within the next try";
  runFor(1500);
  const double recorded = wall.elapsed() / 1000.0;
  const RecordingResult result = recorder.stop();
  EXPECT_TRUE(result.complete);
  EXPECT_FALSE(result.failure);
  ASSERT_EQ(told.size(), 2u);
  EXPECT_TRUE(told[0].lost);
  EXPECT_FALSE(told[1].lost);
  EXPECT_NEAR(told[1].gap, 3000, 1200);
  EXPECT_NEAR(told[1].silence, told[1].gap, 300) << "the time away went in as silence";
  EXPECT_NEAR(probe(path).duration, recorded, 0.5);
  EXPECT_GE(recorder.sound.opened, 2);
}

// The server away while the recording is paused: nothing went in, silence neither, and the
// window is told so.
TEST_F(CaptureLive, AServerAwayWhilePausedPutsNothingIn) {
  const QString path = out(QStringLiteral("paused-server.wma"));
  Recorder recorder(tone_);
  qint64 silence = -1;
  QObject::connect(&recorder.session, &RecordingSession::inputLostChanged,
                   [&](bool lost, qint64, qint64 s) { if (!lost) silence = s; });
  ASSERT_TRUE(recorder.start(path, 0));
  runFor(1000);
  recorder.session.pause();
  recorder.sound.serverDown = true;
  ASSERT_TRUE(waitUntil([&] { return recorder.session.inputLost(); }, 2000));
  runFor(1500);
  recorder.sound.serverDown = false;
  ASSERT_TRUE(waitUntil([&] { return !recorder.session.inputLost(); }, 3000));
  recorder.session.resume();
  runFor(1000);
  recorder.stop();
  EXPECT_GE(silence, 0);
  EXPECT_LT(silence, 300);
  EXPECT_NEAR(probe(path).duration, 2.0, 0.4) << "the paused time stays out of the file";
}

// A mark asked for before the input has opened (a key pressed with the record button) goes
// at the first moment of the recording, not nowhere.
TEST_F(CaptureLive, AMarkAskedForAsTheRecordingStartsLandsAtItsFirstMoment) {
  const QString path = out(QStringLiteral("early-mark.wma"));
  Recorder recorder(tone_);
  recorder.sound.startDelayMs = 400;  // a device slow to open
  std::vector<bool> stored;
  QObject::connect(&recorder.session, &RecordingSession::marked, [&](int, bool s) { stored.push_back(s); });
  recorder.session.start(RecordingSetup{path, ProfileCollection().item(0), AudioInput{}, {}});
  ASSERT_EQ(recorder.session.phase(), RecordingSession::Phase::Starting);
  recorder.session.addMark(QStringLiteral("マーク 1"));
  ASSERT_TRUE(waitUntil([&] { return recorder.session.phase() == RecordingSession::Phase::Recording; }));
  runFor(800);
  recorder.stop();
  EXPECT_EQ(stored, std::vector<bool>{true});
  const std::optional<AsfInfo> header = ReadAsfInfo(path);
  ASSERT_TRUE(header);
  ASSERT_EQ(header->marks.size(), 1);
  EXPECT_EQ(header->marks[0].ms, 0);
}

TEST_F(CaptureTest, AFullDiskEndsTheRecordingAndKeepsWhatReachedIt) {
  const QString longTone = out(QStringLiteral("long.wav"));
  writeToneWav(longTone, 1000, 20, 44100, 2);
  const QString folder = out(QStringLiteral("small"));
  QDir().mkpath(folder);
  SmallDisk disk(folder, 96);
  if (!disk.mounted()) GTEST_SKIP() << "a small file system needs the test command's rights (root)";
  Recorder recorder(longTone, FileSources::Pace::AsFastAsPossible, false);
  ASSERT_TRUE(recorder.start(folder + QStringLiteral("/full.wma"), 3));
  const RecordingResult result = recorder.finished();
  ASSERT_TRUE(result.failure);
  EXPECT_EQ(result.failure->cause, FailureCause::Write);
  EXPECT_TRUE(result.failure->detail.contains(QStringLiteral("space"))) << result.failure->detail.toStdString();
  EXPECT_TRUE(result.endedByItself);
  EXPECT_TRUE(result.complete) << "mended from the packets that reached the disk";
  const std::vector<float> sound = decodeMono(result.path, 16000);
  EXPECT_GT(sound.size(), 16000u * 3) << "what reached the disk still plays";
}

TEST_F(CaptureLive, AKilledRecordingStillDecodesAndItsMarksComeBackWithTheMend) {
  const QString longTone = out(QStringLiteral("long.wav"));
  writeToneWav(longTone, 1000, 20, 44100, 2);
  const QString path = out(QStringLiteral("killed.wma"));
  QProcess tool;
  tool.start(QStringLiteral(RECORD_TOOL), {longTone, path, QStringLiteral("0"), QStringLiteral("0"),
                                           QStringLiteral("mark=1500"), QStringLiteral("mark=2500")});
  ASSERT_TRUE(tool.waitForStarted());
  ASSERT_TRUE(tool.waitForReadyRead(10000));
  QThread::msleep(3000);
  ::kill(pid_t(tool.processId()), SIGKILL);
  tool.waitForFinished();
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_GE(sound.size(), 16000u * 2);
  EXPECT_NEAR(dominantFrequency(sound, 16000), 1000, 10);

  // The next start mends it: its length, and every mark set before the kill.
  const QList<InterruptedRecording> found = RepairInterruptedRecordings();
  ASSERT_EQ(found.size(), 1);
  EXPECT_EQ(found[0].state, InterruptedRecording::State::Mended);
  const std::optional<AsfInfo> header = ReadAsfInfo(path);
  ASSERT_TRUE(header);
  EXPECT_GT(header->durationMs, 2000);
  ASSERT_EQ(header->marks.size(), 2);
  EXPECT_EQ(header->marks[0].name, QStringLiteral("マーク 1"));
  EXPECT_NEAR(header->marks[0].ms, 1500, 200);
  EXPECT_NEAR(header->marks[1].ms, 2500, 200);
  const std::vector<Chapter> chapters = chaptersOf(path);
  ASSERT_EQ(chapters.size(), 2u);
  EXPECT_EQ(chapters[1].title, QStringLiteral("マーク 2"));
}

// Needs the test command's own sound server, whose default input is fed from a pipe.
TEST_F(CaptureLive, TheDefaultInputRecordsWhatIsPlayed) {
  if (!MicFeeder::available()) GTEST_SKIP() << "no test sound server (run through the test command)";
  // The microphone sounds before, during and after the recording, as a real one would.
  MicFeeder mic(440);
  ASSERT_TRUE(mic.running());
  ASSERT_TRUE(waitUntil([&] { return mic.frames() > MicFeeder::kRate / 5; }));
  const QString path = out(QStringLiteral("mic.wma"));
  PulseSources server;
  FakeClock clock;
  RecordingSession session(server, clock);
  QElapsedTimer wall;
  wall.start();
  session.start(RecordingSetup{path, ProfileCollection().item(3), AudioInput{}, {}});
  ASSERT_TRUE(waitUntil([&] { return session.phase() == Phase::Recording; }));
  const double started = wall.elapsed() / 1000.0;
  runFor(500);
  QThread::msleep(2000);  // a busy window thread: the sound server must not overrun
  runFor(500);
  const double stopping = wall.elapsed() / 1000.0;
  session.stop();
  ASSERT_TRUE(waitUntil([&] { return session.phase() == Phase::Idle; }));
  const double stopped = wall.elapsed() / 1000.0;

  const Probe probed = probe(path);
  ASSERT_TRUE(probed.ok);
  EXPECT_EQ(probed.codecName, QStringLiteral("wmav2"));
  EXPECT_EQ(probed.sampleRate, 44100);
  EXPECT_EQ(probed.channels, 2);
  // Capture runs from before Recording is seen to the stop: at least the time between the
  // two, less what the sound server still held at the stop; at most all of it.
  EXPECT_GT(probed.duration, stopping - started - 0.3);
  EXPECT_LT(probed.duration, stopped + 0.1);
  std::printf("recording from %.3f s, stop at %.3f s, stopped at %.3f s; the file holds %.3f s\n", started, stopping,
              stopped, probed.duration);
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_NEAR(dominantFrequency(sound, 16000), 440, 10);
  EXPECT_LT(longestSilenceSeconds(sound, 16000, 0.1, probed.duration - 0.1), 0.005);
}

// The sound server hands an input to another program by suspending it (pasuspender does,
// and so does a device busy elsewhere): the start says so and leaves no file; once the
// input is back, the same start records.
TEST_F(CaptureLive, AnInputAnotherProgramHoldsIsSaidToBeHeld) {
  if (!MicFeeder::available()) GTEST_SKIP() << "no test sound server (run through the test command)";
  MicFeeder mic(440);
  auto suspend = [](bool held) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("suspend-source"), QStringLiteral("mic"),
                                          QString::number(held ? 1 : 0)});
    return pactl.waitForFinished(10000) && pactl.exitCode() == 0;
  };
  ASSERT_TRUE(suspend(true));
  PulseSources server;
  FakeClock clock;
  RecordingSession session(server, clock);
  std::vector<RecordingResult> results;
  QObject::connect(&session, &RecordingSession::finished, [&](const RecordingResult& r) { results.push_back(r); });
  const QString path = out(QStringLiteral("held.wma"));
  session.start(RecordingSetup{path, ProfileCollection().item(0), AudioInput{}, {}});
  const bool ended = waitUntil([&] { return !results.empty(); });
  ASSERT_TRUE(suspend(false)) << "later tests need the microphone";
  ASSERT_TRUE(ended);
  EXPECT_FALSE(results[0].started);
  ASSERT_TRUE(results[0].failure);
  EXPECT_EQ(results[0].failure->cause, FailureCause::InputHeld) << results[0].failure->detail.toStdString();
  EXPECT_FALSE(results[0].failure->subject.isEmpty()) << "the input is named";
  EXPECT_FALSE(QFile::exists(path)) << "nothing left behind";

  session.start(RecordingSetup{path, ProfileCollection().item(0), AudioInput{}, {}});
  ASSERT_TRUE(waitUntil([&] { return session.phase() == Phase::Recording; }));
  session.stop();
  ASSERT_TRUE(waitUntil([&] { return session.phase() == Phase::Idle; }));
  EXPECT_TRUE(results.back().started);
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

TEST_F(CaptureTest, FiveMinutesAsFastAsPossibleKeepEverySampleInPlace) {
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
  Recorder recorder(input, FileSources::Pace::AsFastAsPossible, false);
  ASSERT_TRUE(recorder.start(path, 3));
  const RecordingResult result = recorder.finished(120000);
  EXPECT_FALSE(result.failure);
  EXPECT_EQ(recorder.sound.framesDelivered, samples);

  const std::vector<float> decoded = decodeMono(path, 44100);
  ASSERT_EQ(int64_t(decoded.size()), samples) << "a sample lost or repeated";
  for (int64_t at : {int64_t(0), int64_t(2048 * 5), samples / 3, samples / 2, samples - 4096})
    EXPECT_EQ(alignment(decoded, at, 2100), 0) << "at sample " << at;
}

}  // namespace
