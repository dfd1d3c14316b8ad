#include "help/HelpViewer.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "help/HelpBook.h"
#include "help/HelpPage.h"

namespace tallowen {

namespace {

constexpr int kPathRole = Qt::UserRole;         // archive path of a contents entry
constexpr int kLocalsRole = Qt::UserRole;       // the pages of a keyword
constexpr int kKeywordRole = Qt::UserRole + 1;  // a keyword without its indent

// Items keep the archive's spelling of their page, so that the tree can follow the page shown.
void addContents(QTreeWidgetItem* parent, QTreeWidget* tree, const std::vector<SitemapEntry>& entries,
                 const HelpBook& book) {
  for (const SitemapEntry& e : entries) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    item->setText(0, e.name);
    if (!e.locals.isEmpty()) item->setData(0, kPathRole, book.find(e.locals.first()));
    const bool folder = !e.children.empty();
    item->setIcon(0, tree->style()->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
    addContents(item, tree, e.children, book);
  }
}

void addKeywords(QListWidget* list, const std::vector<SitemapEntry>& entries, int depth) {
  for (const SitemapEntry& e : entries) {
    auto* item = new QListWidgetItem(QString(depth * 4, QLatin1Char(' ')) + e.name, list);
    item->setData(kLocalsRole, e.locals);
    item->setData(kKeywordRole, e.name);
    addKeywords(list, e.children, depth + 1);
  }
}

QString withoutFragment(QString reference) {
  const qsizetype hash = reference.indexOf(QLatin1Char('#'));
  return hash < 0 ? reference : reference.left(hash);
}

}  // namespace

HelpViewer::HelpViewer(const QString& helpFile, const QByteArray& sha256, QWidget* parent)
    : QMainWindow(parent), helpFile_(QFileInfo(helpFile).absoluteFilePath()) {
  setObjectName(QStringLiteral("helpViewer"));
  resize(800, 560);

  auto* toolbar = addToolBar(QStringLiteral("移動"));
  toolbar->setMovable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  back_ = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("戻る"));
  forward_ = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("進む"));
  back_->setShortcut(QKeySequence::Back);
  forward_->setShortcut(QKeySequence::Forward);
  back_->setEnabled(false);
  forward_->setEnabled(false);

  auto* splitter = new QSplitter(this);
  navigation_ = new QTabWidget(splitter);
  contentsTree_ = new QTreeWidget;
  contentsTree_->setObjectName(QStringLiteral("contentsTree"));
  contentsTree_->setHeaderHidden(true);
  navigation_->addTab(contentsTree_, QStringLiteral("目次(&C)"));

  auto* indexTab = new QWidget;
  auto* indexLayout = new QVBoxLayout(indexTab);
  auto* prompt = new QLabel(QStringLiteral("キーワードを入力してください(&W):"), indexTab);
  keywordField_ = new QLineEdit(indexTab);
  keywordField_->setObjectName(QStringLiteral("keywordField"));
  prompt->setBuddy(keywordField_);
  keywordList_ = new QListWidget(indexTab);
  keywordList_->setObjectName(QStringLiteral("keywordList"));
  auto* display = new QPushButton(QStringLiteral("表示(&D)"), indexTab);
  indexLayout->addWidget(prompt);
  indexLayout->addWidget(keywordField_);
  indexLayout->addWidget(keywordList_);
  indexLayout->addWidget(display, 0, Qt::AlignRight);
  navigation_->addTab(indexTab, QStringLiteral("キーワード(&N)"));

  page_ = new HelpPage(splitter);
  splitter->addWidget(navigation_);
  splitter->addWidget(page_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({240, 560});
  setCentralWidget(splitter);

  connect(back_, &QAction::triggered, page_, &QTextBrowser::backward);
  connect(forward_, &QAction::triggered, page_, &QTextBrowser::forward);
  connect(page_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
  connect(page_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
  connect(page_, &QTextBrowser::sourceChanged, this, &HelpViewer::followPageInContents);
  connect(contentsTree_, &QTreeWidget::itemClicked, this, &HelpViewer::openContentsItem);
  connect(contentsTree_, &QTreeWidget::itemActivated, this, &HelpViewer::openContentsItem);
  connect(keywordField_, &QLineEdit::textEdited, this, &HelpViewer::selectKeyword);
  connect(keywordField_, &QLineEdit::returnPressed, this,
          [this] { openKeyword(keywordList_->currentItem()); });
  connect(keywordList_, &QListWidget::itemActivated, this, &HelpViewer::openKeyword);
  connect(display, &QPushButton::clicked, this, [this] { openKeyword(keywordList_->currentItem()); });

  QString error;
  book_ = HelpBook::open(helpFile_, sha256, &error);
  if (!book_) {
    setWindowTitle(QStringLiteral("ヘルプ - %1").arg(QFileInfo(helpFile_).fileName()));
    navigation_->setEnabled(false);
    page_->showNotice(QStringLiteral("ヘルプを表示できません"), error);
    return;
  }
  page_->setBook(book_.get());
  setWindowTitle(book_->title().isEmpty() ? QFileInfo(helpFile_).completeBaseName() : book_->title());
  buildContents();
  buildIndex();
}

HelpViewer::~HelpViewer() {
  // The page pane asks the book for pictures until it goes; it must go first.
  page_->setBook(nullptr);
}

void HelpViewer::buildContents() { addContents(nullptr, contentsTree_, book_->contents(), *book_); }

void HelpViewer::buildIndex() { addKeywords(keywordList_, book_->index(), 0); }

void HelpViewer::showContents() {
  navigation_->setCurrentWidget(contentsTree_);
  if (book_) showPage(book_->defaultPage());
}

void HelpViewer::showTopic(int topic) {
  if (!book_) return;  // the notice of the unreadable file stays
  const QString target = book_->topicPage(static_cast<quint32>(topic));
  if (target.isEmpty()) {
    page_->showNotice(
        QStringLiteral("トピックが見つかりません"),
        QStringLiteral("このヘルプ ファイルには、トピック番号 %1 のページがありません。").arg(topic));
    return;
  }
  showPage(target);
}

void HelpViewer::showPage(const QString& reference) {
  if (!book_) return;
  const QString path = HelpBook::archivePath(reference);
  const QString stored = book_->archive().find(path);
  if (stored.isEmpty()) {
    page_->showNotice(
        QStringLiteral("ページが見つかりません"),
        QStringLiteral("ヘルプ ファイルに「%1」はありません。").arg(withoutFragment(reference)));
    return;
  }
  QUrl address = HelpPage::addressOf(stored);
  if (const qsizetype hash = reference.indexOf(QLatin1Char('#')); hash >= 0)
    address.setFragment(reference.mid(hash + 1));
  page_->setSource(address);
}

QString HelpViewer::currentPage() const {
  if (!book_ || page_->showsNotice()) return {};
  return book_->archive().find(page_->source().path());
}

void HelpViewer::openContentsItem(QTreeWidgetItem* item) {
  if (!item) return;
  const QString path = item->data(0, kPathRole).toString();
  if (!path.isEmpty()) showPage(path);
}

void HelpViewer::followPageInContents(const QUrl& shown) {
  // The pane announces the new address before source() gives it.
  if (!book_ || shown.scheme() != HelpPage::addressOf(QString()).scheme()) return;
  const QString current = book_->archive().find(shown.path());
  if (current.isEmpty()) return;
  for (QTreeWidgetItemIterator it(contentsTree_); *it; ++it) {
    if ((*it)->data(0, kPathRole).toString() != current) continue;
    for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent()) up->setExpanded(true);
    contentsTree_->setCurrentItem(*it);
    return;
  }
}

void HelpViewer::selectKeyword(const QString& typed) {
  const QString wanted = typed.trimmed();
  if (wanted.isEmpty()) return;
  // As in a printed index: the first keyword that starts with what is typed, else the
  // first that contains it.
  QListWidgetItem* containing = nullptr;
  for (int i = 0; i < keywordList_->count(); ++i) {
    QListWidgetItem* item = keywordList_->item(i);
    const QString keyword = item->data(kKeywordRole).toString();
    if (keyword.startsWith(wanted, Qt::CaseInsensitive)) {
      keywordList_->setCurrentItem(item);
      keywordList_->scrollToItem(item, QAbstractItemView::PositionAtTop);
      return;
    }
    if (!containing && keyword.contains(wanted, Qt::CaseInsensitive)) containing = item;
  }
  if (containing) {
    keywordList_->setCurrentItem(containing);
    keywordList_->scrollToItem(containing, QAbstractItemView::PositionAtTop);
  }
}

void HelpViewer::showKeyword(const QString& typed) {
  navigation_->setCurrentWidget(keywordList_->parentWidget());
  keywordField_->setText(typed);
  selectKeyword(typed);
  openKeyword(keywordList_->currentItem());
}

void HelpViewer::openKeyword(QListWidgetItem* item) {
  if (!item) return;
  const QStringList locals = item->data(kLocalsRole).toStringList();
  if (!locals.isEmpty()) showPage(locals.first());
}

}  // namespace tallowen
