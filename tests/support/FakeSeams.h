#pragma once
// Scripted stand-ins for the system, for the windows' tests.

#include <QWidget>
#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "platform/Seams.h"
#include "recording/Encoder.h"

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
    if (answers.empty()) return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  void runModal(QWidget* window) override {
    modalWindows.push_back(window);
    wasVisible.push_back(window->isVisible());
    if (whileModal) whileModal(window);
    window->close();
  }

  std::vector<Message> messages;
  std::deque<Answer> answers;
  QString chooseFolder(QWidget* owner, const QString& title) override {
    folderRequests.push_back({owner, title});
    return folderAnswer;
  }
  QString chooseFile(QWidget* owner, const QString& filter, const QString& folder) override {
    fileRequests.push_back({owner, filter, folder});
    return fileAnswer;
  }

  struct FolderRequest {
    QWidget* owner;
    QString title;
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
  QDateTime current{QDate(2002, 4, 3), QTime(9, 5, 12)};
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

// Records a known sound file at a real input's pace instead of the default input.
class FileAudioInput : public AudioInputChoice {
 public:
  void adjust(Source& source) override {
    if (onAdjust) onAdjust();
    source.setInput(file);
    source.setRepeat(true);
  }
  QString file;
  std::function<void()> onAdjust;  // runs in the middle of a recording start
};

// A disk that is full at the size the test sets, which it may change at any time.
class FillingDisk : public DiskSpace {
 public:
  bool allows(int64_t size) const override {
    const int64_t limit = fullAt;
    return limit < 0 || size <= limit;
  }
  std::atomic<int64_t> fullAt{-1};  // -1: never full
};

// Encoders with a profile list of the test's choice, or none at all, writing to a disk
// the test can fill.
class FakeEncoders : public EncoderFactory {
 public:
  std::unique_ptr<Encoder> create() override {
    if (!failure.isEmpty()) throw EncoderError(failure);
    auto encoder =
        profiles ? std::make_unique<Encoder>(ProfileCollection(*profiles)) : std::make_unique<Encoder>();
    encoder->setDiskSpace(disk);
    return encoder;
  }
  std::optional<std::vector<Profile>> profiles;  // the built-in ones when empty
  QString failure;                               // set: creating an encoder fails
  std::shared_ptr<FillingDisk> disk = std::make_shared<FillingDisk>();
};

struct FakeSystem {
  FakePrompter prompter;
  FakeLauncher launcher;
  FakeClock clock;
  FakeHelpDesk help;
  FileAudioInput audio;
  FakeEncoders encoders;
  Seams seams() { return Seams{&prompter, &launcher, &clock, &help, &audio, &encoders}; }
};

}  // namespace tallowen::test
