#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <csignal>

#include "recording/AsfRepair.h"
#include "recording/Encoder.h"
#include "recording/RecordingJournal.h"
#include "support/AudioCheck.h"
#include "support/Wait.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

// GUIDs as stored: the Data object, the File Properties object, the Simple Index object.
const QByteArray kData = QByteArray::fromHex("3626b2758e66cf11a6d900aa0062ce6c");
const QByteArray kFileProperties = QByteArray::fromHex("a1dcab8c47a9cf118ee400c00c205365");
const QByteArray kSimpleIndex = QByteArray::fromHex("90080033b1e5cf1189f400a0c90349cb");

// Where a recording's packets begin, and how long each is.
struct Layout {
  qsizetype packets = 0;
  qsizetype packet = 0;
};

Layout layoutOf(const QByteArray& asf) {
  const qsizetype fp = asf.indexOf(kFileProperties);
  return {asf.indexOf(kData) + 50, qsizetype(qFromLittleEndian<quint32>(asf.constData() + fp + 92))};
}

void put64(QByteArray& bytes, qsizetype at, quint64 value) { qToLittleEndian(value, bytes.data() + at); }

using Result = AsfRepairOutcome::Result;

// Decodes from `at` seconds on; seeking in a file needs its duration and packet count.
size_t samplesFrom(const QString& path, double at) {
  QProcess p;
  p.start(QStringLiteral("ffmpeg"),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-ss"), QString::number(at),
           QStringLiteral("-i"), path, QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-f"),
           QStringLiteral("s16le"), QStringLiteral("-")});
  if (!p.waitForFinished(30000)) return 0;
  return size_t(p.readAllStandardOutput().size()) / 2;
}

class AsfRepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qputenv("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
  }
  void TearDown() override { qunsetenv("XDG_STATE_HOME"); }

  // A complete recording of the tone, made as fast as the encoder goes.
  QString record(const QString& tone, int profile, const QString& name) {
    const QString path = dir_.filePath(name);
    Encoder encoder;
    SourceGroup& group = encoder.sourceGroupCollection().add(QStringLiteral("SG_1"));
    group.addSource(SourceType::Audio).setInput(tone);
    group.source(0).setPace(Source::Pace::AsFastAsPossible);
    group.setProfile(encoder.profileCollection().item(profile));
    encoder.displayInfo().setAuthor(QStringLiteral("Tallowen"));
    encoder.file().setLocalFileName(path);
    encoder.start();
    EXPECT_TRUE(waitUntil([&] { return encoder.state() == Encoder::Stopped; }, 30000));
    return path;
  }

  QStringList journalEntries() const {
    return QDir(RecordingJournalFolder() + QStringLiteral("/recordings")).entryList(QDir::Files);
  }

  // A copy of one ten-second recording (64 kb/s, 3200-byte packets) as a crash leaves it:
  // whole packets behind a header that counts none.
  QString crashedCopy(const QString& name) {
    if (crashed_.isEmpty()) {
      const QString tone = dir_.filePath(QStringLiteral("crash-tone.wav"));
      writeToneWav(tone, 440, 10, 44100, 2);
      const QString whole = record(tone, 3, QStringLiteral("crash-source.wma"));
      resetHeaderLikeACrash(whole);
      crashed_ = readAll(whole);
    }
    const QString path = dir_.filePath(name);
    writeAll(path, crashed_);
    return path;
  }

  QTemporaryDir dir_;
  QByteArray crashed_;
};

TEST_F(AsfRepairTest, MendedHeaderIsTheOneTheMuxerWouldHaveWritten) {
  const QString tone = dir_.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 440, 7.3, 44100, 2);
  ProfileCollection profiles;
  for (int i = 0; i < profiles.count(); ++i) {
    SCOPED_TRACE(profiles.item(i).name.toStdString());
    const QString sound = record(tone, i, QStringLiteral("p%1.wma").arg(i));
    const QByteArray original = readAll(sound);
    ASSERT_GT(original.size(), 1000);
    EXPECT_TRUE(journalEntries().isEmpty()) << "a completed recording leaves no journal entry";

    // Sound: not a byte changes, nor the time it was last written.
    const QDateTime written = QFileInfo(sound).lastModified();
    QThread::msleep(20);
    EXPECT_EQ(RepairAsfFile(sound).result, AsfRepairOutcome::Result::Sound);
    EXPECT_EQ(readAll(sound), original);
    EXPECT_EQ(QFileInfo(sound).lastModified(), written);

    // Cut short before the trailer: mended back to exactly the completed file.
    const QString cut = dir_.filePath(QStringLiteral("cut%1.wma").arg(i));
    writeAll(cut, original);
    resetHeaderLikeACrash(cut);
    EXPECT_NE(probe(cut).duration, probe(sound).duration);
    const AsfRepairOutcome mended = RepairAsfFile(cut);
    EXPECT_EQ(mended.result, AsfRepairOutcome::Result::Repaired) << mended.error.toStdString();
    EXPECT_EQ(readAll(cut), original);
    EXPECT_EQ(RepairAsfFile(cut).result, AsfRepairOutcome::Result::Sound) << "mending twice changes nothing";
  }
}

