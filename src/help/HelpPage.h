#pragma once

#include <QHash>
#include <QTextBrowser>
#include <functional>

namespace tallowen {

class HelpBook;

// The page pane: shows the pages of one help file, with the pictures and style sheets
// they take from the same file. Page addresses are "chm:/dir/page.html#part".
class HelpPage : public QTextBrowser {
  Q_OBJECT
 public:
  explicit HelpPage(QWidget* parent = nullptr);

  void setBook(const HelpBook* book) { book_ = book; }
  // Hands a link that leaves the help to the desktop; true when something took it.
  using LinkOpener = std::function<bool(const QUrl&)>;
  void setLinkOpener(LinkOpener open) { openLink_ = std::move(open); }
  static QUrl addressOf(const QString& archivePath);
  // What is shown in place of a page that cannot be shown; it takes its place in the
  // history like a page.
  void showNotice(const QString& title, const QString& text);
  bool showsNotice() const;
  // What is shown while the file is being read: no page, and nothing in the history.
  void showLoading(const QString& text);

  // A picture "x.png" comes as "x@2x.png", where the file has one, on a screen scaled
  // above 1.
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  void followLink(const QUrl& link);
  QVariant sharpPicture(const QString& path) const;

  const HelpBook* book_ = nullptr;
  LinkOpener openLink_;
  QHash<QString, QString> notices_;  // by path, for the history
};

}  // namespace tallowen
