// Takes the pictures of the help viewer (at topic 1, and at its contents with the buttons'
// pictures) and of the About box for the README:
//   help_screenshots HELPFILE FOLDER     on an X screen with ImageMagick's import.
#include <QApplication>
#include <QProcess>
#include <QTest>
#include <cstdio>

#include "help/HTMLHelp.h"
#include "help/HelpViewer.h"
#include "help/frmAbout.h"
#include "platform/ApplicationFolder.h"
#include "platform/Seams.h"
#include "platform/ToolWindow.h"

namespace {

class NoBrowser : public tallowen::Launcher {
 public:
  bool start(const QString&, const QStringList&) override { return true; }
};

// The help window reads its file on a thread of its own: its page is there once it has.
bool helpLoaded() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* viewer = qobject_cast<tallowen::HelpViewer*>(w))
      return QTest::qWaitFor([viewer] { return !viewer->isLoading(); }, 10000);
  return false;
}

bool capture(quintptr window, const QString& file) {
  QTest::qWait(500);  // let the window paint
  return QProcess::execute(QStringLiteral("import"),
                           {QStringLiteral("-window"), QString::number(window), file}) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: help_screenshots HELPFILE FOLDER\n");
    return 2;
  }
  tallowen::LoadQtTranslation();
  const QString folder = QString::fromLocal8Bit(argv[2]);

  const quintptr help = tallowen::ShowHelpTopic(nullptr, QString::fromLocal8Bit(argv[1]), 1);
  if (!help || !helpLoaded() || !capture(help, folder + QStringLiteral("/help.png"))) return 1;
  tallowen::ShowHelpContents(nullptr, QString::fromLocal8Bit(argv[1]));
  if (!capture(help, folder + QStringLiteral("/help-contents.png"))) return 1;

  NoBrowser browser;
  tallowen::frmAbout about(&browser);
  about.show();
  if (!QTest::qWaitForWindowExposed(&about) || !capture(about.winId(), folder + QStringLiteral("/about.png")))
    return 1;
  tallowen::DeleteWindowsLeftOpen();
  return 0;
}
