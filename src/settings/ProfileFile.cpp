#include "settings/ProfileFile.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringView>
#include <algorithm>
#include <cstring>

#include "platform/FileWriteLock.h"

namespace tallowen {
namespace {

// Parsing works on raw bytes only with characters that cannot be part of a
// multi-byte character in the code sets we meet (UTF-8, Shift-JIS, EUC,
// GBK, Big5): '\n', '\r', NUL, blanks, '=', ';', quotes. '[' and ']' can be
// Shift-JIS trail bytes, so section headers are searched after decoding.

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

template <typename View>
View trimBlanks(View v) {
  while (!v.isEmpty() && isBlank(v.front())) v = v.sliced(1);
  while (!v.isEmpty() && isBlank(v.back())) v.chop(1);
  return v;
}

struct Line {
  qsizetype begin = 0;
  qsizetype end = 0;       // end of the content, before its line end
  qsizetype parseEnd = 0;  // what parsing looks at: up to a NUL
  qsizetype next = 0;      // start of the following line
  bool hasEol = false;
};

// A line ends at CRLF, at LF, or at a CR alone: files from Windows, from Linux tools, and
// from old Mac tools or hand edits all read the same.
Line lineAt(const QByteArray& bytes, qsizetype pos) {
  Line ln;
  ln.begin = pos;
  const char* const data = bytes.constData();
  const char* const stop = data + bytes.size();
  const char* const eol = std::find_if(data + pos, stop, [](char c) { return c == '\n' || c == '\r'; });
  ln.end = eol - data;
  ln.hasEol = eol != stop;
  if (!ln.hasEol)
    ln.next = ln.end;
  else if (*eol == '\r' && eol + 1 != stop && eol[1] == '\n')
    ln.next = ln.end + 2;
  else
    ln.next = ln.end + 1;
  const void* nul = std::memchr(data + pos, '\0', size_t(ln.end - pos));
  ln.parseEnd = nul ? static_cast<const char*>(nul) - data : ln.end;
  return ln;
}

// Where section/key sits in the file, as far as a read or a write needs.
struct Location {
  bool sectionFound = false;
  qsizetype insertAt = 0;       // a new key goes here: after the section's last key
  bool insertNeedsEol = false;  // ... which is the file's last line, unterminated
  bool keyFound = false;
  qsizetype valueStart = 0;  // after '=' and the blanks following it
  qsizetype valueParseEnd = 0;
  qsizetype lineEnd = 0;
};

bool sameName(QStringView inFile, const QString& wanted) {
  return trimBlanks(inFile).compare(wanted, Qt::CaseInsensitive) == 0;
}

// Takes section and key as lookupName() gives them.
Location locate(const QByteArray& bytes, const QString& section, const QString& key,
                const LocaleCodec& codec) {
  Location loc;
  for (qsizetype pos = 0; pos < bytes.size();) {
    const Line ln = lineAt(bytes, pos);
    pos = ln.next;
    qsizetype b = ln.begin;
    while (b < ln.parseEnd && isBlank(bytes.at(b))) ++b;
    if (b == ln.parseEnd || bytes.at(b) == ';') continue;
    const QByteArrayView text(bytes.constData() + b, ln.parseEnd - b);
    if (text.front() == '[') {
      const QString header = codec.toUnicode(text.sliced(1).toByteArray());
      const qsizetype close = header.indexOf(u']');
      if (close < 0) continue;      // not a header; not a key line either
      if (loc.sectionFound) break;  // the first matching section wins; it has just ended
      if (sameName(QStringView(header).left(close), section)) {
        loc.sectionFound = true;
        loc.insertAt = ln.next;
        loc.insertNeedsEol = !ln.hasEol;
      }
      continue;
    }
    if (!loc.sectionFound) continue;
    const qsizetype eq = text.indexOf('=');
    if (eq < 0) continue;
    if (sameName(codec.toUnicode(text.first(eq).toByteArray()), key)) {
      loc.keyFound = true;
      loc.valueStart = b + eq + 1;
      while (loc.valueStart < ln.parseEnd && isBlank(bytes.at(loc.valueStart))) ++loc.valueStart;
      loc.valueParseEnd = ln.parseEnd;
      loc.lineEnd = ln.end;
      return loc;
    }
    loc.insertAt = ln.next;
    loc.insertNeedsEol = !ln.hasEol;
  }
  return loc;
}

bool isQuotePair(QByteArrayView v) {
  return v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'');
}

// A name as it reads back from the file, so that one with characters the code
// set lacks still finds the line written for it instead of adding another.
QString lookupName(const QString& name, const LocaleCodec& codec) {
  return codec.toUnicode(codec.fromUnicode(trimBlanks(QStringView(name)).toString()));
}

bool hasLineBreakOrNul(QStringView s) {
  return s.contains(u'\n') || s.contains(u'\r') || s.contains(QChar(0));
}

// Names that could not be read back as written are refused rather than
// altered: a section name with ']' or a key with '=' would split elsewhere,
// and a key starting with '[' or ';' would read as a header or a comment.
bool storableSection(QStringView s) { return !s.isEmpty() && !s.contains(u']') && !hasLineBreakOrNul(s); }

bool storableKey(QStringView k) {
  return !k.isEmpty() && !k.contains(u'=') && !k.startsWith(u'[') && !k.startsWith(u';') &&
         !hasLineBreakOrNul(k);
}

// A value ends at its first CR, LF or NUL, as it effectively does in the
// Windows program. Values the reader would alter (surrounding blanks, or an
// enclosing pair of quotes) get one more pair of double quotes, which the
// reader, Windows' included, strips again.
QByteArray storableValue(const QString& value, const LocaleCodec& codec) {
  qsizetype cut = 0;
  while (cut < value.size() && value.at(cut) != u'\r' && value.at(cut) != u'\n' && value.at(cut) != QChar(0))
    ++cut;
  const QByteArray bytes = codec.fromUnicode(value.left(cut));
  if (!bytes.isEmpty() && (isBlank(bytes.front()) || isBlank(bytes.back()) || isQuotePair(bytes)))
    return '"' + bytes + '"';
  return bytes;
}

// New lines follow the file's first line end, whichever of CRLF, LF and CR it is; a file
// without one gets CRLF, like the files the Windows program writes.
QByteArray lineEndOf(const QByteArray& bytes) {
  const Line first = lineAt(bytes, 0);
  if (!first.hasEol) return "\r\n";
  return bytes.mid(first.end, first.next - first.end);
}

bool endsWithLineEnd(const QByteArray& bytes) { return bytes.endsWith('\n') || bytes.endsWith('\r'); }

// nullopt when the file is there but cannot be read: writing over it would
// lose whatever it holds.
std::optional<QByteArray> readFile(const QString& filePath) {
  const QFileInfo info(filePath);
  if (!info.exists()) return QByteArray();
  if (!info.isFile())  // a directory, or a FIFO that would block
    return std::nullopt;
  QFile file(filePath);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  // Read with a limit, whatever the size said a moment ago: the file may be growing.
  QByteArray bytes = file.read(kMaxProfileFileBytes + 1);
  if (file.error() != QFileDevice::NoError || bytes.size() > kMaxProfileFileBytes) return std::nullopt;
  return bytes;
}

// The file a write replaces: filePath itself, or the end of its chain of symlinks, so that a
// link stays a link and the temporary file is made where the rename can happen. Empty for a
// loop of links.
QString writeTarget(const QString& filePath) {
  QFileInfo info(filePath);
  for (int hops = 0; info.isSymLink(); ++hops) {
    if (hops == 40) return {};
    info.setFile(info.symLinkTarget());
  }
  return info.filePath();
}

}  // namespace

