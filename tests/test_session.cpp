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
#include "recording/LoudnessCache.h"
#include "recording/RecordingPlan.h"
#include "recording/RecordingSession.h"
#include "settings/Settings.h"
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
    cache_.emplace("XDG_CACHE_HOME", dir_.filePath(QStringLiteral("cache")).toUtf8());
    QFile::remove(SettingsFilePath());
    sys_.sound.file = dir_.filePath(QStringLiteral("tone.wav"));
    writeToneWav(sys_.sound.file, 1000, 2, 44100, 2);
    saveFolder_ = dir_.filePath(QStringLiteral("rec"));
    QObject::connect(&session_, &RecordingSession::phaseChanged, [this](Phase p) { phases_.push_back(p); });
    QObject::connect(&session_, &RecordingSession::fileChanged,
                     [this](const QString& path, FileChange change) { changes_.emplace_back(path, change); });
    QObject::connect(&session_, &RecordingSession::finished, [this](const RecordingResult& r) {
      if (r.started)
        results_.push_back(r);
      else
        failures_.push_back(r.failure.value_or(RecordingFailure{}));
    });
  }
  void TearDown() override { QFile::remove(SettingsFilePath()); }

  QString expectedPath(const QString& name = QStringLiteral("2002-04-03_09-05.wma")) const {
    return saveFolder_ + QLatin1Char('/') + name;
  }
  bool reaches(Phase phase, int timeoutMs = 10000) {
    return waitUntil([&] { return session_.phase() == phase; }, timeoutMs);
  }
  // A recording as the window starts one: the FM quality into the save folder, named after
  // the clock's minute.
  RecordingSetup setup() const {
    return SetupFor(folder_.value_or(saveFolder_), *ProfileCollection().matching(QStringLiteral("FM ラジオ")),
                    sys_.clock.now());
  }
  void start() { session_.start(setup()); }
  // Where the session last said the file is.
  QString announced() const { return changes_.empty() ? QString() : changes_.back().first; }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> state_;
  std::optional<ScopedEnv> cache_;
  QString saveFolder_;
  FakeSystem sys_;
  std::optional<QString> folder_;  // another save folder than the usual
  RecordingSession session_{sys_.sound, sys_.clock};
  std::vector<Phase> phases_;
  std::vector<std::pair<QString, FileChange>> changes_;  // as the session announced them
  std::vector<RecordingFailure> failures_;
  std::vector<RecordingResult> results_;
};

// What the settings make of the next recording: only what somebody chose.
TEST_F(SessionTest, ThePlanTakesOnlyAQualityAndAFolderSomebodyChose) {
  // As the window makes it, from what is stored.
  auto storedPlan = [] {
    const Settings settings;
    return PlanRecording(settings.quality(), settings.saveFolder().value, settings.saveFolder().cut);
  };
  RecordingPlan plan = storedPlan();
  EXPECT_FALSE(plan.qualityChosen());
  EXPECT_FALSE(plan.folderChosen()) << "no folder is not the root folder";
  WriteSetting(kQualitySetting, QStringLiteral("WMA 9 Voice"));  // a name of the Windows encoder
  WriteSetting(kSaveFolderSetting, saveFolder_);
  plan = storedPlan();
  EXPECT_FALSE(plan.qualityChosen());
  EXPECT_EQ(plan.qualityText, QStringLiteral("WMA 9 Voice"));
  EXPECT_TRUE(plan.folderChosen());
  WriteSetting(kQualitySetting, QStringLiteral("FM ラジオ"));
  plan = storedPlan();
  ASSERT_TRUE(plan.qualityChosen());
  EXPECT_EQ(plan.profile->sampleRate, 44100);

  // A folder longer than a value reads back, written by another program: what reads is not
  // the folder anybody chose.
  const QString longFolder = QStringLiteral("/tmp/") + QString(400, QChar(0x97f3));  // 1200 bytes in UTF-8
  QFile ini(SettingsFilePath());
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[SaveTo]\r\nPath=" + longFolder.toUtf8() + "\r\n[Profile]\r\nProf=FM\r\n");
  ini.close();
  plan = storedPlan();
  EXPECT_TRUE(plan.folderCut);
  EXPECT_FALSE(plan.folderChosen());
  // A value that fills the reader's whole buffer cannot be told from a cut one.
  for (const int bytes : {1022, 1023}) {
    const QString folder = QStringLiteral("/tmp/") + QString(bytes - 5, QLatin1Char('f'));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[SaveTo]\r\nPath=" + folder.toUtf8() + "\r\n[Profile]\r\nProf=FM\r\n");
    ini.close();
    plan = storedPlan();
    EXPECT_EQ(plan.folderChosen(), bytes == 1022) << bytes;
    EXPECT_EQ(ValueStoreProblem(folder) == StoreProblem::None, bytes == 1022) << "never stored so that it reads as cut";
  }

  const Profile fm = *plan.profile;
  EXPECT_EQ(SetupFor(QStringLiteral("/"), fm, sys_.clock.now()).path, QStringLiteral("/2002-04-03_09-05.wma"));
  EXPECT_EQ(SetupFor(QStringLiteral("/a/"), fm, sys_.clock.now()).path, QStringLiteral("/a//2002-04-03_09-05.wma"))
      << "the separator always goes in";
}

