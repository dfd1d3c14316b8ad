#include <QApplication>

#include "platform/ProcessEnd.h"
#include "platform/StandardKeys.h"
#include "platform/ToolWindow.h"
#include "app/SystemSeams.h"
#include "platform/ApplicationFolder.h"
#include "app/Form1.h"
#include "settings/Settings.h"

namespace {

int run(int argc, char* argv[]) {
  // The windows are small: drawn through X's shared memory, every repaint of the level
  // meter would cost two more wake-ups (the server's completion event, then the window
  // thread's), 40 a second while recording, for no gain in speed.
  if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
  QApplication app(argc, argv);
  tallowen::LoadQtTranslation();
  tallowen::StandardKeys keys;
  app.installEventFilter(&keys);
  tallowen::KeepWindowsOnScreen();

  const tallowen::Seams seams = tallowen::SystemSeams();
  // Settings that cannot be kept anywhere are said once, not lost without a word.
  tallowen::Settings settings([prompter = seams.prompter](const QString& path) {
    prompter->message(QApplication::activeWindow(),
                      QStringLiteral("設定を保存できませんでした。") + QStringLiteral("\r\n") + path,
                      tallowen::Prompter::Icon::Exclamation, tallowen::Prompter::Buttons::Ok);
  });

  tallowen::Form1 window(seams, settings);
  tallowen::EndOnTerminationSignals(app);
  window.load();
  window.show();
  const int status = app.exec();
  // Windows that outlived the main window (players, settings, About) go with the program.
  tallowen::DeleteWindowsLeftOpen(&window);
  return status;
}

}  // namespace

int main(int argc, char* argv[]) { tallowen::EndProcess(run(argc, argv)); }
