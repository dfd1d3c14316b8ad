// The recordings window of the real program, on the test screen: what a rename or a delete
// does to the files on disk, with links, line breaks and a second copy of the program in
// the way.
#include <sys/stat.h>
#include <unistd.h>

#include "e2e/EndToEnd.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

QByteArray contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) << path.toStdString();
  ASSERT_EQ(f.write(bytes), bytes.size());
}

bool isLink(const QString& path) {
  struct stat st;
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A visible window of that program with this exact title; with no width given, not the
// main window (175 pixels wide), whose title a message box shares.
QString windowOf(const QProcess& program, const QString& title, int width = 0, int timeoutMs = 15000) {
  QString found;
  waitUntil(
      [&] {
        const QStringList ids =
            xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"), QString::number(program.processId()), QStringLiteral("--name"),
                     QLatin1Char('^') + title + QLatin1Char('$')})
                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& id : ids) {
          const QRect g = geometryOf(id);
          if (g.isValid() && (width ? g.width() == width : g.width() != 175)) {
            found = id;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

class RecordingFilesLive : public EndToEnd {
 protected:
  void TearDown() override {
    if (second_.state() != QProcess::NotRunning) {
      second_.terminate();
      second_.waitForFinished();
    }
    EndToEnd::TearDown();
  }

  // "ファイル → 録音一覧" of the program; the list has the focus, its newest row chosen.
  QString openRecordings(const QProcess& program, const QString& mainWindow) {
    keys(mainWindow, {QStringLiteral("alt+f")});
    keys(mainWindow, {QStringLiteral("r")});
    const QString window = windowOf(program, QStringLiteral("Tallowen - 録音一覧"));
    runFor(300);  // the list read
    return window;
  }

  // A second copy of the program with the same settings, state and home, as a user starts
  // one from the menu while the first records; its main window.
  QString startSecondCopy() {
    QProcessEnvironment env = program_.processEnvironment();
    env.insert(QStringLiteral("TALLOWEN_TRACE"), work_.filePath(QStringLiteral("second-trace.txt")));
    second_.setProcessEnvironment(env);
    second_.setProcessChannelMode(QProcess::ForwardedChannels);
    second_.start(app_ + QStringLiteral("/tallowen"));
    if (!second_.waitForStarted()) return QString();
    return windowOf(second_, QStringLiteral("Tallowen"), 175);  // no first-start offer: the first answered it
  }

  // The text on the desktop's clipboard, served until the test ends, for a Ctrl+V.
  bool putOnClipboard(const QString& text) {
    clipboard_.start(QStringLiteral("xclip"),
                     {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i")});
    if (!clipboard_.waitForStarted()) return false;
    clipboard_.write(text.toUtf8());
    clipboard_.closeWriteChannel();
    return waitUntil(
        [&] {
          return run(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")}) ==
                 text.trimmed();
        },
        5000);
  }

  QProcess second_;
  QProcess clipboard_;
};

// A link that leads nowhere (to a disk not plugged in, to a file since removed) stands at
// a name: neither F2 nor the recording's own choice of a name goes through it. On the way
// through, the sound would leave the save folder for wherever the link points.
TEST_F(RecordingFilesLive, NoRenameOrNewRecordingGoesThroughALinkOutOfTheSaveFolder) {
  QDir().mkpath(saveFolder_);
  const QString elsewhere = work_.filePath(QStringLiteral("elsewhere"));
  QDir().mkpath(elsewhere);
  const QString talk = saveFolder_ + QStringLiteral("/talk.wma");
  write(talk, "the sound of a talk");
  const QString meeting = saveFolder_ + QStringLiteral("/meeting.wma");
  ASSERT_TRUE(QFile::link(elsewhere + QStringLiteral("/meeting.wma"), meeting));
  // The names a recording begun now takes, whichever minute it begins in.
  const QDateTime now = QDateTime::currentDateTime();
  for (const QDateTime& minute : {now, now.addSecs(60)}) {
    const QString name = minute.toString(QStringLiteral("yyyy-MM-dd_HH-mm")) + QStringLiteral(".wma");
    ASSERT_TRUE(QFile::link(elsewhere + QLatin1Char('/') + name, saveFolder_ + QLatin1Char('/') + name));
  }

  const QString window = startWithChoicesMade();
  ASSERT_FALSE(window.isEmpty()) << "the main window did not come up";
  const QString list = openRecordings(program_, window);
  ASSERT_FALSE(list.isEmpty()) << "the recordings window did not come up";
  keys(list, {QStringLiteral("F2")});
  xdotool({QStringLiteral("type"), QStringLiteral("meeting")});
  keys(list, {QStringLiteral("Return")});
  const QString refused = findWindow(QStringLiteral("Tallowen"), 0, 5000);
  EXPECT_FALSE(refused.isEmpty()) << "no word that the name is taken";
  if (!refused.isEmpty()) keys(refused, {QStringLiteral("Return")});
  EXPECT_EQ(contents(talk), QByteArray("the sound of a talk")) << "the recording keeps its name";
  EXPECT_TRUE(QDir(elsewhere).isEmpty()) << "nothing went through the link";
  EXPECT_TRUE(isLink(meeting));
  keys(list, {QStringLiteral("Escape")});  // off the main window's buttons

  clickButton(window, 24);  // record
  const qint64 first = trace_.waitFor("first-sample");
  ASSERT_GT(first, 0) << "the recording did not start";
  runFor(500);
  clickButton(window, 56);  // stop
  ASSERT_GT(trace_.waitFor("file-closed", first), 0) << "the file was not completed";
  const QString recorded = stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName"));
  EXPECT_TRUE(recorded.startsWith(saveFolder_ + QLatin1Char('/')) && recorded.endsWith(QStringLiteral("(2).wma")))
      << recorded.toStdString();
  EXPECT_FALSE(isLink(recorded));
  EXPECT_TRUE(probe(recorded).ok);
  EXPECT_TRUE(QDir(elsewhere).isEmpty()) << "nothing was recorded through a link";
}

// The file one copy records is busy to the other copy's recordings window as well: it is
// neither moved to the trash (where the recording would go on) nor renamed.
TEST_F(RecordingFilesLive, AnotherCopyNeitherTrashesNorRenamesTheFileBeingRecorded) {
  const auto [window, first] = startRecording();
  ASSERT_GT(first, 0) << "no sound reached the recording";
  const QStringList made = QDir(saveFolder_).entryList({QStringLiteral("*.wma")}, QDir::Files);
  ASSERT_EQ(made.size(), 1);
  const QString recording = saveFolder_ + QLatin1Char('/') + made[0];

  const QString other = startSecondCopy();
  ASSERT_FALSE(other.isEmpty()) << "the second copy did not come up";
  const QString list = openRecordings(second_, other);
  ASSERT_FALSE(list.isEmpty()) << "the second copy's recordings window did not come up";
  // Delete: the first copy's recording is refused with a word (Return closes it); were it
  // asked about instead, Return would answer Yes.
  keys(list, {QStringLiteral("Delete")});
  const QString refused = windowOf(second_, QStringLiteral("Tallowen"), 0, 5000);
  ASSERT_FALSE(refused.isEmpty()) << "nothing said";
  keys(refused, {QStringLiteral("Return")});
  runFor(500);
  EXPECT_TRUE(QFile::exists(recording)) << "moved out of the save folder while it records";
  // F2: refused the same way; were a name asked for, this one would be typed.
  keys(list, {QStringLiteral("F2")});
  const QString refusedAgain = windowOf(second_, QStringLiteral("Tallowen"), 0, 3000);
  if (refusedAgain.isEmpty()) {
    xdotool({QStringLiteral("type"), QStringLiteral("moved")});
    keys(list, {QStringLiteral("Return")});
  } else {
    keys(refusedAgain, {QStringLiteral("Return")});
  }
  EXPECT_FALSE(refusedAgain.isEmpty()) << "the recording was offered for a new name";
  runFor(300);
  EXPECT_EQ(QDir(saveFolder_).entryList({QStringLiteral("*.wma")}, QDir::Files), made);

  second_.terminate();
  ASSERT_TRUE(second_.waitForFinished(10000));
  EXPECT_EQ(second_.exitCode(), 0) << "the second copy ended cleanly (under the sanitizers: without a leak)";
  clickButton(window, 56);  // stop
  ASSERT_GT(trace_.waitFor("file-closed", first), 0) << "the file was not completed";
  EXPECT_EQ(stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName")), recording);
  EXPECT_TRUE(probe(recording).ok);
}

// A name pasted with a line break in it: setting.ini keeps the latest recording's path on
// one line, and would keep it cut there, naming no file. Refused, with the reason.
TEST_F(RecordingFilesLive, ANamePastedWithALineBreakIsRefused) {
  QDir().mkpath(saveFolder_);
  const QString talk = saveFolder_ + QStringLiteral("/talk.wma");
  write(talk, "the sound of a talk");
  store(QStringLiteral("LastRecorded"), QStringLiteral("FileName"), talk);
  const QString window = startWithChoicesMade();
  ASSERT_FALSE(window.isEmpty()) << "the main window did not come up";
  const QString list = openRecordings(program_, window);
  ASSERT_FALSE(list.isEmpty()) << "the recordings window did not come up";
  ASSERT_TRUE(putOnClipboard(QStringLiteral("会議\n2回目"))) << "nothing on the clipboard";

  keys(list, {QStringLiteral("F2")});
  keys(list, {QStringLiteral("ctrl+a"), QStringLiteral("ctrl+v"), QStringLiteral("Return")});
  const QString refused = findWindow(QStringLiteral("Tallowen"), 0, 5000);
  EXPECT_FALSE(refused.isEmpty()) << "the name was not refused";
  if (!refused.isEmpty()) keys(refused, {QStringLiteral("Return")});
  EXPECT_EQ(QDir(saveFolder_).entryList(QDir::Files), QStringList{"talk.wma"});
  EXPECT_EQ(stored(QStringLiteral("LastRecorded"), QStringLiteral("FileName")), talk) << "the play button still plays it";
}

}  // namespace