// Recordings against the clock.
class SessionLive : public SessionTest {};

TEST_F(SessionLive, ARecordingGoesThroughItsPhasesAndNotesItsFileOnceMade) {
  WriteSetting(kLastRecordingSetting, QStringLiteral("/earlier.wma"));
  start();
  EXPECT_EQ(session_.phase(), Phase::Starting) << "the start returns before the capture has started";
  EXPECT_TRUE(changes_.empty());
  ASSERT_TRUE(reaches(Phase::Recording));
  EXPECT_EQ(session_.path(), expectedPath());
  EXPECT_EQ(changes_, (std::vector<std::pair<QString, FileChange>>{{expectedPath(), FileChange::Made}}))
      << "told once the file is there";
  EXPECT_TRUE(QFileInfo(saveFolder_).isDir()) << "a missing save folder is made";
  start();
  EXPECT_EQ(session_.phase(), Phase::Recording) << "a second start does nothing";
  const std::shared_ptr<const LoudnessMeter> loudness = session_.loudness();
  ASSERT_TRUE(loudness);
  EXPECT_TRUE(waitUntil([&] { return loudness->blocks() >= 10; })) << "its waveform grows as it records";

  // Elapsed time: the steady clock's, frozen while paused, never going back.
  EXPECT_EQ(session_.elapsedMs(), 0);
  sys_.clock.steady += 2500;
  EXPECT_EQ(session_.elapsedMs(), 2500);
  session_.pause();
  EXPECT_EQ(session_.phase(), Phase::Paused);
  sys_.clock.steady += 5000;
  EXPECT_EQ(session_.elapsedMs(), 2500) << "paused time is left out";
  session_.resume();
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
  EXPECT_EQ(probed.sampleRate, 44100);
  EXPECT_EQ(probed.title, QStringLiteral("2002-04-03_09-05.wma"));
  EXPECT_EQ(probed.author, QStringLiteral("Tallowen"));
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
  EXPECT_FALSE(session_.loudness());
  // Its waveform is known without decoding it: what was summed as it recorded.
  const std::optional<Loudness> known = LoudnessCache().load(expectedPath());
  ASSERT_TRUE(known);
  EXPECT_EQ(known->levels, loudness->whole().levels);
  EXPECT_NEAR(double(known->lengthMs()), double(results_[0].soundMs), 50);
  EXPECT_GT(known->peakOver(0, known->lengthMs()), Loudness::levelOf(0.1f));

  // The same minute again: the next name, the first recording untouched.
  start();
  ASSERT_TRUE(reaches(Phase::Recording));
  EXPECT_EQ(announced(), expectedPath(QStringLiteral("2002-04-03_09-05(2).wma")));
  session_.stop();
  ASSERT_TRUE(reaches(Phase::Idle));
  EXPECT_TRUE(probe(expectedPath()).ok);
  EXPECT_EQ(results_.size(), 2u);
  EXPECT_EQ(changes_.size(), 2u) << "once each";
  EXPECT_EQ(ReadSetting(kLastRecordingSetting), QStringLiteral("/earlier.wma")) << "the session keeps no settings";
}

