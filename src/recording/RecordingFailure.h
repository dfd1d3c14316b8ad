#pragma once

#include <QString>
#include <stdexcept>

namespace tallowen {

// What went wrong, in the engine's own terms; the windows say it in the user's words.
enum class FailureCause {
  Component,        // the recording module cannot be loaded or lacks what recording needs
  SaveFolder,       // the save folder is missing and cannot be made
  SaveFolderWrite,  // the save folder takes no new file
  FileExists,       // every name of the minute was taken by another program meanwhile
  NoInput,          // no audio input, or not the one named
  InputHeld,        // another program holds the input
  InputLost,        // the input went away while recording
  ServerLost,       // the sound server went away and did not come back in time
  Write,            // the file could not be written (a full disk, an I/O error)
  FileLost,         // the file or its folder went away while recording and could not be put back
  Other,
};

// A cause, what it concerns (a path or a device, may be empty), and the system's own words
// for it, in English.
struct RecordingFailure {
  FailureCause cause = FailureCause::Other;
  QString subject;
  QString detail;
};

// Inside the engine a failing step throws this; it never crosses to the windows.
class RecordingError : public std::runtime_error {
 public:
  RecordingError(FailureCause cause, const QString& subject, const QString& detail)
      : std::runtime_error(detail.toStdString()), failure_{cause, subject, detail} {}
  explicit RecordingError(const QString& detail) : RecordingError(FailureCause::Other, QString(), detail) {}

  const RecordingFailure& failure() const { return failure_; }
  FailureCause cause() const { return failure_.cause; }
  const QString& detail() const { return failure_.detail; }

 private:
  RecordingFailure failure_;
};

}  // namespace tallowen
