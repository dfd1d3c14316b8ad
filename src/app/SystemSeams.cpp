#include "app/SystemSeams.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QWidget>
#include <algorithm>

#include "help/HTMLHelp.h"
#include "recording/PulseSource.h"

namespace tallowen {

namespace {

// The caption, the text and the icon every message of the program has.
void prepare(QMessageBox& box, const QString& text, Prompter::Icon icon) {
  using Icon = Prompter::Icon;
  box.setWindowTitle(QStringLiteral("Tallowen"));
  box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  box.setIcon(icon == Icon::Information   ? QMessageBox::Information
              : icon == Icon::Question    ? QMessageBox::Question
              : icon == Icon::Exclamation ? QMessageBox::Warning
                                          : QMessageBox::Critical);
}

// A window manager does not always give the focus back to the window that opened a
// dialog: Openbox passes over utility windows (the settings, the players) and gives it to
// the main window behind them, whose keys then start a recording nobody sees.
void giveFocusBack(const QPointer<QWidget>& owner) {
  if (!owner) return;
  QWidget* window = owner->window();
  if (!window->isVisible() || window->isMinimized()) return;
  window->raise();
  window->activateWindow();
}

class SystemPrompter : public Prompter {
 public:
  Answer message(QWidget* owner, const QString& text, Icon icon, Buttons buttons) override {
    const QPointer<QWidget> asking(owner);
    QMessageBox box(owner);
    prepare(box, text, icon);
    if (buttons == Buttons::YesNo) {
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
    } else {
      box.setStandardButtons(QMessageBox::Ok);
    }
    const int result = box.exec();
    giveFocusBack(asking);
    return result == QMessageBox::Yes ? Answer::Yes : result == QMessageBox::No ? Answer::No : Answer::Ok;
  }

  void notice(QWidget* owner, const QString& text, Icon icon) override {
    auto* box = new QMessageBox(owner);  // owned by its window, and gone when closed
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    prepare(*box, text, icon);
    box->setStandardButtons(QMessageBox::Ok);
    QObject::connect(box, &QDialog::finished, [asking = QPointer<QWidget>(owner)] { giveFocusBack(asking); });
    box->show();
  }

  void runModal(QWidget* window) override {
    QPointer<QWidget> guard(window);
    if (window->isVisible()) {
      // A modeless window cannot turn modal while shown: the caller waits for it instead.
      window->raise();
      window->activateWindow();
    } else {
      window->setWindowModality(Qt::ApplicationModal);
      window->show();
    }
    QEventLoop loop;
    QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
    // A window that is only hidden on close ends the wait as well.
    struct HideWatcher : QObject {
      QEventLoop* loop;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Hide) loop->quit();
        return false;
      }
    } watcher;
    watcher.loop = &loop;
    window->installEventFilter(&watcher);
    loop.exec();
    if (guard) guard->removeEventFilter(&watcher);
  }

  QString chooseFolder(QWidget* owner, const QString& title, const QString& start) override {
    const QPointer<QWidget> asking(owner);
    const QString folder = QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    giveFocusBack(asking);
    return folder;
  }

  QString chooseFile(QWidget* owner, const QString& filter, const QString& folder) override {
    const QPointer<QWidget> asking(owner);
    const QString file = QFileDialog::getOpenFileName(owner, QString(), folder, filter);
    giveFocusBack(asking);
    return file;
  }
  QString chooseSaveFile(QWidget* owner, const QString& title, const QString& suggested, const QStringList& filters,
                         int* chosen) override {
    const QPointer<QWidget> asking(owner);
    QString filter = filters.value(chosen ? *chosen : 0);
    const QString file = QFileDialog::getSaveFileName(owner, title, suggested, filters.join(QStringLiteral(";;")), &filter);
    giveFocusBack(asking);
    if (chosen) *chosen = std::max<int>(int(filters.indexOf(filter)), 0);
    return file;
  }
};

class SystemLauncher : public Launcher {
 public:
  bool start(const QString& program, const QStringList& arguments) override {
    return QProcess::startDetached(program, arguments);
  }
};

class SystemClock : public Clock {
 public:
  QDateTime now() const override { return QDateTime::currentDateTime(); }
  qint64 steadyMs() const override { return steady_.elapsed(); }

 private:
  QElapsedTimer steady_ = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
};

class SystemHelpDesk : public HelpDesk {
 public:
  quintptr showContents(QWidget* owner, const QString& helpFile) override {
    return ShowHelpContents(owner, helpFile);
  }
  quintptr showTopic(QWidget* owner, const QString& helpFile, int topic) override {
    return ShowHelpTopic(owner, helpFile, topic);
  }
};

}  // namespace

Seams SystemSeams() {
  static SystemPrompter prompter;
  static SystemLauncher launcher;
  static SystemClock clock;
  static SystemHelpDesk help;
  // The sound server's volume control lists the recording under this name.
  static PulseSources sound(QStringLiteral("録音"));
  return Seams{&prompter, &launcher, &clock, &help, &sound};
}

}  // namespace tallowen
