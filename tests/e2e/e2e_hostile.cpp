// The real program against files that lie: what lands in the save folder comes from
// anywhere, and nothing in it may end the program or the recording it is making.
#include <QDateTime>

#include "e2e/EndToEnd.h"
#include "recording/AsfFormat.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// A short tone made by ffmpeg whose header claims `hours` of sound.
bool writeClaimingHours(const QString& path, qint64 hours) {
  const QString wav = path + QStringLiteral(".wav");
  writeToneWav(wav, 880, 2, 44100, 2);
  QProcess ffmpeg;
  ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                                          QStringLiteral("-i"), wav, QStringLiteral("-c:a"), QStringLiteral("wmav2"),
                                          QStringLiteral("-b:a"), QStringLiteral("64k"), path});
  ffmpeg.waitForFinished(30000);
  QFile::remove(wav);
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite)) return false;
  QByteArray bytes = file.readAll();
  const qsizetype at = bytes.indexOf(
      QByteArray(reinterpret_cast<const char*>(asf::kFileProperties.data()), qsizetype(asf::kFileProperties.size())));
  if (at < 0) return false;
  auto* properties = reinterpret_cast<uint8_t*>(bytes.data() + at);
  const uint64_t claimed = uint64_t(hours * 3600 * 1000 + int64_t(asf::le(properties + asf::kFpPreroll, 8))) * 10000;
  asf::putLe(properties + asf::kFpPlayDuration, claimed, 8);
  asf::putLe(properties + asf::kFpSendDuration, claimed, 8);
  return file.seek(0) && file.write(bytes) == bytes.size() && file.flush();
}

// A downloaded file whose header claims 40,000 hours, put in the save folder while a
// recording runs, listed and played: the program lives on and the recording is whole.
TEST_F(EndToEndLive, AHeaderClaimingFortyThousandHoursIsListedAndPlayedWhileRecording) {
  const auto [window, first] = startRecording();
  ASSERT_GT(first, 0) << "no sound reached the recording";
  const QString downloaded = saveFolder_ + QStringLiteral("/downloaded.wma");
  ASSERT_TRUE(writeClaimingHours(downloaded, 40000));
  // Older than the recording, which is written to every second: the list's last row.
  {
    QFile file(downloaded);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
  }

  keys(window, {QStringLiteral("alt+f")});
  keys(window, {QStringLiteral("r")});
  const auto state = [&] { return program_.state() == QProcess::Running ? "running" : "gone"; };
  const QString list = findWindow(QStringLiteral("Tallowen - 録音一覧"));
  ASSERT_FALSE(list.isEmpty()) << "the recordings window did not come up; the program is " << state();
  keys(list, {QStringLiteral("End"), QStringLiteral("Return")});
  ASSERT_FALSE(findWindow(QStringLiteral("Tallowen - 再生")).isEmpty())
      << "the player did not come up; the program is " << state();
  // Noted once the player has shown the length the header claims.
  EXPECT_GT(trace_.waitFor("player-length", first), 0) << "the player never showed a length";
  ASSERT_EQ(program_.state(), QProcess::Running) << "the program ended";

  keys(window, {QStringLiteral("s")});  // stop, from the keyboard: the other windows may cover the buttons
  ASSERT_GT(trace_.waitFor("file-closed", first), 0) << "the recording was not completed";
  EXPECT_EQ(program_.state(), QProcess::Running);
  const QString recorded = stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName"));
  expectRecordedTone(recorded, secondsBetween(first, trace_.latest("stop-click")));
  EXPECT_TRUE(QDir(work_.filePath(QStringLiteral("state/Tallowen/recordings"))).entryList(QDir::Files).isEmpty())
      << "the recording was left for the next start to mend";
}

}  // namespace
