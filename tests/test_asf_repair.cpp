#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include <memory>
#include <optional>

#include "recording/AsfRepair.h"
#include "recording/OutputFile.h"
#include "recording/RecordingJournal.h"
#include "support/ScopedEnv.h"
#include "support/AudioCheck.h"
#include "support/OnEachRepair.h"
#include "support/Recorder.h"
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
using State = InterruptedRecording::State;

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
    state_.emplace("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
  }

  // A complete recording of the tone, made as fast as the encoder goes.
  QString record(const QString& tone, int profile, const QString& name) {
    return Recorder::recordWhole(tone, profile, dir_.filePath(name));
  }

  QStringList journalEntries() const {
    return QDir(RecordingJournalFolder() + QStringLiteral("/recordings")).entryList(QDir::Files);
  }

  // The journal's note on the recording at `path`, as it is on the disk.
  std::optional<JournalNote> noteFor(const QString& path) const {
    const QDir folder(RecordingJournalFolder() + QStringLiteral("/recordings"));
    for (const QString& name : folder.entryList({QStringLiteral("*.entry")}, QDir::Files)) {
      std::optional<JournalNote> note = ParseJournalNote(readAll(folder.filePath(name)));
      if (note && note->path == path) return note;
    }
    return std::nullopt;
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
  std::optional<ScopedEnv> state_;
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
    EXPECT_EQ(RepairAsfDescriptor(file.handle(), torn, before.size()).result,
              AsfRepairOutcome::Result::Failed);
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

TEST_F(AsfRepairTest, WriteFailureCompletesTheFileThroughItsDescriptorWhereverItWasMoved) {
  const QString tone = dir_.filePath(QStringLiteral("long.wav"));
  writeToneWav(tone, 1000, 20, 48000, 2);
  const QString folder = dir_.filePath(QStringLiteral("small"));
  QDir().mkpath(folder);
  SmallDisk disk(folder, 64);  // about 2.5 s at 192 kb/s
  if (!disk.mounted()) GTEST_SKIP() << "a small file system needs the test command's rights (root)";
  const QString path = folder + QStringLiteral("/moving.wma");
  const QString moved = folder + QStringLiteral("/moved.wma");
  Recorder recorder(tone);
  ASSERT_TRUE(recorder.start(path, 6));
  // While it records, the user moves the file and something else takes its name.
  ASSERT_TRUE(QFile::rename(path, moved));
  writeAll(path, "not a recording");
  const RecordingResult result = recorder.finished(15000);
  ASSERT_TRUE(result.failure);
  EXPECT_TRUE(result.failure->detail.contains(QStringLiteral("space"))) << result.failure->detail.toStdString();
  EXPECT_EQ(result.path, moved) << "the file is where the system says it is";
  EXPECT_EQ(readAll(path), QByteArray("not a recording"));
  EXPECT_EQ(RepairAsfFile(moved).result, Result::Sound) << "completed where it went";
  EXPECT_GT(probe(moved).duration, 1.0);
  EXPECT_TRUE(journalEntries().isEmpty());
}

// The recorder is a process of its own here, killed the way a crash or a power cut would.
class KilledRecordingLive : public AsfRepairTest {
 protected:
  void startTool(QProcess& tool, const QString& input, const QString& out, int profile, double seconds,
                 const QString& wrapper = QString()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), qEnvironmentVariable("XDG_STATE_HOME"));
    tool.setProcessEnvironment(env);
    QStringList args{input, out, QString::number(profile), QString::number(seconds)};
    if (wrapper.isEmpty()) {
      tool.start(QStringLiteral(RECORD_TOOL), args);
    } else {
      tool.start(wrapper,
                 QStringList{QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-e"),
                             QStringLiteral("trace=fsync,fdatasync"), QStringLiteral("-ttt"), QStringLiteral("-o"),
                             dir_.filePath(QStringLiteral("strace.txt")), QStringLiteral(RECORD_TOOL)} +
                     args);
    }
    ASSERT_TRUE(tool.waitForStarted());
    ASSERT_TRUE(tool.waitForReadyRead(10000));
    ASSERT_TRUE(tool.readAllStandardOutput().startsWith("recording"));
  }
};

