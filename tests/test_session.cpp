#include <gtest/gtest.h>

#include <optional>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "recording/AsfRepair.h"
#include "recording/CaptureWorker.h"
#include "recording/Encoder.h"
#include "recording/RecordingSession.h"
#include "settings/modINI.h"
#include "support/ScopedEnv.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;
using Phase = RecordingSession::Phase;

namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    state_.emplace("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
    QFile::remove(SettingsFilePath());
    sys_.audio.file = dir_.filePath(QStringLiteral("tone.wav"));
    writeToneWav(sys_.audio.file, 1000, 2, 44100, 2);
    saveFolder_ = dir_.filePath(QStringLiteral("rec"));
    WriteSetting(kQualitySetting, QStringLiteral("FM ラジオ"));
    WriteSetting(kSaveFolderSetting, saveFolder_);
    QObject::connect(&session_, &RecordingSession::phaseChanged, [this](Phase p) { phases_.push_back(p); });
    QObject::connect(&session_, &RecordingSession::startFailed,
                     [this](const EncoderError& e) { failures_.push_back(e); });
    QObject::connect(&session_, &RecordingSession::finished,
                     [this](const RecordingResult& r) { results_.push_back(r); });
  }
  void TearDown() override { QFile::remove(SettingsFilePath()); }

  QString expectedPath(const QString& name = QStringLiteral("2002-04-03_09-05.wma")) const {
    return saveFolder_ + QLatin1Char('/') + name;
  }
  bool reaches(Phase phase, int timeoutMs = 10000) {
    return waitUntil([&] { return session_.phase() == phase; }, timeoutMs);
  }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> state_;
  QString saveFolder_;
  FakeSystem sys_;
  RecordingSession session_{&sys_.encoders, &sys_.clock, &sys_.audio};
  std::vector<Phase> phases_;
  std::vector<EncoderError> failures_;
  std::vector<RecordingResult> results_;
};

// Recordings against the clock.
class SessionLive : public SessionTest {};

TEST_F(SessionLive, ARecordingGoesThroughItsPhasesAndNotesItsFileOnceMade) {
  WriteSetting(kLastRecordingSetting, QStringLiteral("/earlier.wma"));
  session_.start();
  EXPECT_EQ(session_.phase(), Phase::Starting) << "the start returns before the encoder has started";
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), QStringLiteral("/earlier.wma"));
  ASSERT_TRUE(reaches(Phase::Recording));
  EXPECT_EQ(session_.path(), expectedPath());
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), expectedPath()) << "noted once the file is there";
  EXPECT_TRUE(QFileInfo(saveFolder_).isDir()) << "a missing save folder is made";
  session_.start();
  EXPECT_EQ(session_.phase(), Phase::Recording) << "a second start does nothing";

  // Elapsed time: the steady clock's, frozen while paused, never going back.
  EXPECT_EQ(session_.elapsedMs(), 0);
  sys_.clock.steady += 2500;
  EXPECT_EQ(session_.elapsedMs(), 2500);
  session_.pause();
  EXPECT_EQ(session_.phase(), Phase::Paused);
  sys_.clock.steady += 5000;
  EXPECT_EQ(session_.elapsedMs(), 2500) << "paused time is left out";
  session_.start();  // the record button resumes
  EXPECT_EQ(session_.phase(), Phase::Recording);
  EXPECT_EQ(session_.elapsedMs(), 2500);
  sys_.clock.steady += 500;
  EXPECT_EQ(session_.elapsedMs(), 3000);
  runFor(600);

  session_.stop();
  EXPECT_EQ(session_.phase(), Phase::Stopping);
  EXPECT_EQ(session_.elapsedMs(), 3000);
  ASSERT_TRUE(reaches(Phase::Idle));
  EXPECT_EQ(phases_, (std::vector<Phase>{Phase::Starting, Phase::Recording, Phase::Paused, Phase::Recording,
                                         Phase::Stopping, Phase::Idle}));
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0].path, expectedPath());
  EXPECT_FALSE(results_[0].endedByItself);
  EXPECT_FALSE(results_[0].failure);
  EXPECT_TRUE(results_[0].complete);
  EXPECT_TRUE(failures_.empty());
  const Probe probed = probe(expectedPath());
  EXPECT_EQ(probed.codecName, QStringLiteral("wmav2"));
  EXPECT_EQ(probed.sampleRate, 44100) << "the first profile whose name holds the stored text";
  EXPECT_EQ(probed.title, QStringLiteral("2002-04-03_09-05.wma"));
  EXPECT_EQ(probed.author, QStringLiteral("Tallowen"));
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
  EXPECT_TRUE(session_.encoder() == nullptr || session_.encoder()->state() == Encoder::Stopped);

  // The same minute again: the next name, the first recording untouched.
  session_.start();
  ASSERT_TRUE(reaches(Phase::Recording));
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), expectedPath(QStringLiteral("2002-04-03_09-05(2).wma")));
  session_.stop();
  ASSERT_TRUE(reaches(Phase::Idle));
  EXPECT_TRUE(probe(expectedPath()).ok);
  EXPECT_EQ(results_.size(), 2u);
}

