#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "recording/Loudness.h"

namespace tallowen {

// Loudness summaries kept under $XDG_CACHE_HOME/Tallowen/loudness, each under its sound
// file's identity: its size and a hash of its end and middle. A renamed or moved file keeps
// its summary; a file that changed (repaired after a crash, edited, grown) has another
// identity and is decoded again, so a summary never disagrees with the sound it stands for.
class LoudnessCache {
 public:
  // The cache of this user; `folder` for another.
  LoudnessCache();
  explicit LoudnessCache(QString folder);

  // Empty when the file cannot be read.
  static QByteArray identityOf(const QString& soundFile);

  // A summary stored for the file as it is now; none for a summary torn or of another file.
  std::optional<Loudness> load(const QString& soundFile) const;
  // Written whole or not at all; old summaries go when the cache grows past its size.
  // False when it could not be written, which costs only a decode the next time.
  bool store(const QString& soundFile, const Loudness& loudness) const;

  const QString& folder() const { return folder_; }
  static constexpr qint64 kMaxBytes = 64 << 20;

 private:
  QString entryFor(const QByteArray& identity) const;
  void trim() const;

  QString folder_;
};

}  // namespace tallowen
