#include "help/ChmArchive.h"

#include <chm_lib.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace tallowen {

void ChmFileCloser::operator()(chmFile* file) const { chm_close(file); }

namespace {

struct Listing {
  QStringList files;
  QStringList internal;
};

int collect(chmFile*, chmUnitInfo* unit, void* context) {
  auto* listing = static_cast<Listing*>(context);
  const QString path = QString::fromUtf8(unit->path);
  if (path.endsWith(QLatin1Char('/'))) return CHM_ENUMERATOR_CONTINUE;
  // "#SYSTEM", "$WWKeywordLinks/..." and "::DataSpace/..." belong to the compiler.
  const bool compilers = path.startsWith(QLatin1String("/#")) || path.startsWith(QLatin1String("/$")) ||
                         path.startsWith(QLatin1String("::"));
  (compilers ? listing->internal : listing->files).append(path);
  return CHM_ENUMERATOR_CONTINUE;
}

// The file's SHA-256, or nothing when it cannot be read to its end or `stop` comes first.
std::optional<QByteArray> sha256Of(const QString& path, const std::atomic<bool>* stop) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QCryptographicHash hash(QCryptographicHash::Sha256);
  QByteArray chunk(64 * 1024, Qt::Uninitialized);
  for (;;) {
    if (stop && stop->load(std::memory_order_relaxed)) return std::nullopt;
    const qint64 got = file.read(chunk.data(), chunk.size());
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    hash.addData(QByteArrayView(chunk.constData(), got));
  }
  return hash.result();
}

}  // namespace

std::unique_ptr<ChmArchive> ChmArchive::open(const QString& path, const ExpectedFile& expected,
                                             QString* error, const std::atomic<bool>* stop) {
  const QFileInfo info(path);
  const QString shown = info.absoluteFilePath();
  auto fail = [error](const QString& why) {
    if (error) *error = why;
    return nullptr;
  };
  if (!info.exists()) return fail(QStringLiteral("ヘルプ ファイル「%1」が見つかりません。").arg(shown));
  const QString notHelp =
      QStringLiteral(
          "ヘルプ ファイル「%1」を開けません。ファイルが壊れているか、ヘルプ ファイルではありません。")
          .arg(shown);
  // A folder or a device in its place could not be read to an end.
  if (!info.isFile()) return fail(notHelp);
  const QString damaged =
      QStringLiteral("ヘルプ ファイル「%1」が壊れています。Tallowen をインストールし直してください。")
          .arg(shown);
  // A copy cut short or grown (or any big file of that name) is told by its size alone:
  // reading gigabytes to say so would take half a minute.
  if (info.size() != expected.size) return fail(damaged);
  const auto actual = sha256Of(path, stop);
  if (!actual)
    return fail(
        QStringLiteral("ヘルプ ファイル「%1」を読めません。ファイルを読む権限があるか確かめてください。")
            .arg(shown));
  if (*actual != expected.sha256) return fail(damaged);

  ChmFilePtr file(chm_open(QFile::encodeName(path).constData()));
  if (!file) return fail(notHelp);
  std::unique_ptr<ChmArchive> archive(new ChmArchive(std::move(file)));
  Listing listing;
  chm_enumerate(archive->file_.get(), CHM_ENUMERATE_ALL, collect, &listing);
  // A file whose directory lists nothing readable is no help file, whatever its header says.
  if (listing.files.isEmpty() && listing.internal.isEmpty())
    return fail(
        QStringLiteral("ヘルプ ファイル「%1」の中身を読めません。ファイルが壊れています。").arg(shown));
  archive->files_ = listing.files;
  for (const QString& p : listing.files + listing.internal) archive->byLowerCase_.insert(p.toLower(), p);
  return archive;
}

QString ChmArchive::find(const QString& path) const { return byLowerCase_.value(path.toLower()); }

bool ChmArchive::contains(const QString& path) const { return !find(path).isEmpty(); }

std::optional<QByteArray> ChmArchive::read(const QString& path) const {
  const QString stored = find(path);
  if (stored.isEmpty()) return std::nullopt;
  chmUnitInfo unit{};
  if (chm_resolve_object(file_.get(), stored.toUtf8().constData(), &unit) != CHM_RESOLVE_SUCCESS)
    return std::nullopt;
  if (unit.length > static_cast<LONGUINT64>(64 * 1024 * 1024))
    return std::nullopt;  // no help page is this big
  QByteArray data(static_cast<qsizetype>(unit.length), Qt::Uninitialized);
  if (unit.length == 0) return data;
  const LONGINT64 got = chm_retrieve_object(file_.get(), &unit, reinterpret_cast<unsigned char*>(data.data()),
                                            0, static_cast<LONGINT64>(unit.length));
  // A short read means a damaged compressed section: no half pages.
  if (got != static_cast<LONGINT64>(unit.length)) return std::nullopt;
  return data;
}

}  // namespace tallowen