TEST_F(SessionLive, StartFailuresNameTheirCauseAndLeaveTheLatestRecordingAsItWas) {
  auto fails = [&] {
    failures_.clear();
    start();
    EXPECT_TRUE(reaches(Phase::Idle)) << int(session_.phase());
    EXPECT_EQ(failures_.size(), 1u);
    EXPECT_TRUE(results_.empty());
    EXPECT_TRUE(changes_.empty()) << "no file was made";
    return failures_.empty() ? std::optional<RecordingFailure>() : std::optional<RecordingFailure>(failures_[0]);
  };

  // A regular file where the save folder should be: the folder cannot be made.
  QFile blocker(dir_.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString impossible = dir_.filePath(QStringLiteral("file/rec"));
  folder_ = impossible;
  auto folder = fails();
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->cause, FailureCause::SaveFolder);
  EXPECT_EQ(folder->subject, impossible);
  folder_.reset();

  sys_.sound.file = dir_.filePath(QStringLiteral("no-such-microphone.wav"));
  auto input = fails();
  ASSERT_TRUE(input);
  EXPECT_EQ(input->cause, FailureCause::NoInput);
  EXPECT_FALSE(QFile::exists(expectedPath())) << "nothing left behind";
  sys_.sound.file = dir_.filePath(QStringLiteral("tone.wav"));

  sys_.sound.serverDown = true;
  auto server = fails();
  ASSERT_TRUE(server);
  EXPECT_EQ(server->cause, FailureCause::ServerLost);
  sys_.sound.serverDown = false;

  start();
  EXPECT_TRUE(reaches(Phase::Recording)) << "a failed start leaves the session ready for another";
  session_.stop();
  EXPECT_TRUE(reaches(Phase::Idle));
}

TEST_F(SessionLive, ANameTakenByAnotherCopyInTheSameMinuteGoesToTheNext) {
  // Another copy of the program made this minute's file first.
  QDir().mkpath(saveFolder_);
  const QString taken = expectedPath();
  {
    QFile other(taken);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("another copy's recording");
  }
  start();
  ASSERT_TRUE(reaches(Phase::Recording));
  EXPECT_EQ(session_.path(), expectedPath(QStringLiteral("2002-04-03_09-05(2).wma")));
  EXPECT_EQ(announced(), session_.path());
  session_.stop();
  ASSERT_TRUE(reaches(Phase::Idle));
  QFile other(taken);
  ASSERT_TRUE(other.open(QIODevice::ReadOnly));
  EXPECT_EQ(other.readAll(), QByteArray("another copy's recording"));
  EXPECT_TRUE(probe(session_.path()).ok);
}

TEST_F(SessionLive, ASlowStartLeavesTheWindowThreadFree) {
  sys_.sound.startDelayMs = 1500;
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
  start();
  const qint64 returned = clock.elapsed();
  ASSERT_TRUE(reaches(Phase::Recording));
  EXPECT_LT(returned, 100) << "start() returned at once";
  ASSERT_GE(ticks.size(), 10u) << "the timer kept firing through the start";
  for (size_t i = 1; i < ticks.size(); ++i) EXPECT_LT(ticks[i] - ticks[i - 1], 250) << "a gap in the ticks";
  session_.stop();
  ASSERT_TRUE(reaches(Phase::Idle));
}

