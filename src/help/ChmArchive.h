#pragma once
// The files inside a compiled HTML help file, read through chmlib.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>

struct chmFile;

namespace tallowen {

struct ChmFileCloser {
  void operator()(chmFile* file) const;
};
using ChmFilePtr = std::unique_ptr<chmFile, ChmFileCloser>;

// What a file must be before chmlib may read it: chmlib can crash on a damaged one.
struct ExpectedFile {
  qint64 size = -1;
  QByteArray sha256;  // 32 bytes
};

class ChmArchive {
 public:
  // Null when the file cannot be opened as a CHM; `error` then says why, in words. chmlib
  // reads the file only when it is `expected`: a file of another size is refused without
  // reading it, one of that size only after its SHA-256 is known. Reading stops, with
  // nothing opened, as soon as `stop` holds.
  static std::unique_ptr<ChmArchive> open(const QString& path, const ExpectedFile& expected, QString* error,
                                          const std::atomic<bool>* stop = nullptr);

  // Paths are the archive's own, "/dir/page.html"; a lookup ignores letter case, as the
  // help compilers do.
  std::optional<QByteArray> read(const QString& path) const;
  bool contains(const QString& path) const;
  // The archive's spelling of a path, or empty when it holds no such file.
  QString find(const QString& path) const;
  // The ordinary files (pages, pictures, sitemaps), without the compiler's internal ones.
  const QStringList& files() const { return files_; }

 private:
  explicit ChmArchive(ChmFilePtr file) : file_(std::move(file)) {}

  ChmFilePtr file_;
  QStringList files_;
  QHash<QString, QString> byLowerCase_;
};

}  // namespace tallowen