TEST_F(KilledRecordingLive, KeepsAllButTheLastSecondAndIsMendedAtTheNextStart) {
  const QString tone = dir_.filePath(QStringLiteral("long.wav"));
  writeToneWav(tone, 1000, 30, 16000, 1);
  // The slowest profile: 24 kb/s fills a packet slowest.
  const QString path = dir_.filePath(QStringLiteral("killed.wma"));
  QProcess tool;
  startTool(tool, tone, path, 0, 0);
  QElapsedTimer recording;
  recording.start();
  QThread::msleep(6200);  // past the first syncs
  ::kill(pid_t(tool.processId()), SIGKILL);
  const double recorded = recording.elapsed() / 1000.0;
  tool.waitForFinished();

  // The entry knows which file it is, and how much of it reached the disk for sure.
  const std::optional<JournalNote> note = noteFor(path);
  ASSERT_TRUE(note.has_value());
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  ASSERT_TRUE(note->identity.has_value());
  EXPECT_EQ(note->identity->inode, uint64_t(st.st_ino));
  EXPECT_EQ(note->identity->device, uint64_t(st.st_dev));
  EXPECT_GT(note->syncedSize, 3000) << "the first second at 24 kb/s";
  EXPECT_LE(note->syncedSize, st.st_size);

  EXPECT_EQ(journalEntries().size(), 2) << "the entry and its lock outlive the killed program";
  EXPECT_FALSE(probe(path).duration > 0) << "a killed recording's header has no duration";
  const QList<InterruptedRecording> found = RepairInterruptedRecordings();
  ASSERT_EQ(found.size(), 1);
  EXPECT_EQ(found[0].path, path);
  EXPECT_EQ(found[0].state, State::Mended) << found[0].detail.toStdString();
  EXPECT_FALSE(found[0].kept);
  EXPECT_TRUE(journalEntries().isEmpty());

  EXPECT_GE(QFileInfo(path).size(), note->syncedSize);
  const Probe p = probe(path);
  EXPECT_GT(p.duration, recorded - 1.0) << "more than the last second was lost";
  EXPECT_LE(p.duration, recorded + 0.1);
  const std::vector<float> sound = decodeMono(path, 16000);
  EXPECT_NEAR(double(sound.size()) / 16000, p.duration, 0.1);
  EXPECT_NEAR(dominantFrequency(sound, 16000), 1000, 10);
  EXPECT_GT(samplesFrom(path, p.duration - 0.5), 4000u) << "seeking near the end finds sound";
  EXPECT_EQ(samplesFrom(path, p.duration + 1), 0u);

  EXPECT_TRUE(RepairInterruptedRecordings().isEmpty()) << "the journal was cleared";
}

TEST_F(KilledRecordingLive, RecordingThatIsStillRunningIsLeftAlone) {
  const QString tone = dir_.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 1000, 10, 16000, 1);
  const QString path = dir_.filePath(QStringLiteral("running.wma"));
  QProcess tool;
  startTool(tool, tone, path, 0, 2.5);
  QThread::msleep(1200);
  const QByteArray before = readAll(path);
  EXPECT_TRUE(RepairInterruptedRecordings().isEmpty());
  EXPECT_TRUE(readAll(path).startsWith(before.first(600))) << "its header was not touched";
  ASSERT_TRUE(tool.waitForFinished(10000));
  EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  EXPECT_TRUE(journalEntries().isEmpty());
  EXPECT_EQ(RepairAsfFile(path).result, AsfRepairOutcome::Result::Sound);
}

TEST_F(KilledRecordingLive, PacketsReachTheDiskAsMadeAndTheDiskKeepsThemEverySecond) {
  const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
  if (strace.isEmpty()) GTEST_SKIP() << "strace is not installed";
  const QString tone = dir_.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 1000, 30, 16000, 1);
  const QString path = dir_.filePath(QStringLiteral("synced.wma"));
  QProcess tool;
  startTool(tool, tone, path, 0, 6.5, strace);
  // The sound in the file grows with each packet (half a second of sound at 24 kb/s): the
  // longest stretch without growth, measured, stays near that. The file keeps zeros ahead
  // of the sound: what grows is what comes before them.
  auto sound = [&] {
    const QByteArray bytes = readAll(path);
    qsizetype end = bytes.size();
    while (end > 0 && bytes[end - 1] == '\0') --end;
    return qint64(end);
  };
  QElapsedTimer clock;
  clock.start();
  qint64 lastSize = sound(), lastGrowth = 0, longestStill = 0;
  while (clock.elapsed() < 5000) {
    QThread::msleep(20);
    const qint64 size = sound();
    if (size != lastSize) {
      longestStill = std::max(longestStill, clock.elapsed() - lastGrowth);
      lastGrowth = clock.elapsed();
      lastSize = size;
    }
  }
  longestStill = std::max(longestStill, clock.elapsed() - lastGrowth);
  EXPECT_LT(longestStill, 1000) << "ms without a byte reaching the file";
  ASSERT_TRUE(tool.waitForFinished(20000));
  // The syncs of the recording: at least one a second, none more than about a second apart.
  std::vector<double> syncs;
  for (const QByteArray& line : readAll(dir_.filePath(QStringLiteral("strace.txt"))).split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() >= 3 && fields[2].startsWith("fdatasync(")) syncs.push_back(fields[1].toDouble());
  }
  ASSERT_GE(syncs.size(), 6u) << "6.5 s of recording";
  std::vector<double> gaps;
  for (size_t i = 1; i < syncs.size(); ++i) gaps.push_back(syncs[i] - syncs[i - 1]);
  EXPECT_LT(*std::max_element(gaps.begin(), gaps.end()), 1.6) << "seconds between two syncs";
}