namespace detail {

ProfileValue readValue(const QByteArray& fileBytes, const QString& section, const QString& key,
                       const LocaleCodec& codec) {
  const QString sectionName = lookupName(section, codec);
  const QString keyName = lookupName(key, codec);
  if (sectionName.isEmpty() || keyName.isEmpty()) return {};
  const Location loc = locate(fileBytes, sectionName, keyName, codec);
  if (!loc.keyFound) return {};
  QByteArrayView value =
      trimBlanks(QByteArrayView(fileBytes.constData() + loc.valueStart, loc.valueParseEnd - loc.valueStart));
  if (isQuotePair(value)) value = value.sliced(1, value.size() - 2);
  // The Windows program cannot tell a value that fills its whole buffer from one cut to
  // fit it: such a value counts as cut, so that nobody takes it for what was chosen.
  return {codec.toUnicode(codec.truncateBytes(value.toByteArray(), kMaxProfileValueBytes)),
          value.size() >= kMaxProfileValueBytes};
}

std::optional<QByteArray> rewrite(const QByteArray& fileBytes, const QString& section, const QString& key,
                                  const QString& value, const LocaleCodec& codec) {
  const QStringView sectionName = trimBlanks(QStringView(section));
  const QStringView keyName = trimBlanks(QStringView(key));
  if (!storableSection(sectionName) || !storableKey(keyName)) return std::nullopt;

  const QByteArray valueBytes = storableValue(value, codec);
  const Location loc = locate(fileBytes, lookupName(section, codec), lookupName(key, codec), codec);
  QByteArray out = fileBytes;
  if (loc.keyFound) {
    // The key keeps its spelling and spacing; the rest of its line,
    // anything after a NUL included, is ours to replace.
    out.replace(loc.valueStart, loc.lineEnd - loc.valueStart, valueBytes);
    return out;
  }

  const QByteArray eol = lineEndOf(fileBytes);
  const QByteArray keyLine = codec.fromUnicode(keyName.toString()) + '=' + valueBytes + eol;
  if (loc.sectionFound) {
    QByteArray added = (loc.insertNeedsEol ? eol : QByteArray()) + keyLine;
    // In a mixed file a CR of ours right before an LF of the file would make one CRLF of
    // the two, and a blank line would go.
    if (added.endsWith('\r') && loc.insertAt < out.size() && out.at(loc.insertAt) == '\n') added += '\n';
    out.insert(loc.insertAt, added);
    return out;
  }
  if (!out.isEmpty() && !endsWithLineEnd(out)) out += eol;
  out += '[' + codec.fromUnicode(sectionName.toString()) + ']' + eol + keyLine;
  return out;
}

}  // namespace detail