TEST_F(SessionLive, AStopDuringTheStartCompletesTheFile) {
  sys_.sound.startDelayMs = 800;
  start();
  session_.stop();
  EXPECT_EQ(session_.phase(), Phase::Stopping);
  ASSERT_TRUE(reaches(Phase::Idle));
  EXPECT_TRUE(failures_.empty());
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_FALSE(results_[0].endedByItself);
  EXPECT_TRUE(results_[0].complete);
  EXPECT_EQ(announced(), expectedPath()) << "a file was made, though no sound came";
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
}

TEST_F(SessionLive, ARecordingThatEndsByItselfIsReportedWithItsCause) {
  QDir().mkpath(saveFolder_);
  SmallDisk disk(saveFolder_, 48);
  if (!disk.mounted()) GTEST_SKIP() << "a small file system needs the test command's rights (root)";
  start();
  ASSERT_TRUE(reaches(Phase::Recording));
  ASSERT_TRUE(reaches(Phase::Idle, 15000));
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_TRUE(results_[0].endedByItself);
  ASSERT_TRUE(results_[0].failure);
  EXPECT_EQ(results_[0].failure->cause, FailureCause::Write);
  EXPECT_TRUE(results_[0].complete) << "made whole from what reached the disk";
  EXPECT_GT(decodeMono(expectedPath(), 16000).size(), 0u);
}

TEST_F(SessionLive, TheEndOfTheSessionCompletesARecordingStillRunning) {
  {
    RecordingSession ending(sys_.sound, sys_.clock);
    ending.start(setup());
    ASSERT_TRUE(waitUntil([&] { return ending.phase() == Phase::Recording; }));
    runFor(500);
    ending.stop();  // asked, and gone before the stop's answer came
  }
  EXPECT_EQ(RepairAsfFile(expectedPath()).result, AsfRepairOutcome::Result::Sound);
  EXPECT_GT(probe(expectedPath()).duration, 0.3);
  {
    RecordingSession starting(sys_.sound, sys_.clock);
    starting.start(setup());  // gone in the middle of its start
  }
  EXPECT_EQ(RepairAsfFile(expectedPath(QStringLiteral("2002-04-03_09-05(2).wma"))).result,
            AsfRepairOutcome::Result::Sound);
  // The program's end asks for the result, to know where the file ended up.
  RecordingSession ended(sys_.sound, sys_.clock);
  ended.start(setup());
  ASSERT_TRUE(waitUntil([&] { return ended.phase() == Phase::Recording; }));
  const RecordingResult result = ended.end();
  EXPECT_TRUE(result.started && result.complete);
  EXPECT_EQ(result.path, expectedPath(QStringLiteral("2002-04-03_09-05(3).wma")));
  EXPECT_EQ(ended.phase(), Phase::Idle);
}

// A recording ended at once (as the program's end does) leaves its last reports on their
// way to the session; a recording started right after must not take them for its own.
TEST_F(SessionLive, AReportOfAnEarlierRecordingNeverReachesALaterOne) {
  start();
  ASSERT_TRUE(reaches(Phase::Recording));
  session_.addMark(QStringLiteral("マーク 1"));
  const RecordingResult first = session_.end();
  ASSERT_TRUE(first.started);
  std::vector<int> marks;
  QObject::connect(&session_, &RecordingSession::marked, [&](int number, bool) { marks.push_back(number); });
  changes_.clear();
  sys_.clock.current = sys_.clock.current.addSecs(60);
  start();
  ASSERT_TRUE(reaches(Phase::Recording));
  EXPECT_TRUE(staysTrue([&] { return session_.phase() == Phase::Recording && results_.empty(); }, 1000))
      << "the earlier recording's end ended this one";
  EXPECT_TRUE(marks.empty()) << "the earlier recording's mark was told as this one's";
  EXPECT_EQ(changes_, (std::vector<std::pair<QString, FileChange>>{{expectedPath(QStringLiteral("2002-04-03_09-06.wma")), FileChange::Made}}));
  EXPECT_EQ(session_.path(), expectedPath(QStringLiteral("2002-04-03_09-06.wma")));
  session_.stop();
  ASSERT_TRUE(reaches(Phase::Idle));
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0].path, expectedPath(QStringLiteral("2002-04-03_09-06.wma")));
}