TEST_F(SessionLive, StartFailuresNameTheirCauseAndLeaveTheLatestRecordingAsItWas) {
  WriteSetting(kLastRecordingSetting, QStringLiteral("/earlier.wma"));
  auto fails = [&] {
    failures_.clear();
    session_.start();
    EXPECT_TRUE(reaches(Phase::Idle)) << int(session_.phase());
    EXPECT_EQ(failures_.size(), 1u);
    EXPECT_TRUE(results_.empty());
    EXPECT_EQ(ReadSetting(kLastRecordingSetting), QStringLiteral("/earlier.wma")) << "no file was made";
    return failures_.empty() ? std::optional<EncoderError>() : std::optional<EncoderError>(failures_[0]);
  };

  // A regular file where the save folder should be: the folder cannot be made.
  QFile blocker(dir_.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString impossible = dir_.filePath(QStringLiteral("file/rec"));
  WriteSetting(kSaveFolderSetting, impossible);
  auto folder = fails();
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->kind(), EncoderFailure::SaveFolder);
  EXPECT_EQ(folder->subject(), impossible);
  WriteSetting(kSaveFolderSetting, saveFolder_);

  WriteSetting(kQualitySetting, QStringLiteral("WMA 9 Voice"));  // a name of the Windows encoder
  auto quality = fails();
  ASSERT_TRUE(quality);
  EXPECT_EQ(quality->kind(), EncoderFailure::NoProfile);
  EXPECT_EQ(quality->subject(), QStringLiteral("WMA 9 Voice"));
  EXPECT_FALSE(session_.qualityChosen());
  WriteSetting(kQualitySetting, QStringLiteral("FM ラジオ"));
  EXPECT_TRUE(session_.qualityChosen());

  sys_.audio.file = dir_.filePath(QStringLiteral("no-such-microphone.wav"));
  auto input = fails();
  ASSERT_TRUE(input);
  EXPECT_EQ(input->kind(), EncoderFailure::NoInput);
  EXPECT_FALSE(QFile::exists(expectedPath())) << "nothing left behind";
  sys_.audio.file = dir_.filePath(QStringLiteral("tone.wav"));

  sys_.encoders.failure = QStringLiteral("no module");
  ASSERT_TRUE(fails());
  sys_.encoders.failure.clear();

  session_.start();
  EXPECT_TRUE(reaches(Phase::Recording)) << "a failed start leaves the session ready for another";
  session_.stop();
  EXPECT_TRUE(reaches(Phase::Idle));
}

TEST_F(SessionLive, ANameTakenByAnotherCopyInTheSameMinuteGoesToTheNext) {
  // Another program makes the file between the naming and the creation.
  const QString taken = expectedPath();
  sys_.audio.onCaptureThread = [taken] {
    QFile other(taken);
    if (!other.exists() && other.open(QIODevice::WriteOnly)) other.write("another copy's recording");
  };
  session_.start();
  ASSERT_TRUE(reaches(Phase::Recording)) << (failures_.empty() ? "" : failures_[0].reason().toStdString());
  EXPECT_EQ(session_.path(), expectedPath(QStringLiteral("2002-04-03_09-05(2).wma")));
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), session_.path());
  session_.stop();
  ASSERT_TRUE(reaches(Phase::Idle));
  QFile other(taken);
  ASSERT_TRUE(other.open(QIODevice::ReadOnly));
  EXPECT_EQ(other.readAll(), QByteArray("another copy's recording"));
  EXPECT_TRUE(probe(session_.path()).ok);
}

