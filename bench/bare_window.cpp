// The least a Qt Widgets program does to put a window on the screen: the yardstick for
// the recorder's start-up time and memory.
//   bare_window             a window and nothing else
//   bare_window --japanese  a window with a menu bar of two Japanese menus and a Japanese
//                           label, to show what the font system alone costs a start
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QWidget>
#include <cstring>
#include <memory>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  std::unique_ptr<QWidget> window;
  if (argc > 1 && std::strcmp(argv[1], "--japanese") == 0) {
    auto main = std::make_unique<QMainWindow>();
    main->menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    main->menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    main->setCentralWidget(new QLabel(QStringLiteral("録音中")));
    window = std::move(main);
  } else {
    window = std::make_unique<QWidget>();
  }
  window->setWindowTitle(QStringLiteral("Bare"));
  window->resize(175, 67);
  window->show();
  return app.exec();
}
