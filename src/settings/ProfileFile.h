#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>

#include "platform/LocaleCodec.h"

namespace tallowen {

// The Windows program reads values into a 1024-byte buffer.
inline constexpr int kMaxProfileValueBytes = 1023;

// A settings file is a few hundred bytes. One larger than this is not read (nor written
// over): a damaged or foreign file must not take the program's memory.
inline constexpr qint64 kMaxProfileFileBytes = 1 << 20;

// A value as read, and whether it was cut: longer than the reader returns, or so long that
// the Windows program could not tell it from a cut one.
struct ProfileValue {
  QString text;
  bool cut = false;
};

// INI file access with the behaviour of GetPrivateProfileStringA /
// WritePrivateProfileStringA: the file is read (and written) whole at every
// call, names match without regard to case, anything missing reads as "".
QString ReadProfileString(const QString& filePath, const QString& section, const QString& key,
                          const LocaleCodec& codec);
ProfileValue ReadProfileValue(const QString& filePath, const QString& section, const QString& key,
                              const LocaleCodec& codec);

// How long a write waits for other processes' writes to the same file: long enough to get
// in between the writes of another copy that is busy writing, short enough that one stuck
// with the lock costs the window no more than a moment.
inline constexpr std::chrono::milliseconds kProfileLockWait{2000};

// Sets section/key to value, creating the file, section or key as needed and
// leaving every other byte of the file as it was. The file is replaced
// atomically, under a FileWriteLock; false means nothing on disk changed.
// A symlink stays in place: the file it leads to is the one replaced.
bool WriteProfileString(const QString& filePath, const QString& section, const QString& key,
                        const QString& value, const LocaleCodec& codec,
                        std::chrono::milliseconds lockWait = kProfileLockWait);

namespace detail {

// The same operations on a file's bytes, without touching the disk.
ProfileValue readValue(const QByteArray& fileBytes, const QString& section, const QString& key,
                       const LocaleCodec& codec);

// The file's new bytes, or nullopt when section or key cannot be stored
// as a name (empty, or containing characters the format cannot hold).
std::optional<QByteArray> rewrite(const QByteArray& fileBytes, const QString& section, const QString& key,
                                  const QString& value, const LocaleCodec& codec);

}  // namespace detail
}  // namespace tallowen
