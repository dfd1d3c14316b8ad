// The real program on the test screen, recording from the test sound server: what a user
// does, with the mouse, and what ends up on disk.
#include "settings/ProfileFile.h"
#include "support/AudioCheck.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tallowen;
using namespace tallowen::test;

namespace {

QString run(const QString& program, const QStringList& args, int timeoutMs = 10000) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(timeoutMs);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The visible top-level window titled "Tallowen" whose height says what it is.
QString findWindow(bool mainWindow) {
  QString found;
  waitUntil(
      [&] {
        const QStringList ids = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                               QStringLiteral("--name"), QStringLiteral("^Tallowen$")})
                                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& id : ids) {
          const QString geometry = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), id});
          const auto m = QRegularExpression(QStringLiteral("Geometry: (\\d+)x(\\d+)")).match(geometry);
          if (!m.hasMatch()) continue;
          const int width = m.captured(1).toInt();
          if ((width == 175) == mainWindow) {
            found = id;
            return true;
          }
        }
        return false;
      },
      15000);
  return found;
}

int windowHeight(const QString& id) {
  const QString geometry = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), id});
  return QRegularExpression(QStringLiteral("Geometry: \\d+x(\\d+)")).match(geometry).captured(1).toInt();
}

// Buttons stand in one row 19 pixels above the window's bottom edge.
void clickAt(const QString& window, int x) {
  run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x),
                                  QString::number(windowHeight(window) - 19), QStringLiteral("click"),
                                  QStringLiteral("1")});
}

void screenshot(const QString& window, const QString& name) {
  const QString folder = qEnvironmentVariable("TALLOWEN_SCREENSHOTS");
  if (folder.isEmpty()) return;
  runFor(300);  // let the window repaint
  run(QStringLiteral("import"), {QStringLiteral("-window"), window, folder + QLatin1Char('/') + name});
}

TEST(EndToEnd, RecordsAToneFromTheMainWindow) {
  const QString fifo = qEnvironmentVariable("TALLOWEN_TEST_MIC_FIFO");
  if (fifo.isEmpty() || qEnvironmentVariableIsEmpty("DISPLAY"))
    GTEST_SKIP() << "needs the test command's screen and sound server";

  QTemporaryDir work;
  const QString app = work.filePath(QStringLiteral("app"));
  const QString saveFolder = work.filePath(QStringLiteral("rec"));
  QDir().mkpath(app);
  QDir().mkpath(saveFolder);
  ASSERT_TRUE(QFile::copy(QStringLiteral(TALLOWEN_EXE), app + QStringLiteral("/tallowen")));
  const QString ini = app + QStringLiteral("/setting.ini");
  const LocaleCodec utf8("UTF-8");
  WriteProfileString(ini, QStringLiteral("SaveTo"), QStringLiteral("Path"), saveFolder, utf8);
  WriteProfileString(ini, QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("FM ラジオ"), utf8);
  const QString tone = work.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 440, 10, 44100, 2);

  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), work.filePath(QStringLiteral("config")));
  env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
  program.setProcessEnvironment(env);
  program.start(app + QStringLiteral("/tallowen"));
  ASSERT_TRUE(program.waitForStarted());

  // The first start offers the companion; No.
  const QString offer = findWindow(false);
  ASSERT_FALSE(offer.isEmpty()) << "the install offer did not come up";
  screenshot(offer, QStringLiteral("install-offer.png"));
  run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), offer});
  run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});

  const QString window = findWindow(true);
  ASSERT_FALSE(window.isEmpty()) << "the main window did not come up";
  screenshot(window, QStringLiteral("idle.png"));

  clickAt(window, 24);  // record
  QProcess feeder;
  startFeeding(feeder, fifo, tone);
  runFor(3000);
  screenshot(window, QStringLiteral("recording.png"));
  clickAt(window, 108);  // pause
  screenshot(window, QStringLiteral("paused.png"));
  clickAt(window, 56);  // stop
  runFor(500);
  feeder.kill();
  feeder.waitForFinished();
  program.terminate();
  program.waitForFinished();

  const QString recorded = ReadProfileString(ini, QStringLiteral("LastRecorded"), QStringLiteral("FileName"), utf8);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\Q%1\\E/\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d\\.wma$").arg(saveFolder))
                  .match(recorded)
                  .hasMatch())
      << recorded.toStdString();
  const Probe probed = probe(recorded);
  ASSERT_TRUE(probed.ok);
  EXPECT_EQ(probed.codecName, QStringLiteral("wmav2"));
  EXPECT_NEAR(probed.duration, 3.0, 0.5);
  EXPECT_NEAR(dominantFrequency(decodeMono(recorded, 16000), 16000), 440, 10);
}

}  // namespace
