#include "help/Sitemap.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

namespace tallowen {

namespace {

QString decodeEntities(QString text) {
  if (!text.contains(QLatin1Char('&'))) return text;
  static const QHash<QString, QString> named = {
      {QStringLiteral("amp"), QStringLiteral("&")},  {QStringLiteral("lt"), QStringLiteral("<")},
      {QStringLiteral("gt"), QStringLiteral(">")},   {QStringLiteral("quot"), QStringLiteral("\"")},
      {QStringLiteral("apos"), QStringLiteral("'")}, {QStringLiteral("nbsp"), QStringLiteral("\u00a0")}};
  static const QRegularExpression entity(QStringLiteral("&(#x[0-9a-fA-F]+|#[0-9]+|[a-zA-Z]+);"));
  QString out;
  qsizetype last = 0;
  for (auto it = entity.globalMatch(text); it.hasNext();) {
    const auto m = it.next();
    const QString body = m.captured(1);
    QString replacement = m.captured(0);
    bool ok = false;
    if (body.startsWith(QLatin1String("#x"), Qt::CaseInsensitive)) {
      const uint code = body.mid(2).toUInt(&ok, 16);
      if (ok && code < 0x110000) replacement = QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
    } else if (body.startsWith(QLatin1Char('#'))) {
      const uint code = body.mid(1).toUInt(&ok, 10);
      if (ok && code < 0x110000) replacement = QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
    } else if (named.contains(body.toLower())) {
      replacement = named.value(body.toLower());
    }
    out += QStringView(text).mid(last, m.capturedStart() - last);
    out += replacement;
    last = m.capturedEnd();
  }
  out += QStringView(text).mid(last);
  return out;
}

struct Tag {
  QString name;                        // lower case, "/ul" for a closing tag
  QHash<QString, QString> attributes;  // names in lower case
};

// Reads the tag that starts at text[pos] == '<'; pos ends after its '>'.
Tag readTag(const QString& text, qsizetype& pos) {
  Tag tag;
  const qsizetype n = text.size();
  ++pos;
  if (text.mid(pos, 3) == QLatin1String("!--")) {
    const qsizetype end = text.indexOf(QLatin1String("-->"), pos + 3);
    pos = end < 0 ? n : end + 3;
    return tag;
  }
  auto skipSpace = [&] {
    while (pos < n && text[pos].isSpace()) ++pos;
  };
  auto readWord = [&] {
    const qsizetype start = pos;
    while (pos < n && !text[pos].isSpace() && text[pos] != QLatin1Char('>') &&
           text[pos] != QLatin1Char('=') && !(text[pos] == QLatin1Char('/') && pos > start))
      ++pos;
    return text.mid(start, pos - start).toLower();
  };
  tag.name = readWord();
  while (pos < n && text[pos] != QLatin1Char('>')) {
    skipSpace();
    if (pos < n && text[pos] == QLatin1Char('/')) {
      ++pos;
      continue;
    }
    const QString name = readWord();
    if (name.isEmpty()) {
      if (pos < n && text[pos] != QLatin1Char('>')) ++pos;
      continue;
    }
    skipSpace();
    QString value;
    if (pos < n && text[pos] == QLatin1Char('=')) {
      ++pos;
      skipSpace();
      if (pos < n && (text[pos] == QLatin1Char('"') || text[pos] == QLatin1Char('\''))) {
        const QChar quote = text[pos++];
        const qsizetype end = text.indexOf(quote, pos);
        value = text.mid(pos, (end < 0 ? n : end) - pos);
        pos = end < 0 ? n : end + 1;
      } else {
        const qsizetype start = pos;
        while (pos < n && !text[pos].isSpace() && text[pos] != QLatin1Char('>')) ++pos;
        value = text.mid(start, pos - start);
      }
    }
    tag.attributes.insert(name, decodeEntities(value));
  }
  if (pos < n) ++pos;
  return tag;
}

}  // namespace

std::vector<SitemapEntry> ParseSitemap(const QString& html) {
  std::vector<SitemapEntry> top;
  // The lists the entries go into, innermost last. Only the innermost one grows, so the
  // pointers to the outer ones stay valid.
  std::vector<std::vector<SitemapEntry>*> levels{&top};
  // A <UL> nests under the entry just before it; one with no entry before it (a page that
  // wraps everything in a <UL>) adds no level of its own.
  std::vector<bool> nested;
  bool inEntry = false;
  SitemapEntry entry;
  bool haveName = false;

  for (qsizetype pos = html.indexOf(QLatin1Char('<')); pos >= 0 && pos < html.size();
       pos = html.indexOf(QLatin1Char('<'), pos)) {
    const Tag tag = readTag(html, pos);
    if (tag.name == QLatin1String("ul")) {
      auto* current = levels.back();
      const bool nests = !current->empty() && levels.size() < 64;
      if (nests) levels.push_back(&current->back().children);
      nested.push_back(nests);
    } else if (tag.name == QLatin1String("/ul")) {
      if (!nested.empty()) {
        if (nested.back() && levels.size() > 1) levels.pop_back();
        nested.pop_back();
      }
    } else if (tag.name == QLatin1String("object")) {
      inEntry = tag.attributes.value(QStringLiteral("type"))
                    .compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive) == 0;
      entry = SitemapEntry{};
      haveName = false;
    } else if (tag.name == QLatin1String("param") && inEntry) {
      const QString name = tag.attributes.value(QStringLiteral("name")).toLower();
      const QString value = tag.attributes.value(QStringLiteral("value")).trimmed();
      // In an index entry further "Name"s title the pages that follow; the first is the keyword.
      if (name == QLatin1String("name") && !haveName) {
        entry.name = value;
        haveName = true;
      } else if (name == QLatin1String("local") && !value.isEmpty()) {
        entry.locals.append(value);
      }
    } else if (tag.name == QLatin1String("/object") && inEntry) {
      inEntry = false;
      if (haveName || !entry.locals.isEmpty()) levels.back()->push_back(std::move(entry));
      entry = SitemapEntry{};
    }
  }
  return top;
}

namespace {

const char* codePageOf(quint32 languageId) {
  switch (languageId & 0x3ff) {  // the primary language
    case 0x11:
      return "Shift_JIS";
    case 0x04:
      return (languageId == 0x0404 || languageId == 0x0c04) ? "Big5" : "GB18030";
    case 0x12:
      return "EUC-KR";
    case 0x19:
    case 0x22:
    case 0x23:
    case 0x02:
      return "windows-1251";
    default:
      return "windows-1252";
  }
}

}  // namespace

QString DecodeHelpText(const QByteArray& data, quint32 languageId) {
  static const QRegularExpression declared(QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_.:-]+)"),
                                           QRegularExpression::CaseInsensitiveOption);
  const QString head = QString::fromLatin1(data.left(1024));
  if (const auto m = declared.match(head); m.hasMatch()) {
    QStringDecoder decoder(m.captured(1).toLatin1().constData());
    if (decoder.isValid()) return decoder.decode(data);
  }
  {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(data);
    if (!utf8.hasError()) return text;
  }
  QStringDecoder local(codePageOf(languageId));
  if (local.isValid()) return local.decode(data);
  return QString::fromLatin1(data);
}

}  // namespace tallowen
