#pragma once
// What the windows need from the system, each behind a small interface that tests replace
// with a scripted stand-in. Production code gets SystemSeams() (app/SystemSeams.h).

#include <QDateTime>
#include <QString>
#include <QStringList>

class QWidget;

namespace tallowen {

// Where recordings get their sound: the sound server, or a sound file in the tests
// (recording/SoundSource.h).
class SoundSources;

// Message boxes (caption "Tallowen") and modal windows.
class Prompter {
 public:
  enum class Icon { Information, Question, Exclamation, Critical };
  enum class Buttons { Ok, YesNo };  // with YesNo, Yes is the default button
  enum class Answer { Ok, Yes, No };

  virtual ~Prompter() = default;
  virtual Answer message(QWidget* owner, const QString& text, Icon icon, Buttons buttons) = 0;
  // The same with an OK button, without waiting for it: what the user should know but
  // need not answer before going on.
  virtual void notice(QWidget* owner, const QString& text, Icon icon) = 0;
  // Shows the window modally, or brings it to the front if it is open already, and
  // returns once it has closed.
  virtual void runModal(QWidget* window) = 0;
  // The folder browser, opening at `start`: a folder path, or empty when cancelled.
  virtual QString chooseFolder(QWidget* owner, const QString& title, const QString& start) = 0;
  // The open-file dialog: a file path, or empty when cancelled. `filter` as Qt writes it
  // ("Description (*.ext)"); an empty folder leaves the dialog in its own default.
  virtual QString chooseFile(QWidget* owner, const QString& filter, const QString& folder) = 0;
  // The save dialog, with `suggested` as the file and `filters` to choose the kind by (the
  // chosen one back in `chosen`); it asks before a file is written over. Empty when
  // cancelled.
  virtual QString chooseSaveFile(QWidget* owner, const QString& title, const QString& suggested,
                                 const QStringList& filters, int* chosen) = 0;
};

// Starting outside programs, without waiting for them.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // False when the program could not be started.
  virtual bool start(const QString& program, const QStringList& arguments) = 0;
};

// The current local date and time, and a steady clock for what must never jump back.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual QDateTime now() const = 0;
  // Milliseconds from an arbitrary start, never going back when the date and time are set.
  virtual qint64 steadyMs() const = 0;
};

// The help file, at its contents or at a numbered topic.
class HelpDesk {
 public:
  virtual ~HelpDesk() = default;
  virtual quintptr showContents(QWidget* owner, const QString& helpFile) = 0;
  virtual quintptr showTopic(QWidget* owner, const QString& helpFile, int topic) = 0;
};

struct Seams {
  Prompter* prompter = nullptr;
  Launcher* launcher = nullptr;
  Clock* clock = nullptr;
  HelpDesk* help = nullptr;
  SoundSources* sound = nullptr;
};

}  // namespace tallowen
