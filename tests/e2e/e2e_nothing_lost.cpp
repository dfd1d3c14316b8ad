// What a hostile user, an odd disk or the system does to a recording in progress, with the
// real program: the sound is kept, where somebody chose, and the window says what happened.
#include <signal.h>

#include <chrono>

#include "e2e/EndToEnd.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// The clock of the program's trace.
qint64 steadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class NothingLostLive : public EndToEnd {
 protected:
  QString latest() { return stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName")); }

  // A notice of the program's own (a window titled "Tallowen" that is not the main window),
  // closed once seen: on a screen without a window manager it would stand over the buttons.
  bool noticeShown(int timeoutMs) {
    const QString notice = findWindow(QStringLiteral("Tallowen"), 0, timeoutMs);
    if (notice.isEmpty()) return false;
    keys(notice, {QStringLiteral("Return")});
    return true;
  }

  // The program's end, waited for: what a test mounted must be free again.
  void endProgram() {
    program_.kill();
    program_.waitForFinished(10000);
  }
};

// The journal's disk full: a note that cannot be written leaves the entry it had, so that a
// crash is still mended with its length and marks; the window says so once.
TEST_F(NothingLostLive, AJournalOnAFullDiskKeepsItsEntryAndTheCrashIsMended) {
  SmallDisk disk(work_.filePath(QStringLiteral("state")), 64);
  if (!disk.mounted()) GTEST_SKIP() << "a small file system needs the test command's rights (root)";
  const auto [window, first] = startRecording();
  ASSERT_GT(first, 0) << "no sound reached the recording";
  const QDir entries(work_.filePath(QStringLiteral("state/Tallowen/recordings")));
  ASSERT_TRUE(waitUntil([&] { return !entries.entryList({QStringLiteral("*.entry")}, QDir::Files).isEmpty(); }, 5000));
  keys(window, {QStringLiteral("m")});  // noted while there is room
  runFor(500);

  // Everything the disk has left, taken.
  QFile filler(work_.filePath(QStringLiteral("state/filler")));
  ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  const QByteArray block(4096, 'x');
  while (filler.write(block) == block.size()) {
  }
  filler.close();

  keys(window, {QStringLiteral("m")});
  runFor(300);
  keys(window, {QStringLiteral("m")});
  EXPECT_TRUE(noticeShown(3000)) << "the journal's trouble was not said";
  keys(window, {QStringLiteral("m")});
  EXPECT_FALSE(noticeShown(1000)) << "said once, not at every note";
  runFor(1000);
  const QString path = latest();
  const double recorded = secondsBetween(first, steadyNowNs());
  endProgram();  // a crash

  const QStringList left = entries.entryList({QStringLiteral("*.entry")}, QDir::Files);
  ASSERT_EQ(left.size(), 1);
  QFile entry(entries.filePath(left[0]));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  EXPECT_TRUE(entry.readAll().startsWith("Tallowen recording journal")) << "the entry was emptied";
  entry.close();
  QFile::remove(filler.fileName());  // the user makes room

  // The next start mends the recording, with the mark the journal had.
  ASSERT_FALSE(startProgram().isEmpty());
  ASSERT_TRUE(waitUntil([&] { return probe(path).duration > 1.0; }, 15000)) << "the recording was not mended";
  std::printf("recorded %.2f s before the crash; mended to %.2f s with %zu marks\n", recorded, probe(path).duration,
              chaptersOf(path).size());
  EXPECT_NEAR(probe(path).duration, recorded, 1.5);
  EXPECT_GE(chaptersOf(path).size(), 1u) << "the mark noted before the disk filled";
  endProgram();
}

// The save folder removed while recording, and a dangling link made at its name: the folder
// cannot be made again, so the whole recording is completed in the user's own folder.
TEST_F(NothingLostLive, ARecordingWhoseFolderCannotBeMadeAgainIsCompletedInTheUsersOwnFolder) {
  const QString home = work_.filePath(QStringLiteral("home"));
  QDir().mkpath(home);
  extraEnvironment_.insert(QStringLiteral("HOME"), home);
  const auto [window, first] = startRecording();
  ASSERT_GT(first, 0) << "no sound reached the recording";
  runFor(2000);
  ASSERT_TRUE(QDir(saveFolder_).removeRecursively());
  ASSERT_TRUE(QFile::link(work_.filePath(QStringLiteral("gone/elsewhere")), saveFolder_));
  EXPECT_TRUE(noticeShown(5000)) << "the window did not say where the recording went";
  runFor(1000);
  clickButton(window, 56);  // stop
  ASSERT_GT(trace_.waitFor("file-closed", first), 0) << "the file was not completed";
  const double clock = secondsBetween(first, trace_.latest("stop-click"));

  const QString path = latest();
  EXPECT_TRUE(path.startsWith(home + QStringLiteral("/Music/Tallowen/"))) << path.toStdString();
  const Probe probed = probe(path);
  ASSERT_TRUE(probed.ok) << path.toStdString();
  std::printf("the clock ran %.2f s; the file in the user's folder holds %.2f s\n", clock, probed.duration);
  EXPECT_NEAR(probed.duration, clock, 0.5) << "all of it, from before the folder went too";
  const std::vector<float> sound = decodeMono(path, 16000);
  ASSERT_GT(sound.size(), 16000u * 2);
  EXPECT_NEAR(dominantFrequency(std::vector<float>(sound.begin(), sound.begin() + 16000), 16000), 440, 10);
  EXPECT_FALSE(QFileInfo::exists(work_.filePath(QStringLiteral("gone")))) << "nothing went through the link";
}

// The program itself stopped for a while (SIGSTOP, as a debugger, a suspend or a swap storm
// does): the file keeps the clock's time, and the window says for how long sound was lost.
TEST_F(NothingLostLive, AProgramStoppedForAWhileKeepsTheClocksTimeAndSaysSo) {
  const auto [window, first] = startRecording();
  ASSERT_GT(first, 0) << "no sound reached the recording";
  runFor(2000);
  const pid_t pid = pid_t(program_.processId());
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  runFor(15000);
  ASSERT_EQ(::kill(pid, SIGCONT), 0);
  EXPECT_TRUE(noticeShown(5000)) << "the window did not say that sound was lost";
  runFor(1500);
  clickButton(window, 56);  // stop
  ASSERT_GT(trace_.waitFor("file-closed", first, 20000), 0) << "the file was not completed";
  const double clock = secondsBetween(first, trace_.latest("stop-click"));
  const QString path = latest();
  const Probe probed = probe(path);
  const std::vector<float> sound = decodeMono(path, 16000);
  std::printf("stopped 15 s: the clock ran %.2f s, the file holds %.2f s, its longest silence %.2f s\n", clock,
              probed.duration, longestSilenceSeconds(sound, 16000, 0.5, probed.duration - 0.5));
  EXPECT_NEAR(probed.duration, clock, 0.6) << "the file keeps the clock's time";
  EXPECT_NEAR(dominantFrequency(std::vector<float>(sound.end() - 16000, sound.end()), 16000), 440, 10)
      << "the sound after the stop is there, at the end";
}

// A stored save folder longer than a value reads back is cut when read; its cut end may name
// a folder that exists (here the chosen folder's parent). Nobody chose that folder: the
// dialog proposes the default one instead of it.
TEST_F(NothingLostLive, ASavePathCutWhenReadIsNeverTakenForTheFolderItsCutEndNames) {
  QString parent = work_.path();
  while (parent.toUtf8().size() < 1022 - 200) parent += QLatin1Char('/') + QString(199, QLatin1Char('d'));
  parent += QLatin1Char('/') + QString(1022 - 1 - parent.toUtf8().size(), QLatin1Char('e'));
  ASSERT_EQ(parent.toUtf8().size(), 1022);
  ASSERT_TRUE(QDir().mkpath(parent));
  store(QStringLiteral("SaveTo"), QStringLiteral("Path"), parent + QStringLiteral("/chosen"));
  store(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("FM ラジオ"));
  const QString window = startProgram();
  ASSERT_FALSE(window.isEmpty());
  clickButton(window, 24);  // record
  EXPECT_TRUE(noticeShown(5000)) << "the start did not say that the folder cannot be read";
  const QString dialog = findWindow(QStringLiteral("Tallowen - 設定変更"));
  ASSERT_FALSE(dialog.isEmpty()) << "the start did not ask for a folder";
  clickIn(dialog, 40, 100);  // OK, as it stands
  const qint64 first = trace_.waitFor("first-sample");
  ASSERT_GT(first, 0) << "the recording did not start";
  runFor(1000);
  clickButton(window, 56);
  ASSERT_GT(trace_.waitFor("file-closed", first), 0);
  EXPECT_TRUE(QDir(parent).entryList({QStringLiteral("*.wma")}, QDir::Files).isEmpty())
      << "recorded into the folder the cut value named";
  const QString path = latest();
  EXPECT_EQ(QFileInfo(path).absolutePath(), app_ + QStringLiteral("/Rec")) << path.toStdString();
}

}  // namespace
