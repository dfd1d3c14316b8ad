// Every window of the program open at once, with a recording running, for a screen reader's
// look over AT-SPI (tests/a11y/names.py). Prints "ready" once they are shown; then a line
// on standard input: "pause" pauses the recording, anything else ends the program.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

#include "app/Form1.h"
#include "app/SingleWindow.h"
#include "help/HTMLHelp.h"
#include "platform/ApplicationFolder.h"
#include "platform/ProcessEnd.h"
#include "platform/ToolWindow.h"
#include "settings/modINI.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"

using namespace tallowen;

namespace {

int run(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QStandardPaths::setTestModeEnabled(true);
  QTemporaryDir dir;
  qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8());
  test::FakeSystem sys;
  sys.sound.file = dir.filePath(QStringLiteral("tone.wav"));
  test::writeToneWav(sys.sound.file, 440, 3, 44100, 2);
  WriteSetting(kQualitySetting, QStringLiteral("FM ラジオ"));
  WriteSetting(kSaveFolderSetting, dir.filePath(QStringLiteral("rec")));
  WriteSetting(kLastRecordingSetting, sys.sound.file);
  sys.prompter.fileAnswer = sys.sound.file;

  Form1 form(sys.seams(), sys.settings);
  form.show();
  auto click = [&](const char* name) {
    if (auto* b = form.findChild<QPushButton*>(QString::fromLatin1(name))) b->click();
  };
  for (const char* action : {"MFPlay", "MFRecordings", "MAbout"})
    if (auto* a = form.findChild<QAction*>(QString::fromLatin1(action))) a->trigger();
  click("Command1");  // settings
  click("Command4");  // the latest recording's player
  ShowHelpContents(&form, HelpFilePath());
  click("Command2");  // record: the level meter shows
  QObject::connect(&form.session(), &RecordingSession::phaseChanged, &app, [](RecordingSession::Phase phase) {
    if (phase == RecordingSession::Phase::Recording) {
      std::printf("ready\n");
      std::fflush(stdout);
    }
  });
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
    char line[64] = {};
    const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
    if (n > 0 && QByteArray(line).startsWith("pause")) {
      form.session().pause();
      std::printf("paused\n");
      std::fflush(stdout);
      return;
    }
    app.quit();
  });
  const int status = app.exec();
  DeleteWindowsLeftOpen(&form);
  return status;
}

}  // namespace

int main(int argc, char* argv[]) { EndProcess(run(argc, argv)); }
