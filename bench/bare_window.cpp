// The least a Qt Widgets program does to put a window on the screen: the yardstick for
// the recorder's start-up time and memory.
//   bare_window             a window and nothing else
//   bare_window --japanese  a window with the recorder's Japanese menu bar (its two menus and
//                           their items) and a Japanese label: what the font system alone
//                           costs a start, and the yardstick for the recorder's memory
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>
#include <cstring>
#include <memory>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  std::unique_ptr<QWidget> window;
  if (argc > 1 && std::strcmp(argv[1], "--japanese") == 0) {
    auto main = std::make_unique<QMainWindow>();
    QMenu* file = main->menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    file->addAction(QStringLiteral("ファイルを指定して再生(&P)"));
    file->addSeparator();
    file->addAction(QStringLiteral("終了(&E)"));
    QMenu* help = main->menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->addAction(QStringLiteral("目次とキーワード(&C)"));
    help->addSeparator();
    help->addAction(QStringLiteral("バージョン情報(&A)"));
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