TEST_F(AsfRepairTest, TornLastPacketIsCutOffAndWhatIsNotAsfIsLeftAlone) {
  const QString tone = dir_.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 440, 10, 44100, 2);
  const QString sound = record(tone, 3, QStringLiteral("whole.wma"));
  const QByteArray original = readAll(sound);

  // Killed mid-write: the last packet only partly there.
  const QString torn = dir_.filePath(QStringLiteral("torn.wma"));
  writeAll(torn, original);
  resetHeaderLikeACrash(torn);
  writeAll(torn, readAll(torn).chopped(1700));
  {
    // Never below what the recorder had synced to the disk: that was not torn.
    const QByteArray before = readAll(torn);
    QFile file(torn);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    EXPECT_EQ(RepairAsfDescriptor(file.handle(), torn, before.size()).result, AsfRepairOutcome::Result::Failed);
    EXPECT_EQ(readAll(torn), before);
  }
  const AsfRepairOutcome mended = RepairAsfFile(torn);
  ASSERT_EQ(mended.result, AsfRepairOutcome::Result::Repaired) << mended.error.toStdString();
  const qint64 packet = 3200;
  EXPECT_EQ(QFileInfo(torn).size(), original.size() - packet);
  EXPECT_EQ(mended.droppedBytes, packet - 1700);
  const qsizetype packets = original.indexOf(kData) + 50;
  EXPECT_EQ(readAll(torn).mid(packets), original.mid(packets, original.size() - packet - packets))
      << "the packets kept are the original's, untouched";
  const Probe p = probe(torn);
  EXPECT_GT(p.duration, 9.0);
  EXPECT_LT(p.duration, probe(sound).duration);
  EXPECT_NEAR(double(decodeMono(torn, 16000).size()) / 16000, p.duration, 0.1);

  // Power lost: the file system had made room the data never reached, and reads zeros.
  const QString zeroed = dir_.filePath(QStringLiteral("zeroed.wma"));
  writeAll(zeroed, original + QByteArray(2 * packet + 100, '\0'));
  resetHeaderLikeACrash(zeroed);
  EXPECT_EQ(RepairAsfFile(zeroed).result, AsfRepairOutcome::Result::Repaired);
  EXPECT_EQ(readAll(zeroed), original);

  const QString text = dir_.filePath(QStringLiteral("notes.wma"));
  writeAll(text, "not a recording at all");
  EXPECT_EQ(RepairAsfFile(text).result, AsfRepairOutcome::Result::Failed);
  EXPECT_EQ(readAll(text), QByteArray("not a recording at all"));
  EXPECT_EQ(RepairAsfFile(dir_.filePath(QStringLiteral("missing.wma"))).result,
            AsfRepairOutcome::Result::Failed);
}

TEST_F(AsfRepairTest, DamagedPacketBeforeTheEndLeavesTheFileAsItWas) {
  const QString path = crashedCopy(QStringLiteral("streamed.wma"));
  const QByteArray crashed = readAll(path);
  const Layout at = layoutOf(crashed);
  ASSERT_GT(crashed.size() - at.packets, 20 * at.packet);
  // A packet in the middle as a bad sector or a faulty copy returns it: every packet after
  // it is sound, and cutting there would lose all but the first seconds.
  const QByteArray damages[] = {QByteArray(16, '\xff'), QByteArray(at.packet, '\0')};
  for (const QByteArray& damage : damages) {
    for (const qsizetype tornOff : {qsizetype(0), at.packet / 2}) {
      QByteArray bytes = crashed;
      bytes.replace(at.packets + 10 * at.packet, damage.size(), damage);
      bytes.chop(tornOff);
      writeAll(path, bytes);
      const AsfRepairOutcome outcome = RepairAsfFile(path);
      EXPECT_EQ(outcome.result, Result::Failed);
      EXPECT_EQ(outcome.problem, AsfRepairOutcome::Problem::Damaged) << outcome.error.toStdString();
      EXPECT_EQ(readAll(path), bytes);
    }
  }
}

