#include <QApplication>

#include "platform/Seams.h"
#include "recording/Form1.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  tallowen::LoadQtTranslation();

  tallowen::Form1 window(tallowen::Seams::system());
  window.Form_Load();
  window.show();
  const int status = app.exec();
  // Windows that outlived the main window (players, settings, About) go with the program.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != &window && !w->parent() && w->testAttribute(Qt::WA_DeleteOnClose)) delete w;
  return status;
}
