#include "platform/FolderNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>

namespace tallowen {

namespace {

QByteArray folderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray& path) { return path.mid(path.lastIndexOf('/') + 1); }

// Whether the folder holds an entry of exactly these bytes. Unknown (a folder that cannot be
// read) counts as held: the name is then taken rather than guessed to be another's spelling.
bool listedExactly(const QByteArray& folder, const QByteArray& name) {
  DIR* dir = ::opendir(folder.constData());
  if (!dir) return true;
  bool found = false;
  while (const dirent* entry = ::readdir(dir))
    if (name == entry->d_name) {
      found = true;
      break;
    }
  ::closedir(dir);
  return found;
}

bool isControl(char32_t code) { return code < 0x20 || (code >= 0x7f && code < 0xa0); }

bool isTaken(int error) { return error == EEXIST || error == ENOTEMPTY; }

// rename(2) that never replaces what stands at `to`, and never copies. Where the file system
// lacks RENAME_NOREPLACE, a second name and then the first one removed; where it has no
// hard links either (FAT through FUSE), a look at the name just before a plain rename: the
// only moment another program could put something there.
int renameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  if (::link(from.constData(), to.constData()) == 0) {
    if (::unlink(from.constData()) == 0) return 0;
    const int error = errno;
    ::unlink(to.constData());
    return error;
  }
  if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  if (NameTaken(to)) return EEXIST;
  return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// Whether `to` is `from` spelled with other letter cases, on a file system that takes them
// for one name: the new spelling is found but is no entry of its own. (Inode numbers do not
// tell: FAT through FUSE gives each spelling a number of its own.)
bool sameNameInOtherCase(const QByteArray& from, const QByteArray& to) {
  const QByteArray folder = folderOf(from), fromName = nameOf(from), toName = nameOf(to);
  if (folder != folderOf(to) || fromName == toName || !NameDecodes(fromName) || !NameDecodes(toName)) return false;
  if (QFile::decodeName(fromName).compare(QFile::decodeName(toName), Qt::CaseInsensitive) != 0) return false;
  return !listedExactly(folder, toName);
}

// "a.wma" to "A.wma" where both are one name: rename(2) does nothing then (the kernel sees
// one file), so the file goes through a third name.
RenameResult changeCase(const QByteArray& from, const QByteArray& to) {
  // Beside it, and of the same kind, should it ever be left there.
  const QByteArray name = nameOf(to);
  const qsizetype dot = name.lastIndexOf('.');
  const QByteArray step = folderOf(to) + '/' + (dot > 0 ? name.left(dot) : name) + '~' +
                          QByteArray::number(QRandomGenerator::global()->generate(), 16) +
                          (dot > 0 ? name.mid(dot) : QByteArray());
  if (const int error = renameNoReplace(from, step)) return {RenameResult::Outcome::Failed, error, {}};
  const int error = renameNoReplace(step, to);
  if (error == 0) return {RenameResult::Outcome::Renamed, 0, {}};
  if (renameNoReplace(step, from) == 0)
    return {isTaken(error) ? RenameResult::Outcome::Taken : RenameResult::Outcome::Failed, error, {}};
  return {RenameResult::Outcome::Failed, error, step};
}

}  // namespace

bool NameTaken(const QByteArray& nativePath) {
  struct stat st;
  return ::lstat(nativePath.constData(), &st) == 0;
}

bool NameTaken(const QString& path) { return NameTaken(QFile::encodeName(path)); }

bool NameDecodes(const QByteArray& nativeName) {
  return QFile::encodeName(QFile::decodeName(nativeName)) == nativeName;
}

QString ShownName(const QByteArray& nativeName) {
  if (NameDecodes(nativeName)) {
    const QString name = QFile::decodeName(nativeName);
    if (std::none_of(name.begin(), name.end(), [](QChar c) { return isControl(c.unicode()); })) return name;
  }
  QString shown;
  auto escape = [&shown](QByteArrayView bytes) {
    for (const char c : bytes)
      shown += QStringLiteral("\\x") + QStringLiteral("%1").arg(uint(uint8_t(c)), 2, 16, QLatin1Char('0')).toUpper();
  };
  qsizetype at = 0;
  while (at < nativeName.size()) {
    // The shortest run of bytes from here that reads as one character (a UTF-8 character
    // is at most four bytes).
    qsizetype length = 1;
    QString character;
    for (; length <= 4 && at + length <= nativeName.size(); ++length) {
      const QByteArray run = nativeName.mid(at, length);
      if (!NameDecodes(run)) continue;
      character = QFile::decodeName(run);
      break;
    }
    const QByteArrayView bytes(nativeName.constData() + at, character.isEmpty() ? 1 : length);
    const char32_t code = character.isEmpty() ? 0 : character.toUcs4().value(0);
    if (character.isEmpty() || isControl(code))
      escape(bytes);
    else
      shown += character;
    at += bytes.size();
  }
  return shown;
}

RenameResult RenameWithoutReplacing(const QByteArray& from, const QByteArray& to) {
  using Outcome = RenameResult::Outcome;
  struct stat st;
  if (::lstat(from.constData(), &st) != 0) {
    const int error = errno;
    return {error == ENOENT || error == ENOTDIR ? Outcome::Gone : Outcome::Failed, error, {}};
  }
  if (from == to) return {Outcome::Renamed, 0, {}};
  if (NameTaken(to)) {
    if (sameNameInOtherCase(from, to)) return changeCase(from, to);
    return {Outcome::Taken, EEXIST, {}};
  }
  const int error = renameNoReplace(from, to);
  if (error == 0) return {Outcome::Renamed, 0, {}};
  if (isTaken(error)) return {Outcome::Taken, error, {}};
  if (error == ENOENT && !NameTaken(from)) return {Outcome::Gone, error, {}};
  return {Outcome::Failed, error, {}};
}

}  // namespace tallowen