TEST_F(AsfRepairTest, WhatFollowsThePacketsIsCutOnlyWhenItHoldsNoSound) {
  const QString path = crashedCopy(QStringLiteral("tagged.wma"));
  const QByteArray crashed = readAll(path);
  const Layout at = layoutOf(crashed);

  // A tag that a tag editor appended is shorter than a packet, like a torn one, but does
  // not begin like the packets before it.
  const QByteArray tagged = crashed + "TAG" + QByteArray("Interview").leftJustified(125, '\0');
  writeAll(path, tagged);
  EXPECT_EQ(RepairAsfFile(path).result, Result::Failed);
  EXPECT_EQ(readAll(path), tagged);

  // An index after the packets stays; the header is mended in front of it.
  QByteArray index = kSimpleIndex + QByteArray(40, '\0');
  put64(index, 16, quint64(index.size()));
  writeAll(path, crashed + index);
  const AsfRepairOutcome mended = RepairAsfFile(path);
  ASSERT_EQ(mended.result, Result::Repaired) << mended.error.toStdString();
  EXPECT_EQ(mended.droppedBytes, 0);
  EXPECT_EQ(mended.packets, (crashed.size() - at.packets) / at.packet);
  EXPECT_EQ(readAll(path).mid(at.packets), (crashed + index).mid(at.packets));
  EXPECT_EQ(RepairAsfFile(path).result, Result::Sound);
}

TEST_F(AsfRepairTest, SizesAtTheLimitOfTheirFieldsAreRefusedWithoutACrash) {
  const QString tone = dir_.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 440, 3, 44100, 2);
  const QByteArray whole = readAll(record(tone, 3, QStringLiteral("whole.wma")));
  const QString crashedPath = crashedCopy(QStringLiteral("crashed.wma"));
  const QByteArray crashed = readAll(crashedPath);
  const qsizetype fp = whole.indexOf(kFileProperties);
  ASSERT_EQ(fp, crashed.indexOf(kFileProperties));
  constexpr quint64 kNearMax = 0x7ffffffffffffff0;
  struct Case {
    const char* what;
    const QByteArray& from;
    qsizetype at;
    quint64 value;
  };
  const Case cases[] = {
      {"header object size", crashed, 16, kNearMax},
      {"first object's size", crashed, 30 + 16, kNearMax},
      {"file properties size", crashed, fp + 16, kNearMax},
      {"preroll of a complete file", whole, fp + 80, kNearMax},
      {"preroll of a crashed file", crashed, fp + 80, ~quint64(0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QByteArray bytes = c.from;
    put64(bytes, c.at, c.value);
    const QString path = dir_.filePath(QStringLiteral("crafted.wma"));
    writeAll(path, bytes);
    const AsfRepairOutcome outcome = RepairAsfFile(path);
    EXPECT_EQ(outcome.result, Result::Failed);
    EXPECT_EQ(outcome.problem, AsfRepairOutcome::Problem::Damaged);
    EXPECT_EQ(readAll(path), bytes);
  }
}

// The recorder is a process of its own here, killed the way a crash or a power cut would.
class KilledRecording : public AsfRepairTest {
 protected:
  void startTool(QProcess& tool, const QString& input, const QString& out, int profile, double seconds,
                 const QString& wrapper = QString()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), qEnvironmentVariable("XDG_STATE_HOME"));
    tool.setProcessEnvironment(env);
    QStringList args{input,
                     out,
                     QString::number(profile),
                     QString::number(seconds),
                     QStringLiteral("flush"),
                     QStringLiteral("sync")};
    if (wrapper.isEmpty()) {
      tool.start(QStringLiteral(RECORD_TOOL), args);
    } else {
      tool.start(wrapper,
                 QStringList{QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-e"),
                             QStringLiteral("trace=fsync,fdatasync"), QStringLiteral("-o"),
                             dir_.filePath(QStringLiteral("strace.txt")), QStringLiteral(RECORD_TOOL)} +
                     args);
    }
    ASSERT_TRUE(tool.waitForStarted());
    ASSERT_TRUE(tool.waitForReadyRead(10000));
    ASSERT_TRUE(tool.readAllStandardOutput().startsWith("recording"));
  }
};

