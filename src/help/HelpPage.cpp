#include "help/HelpPage.h"

#include <QDesktopServices>
#include <QImage>
#include <QTextDocument>

#include "help/HelpBook.h"
#include "help/HelpLog.h"

namespace tallowen {

namespace {
const QString kScheme = QStringLiteral("chm");
const QString kNoticeScheme = QStringLiteral("chm-notice");

// The web and mail only: file:, smb: and the like would let a page open local or shared
// files, or start programs, through the desktop.
bool mayLeaveHelp(const QUrl& target) {
  const QString scheme = target.scheme().toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
         scheme == QLatin1String("mailto");
}
}  // namespace

HelpPage::HelpPage(QWidget* parent)
    : QTextBrowser(parent), openLink_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setObjectName(QStringLiteral("helpPage"));
  // Links are followed here, so that web and mail addresses go to the desktop, those inside
  // the file stay in this pane's history, and every other kind is refused.
  setOpenLinks(false);
  connect(this, &QTextBrowser::anchorClicked, this, &HelpPage::followLink);
}

QUrl HelpPage::addressOf(const QString& archivePath) {
  QUrl url;
  url.setScheme(kScheme);
  url.setPath(archivePath);
  return url;
}

void HelpPage::showNotice(const QString& title, const QString& text) {
  // A fresh address each time, so that the pane never takes it for the page it shows.
  QUrl url;
  url.setScheme(kNoticeScheme);
  url.setPath(QStringLiteral("/%1").arg(notices_.size() + 1));
  notices_.insert(url.path(), QStringLiteral("<html><body><h2>%1</h2><p>%2</p></body></html>")
                                  .arg(title.toHtmlEscaped(), text.toHtmlEscaped()));
  setSource(url);
}

bool HelpPage::showsNotice() const { return source().scheme() == kNoticeScheme; }

void HelpPage::showLoading(const QString& text) {
  setHtml(QStringLiteral("<html><body><p>%1</p></body></html>").arg(text.toHtmlEscaped()));
}

void HelpPage::followLink(const QUrl& link) {
  const QUrl target = source().resolved(link);
  if (target.scheme() == kScheme || target.scheme().isEmpty()) {
    setSource(target);
    return;
  }
  const QString archivePath = HelpBook::archivePath(link.toString());
  if (link.toString().contains(QLatin1String("::")) && !archivePath.isEmpty()) {
    QUrl inside = addressOf(archivePath);
    inside.setFragment(link.fragment());
    setSource(inside);
    return;
  }
  const QString shown = target.toDisplayString();
  if (!mayLeaveHelp(target)) {
    showNotice(QStringLiteral("リンクを開けません"),
               QStringLiteral("「%1」はヘルプから開けません。ヘルプから開けるのは、http、https、mailto "
                              "のリンクだけです。")
                   .arg(shown));
    return;
  }
  if (!openLink_ || !openLink_(target))
    showNotice(QStringLiteral("リンクを開けません"),
               QStringLiteral("「%1」を開くアプリケーションが見つかりません。").arg(shown));
}

QVariant HelpPage::loadResource(int type, const QUrl& name) {
  const QUrl url = name.isRelative() ? source().resolved(name) : name;
  if (url.scheme() == kNoticeScheme)
    return type == QTextDocument::HtmlResource ? QVariant(notices_.value(url.path())) : QVariant();
  // Pages from a help file take nothing from the local disk or the network.
  if (!book_ || url.scheme() != kScheme) return {};
  const QString stored = book_->find(url.path());
  const auto data = stored.isEmpty() ? std::nullopt : book_->archive().read(stored);
  if (type == QTextDocument::HtmlResource) {
    if (!data)
      return QStringLiteral(
                 "<html><body><h2>ページが見つかりません</h2><p>ヘルプ "
                 "ファイルに「%1」はありません。</p></body></html>")
          .arg(url.path().toHtmlEscaped());
    return DecodeHelpText(*data, book_->languageId());
  }
  if (type == QTextDocument::ImageResource && devicePixelRatio() > 1)
    if (QVariant sharp = sharpPicture(stored); sharp.isValid()) return sharp;
  if (!data) {
    qCWarning(lcHelp) << "not in the help file:" << url.path();
    return {};
  }
  if (type == QTextDocument::StyleSheetResource) return DecodeHelpText(*data, book_->languageId());
  return *data;
}

QVariant HelpPage::sharpPicture(const QString& path) const {
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  if (path.isEmpty() || dot <= path.lastIndexOf(QLatin1Char('/'))) return {};
  const QString twice = path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
  const auto data = book_->archive().read(twice);
  QImage image;
  if (!data || !image.loadFromData(*data)) {
    qCDebug(lcHelp) << "no picture for scale 2, the picture for scale 1 is scaled:" << twice;
    return {};
  }
  // Laid out at half its pixels, so at the page's size.
  image.setDevicePixelRatio(2);
  return image;
}

}  // namespace tallowen