// A start's look at the journal, with the recordings' files as users left them.
class StartUpRepair : public AsfRepairTest {
 protected:
  // An entry for the file, left behind as by a program that died while recording it.
  void leaveInJournal(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    RecordingJournalEntry entry(path, file.handle());
    ASSERT_TRUE(entry.isWritten());
  }

  static const InterruptedRecording* reportOn(const QList<InterruptedRecording>& found, const QString& path) {
    for (const InterruptedRecording& r : found)
      if (r.path == path) return &r;
    return nullptr;
  }
};

TEST_F(StartUpRepair, AnotherFileAtTheNameIsLeftByteForByteAndReported) {
  const QString path = crashedCopy(QStringLiteral("interview.wma"));
  leaveInJournal(path);
  // Another recording cut short, copied over the name after the crash: one the repair
  // would change, were it taken for ours.
  const QString other = crashedCopy(QStringLiteral("other.wma"));
  const QByteArray otherBytes = readAll(other);
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::rename(other, path));

  const QList<InterruptedRecording> found = RepairInterruptedRecordings();
  ASSERT_EQ(found.size(), 1);
  EXPECT_EQ(found[0].path, path);
  EXPECT_EQ(found[0].state, State::Replaced);
  EXPECT_FALSE(found[0].kept) << "our recording is gone from that name";
  EXPECT_EQ(readAll(path), otherBytes);
  EXPECT_TRUE(journalEntries().isEmpty());
}

TEST_F(StartUpRepair, WhatIsNotARegularFileIsNeitherWaitedForNorFollowed) {
  const QString fifo = crashedCopy(QStringLiteral("fifo.wma"));
  leaveInJournal(fifo);
  ASSERT_TRUE(QFile::remove(fifo));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  // A link to a recording that a repair would change.
  const QString link = crashedCopy(QStringLiteral("link.wma"));
  leaveInJournal(link);
  const QString target = crashedCopy(QStringLiteral("target.wma"));
  ASSERT_TRUE(QFile::remove(link));
  ASSERT_TRUE(QFile::link(target, link));
  const QString folder = crashedCopy(QStringLiteral("folder.wma"));
  leaveInJournal(folder);
  ASSERT_TRUE(QFile::remove(folder));
  ASSERT_TRUE(QDir().mkdir(folder));

  QList<InterruptedRecording> found;
  std::unique_ptr<QThread> start(QThread::create([&] { found = RepairInterruptedRecordings(); }));
  start->start();
  const bool returned = start->wait(QDeadlineTimer(10000));
  if (!returned) {
    // A writer lets a reader stuck on the pipe go, so that the test itself ends.
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
    start->wait();
  }
  ASSERT_TRUE(returned) << "the start waited on a pipe";
  ASSERT_EQ(found.size(), 3);
  for (const QString& path : {fifo, link, folder}) {
    const InterruptedRecording* r = reportOn(found, path);
    ASSERT_NE(r, nullptr) << path.toStdString();
    EXPECT_EQ(r->state, State::NotRegularFile) << path.toStdString();
    EXPECT_FALSE(r->kept);
  }
  EXPECT_TRUE(QFileInfo(fifo).isFile() == false && QFileInfo(fifo).exists());
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(readAll(target), crashed_) << "the link's target was not mended";
  EXPECT_TRUE(QFileInfo(folder).isDir());
  EXPECT_TRUE(journalEntries().isEmpty());
}

