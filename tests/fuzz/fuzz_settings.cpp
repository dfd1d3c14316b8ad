// libFuzzer target for the settings file's reader and writer. Whatever the file holds:
// reading never fails, a written key reads back as its value, and every other key keeps
// its value.
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/LocaleCodec.h"
#include "settings/ProfileFile.h"

using namespace tallowen;

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

QString trimBlanks(QString s) {
  while (!s.isEmpty() && isBlank(s.front())) s.remove(0, 1);
  while (!s.isEmpty() && isBlank(s.back())) s.chop(1);
  return s;
}

// A name as the file can hold it: without surrounding blanks, in the file's code set.
QString stored(const QString& name, const LocaleCodec& codec) {
  return codec.toUnicode(codec.fromUnicode(trimBlanks(name)));
}

bool sameName(const QString& a, const QString& b, const LocaleCodec& codec) {
  return stored(a, codec).compare(stored(b, codec), Qt::CaseInsensitive) == 0;
}

bool hasBreak(const QString& s) { return s.contains(u'\r') || s.contains(u'\n') || s.contains(QChar(0)); }

// Names a line-oriented INI file cannot hold so that they read back the same.
bool storableSection(const QString& s) {
  const QString t = trimBlanks(s);
  return !t.isEmpty() && !t.contains(u']') && !hasBreak(t);
}
bool storableKey(const QString& k) {
  const QString t = trimBlanks(k);
  return !t.isEmpty() && !t.contains(u'=') && !t.startsWith(u'[') && !t.startsWith(u';') && !hasBreak(t);
}

// The value as it can come back: up to a line break, in the code set, at most 1023 bytes.
QString expectedBack(const QString& value, const LocaleCodec& codec) {
  qsizetype cut = 0;
  while (cut < value.size() && value[cut] != u'\r' && value[cut] != u'\n' && value[cut] != QChar(0)) ++cut;
  return codec.toUnicode(codec.truncateBytes(codec.fromUnicode(value.left(cut)), kMaxProfileValueBytes));
}

// Section and key names as a reader of the file would see them, each key with its section.
std::vector<std::pair<QString, QString>> namesIn(const QByteArray& file, const LocaleCodec& codec) {
  std::vector<std::pair<QString, QString>> names;
  QString section;
  bool inSection = false;
  // Lines end at CRLF, LF or a lone CR.
  for (QByteArray line : QByteArray(file).replace("\r\n", "\n").replace('\r', '\n').split('\n')) {
    if (const qsizetype nul = line.indexOf('\0'); nul >= 0) line.truncate(nul);
    const QString text = trimBlanks(codec.toUnicode(line));
    if (text.startsWith(u'[')) {
      const qsizetype close = text.indexOf(u']');
      if (close < 0) continue;
      section = text.mid(1, close - 1);
      inSection = true;
    } else if (inSection && !text.startsWith(u';') && text.contains(u'=')) {
      names.emplace_back(section, text.left(text.indexOf(u'=')));
    }
    if (names.size() >= 64) break;
  }
  return names;
}

[[noreturn]] void fail(const char* what, const QByteArray& file, const QString& section, const QString& key,
                       const QString& detail) {
  std::fprintf(stderr, "%s\nsection=[%s] key=[%s] %s\nfile=%s\n", what, qPrintable(section), qPrintable(key),
               detail.toUtf8().toPercentEncoding(" =[];").constData(),
               file.toPercentEncoding(" =[];").constData());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const LocaleCodec codecs[] = {LocaleCodec("UTF-8"), LocaleCodec("SHIFT_JIS"), LocaleCodec("EUC-JP")};
  FuzzedDataProvider in(data, size);
  const LocaleCodec& codec = codecs[in.ConsumeIntegralInRange<int>(0, 2)];
  const uint8_t choice = in.ConsumeIntegral<uint8_t>();
  // Repeated, so that values past the 1023-byte limit come up often.
  const int repeat = in.ConsumeIntegralInRange<int>(1, 40);
  const QString value = QString::fromUtf8(in.ConsumeRandomLengthString(600)).repeated(repeat);
  QString section = QString::fromUtf8(in.ConsumeRandomLengthString(40));
  QString key = QString::fromUtf8(in.ConsumeRandomLengthString(40));
  const std::string rest = in.ConsumeRemainingBytesAsString();
  const QByteArray file(rest.data(), qsizetype(rest.size()));

  const auto names = namesIn(file, codec);
  std::vector<QString> before;
  for (const auto& [s, k] : names) before.push_back(detail::readValue(file, s, k, codec).text);
  // Most writes go to a name the file has already, the rest to new ones.
  if (!names.empty() && (choice & 3) != 0) {
    const auto& picked = names[(choice >> 2) % names.size()];
    section = picked.first;
    if ((choice & 3) != 1) key = picked.second;
  }

  const std::optional<QByteArray> written = detail::rewrite(file, section, key, value, codec);
  if (!written) {
    if (storableSection(section) && storableKey(key))
      fail("a storable name was refused", file, section, key, {});
    return 0;
  }
  if (!storableSection(section) || !storableKey(key))
    fail("a name the file cannot hold was written", file, section, key, {});
  const QString back = detail::readValue(*written, section, key, codec).text;
  if (back != expectedBack(value, codec))
    fail("the written value reads back otherwise", *written, section, key,
         QStringLiteral("wrote=[%1] read=[%2]").arg(value, back));
  for (size_t i = 0; i < names.size(); ++i) {
    const auto& [s, k] = names[i];
    if (sameName(s, section, codec) && sameName(k, key, codec)) continue;
    const QString after = detail::readValue(*written, s, k, codec).text;
    if (after != before[i])
      fail("another key changed", *written, s, k, QStringLiteral("was=[%1] now=[%2]").arg(before[i], after));
  }
  return 0;
}