// A file removed, its folder removed, or another file moved over its name while it records:
// everything recorded is put back, the user is told where, and nothing else is touched.
TEST_F(SessionLive, AFileRemovedWhileRecordingIsPutBackWithAllItsSound) {
  std::vector<QString> restored;
  std::vector<bool> elsewhere;
  QObject::connect(&session_, &RecordingSession::fileChanged, [&](const QString& p, FileChange change) {
    if (change != FileChange::PutBack && change != FileChange::Rescued) return;
    restored.push_back(p);
    elsewhere.push_back(change == FileChange::Rescued);
  });
  // The user's own folders, where a recording goes whose folder cannot be made again.
  const ScopedEnv home("HOME", dir_.filePath(QStringLiteral("home")).toUtf8());
  const QString rescued = dir_.filePath(QStringLiteral("home/Music/Tallowen/"));
  const QString other = saveFolder_ + QStringLiteral("/other.wma");
  const struct {
    const char* what;
    std::function<void(const QString& path)> remove;
    QString putBackAs;
  } cases[] = {
      {"its folder, and a file made at the folder's name",
       [this](const QString&) {
         QDir(saveFolder_).removeRecursively();
         QFile f(saveFolder_);
         if (f.open(QIODevice::WriteOnly)) f.write("not a folder");
       },
       rescued + QStringLiteral("2002-04-03_09-05.wma")},
      {"the file", [](const QString& path) { QFile::remove(path); }, QStringLiteral("2002-04-03_09-06.wma")},
      {"its folder", [this](const QString&) { QDir(saveFolder_).removeRecursively(); },
       QStringLiteral("2002-04-03_09-07.wma")},
      {"another file moved over it",
       [other](const QString& path) {
         QFile f(other);
         if (f.open(QIODevice::WriteOnly)) f.write("another file");
         f.close();
         // As mv does it: over the name, which QFile::rename refuses.
         std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData());
       },
       QStringLiteral("2002-04-03_09-08(2).wma")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    restored.clear();
    elsewhere.clear();
    results_.clear();
    if (!QFileInfo(saveFolder_).isDir()) QFile::remove(saveFolder_);
    start();
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
    const bool away = c.putBackAs.startsWith(rescued);
    EXPECT_EQ(restored[0], away ? c.putBackAs : expectedPath(c.putBackAs));
    EXPECT_EQ(elsewhere[0], away);
    EXPECT_EQ(session_.path(), restored[0]);
    EXPECT_EQ(announced(), restored[0]) << "the player finds it";
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
  QFile moved(expectedPath(QStringLiteral("2002-04-03_09-08.wma")));
  ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
  EXPECT_EQ(moved.readAll(), QByteArray("another file")) << "the file that took the name is untouched";
}

// A folder renamed while it records takes the file with it: the session says where the file
// is now, and the latest recording names that place.
TEST_F(SessionLive, AFolderRenamedWhileRecordingIsFollowedToTheFilesNewPlace) {
  start();
  ASSERT_TRUE(reaches(Phase::Recording));
  runFor(800);
  const QString renamed = dir_.filePath(QStringLiteral("renamed"));
  ASSERT_TRUE(QDir().rename(saveFolder_, renamed));
  runFor(800);
  session_.stop();
  ASSERT_TRUE(reaches(Phase::Idle));
  ASSERT_EQ(results_.size(), 1u);
  const QString now = renamed + QStringLiteral("/2002-04-03_09-05.wma");
  EXPECT_EQ(results_[0].path, now);
  EXPECT_EQ(results_[0].begunAt, expectedPath());
  EXPECT_EQ(changes_.back(), std::make_pair(now, FileChange::Followed));
  EXPECT_EQ(RepairAsfFile(now).result, AsfRepairOutcome::Result::Sound);
}

}  // namespace