TEST_F(KilledRecording, KeepsAllButTheLastSecondAndIsMendedAtTheNextStart) {
  const QString tone = dir_.filePath(QStringLiteral("long.wav"));
  writeToneWav(tone, 1000, 30, 16000, 1);
  // The slowest profile: 24 kb/s fills a packet slowest.
  const QString path = dir_.filePath(QStringLiteral("killed.wma"));
  QProcess tool;
  startTool(tool, tone, path, 0, 0);
  QElapsedTimer recording;
  recording.start();
  QThread::msleep(4200);
  ::kill(pid_t(tool.processId()), SIGKILL);
  const double recorded = recording.elapsed() / 1000.0;
  tool.waitForFinished();

  EXPECT_EQ(journalEntries().size(), 2) << "the entry and its lock outlive the killed program";
  EXPECT_FALSE(probe(path).duration > 0) << "a killed recording's header has no duration";
  const InterruptedRecordings found = RepairInterruptedRecordings();
  EXPECT_EQ(found.repaired, QStringList{path});
  EXPECT_TRUE(found.failed.isEmpty());
  EXPECT_TRUE(journalEntries().isEmpty());

  const Probe p = probe(path);
  EXPECT_GT(p.duration, recorded - 1.0) << "more than the last second was lost";
  EXPECT_LE(p.duration, recorded + 0.1);
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_NEAR(double(sound.size()) / 16000, p.duration, 0.1);
  EXPECT_NEAR(dominantFrequency(sound, 16000), 1000, 10);
  EXPECT_GT(samplesFrom(path, p.duration - 0.5), 4000u) << "seeking near the end finds sound";
  EXPECT_EQ(samplesFrom(path, p.duration + 1), 0u);

  EXPECT_TRUE(RepairInterruptedRecordings().repaired.isEmpty()) << "the journal was cleared";
}

TEST_F(KilledRecording, RecordingThatIsStillRunningIsLeftAlone) {
  const QString tone = dir_.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 1000, 10, 16000, 1);
  const QString path = dir_.filePath(QStringLiteral("running.wma"));
  QProcess tool;
  startTool(tool, tone, path, 0, 2.5);
  QThread::msleep(1200);
  const QByteArray before = readAll(path);
  const InterruptedRecordings found = RepairInterruptedRecordings();
  EXPECT_TRUE(found.repaired.isEmpty() && found.failed.isEmpty());
  EXPECT_TRUE(readAll(path).startsWith(before.first(600))) << "its header was not touched";
  ASSERT_TRUE(tool.waitForFinished(10000));
  EXPECT_EQ(tool.exitCode(), 0);
  EXPECT_TRUE(journalEntries().isEmpty());
  EXPECT_EQ(RepairAsfFile(path).result, AsfRepairOutcome::Result::Sound);
}

TEST_F(KilledRecording, PacketsReachTheDiskEverySecondAndAreSyncedEveryFive) {
  const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
  if (strace.isEmpty()) GTEST_SKIP() << "strace is not installed";
  const QString tone = dir_.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 1000, 30, 16000, 1);
  const QString path = dir_.filePath(QStringLiteral("synced.wma"));
  QProcess tool;
  startTool(tool, tone, path, 0, 11.5, strace);
  // The file grows at least once in every second of recording.
  qint64 lastSize = QFileInfo(path).size();
  int stalls = 0;
  for (int i = 0; i < 8; ++i) {
    QThread::msleep(1000);
    const qint64 size = QFileInfo(path).size();
    if (size == lastSize) ++stalls;
    lastSize = size;
  }
  EXPECT_EQ(stalls, 0);
  ASSERT_TRUE(tool.waitForFinished(20000));
  const QByteArray calls = readAll(dir_.filePath(QStringLiteral("strace.txt")));
  // Two during eleven seconds, one more when the file is completed.
  EXPECT_GE(calls.count("fsync("), 3) << calls.toStdString();
}

}  // namespace
