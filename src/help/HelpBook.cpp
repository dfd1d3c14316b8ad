#include "help/HelpBook.h"

#include <QDir>
#include <QUrl>
#include <QtEndian>

#include "help/HelpLog.h"

namespace tallowen {

namespace {

quint32 dword(const QByteArray& data, qsizetype at) {
  return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(data.constData()) + at);
}
quint16 word(const QByteArray& data, qsizetype at) {
  return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(data.constData()) + at);
}

// A zero-terminated string starting at `at`.
QByteArray cString(const QByteArray& data, qsizetype at) {
  if (at < 0 || at >= data.size()) return {};
  const qsizetype end = data.indexOf('\0', at);
  return data.mid(at, (end < 0 ? data.size() : end) - at);
}

void collectLocals(const std::vector<SitemapEntry>& entries, QString& first) {
  for (const SitemapEntry& e : entries) {
    if (!first.isEmpty()) return;
    if (!e.locals.isEmpty()) first = e.locals.first();
    collectLocals(e.children, first);
  }
}

}  // namespace

std::unique_ptr<HelpBook> HelpBook::open(const QString& path, const ExpectedFile& expected, QString* error,
                                         const std::atomic<bool>* stop) {
  auto archive = ChmArchive::open(path, expected, error, stop);
  if (!archive) return nullptr;
  std::unique_ptr<HelpBook> book(new HelpBook(std::move(archive)));
  book->readSystem();
  book->readContextTable();

  // Compilers that leave the sitemap names out of #SYSTEM still store the files.
  for (const QString& f : book->archive_->files()) {
    if (book->contentsFile_.isEmpty() && f.endsWith(QLatin1String(".hhc"), Qt::CaseInsensitive))
      book->contentsFile_ = f;
    if (book->indexFile_.isEmpty() && f.endsWith(QLatin1String(".hhk"), Qt::CaseInsensitive))
      book->indexFile_ = f;
  }
  book->contents_ = book->readSitemap(book->contentsFile_);
  book->index_ = book->readSitemap(book->indexFile_);

  if (book->defaultPage_.isEmpty()) {
    QString first;
    collectLocals(book->contents_, first);
    book->defaultPage_ = book->find(first);
  }
  if (book->defaultPage_.isEmpty()) {
    for (const QString& f : book->archive_->files())
      if (f.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive) ||
          f.endsWith(QLatin1String(".html"), Qt::CaseInsensitive)) {
        book->defaultPage_ = f;
        break;
      }
  }
  if (book->defaultPage_.isEmpty()) {
    if (error) *error = QStringLiteral("ヘルプ ファイル「%1」には表示できるページがありません。").arg(path);
    return nullptr;
  }
  // A cut-off file still lists its pages but cannot give their text.
  if (!book->archive_->read(book->defaultPage_)) {
    if (error)
      *error =
          QStringLiteral("ヘルプ ファイル「%1」のページを読めません。ファイルが壊れています。").arg(path);
    return nullptr;
  }
  return book;
}

// #SYSTEM: a version, then records of (code, length, data). The codes read here:
// 0 contents file, 1 index file, 2 default topic, 3 title, 4 language and flags.
void HelpBook::readSystem() {
  const auto data = archive_->read(QStringLiteral("/#SYSTEM"));
  if (!data || data->size() < 4) {
    qCDebug(lcHelp) << "no #SYSTEM: no title, and the contents, index and first page are guessed";
    return;
  }
  QByteArray contents, index, defaultTopic, title;
  for (qsizetype at = 4; at + 4 <= data->size();) {
    const quint16 code = word(*data, at);
    const quint16 length = word(*data, at + 2);
    at += 4;
    if (at + length > data->size()) break;
    const QByteArray field = data->mid(at, length);
    switch (code) {
      case 0:
        contents = cString(field, 0);
        break;
      case 1:
        index = cString(field, 0);
        break;
      case 2:
        defaultTopic = cString(field, 0);
        break;
      case 3:
        title = cString(field, 0);
        break;
      case 4:
        if (field.size() >= 4) languageId_ = dword(field, 0);
        break;
      default:
        break;
    }
    at += length;
  }
  title_ = DecodeHelpText(title, languageId_);
  contentsFile_ = find(DecodeHelpText(contents, languageId_));
  indexFile_ = find(DecodeHelpText(index, languageId_));
  defaultPage_ = find(DecodeHelpText(defaultTopic, languageId_));
}

// #IVB holds the [MAP]/[ALIAS] pairs as (topic number, offset into #STRINGS); the string is
// the page, relative to the project (Microsoft's compiler) or as the absolute path of its
// source (chmcmd).
void HelpBook::readContextTable() {
  const auto ivb = archive_->read(QStringLiteral("/#IVB"));
  const auto strings = archive_->read(QStringLiteral("/#STRINGS"));
  if (!ivb || !strings || ivb->size() < 4) return;
  const qsizetype end = qMin<qsizetype>(ivb->size(), 4 + qsizetype(dword(*ivb, 0)));
  for (qsizetype at = 4; at + 8 <= end; at += 8) {
    const quint32 topic = dword(*ivb, at);
    const QString compiled = DecodeHelpText(cString(*strings, dword(*ivb, at + 4)), languageId_);
    const QString page = matchCompiledPath(compiled);
    if (!page.isEmpty() && !contextTable_.contains(topic)) contextTable_.insert(topic, page);
  }
}

QString HelpBook::matchCompiledPath(const QString& compiled) const {
  if (const QString direct = find(compiled); !direct.isEmpty()) return direct;
  // An absolute source path: the archive file that is its longest tail.
  const QString path = QString(compiled).replace(QLatin1Char('\\'), QLatin1Char('/')).toLower();
  QString best;
  for (const QString& f : archive_->files())
    if (path.endsWith(f.toLower()) && f.size() > best.size()) best = f;
  return best;
}

std::vector<SitemapEntry> HelpBook::readSitemap(const QString& path) const {
  if (path.isEmpty()) return {};
  const auto data = archive_->read(path);
  if (!data) {
    qCWarning(lcHelp) << "unreadable, left empty:" << path;
    return {};
  }
  return ParseSitemap(DecodeHelpText(*data, languageId_));
}

QString HelpBook::topicPage(quint32 topic) const { return contextTable_.value(topic); }

QString HelpBook::archivePath(const QString& reference) {
  // Help written on Windows may separate folders with backslashes.
  QString ref = reference.trimmed().replace(QLatin1Char('\\'), QLatin1Char('/'));
  // "ms-its:file.chm::/page.htm" and "mk:@MSITStore:file.chm::/page.htm" name a page inside a file.
  if (const qsizetype sep = ref.indexOf(QLatin1String("::")); sep >= 0) ref = ref.mid(sep + 2);
  const QUrl url(ref);
  if (url.scheme().size() > 1 && url.scheme() != QLatin1String("chm")) return {};  // http:, mailto:, ...
  QString path = url.path(QUrl::FullyDecoded);
  if (path.isEmpty()) return {};
  path = QDir::cleanPath(path);
  if (!path.startsWith(QLatin1Char('/'))) path.prepend(QLatin1Char('/'));
  if (path.startsWith(QLatin1String("/.."))) return {};
  return path;
}

QString HelpBook::find(const QString& reference) const {
  const QString path = archivePath(reference);
  return path.isEmpty() ? QString() : archive_->find(path);
}

}  // namespace tallowen
