#include "help/HelpViewer.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
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
#include "help/HelpLog.h"
#include "help/HelpPage.h"
#include "platform/Trace.h"

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

HelpViewer::HelpViewer(const QString& helpFile, const ExpectedFile& expected, QWidget* parent)
    : QMainWindow(parent), helpFile_(QFileInfo(helpFile).absoluteFilePath()) {
  setObjectName(QStringLiteral("helpViewer"));
  // The size it opens at on a screen with room for it; HTMLHelp shrinks it to fit others.
  resize(800, 560);

  auto* toolbar = addToolBar(QStringLiteral("移動"));
  toolbar->setObjectName(QStringLiteral("navigationBar"));
  toolbar->setAccessibleName(QStringLiteral("ページの移動"));
  toolbar->setMovable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  QAction* back = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("戻る"));
  QAction* forward =
      toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("進む"));
  back->setObjectName(QStringLiteral("backAction"));
  forward->setObjectName(QStringLiteral("forwardAction"));
  back->setShortcut(QKeySequence::Back);
  forward->setShortcut(QKeySequence::Forward);
  back->setToolTip(QStringLiteral("前に表示したページに戻ります (%1)")
                       .arg(back->shortcut().toString(QKeySequence::NativeText)));
  forward->setToolTip(QStringLiteral("戻る前のページに進みます (%1)")
                          .arg(forward->shortcut().toString(QKeySequence::NativeText)));
  for (QAction* action : {back, forward}) {
    action->setEnabled(false);
    QWidget* button = toolbar->widgetForAction(action);
    button->setAccessibleName(action->text());
    button->setAccessibleDescription(action->toolTip());
  }

  auto* splitter = new QSplitter(this);
  navigation_ = new QTabWidget(splitter);
  navigation_->setObjectName(QStringLiteral("navigation"));
  navigation_->setAccessibleName(QStringLiteral("目次とキーワード"));
  contentsTree_ = new QTreeWidget;
  contentsTree_->setObjectName(QStringLiteral("contentsTree"));
  contentsTree_->setHeaderHidden(true);
  contentsTree_->setAccessibleName(QStringLiteral("目次"));
  contentsTree_->setAccessibleDescription(
      QStringLiteral("ヘルプのページの一覧です。Enter キーで選んだページを表示します。"));
  navigation_->addTab(contentsTree_, QStringLiteral("目次(&C)"));

  auto* indexTab = new QWidget;
  auto* indexLayout = new QVBoxLayout(indexTab);
  auto* prompt = new QLabel(QStringLiteral("キーワードを入力してください(&W):"), indexTab);
  keywordField_ = new QLineEdit(indexTab);
  keywordField_->setObjectName(QStringLiteral("keywordField"));
  keywordField_->setAccessibleName(QStringLiteral("キーワードの検索"));
  keywordField_->setAccessibleDescription(QStringLiteral(
      "入力した文字で始まるキーワードを一覧から選びます。Enter キーでそのページを表示します。"));
  prompt->setBuddy(keywordField_);
  keywordList_ = new QListWidget(indexTab);
  keywordList_->setObjectName(QStringLiteral("keywordList"));
  keywordList_->setAccessibleName(QStringLiteral("キーワードの一覧"));
  keywordList_->setAccessibleDescription(
      QStringLiteral("Enter キーで選んだキーワードのページを表示します。"));
  auto* display = new QPushButton(QStringLiteral("表示(&D)"), indexTab);
  display->setObjectName(QStringLiteral("displayButton"));
  display->setAccessibleName(QStringLiteral("表示"));
  display->setAccessibleDescription(QStringLiteral("選んだキーワードのページを表示します。"));
  indexLayout->addWidget(prompt);
  indexLayout->addWidget(keywordField_);
  indexLayout->addWidget(keywordList_);
  indexLayout->addWidget(display, 0, Qt::AlignRight);
  navigation_->addTab(indexTab, QStringLiteral("キーワード(&N)"));

  page_ = new HelpPage(splitter);
  page_->setAccessibleName(QStringLiteral("ヘルプのページ"));
  splitter->addWidget(navigation_);
  splitter->addWidget(page_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({240, 560});
  setCentralWidget(splitter);

  connect(back, &QAction::triggered, page_, &QTextBrowser::backward);
  connect(forward, &QAction::triggered, page_, &QTextBrowser::forward);
  connect(page_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  connect(page_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
  connect(page_, &QTextBrowser::sourceChanged, this, &HelpViewer::followPageInContents);
  connect(contentsTree_, &QTreeWidget::itemClicked, this, &HelpViewer::openContentsItem);
  connect(contentsTree_, &QTreeWidget::itemActivated, this, &HelpViewer::openContentsItem);
  connect(keywordField_, &QLineEdit::textEdited, this, &HelpViewer::selectKeyword);
  connect(keywordField_, &QLineEdit::returnPressed, this,
          [this] { openKeyword(keywordList_->currentItem()); });
  connect(keywordList_, &QListWidget::itemActivated, this, &HelpViewer::openKeyword);
  connect(display, &QPushButton::clicked, this, [this] { openKeyword(keywordList_->currentItem()); });

  startLoading(expected);
}

HelpViewer::~HelpViewer() {
  // A check still running gives up at its next block; nothing it found is wanted now.
  stopLoading_ = true;
  if (loader_.joinable()) loader_.join();
  // The page pane asks the book for pictures until it goes; it must go first.
  page_->setBook(nullptr);
}

void HelpViewer::startLoading(const ExpectedFile& expected) {
  loading_ = true;
  setWindowTitle(QStringLiteral("ヘルプ - 読み込み中…"));
  navigation_->setEnabled(false);
  page_->showLoading(QStringLiteral("読み込み中…"));
  page_->setFocus();
  // Checking the file reads all of it, which must not hold this window (or the main
  // window, which shares its thread) for as long as a big file takes.
  loader_ = std::thread([this, path = helpFile_, expected] {
    struct Result {
      std::unique_ptr<HelpBook> book;
      QString error;
    };
    auto result = std::make_shared<Result>();
    result->book = HelpBook::open(path, expected, &result->error, &stopLoading_);
    if (stopLoading_) return;
    // Queued to this window, the result is dropped with it if the window goes first.
    QMetaObject::invokeMethod(
        this, [this, result] { bookLoaded(std::move(result->book), result->error); }, Qt::QueuedConnection);
  });
}

void HelpViewer::bookLoaded(std::unique_ptr<HelpBook> book, const QString& error) {
  loading_ = false;
  if (loader_.joinable()) loader_.join();  // it has nothing left to do
  std::function<void()> pending = std::move(pending_);
  pending_ = nullptr;
  if (!book) {
    qCWarning(lcHelp) << "help file refused:" << error;
    setWindowTitle(QStringLiteral("ヘルプ - %1").arg(QFileInfo(helpFile_).fileName()));
    page_->showNotice(QStringLiteral("ヘルプを表示できません"), error);
    return;
  }
  book_ = std::move(book);
  page_->setBook(book_.get());
  setWindowTitle(book_->title().isEmpty() ? QFileInfo(helpFile_).completeBaseName() : book_->title());
  navigation_->setEnabled(true);
  buildContents();
  buildIndex();
  if (pending) pending();
}

void HelpViewer::whenLoaded(std::function<void()> show) {
  if (loading_)
    pending_ = std::move(show);
  else
    show();
}

void HelpViewer::buildContents() { addContents(nullptr, contentsTree_, book_->contents(), *book_); }

void HelpViewer::buildIndex() { addKeywords(keywordList_, book_->index(), 0); }

void HelpViewer::showContents() {
  whenLoaded([this] {
    if (!book_) return;  // the notice of the unreadable file stays
    navigation_->setCurrentWidget(contentsTree_);
    showPage(book_->defaultPage());
    contentsTree_->setFocus();
  });
}

void HelpViewer::showTopic(int topic) {
  whenLoaded([this, topic] {
    if (!book_) return;
    page_->setFocus();
    const QString target = book_->topicPage(static_cast<quint32>(topic));
    if (target.isEmpty()) {
      page_->showNotice(
          QStringLiteral("トピックが見つかりません"),
          QStringLiteral("このヘルプ ファイルには、トピック番号 %1 のページがありません。").arg(topic));
      return;
    }
    TraceMoment("help-topic", topic);
    showPage(target);
  });
}

void HelpViewer::showPage(const QString& reference) {
  whenLoaded([this, reference] { openPage(reference); });
}

void HelpViewer::openPage(const QString& reference) {
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
  whenLoaded([this, typed] {
    if (!book_) return;
    navigation_->setCurrentWidget(keywordList_->parentWidget());
    keywordField_->setText(typed);
    selectKeyword(typed);
    openKeyword(keywordList_->currentItem());
  });
}

void HelpViewer::openKeyword(QListWidgetItem* item) {
  if (!item) return;
  const QStringList locals = item->data(kLocalsRole).toStringList();
  if (!locals.isEmpty()) showPage(locals.first());
}

}  // namespace tallowen
