#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <tuple>

#include "companion/RecordingCheck.h"
#include "companion/Report.h"

using namespace tallowen;

namespace {

CheckInputs allFine() {
  return {QString(), true, QStringLiteral("内蔵マイク"), {QStringLiteral("/home/me/Rec"), true, true, true}};
}

// The text and fix of the one finding about `check`, with ok as a prefix.
QString about(const CheckInputs& inputs, Check check) {
  for (const Finding& f : CheckRecording(inputs))
    if (f.check == check) return (f.ok ? "ok: " : "problem: ") + f.text + " " + f.fix;
  return "absent";
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

}  // namespace

TEST(CheckRecording, EachProblemWithItsFix) {
  EXPECT_EQ(CountProblems(CheckRecording(allFine())), 0);
  EXPECT_TRUE(about(allFine(), Check::AudioInput).startsWith("ok: 録音デバイス: 内蔵マイク"));

  CheckInputs in = allFine();
  in.hasAudioInput = false;
  const QString input = about(in, Check::AudioInput);
  for (const char* word :
       {"problem:", "マイク", "ミュート", "PulseAudio", "PipeWire", "pavucontrol", "入力デバイス"})
    EXPECT_TRUE(input.contains(QString::fromUtf8(word))) << word;

  in.ffmpegMissing = QStringLiteral("the WMA encoder (wmav2)");
  const QString encoder = about(in, Check::Encoder);
  for (const char* word : {"problem:", "wmav2", "libavcodec59"})
    EXPECT_TRUE(encoder.contains(QString::fromUtf8(word))) << word;

  in.saveFolder.exists = false;
  in.saveFolder.parentIsFolder = false;
  EXPECT_EQ(CountProblems(CheckRecording(in)), 3);
}

TEST(CheckRecording, SaveFolderRules) {
  const std::tuple<FolderState, const char*> cases[] = {
      {{"/home/me/Rec", false, true, true},
       "ok: 保存先フォルダー「/home/me/Rec」はまだありません。設定ダイアログで"},
      {{"/home/me/Rec", false, true, false},
       "problem: 保存先フォルダー「/home/me/Rec」がなく、「/home/me」に書き込めない"},
      {{"/home/me/Rec", false, false, false},
       "problem: 保存先フォルダー「/home/me/Rec」も、その親フォルダー「/home/me」もありません"},
      {{"/home/me/Rec", true, true, false}, "problem: 保存先フォルダー「/home/me/Rec」に書き込めません"},
  };
  for (const auto& [state, start] : cases) {
    CheckInputs in = allFine();
    in.saveFolder = state;
    const QString found = about(in, Check::SaveFolder);
    EXPECT_TRUE(found.startsWith(QString::fromUtf8(start))) << found.toStdString();
    EXPECT_EQ(found.contains("設定ダイアログで別のフォルダーを選"), found.startsWith("problem"));
  }
}

TEST(ProbeFolder, TriesTheDiskForReal) {
  QTemporaryDir tmp;
  writeFile(tmp.filePath("afile"), "x");
  const auto probe = [&](const QString& path) {
    const FolderState s = ProbeFolder(path);
    return std::tuple(s.exists, s.parentIsFolder, s.writable);
  };
  EXPECT_EQ(probe(tmp.path()), std::tuple(true, true, true));
  EXPECT_EQ(probe(tmp.filePath("new")), std::tuple(false, true, true));
  EXPECT_EQ(probe(tmp.filePath("a/b")), std::tuple(false, false, false));
  EXPECT_EQ(probe(tmp.filePath("afile")), std::tuple(true, true, false));
  EXPECT_EQ(probe(tmp.filePath("afile/sub")), std::tuple(false, false, false));
  if (geteuid() == 0) {
    EXPECT_EQ(probe("/proc"), std::tuple(true, true, false));  // refuses new files even to root
  }
  EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"afile"});
}

TEST(Report, SwitchesAndWindow) {
  EXPECT_TRUE(ParseArguments({"/q:a", "/R:N"}).quiet);
  EXPECT_TRUE(ParseArguments({"/?"}).help);
  const CompanionOptions plain = ParseArguments({"/R:N", "/QUIET", "/T:C:\\tmp"});
  EXPECT_FALSE(plain.quiet || plain.help);

  QMessageBox box;
  FillReport(box, CheckRecording(allFine()));
  EXPECT_EQ(box.windowTitle(), "Tallowen");
  EXPECT_EQ(box.icon(), QMessageBox::Information);
  EXPECT_TRUE(box.text().startsWith("この環境で録音できます。") && box.text().contains("内蔵マイク"));
  EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
  CheckInputs noInput = allFine();
  noInput.hasAudioInput = false;
  FillReport(box, CheckRecording(noInput));
  EXPECT_EQ(box.icon(), QMessageBox::Warning);
  EXPECT_TRUE(box.text().contains("pavucontrol") && box.text().contains("/home/me/Rec"));
}

// The built program, copied into a folder of its own so that the setting.ini beside it is ours.
// Whether this machine has a default audio input is not up to the test.
class WMEDistRun : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(QFile::copy(WMEDIST_PATH, dir_.filePath("WMEDist"))); }

  void expectFolderFinding(const QString& folder, bool ok) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(dir_.filePath("WMEDist"), {"/Q:A", "/R:N"});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_EQ(p.exitCode(), lines.filter(QRegularExpression("^\\[問題\\] ")).size());
    const QString line = lines.filter("保存先フォルダー").value(0);
    EXPECT_TRUE(line.contains(folder)) << line.toStdString();
    EXPECT_EQ(line.startsWith("[OK] "), ok) << line.toStdString();
  }
  void storeSaveFolder(const QString& path) {
    writeFile(dir_.filePath("setting.ini"), "[SaveTo]\nPath=" + path.toLocal8Bit() + "\n");
  }
  QTemporaryDir dir_;
};

TEST_F(WMEDistRun, StoredFolders) {
  storeSaveFolder(dir_.path());
  expectFolderFinding(dir_.path(), true);
  writeFile(dir_.filePath("afile"), "x");
  storeSaveFolder(dir_.filePath("afile/sub"));
  expectFolderFinding(dir_.filePath("afile/sub"), false);
}

TEST_F(WMEDistRun, NoStoredFolderMeansRecBesideTheProgram) {
  expectFolderFinding(dir_.filePath("Rec"), true);
  EXPECT_FALSE(QFileInfo::exists(dir_.filePath("Rec")));  // checked, not created
}

TEST_F(WMEDistRun, UsageOnStdout) {
  QProcess p;
  p.start(dir_.filePath("WMEDist"), {"/?"});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_TRUE(p.readAllStandardOutput().contains("/Q:A"));
}
