// The least a Qt Widgets program does to put a window on the screen: the yardstick for
// the recorder's start-up time and memory.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Bare"));
  window.resize(175, 67);
  window.show();
  return app.exec();
}