TEST_F(StartUpRepair, MissingFileIsKeptForALaterStartAndMendedOnceItIsBack) {
  const QString path = crashedCopy(QStringLiteral("usb.wma"));
  leaveInJournal(path);
  // The disk it is on is not plugged in at this start.
  const QString away = dir_.filePath(QStringLiteral("unplugged.wma"));
  ASSERT_TRUE(QFile::rename(path, away));
  for (int start = 0; start < kMaxRepairAttempts + 1; ++start) {
    const QList<InterruptedRecording> found = RepairInterruptedRecordings();
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].path, path);
    EXPECT_EQ(found[0].state, State::Missing);
    EXPECT_TRUE(found[0].kept);
  }
  ASSERT_TRUE(noteFor(path).has_value());
  EXPECT_EQ(noteFor(path)->attempts, 0) << "a missing file does not use up its attempts";
  EXPECT_EQ(readAll(away), crashed_);

  ASSERT_TRUE(QFile::rename(away, path));
  const QList<InterruptedRecording> found = RepairInterruptedRecordings();
  ASSERT_EQ(found.size(), 1);
  EXPECT_EQ(found[0].state, State::Mended) << found[0].detail.toStdString();
  EXPECT_GT(found[0].durationMs, 9000);
  EXPECT_EQ(RepairAsfFile(path).result, Result::Sound);
  EXPECT_TRUE(journalEntries().isEmpty());
}

TEST_F(StartUpRepair, RepairThatFailsIsTriedAtMostThreeTimesEachCountedBeforeItBegins) {
  const QString path = crashedCopy(QStringLiteral("damaged.wma"));
  QByteArray bytes = readAll(path);
  const Layout at = layoutOf(bytes);
  bytes.replace(at.packets + 5 * at.packet, 8, QByteArray(8, '\xff'));
  writeAll(path, bytes);
  leaveInJournal(path);

  int tries = 0;
  for (int start = 1; start <= kMaxRepairAttempts + 2; ++start) {
    SCOPED_TRACE(start);
    OnEachRepair progress([&](const QString& trying) {
      ++tries;
      // On the disk already: were the repair to crash the program, this try is counted.
      EXPECT_EQ(noteFor(trying)->attempts, tries);
    });
    const QList<InterruptedRecording> found = RepairInterruptedRecordings(&progress);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].state, start <= kMaxRepairAttempts ? State::Damaged : State::TooManyAttempts);
    EXPECT_EQ(found[0].attempts, std::min(start, kMaxRepairAttempts));
    EXPECT_TRUE(found[0].kept) << "the user's file is never dropped unsaid";
  }
  EXPECT_EQ(tries, kMaxRepairAttempts);
  EXPECT_EQ(readAll(path), bytes);
}

TEST_F(StartUpRepair, RepairThatCrashesTheProgramIsNotBegunAtEveryStart) {
  const QString path = crashedCopy(QStringLiteral("crashing.wma"));
  leaveInJournal(path);
  for (int start = 1; start <= kMaxRepairAttempts; ++start) {
    QProcess program;
    program.start(QStringLiteral(RECORD_TOOL), {QStringLiteral("journal"), QStringLiteral("die")});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::CrashExit) << "it died as the repair began";
    ASSERT_TRUE(noteFor(path).has_value());
    EXPECT_EQ(noteFor(path)->attempts, start);
  }
  EXPECT_EQ(readAll(path), crashed_);
  bool tried = false;
  OnEachRepair progress([&](const QString&) { tried = true; });
  const QList<InterruptedRecording> found = RepairInterruptedRecordings(&progress);
  ASSERT_EQ(found.size(), 1);
  EXPECT_EQ(found[0].state, State::TooManyAttempts);
  EXPECT_TRUE(found[0].kept);
  EXPECT_FALSE(tried);
  EXPECT_EQ(readAll(path), crashed_);
}

