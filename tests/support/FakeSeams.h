#pragma once
// Scripted stand-ins for the system, for the windows' tests.

#include <QThread>
#include <QWidget>
#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "platform/Seams.h"
#include "settings/Settings.h"
#include "support/FileSources.h"

namespace tallowen::test {

struct Message {
  QWidget* owner;
  QString text;
  Prompter::Icon icon;
  Prompter::Buttons buttons;
};

class FakePrompter : public Prompter {
 public:
  Answer message(QWidget* owner, const QString& text, Icon icon, Buttons buttons) override {
    messages.push_back({owner, text, icon, buttons});
    if (onMessage) onMessage();
    if (answers.empty()) return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  void notice(QWidget* owner, const QString& text, Icon icon) override {
    notices.push_back({owner, text, icon, Buttons::Ok});
  }
  std::vector<Message> notices;
  void runModal(QWidget* window) override {
    modalWindows.push_back(window);
    wasVisible.push_back(window->isVisible());
    if (whileModal) whileModal(window);
    window->close();
  }

  std::vector<Message> messages;
  std::deque<Answer> answers;
  QString chooseFolder(QWidget* owner, const QString& title, const QString& start) override {
    folderRequests.push_back({owner, title, start});
    return folderAnswer;
  }
  QString chooseFile(QWidget* owner, const QString& filter, const QString& folder) override {
    fileRequests.push_back({owner, filter, folder});
    return fileAnswer;
  }
  QString chooseSaveFile(QWidget*, const QString&, const QString& suggested, const QStringList& filters,
                         int* chosen) override {
    saveRequests.push_back({suggested, filters});
    if (chosen) *chosen = saveFilter;
    return saveAnswer;
  }
  struct SaveRequest {
    QString suggested;
    QStringList filters;
  };
  std::vector<SaveRequest> saveRequests;
  QString saveAnswer;  // empty: cancelled
  int saveFilter = 0;

  struct FolderRequest {
    QWidget* owner;
    QString title;
    QString start;
  };
  struct FileRequest {
    QWidget* owner;
    QString filter;
    QString folder;
  };
  std::vector<FolderRequest> folderRequests;
  QString folderAnswer;  // empty: cancelled
  std::vector<FileRequest> fileRequests;
  QString fileAnswer;
  std::vector<QWidget*> modalWindows;
  std::vector<bool> wasVisible;
  std::function<void(QWidget*)> whileModal;  // what the user does in the modal window
  std::function<void()> onMessage;           // what happens while a message box is up
};

class FakeLauncher : public Launcher {
 public:
  bool start(const QString& program, const QStringList& arguments) override {
    started.push_back(QStringList{program} + arguments);
    return succeeds;
  }
  std::vector<QStringList> started;
  bool succeeds = true;
};

class FakeClock : public Clock {
 public:
  QDateTime now() const override { return current; }
  qint64 steadyMs() const override { return steady; }
  QDateTime current{QDate(2002, 4, 3), QTime(9, 5, 12)};
  qint64 steady = 1000;
};

struct HelpCall {
  QWidget* owner;
  QString file;
  int topic;  // 0 for the contents
};

class FakeHelpDesk : public HelpDesk {
 public:
  quintptr showContents(QWidget* owner, const QString& file) override {
    calls.push_back({owner, file, 0});
    return 0;
  }
  quintptr showTopic(QWidget* owner, const QString& file, int topic) override {
    calls.push_back({owner, file, topic});
    return 0;
  }
  std::vector<HelpCall> calls;
};

struct FakeSystem {
  std::vector<QString> unstored;  // where settings could not be kept, as the program was told
  Settings settings{[this](const QString& path) { unstored.push_back(path); }};
  FakePrompter prompter;
  FakeLauncher launcher;
  FakeClock clock;
  FakeHelpDesk help;
  FileSources sound;  // a sound file instead of the default input
  Seams seams() { return Seams{&prompter, &launcher, &clock, &help, &sound}; }
};

}  // namespace tallowen::test