QString ReadProfileString(const QString& filePath, const QString& section, const QString& key,
                          const LocaleCodec& codec) {
  return ReadProfileValue(filePath, section, key, codec).text;
}

ProfileValue ReadProfileValue(const QString& filePath, const QString& section, const QString& key,
                              const LocaleCodec& codec) {
  const std::optional<QByteArray> bytes = readFile(filePath);
  return bytes ? detail::readValue(*bytes, section, key, codec) : ProfileValue();
}

bool WriteProfileString(const QString& filePath, const QString& section, const QString& key,
                        const QString& value, const LocaleCodec& codec, std::chrono::milliseconds lockWait) {
  const QString target = writeTarget(filePath);
  if (target.isEmpty()) return false;
  // Without the lock, two copies of the program each write back what they read and one
  // loses the other's keys.
  const FileWriteLock lock(target, lockWait);
  if (!lock.held()) return false;
  const std::optional<QByteArray> old = readFile(target);
  if (!old) return false;
  const std::optional<QByteArray> updated = detail::rewrite(*old, section, key, value, codec);
  if (!updated) return false;
  if (*updated == *old) return true;
  // QSaveFile writes a temporary file beside the target and renames it over
  // the target on commit, keeping the target's permissions.
  QSaveFile file(target);
  // Unbuffered: a short write (disk full, size limit) must show in write()'s
  // result; buffered, QSaveFile's commit() can let it pass.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
  if (file.write(*updated) != updated->size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace tallowen