TEST_F(SessionLive, ASlowStartLeavesTheWindowThreadFree) {
  sys_.audio.startDelayMs = 1500;
  // A timer on the window thread, as the window's own would be.
  std::vector<qint64> ticks;
  QElapsedTimer clock;
  clock.start();
  QTimer timer;
  timer.setInterval(100);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (session_.phase() == Phase::Starting) ticks.push_back(clock.elapsed());
  });
  timer.start();
  session_.start();
  const qint64 returned = clock.elapsed();
  ASSERT_TRUE(reaches(Phase::Recording));
  EXPECT_LT(returned, 100) << "start() returned at once";
  ASSERT_GE(ticks.size(), 10u) << "the timer kept firing through the start";
  for (size_t i = 1; i < ticks.size(); ++i) EXPECT_LT(ticks[i] - ticks[i - 1], 250) << "a gap in the ticks";
  session_.stop();
  ASSERT_TRUE(reaches(Phase::Idle));
}

TEST_F(SessionLive, AStopDuringTheStartCompletesTheFileOnceStarted) {
  sys_.audio.startDelayMs = 800;
  session_.start();
  session_.stop();
  EXPECT_EQ(session_.phase(), Phase::Stopping);
  ASSERT_TRUE(reaches(Phase::Idle));
  EXPECT_TRUE(failures_.empty());
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_FALSE(results_[0].endedByItself);
  EXPECT_TRUE(results_[0].complete);
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), expectedPath());
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
}

TEST_F(SessionLive, ARecordingThatEndsByItselfIsReportedWithItsCause) {
  sys_.encoders.disk->fullAt = 20000;
  session_.start();
  ASSERT_TRUE(reaches(Phase::Recording));
  ASSERT_TRUE(reaches(Phase::Idle, 15000));
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_TRUE(results_[0].endedByItself);
  ASSERT_TRUE(results_[0].failure);
  EXPECT_EQ(results_[0].failure->kind(), EncoderFailure::Write);
  EXPECT_TRUE(results_[0].complete) << "made whole from what reached the disk";
  EXPECT_GT(decodeMono(expectedPath(), 16000).size(), 0u);
}

TEST_F(SessionLive, TheEndOfTheSessionCompletesARecordingStillRunning) {
  {
    RecordingSession ending(&sys_.encoders, &sys_.clock, &sys_.audio);
    ending.start();
    ASSERT_TRUE(waitUntil([&] { return ending.phase() == Phase::Recording; }));
    runFor(500);
    ending.stop();  // asked, and gone before the stop's answer came
  }
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
  EXPECT_GT(probe(expectedPath()).duration, 0.3);
  {
    RecordingSession starting(&sys_.encoders, &sys_.clock, &sys_.audio);
    starting.start();  // gone in the middle of its start
  }
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), expectedPath(QStringLiteral("2002-04-03_09-05(2).wma")));
  EXPECT_EQ(RepairAsfFile(expectedPath(QStringLiteral("2002-04-03_09-05(2).wma"))).result,
            AsfRepairOutcome::Result::Sound);
}

