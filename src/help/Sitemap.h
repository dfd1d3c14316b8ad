#pragma once
// The help file's table of contents (.hhc) and keyword index (.hhk): both are HTML lists of
// <OBJECT type="text/sitemap"> entries, nested by <UL>.

#include <QString>
#include <QStringList>
#include <vector>

namespace tallowen {

struct SitemapEntry {
  QString name;
  // Pages as the sitemap writes them, relative to the archive's root. A keyword may lead
  // to several pages; a contents heading may lead to none.
  QStringList locals;
  std::vector<SitemapEntry> children;
};

std::vector<SitemapEntry> ParseSitemap(const QString& html);

// Decodes an HTML or sitemap file: its declared charset, else UTF-8 when it is valid UTF-8,
// else the Windows code page of the help file's language.
QString DecodeHelpText(const QByteArray& data, quint32 languageId);

}  // namespace tallowen
