#pragma once

#include <QString>
#include <stdexcept>

namespace tallowen {

// What went wrong, so that the window can say it in the user's words.
enum class EncoderFailure {
  Component,          // the recording module cannot be loaded or lacks what recording needs
  SaveFolder,         // the save folder is missing and cannot be made
  SaveFolderWrite,    // the save folder takes no new file
  FileExists,         // the name was taken by another program meanwhile
  NoInput,            // no audio input, or not the one named
  InputLost,          // the input went away while recording
  NoProfile,          // the quality names no profile
  Write,              // the file could not be written (a full disk, an I/O error)
  FileLost,           // the file or its folder went away while recording
  Other,
};

// Every encoder operation that fails throws this: what failed (its kind and what it
// concerns, a path or a device) and the system's own words for it, in English.
class EncoderError : public std::runtime_error {
 public:
  explicit EncoderError(const QString& reason) : EncoderError(EncoderFailure::Other, QString(), reason) {}
  EncoderError(EncoderFailure kind, const QString& subject, const QString& reason)
      : std::runtime_error(reason.toStdString()), kind_(kind), subject_(subject), reason_(reason) {}

  EncoderFailure kind() const { return kind_; }
  // The path or the device the failure concerns; may be empty.
  const QString& subject() const { return subject_; }
  const QString& reason() const { return reason_; }

 private:
  EncoderFailure kind_;
  QString subject_;
  QString reason_;
};

}  // namespace tallowen