// What the recordings window of any copy asks before it renames or moves a file: the
// journal's entry, while its program holds it, names the file by its identity.
TEST_F(StartUpRepair, AFileIsBeingRecordedWhileARunningProgramHoldsItsEntry) {
  const QString path = dir_.filePath(QStringLiteral("now.wma"));
  const QString moved = dir_.filePath(QStringLiteral("moved.wma"));
  const QString link = dir_.filePath(QStringLiteral("link.wma"));
  writeAll(path, "sound");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  {
    RecordingJournalEntry entry(path, file.handle());
    ASSERT_TRUE(entry.isWritten());
    EXPECT_TRUE(BeingRecorded(QFile::encodeName(path)));
    // Moved while it records (its folder renamed): the same file under another name.
    ASSERT_TRUE(QFile::rename(path, moved));
    EXPECT_TRUE(BeingRecorded(QFile::encodeName(moved)));
    writeAll(path, "another file at the old name");
    EXPECT_FALSE(BeingRecorded(QFile::encodeName(path)));
    // A link to it is a name of its own: renaming the link leaves the recording alone.
    ASSERT_TRUE(QFile::link(moved, link));
    EXPECT_FALSE(BeingRecorded(QFile::encodeName(link)));
    EXPECT_FALSE(BeingRecorded(QFile::encodeName(dir_.filePath(QStringLiteral("nothing.wma")))));
  }
  // The entry stays as a program that died leaves it, with its lock free.
  ASSERT_EQ(journalEntries().filter(QStringLiteral(".entry")).size(), 1);
  EXPECT_FALSE(BeingRecorded(QFile::encodeName(moved)));

  RecordingJournalEntry again(moved, file.handle());
  ASSERT_TRUE(again.isWritten());
  EXPECT_TRUE(BeingRecorded(QFile::encodeName(moved)));
  again.markCompleted();
  EXPECT_FALSE(BeingRecorded(QFile::encodeName(moved)));
}

TEST_F(StartUpRepair, NotesReadBackAsWrittenAndOthersAreRefused) {
  JournalNote note;
  note.path = QStringLiteral("/home/u/録音 100%\nnew line.wma");
  note.identity = JournalNote::Identity{2049, 1234567, -5};
  note.syncedSize = 81920;
  note.attempts = 2;
  note.marks = {{1500, QStringLiteral("マーク 1"), 0}, {2500, QStringLiteral("100% \n done"), 6400}, {3000, {}, 9600}};
  EXPECT_EQ(ParseJournalNote(FormatJournalNote(note)), note);
  note.identity->born.reset();
  EXPECT_EQ(ParseJournalNote(FormatJournalNote(note)), note);

  const QByteArray head = "Tallowen recording journal 2\n";
  const QByteArray rest = "device 1\ninode 2\nsynced 0\nattempts 0\n";
  EXPECT_TRUE(ParseJournalNote(head + "path /a.wma\n" + rest + "later-field x\n").has_value());
  const QByteArray refused[] = {
      "",
      head,
      head + "path /a.wma\npath /b.wma\n" + rest,                        // twice
      head + "path a.wma\n" + rest,                                      // relative
      head + "path /%FF.wma\n" + rest,                                   // not UTF-8
      head + "path /a%00.wma\n" + rest,                                  // NUL
      head + "path /a b.wma\n" + rest,                                   // unescaped
      head + "path /a.wma\ndevice 1\nsynced 0\nattempts 0\n",            // half an identity
      head + "path /a.wma\ndevice 1\ninode 2\nsynced -1\nattempts 0\n",  // negative
      head + "path /a.wma\ndevice 1\ninode 2\nsynced 0\nattempts 99999999999\n",
      head + "path /a.wma\ndevice 18446744073709551616\ninode 2\nsynced 0\nattempts 0\n",
      head + "path /a.wma\n" + rest.chopped(1),  // cut short
      head + "path /a.wma\n" + rest + "mark -5 0 %\n",  // a mark before the start
      head + "path /a.wma\n" + rest + "mark 5 0\n",     // a mark without its name
  };
  for (const QByteArray& bytes : refused)
    EXPECT_FALSE(ParseJournalNote(bytes).has_value()) << bytes.toStdString();

  // At a start: a damaged note is cleared and said.
  const QString entries = RecordingJournalFolder() + QStringLiteral("/recordings/");
  ASSERT_TRUE(QDir().mkpath(entries));
  writeAll(entries + QStringLiteral("b.entry"), head + "path /b.wma\n");
  const QList<InterruptedRecording> found = RepairInterruptedRecordings();
  ASSERT_EQ(found.size(), 1);
  ASSERT_NE(reportOn(found, QString()), nullptr);
  EXPECT_EQ(reportOn(found, QString())->state, State::EntryDamaged);
  EXPECT_TRUE(journalEntries().isEmpty());
}

}  // namespace
