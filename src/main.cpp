#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "platform/Seams.h"
#include "recording/Form1.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  // Qt's own dialogs and buttons in Japanese, like the rest of the program.
  QTranslator qtJapanese;
  if (qtJapanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(&qtJapanese);

  tallowen::Form1 window(tallowen::Seams::system());
  window.Form_Load();
  window.show();
  const int status = app.exec();
  // Windows that outlived the main window (players, settings, About) go with the program.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != &window && !w->parent()) delete w;
  return status;
}
