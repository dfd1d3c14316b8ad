#pragma once
// A help file as the viewer reads it: its title, its default page, its contents and index,
// its context table (topic number to page), and the pages and pictures themselves.

#include <QHash>
#include <QString>
#include <memory>
#include <vector>

#include "help/ChmArchive.h"
#include "help/Sitemap.h"

namespace tallowen {

class HelpBook {
 public:
  // Null when the file is missing, is not `expected`, or is no readable help file; `error`
  // says which, in words. Gives up, with nothing, as soon as `stop` holds.
  static std::unique_ptr<HelpBook> open(const QString& path, const ExpectedFile& expected, QString* error,
                                        const std::atomic<bool>* stop = nullptr);

  const QString& title() const { return title_; }
  // Archive paths ("/index.html"); empty when the file names none that it holds.
  const QString& defaultPage() const { return defaultPage_; }
  const std::vector<SitemapEntry>& contents() const { return contents_; }
  const std::vector<SitemapEntry>& index() const { return index_; }
  // The page the context table gives for a topic number, or empty when it gives none.
  QString topicPage(quint32 topic) const;
  const QHash<quint32, QString>& contextTable() const { return contextTable_; }
  quint32 languageId() const { return languageId_; }

  // The archive path a link or sitemap entry names ("sub/page.html#part", "ms-its:x.chm::/a.htm"),
  // without its fragment; empty when it points outside the file.
  static QString archivePath(const QString& reference);
  // The archive's spelling of the file a link names, or empty when the file holds none.
  QString find(const QString& reference) const;
  const ChmArchive& archive() const { return *archive_; }

 private:
  explicit HelpBook(std::unique_ptr<ChmArchive> archive) : archive_(std::move(archive)) {}
  void readSystem();
  void readContextTable();
  std::vector<SitemapEntry> readSitemap(const QString& path) const;
  QString matchCompiledPath(const QString& compiled) const;

  std::unique_ptr<ChmArchive> archive_;
  QString title_;
  QString defaultPage_;
  QString contentsFile_;
  QString indexFile_;
  quint32 languageId_ = 0;
  std::vector<SitemapEntry> contents_;
  std::vector<SitemapEntry> index_;
  QHash<quint32, QString> contextTable_;
};

}  // namespace tallowen