// A file removed, its folder removed, or another file moved over its name while it records:
// everything recorded is put back, the user is told where, and nothing else is touched.
TEST_F(SessionLive, AFileRemovedWhileRecordingIsPutBackWithAllItsSound) {
  std::vector<QString> restored;
  QObject::connect(&session_, &RecordingSession::fileRestored, [&](const QString& p) { restored.push_back(p); });
  const QString other = saveFolder_ + QStringLiteral("/other.wma");
  const struct {
    const char* what;
    std::function<void(const QString& path)> remove;
    QString putBackAs;
  } cases[] = {
      {"the file", [](const QString& path) { QFile::remove(path); }, QStringLiteral("2002-04-03_09-05.wma")},
      {"its folder", [this](const QString&) { QDir(saveFolder_).removeRecursively(); },
       QStringLiteral("2002-04-03_09-06.wma")},
      {"another file moved over it",
       [other](const QString& path) {
         QFile f(other);
         if (f.open(QIODevice::WriteOnly)) f.write("another file");
         f.close();
         // As mv does it: over the name, which QFile::rename refuses.
         std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData());
       },
       QStringLiteral("2002-04-03_09-07(2).wma")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    restored.clear();
    results_.clear();
    session_.start();
    ASSERT_TRUE(reaches(Phase::Recording));
    const QString first = session_.path();
    QElapsedTimer clock;
    clock.start();
    runFor(1200);
    c.remove(first);
    ASSERT_TRUE(waitUntil([&] { return !restored.empty(); }, 3000)) << "not put back";
    runFor(800);
    session_.stop();
    ASSERT_TRUE(reaches(Phase::Idle));
    const double recorded = clock.elapsed() / 1000.0;
    EXPECT_EQ(restored[0], expectedPath(c.putBackAs));
    EXPECT_EQ(session_.path(), restored[0]);
    EXPECT_EQ(ReadSetting(kLastRecordingSetting), restored[0]) << "the player finds it";
    ASSERT_EQ(results_.size(), 1u);
    EXPECT_EQ(results_[0].path, restored[0]);
    EXPECT_TRUE(results_[0].complete);
    EXPECT_EQ(RepairAsfFile(restored[0]).result, AsfRepairOutcome::Result::Sound);
    const std::vector<float> sound = decodeMono(restored[0], 16000);
    EXPECT_GT(double(sound.size()) / 16000, recorded - 0.3) << "the sound from before the removal is there";
    EXPECT_LT(longestSilenceSeconds(sound, 16000, 0.1, double(sound.size()) / 16000 - 0.1), 0.005);
    EXPECT_NEAR(dominantFrequency(sound, 16000), 1000, 10);
    sys_.clock.current = sys_.clock.current.addSecs(60);
  }
  QFile moved(expectedPath(QStringLiteral("2002-04-03_09-07.wma")));
  ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
  EXPECT_EQ(moved.readAll(), QByteArray("another file")) << "the file that took the name is untouched";
}

// An input that hands over all its sound at once, from inside its start.
class BurstInput : public AudioInput {
 public:
  PcmFormat format() const override { return PcmFormat{44100, 2, SampleType::S16, false}; }
  void start(AudioCallback onAudio, EndCallback) override {
    std::vector<int16_t> samples(2 * 44100);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t((i / 2 % 100) * 300);
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    for (int second = 0; second < 5; ++second) onAudio(&bytes, 44100);
  }
  void stop() override {}
};

struct FullAt : DiskSpace {
  explicit FullAt(int64_t bytes) : bytes(bytes) {}
  bool allows(int64_t size) const override { return size <= bytes; }
  int64_t bytes;
};

// The disk fills, and the stop comes before the recording's own end could be carried out:
// the stop still tells that the recording ended by itself, and why.
TEST(CaptureWorkerRace, AFailureJustBeforeAStopIsStillReported) {
  QTemporaryDir dir;
  const ScopedEnv state("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8());
  CaptureSetup setup;
  setup.makeInput = [] { return std::make_unique<BurstInput>(); };
  setup.path = dir.filePath(QStringLiteral("race.wma"));
  setup.profile = ProfileCollection().item(3);
  setup.disk = std::make_shared<FullAt>(30000);
  CaptureWorker worker(setup);
  std::optional<EncoderError> begun = EncoderError(QStringLiteral("not called"));
  worker.onBegun = [&](const std::optional<EncoderError>& failure) { begun = failure; };
  bool endedAlone = false;
  worker.onEndedByItself = [&](const CaptureOutcome&) { endedAlone = true; };
  worker.begin();  // the burst fills the disk before begin() returns
  ASSERT_FALSE(begun);
  const CaptureOutcome outcome = worker.end();  // before the worker's own end had its turn
  EXPECT_TRUE(outcome.endedByItself);
  ASSERT_TRUE(outcome.failure);
  EXPECT_EQ(outcome.failure->kind(), EncoderFailure::Write);
  EXPECT_TRUE(outcome.complete);
  runFor(50);
  EXPECT_FALSE(endedAlone) << "told once, by the stop";
  EXPECT_EQ(worker.end().endedByItself, true) << "the same outcome on every later call";
  EXPECT_EQ(RepairAsfFile(setup.path).result, AsfRepairOutcome::Result::Sound);
}

}  // namespace
