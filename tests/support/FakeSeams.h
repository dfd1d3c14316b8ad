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
#include "recording/Encoder.h"
#include "recording/EncoderFactory.h"
#include "recording/FileInput.h"

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

// Records a known sound file at a real input's pace instead of the default input.
class FileAudioInput : public AudioInputChoice {
 public:
  void adjust(Source& source) override {
    if (onAdjust) onAdjust();
    source.setInput(file);
    source.setRepeat(true);
    if (startDelayMs > 0 || onCaptureThread) {
      // The same sound, from an input that takes its time to open, as a slow device does.
      source.setCustomInput([f = file, delay = startDelayMs, hook = onCaptureThread] {
        if (hook) hook();
        QThread::msleep(delay);
        return std::make_unique<FileInput>(f, FileInput::Pace::RealTime, true);
      });
    }
  }
  QString file;
  std::function<void()> onAdjust;         // runs in the middle of a recording start
  int startDelayMs = 0;                   // the input opens this much later
  std::function<void()> onCaptureThread;  // runs where the input opens, as the start begins
};

// A disk that is full at the size the test sets, which it may change at any time.
class FillingDisk : public DiskSpace {
 public:
  bool allows(int64_t size) const override {
    const int64_t limit = fullAt;
    return limit < 0 || size <= limit;
  }
  std::optional<int64_t> bytesFree() const override {
    const int64_t room = free;
    return room < 0 ? std::nullopt : std::optional<int64_t>(room);
  }
  std::atomic<int64_t> fullAt{-1};  // -1: never full
  std::atomic<int64_t> free{-1};    // what it says it holds; -1: ask the file system
};

// Encoders with a profile list of the test's choice, or none at all, writing to a disk
// the test can fill.
class FakeEncoders : public EncoderFactory {
 public:
  std::unique_ptr<Encoder> create() override {
    if (!failure.isEmpty()) throw EncoderError(failure);
    auto encoder =
        offered ? std::make_unique<Encoder>(ProfileCollection(*offered)) : std::make_unique<Encoder>();
    encoder->setDiskSpace(disk);
    return encoder;
  }
  std::shared_ptr<const DiskSpace> diskSpace() const override { return disk; }
  ProfileCollection profiles() const override {
    return offered ? ProfileCollection(*offered) : ProfileCollection();
  }
  std::optional<std::vector<Profile>> offered;  // the built-in ones when empty
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
