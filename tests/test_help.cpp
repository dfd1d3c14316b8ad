#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QtEndian>
#include <functional>
#include <tuple>

#include "help/BuiltHelpFile.h"
#include "help/HTMLHelp.h"
#include "help/HelpBook.h"
#include "help/HelpPage.h"
#include "help/HelpViewer.h"
#include "help/Sitemap.h"
#include "platform/ToolWindow.h"
#include "support/Wait.h"
#include "support/Widgets.h"

using namespace tallowen;
using namespace tallowen::test;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

const QString kHelpFile = QStringLiteral(HELP_FILE);

void forEachEntry(const std::vector<SitemapEntry>& entries,
                  const std::function<void(const SitemapEntry&)>& visit) {
  for (const SitemapEntry& e : entries) {
    visit(e);
    forEachEntry(e.children, visit);
  }
}

std::unique_ptr<HelpBook> openBuiltBook() {
  QString error;
  auto book = HelpBook::open(kHelpFile, BuiltHelpFile(), &error);
  EXPECT_TRUE(book) << error.toStdString();
  return book;
}

QByteArray builtBytes() {
  QFile file(kHelpFile);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  return file.readAll();
}

QString writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  EXPECT_EQ(file.write(bytes), bytes.size());
  return path;
}

// The built file with one byte changed inside its LZX-compressed pages, found through
// chmlib's own listing: the header and directory stay intact, so chmlib would open it.
QByteArray withCompressedByteChanged() {
  QByteArray bytes = builtBytes();
  QProcess tool;
  tool.start(QStringLiteral("enum_chmLib"), {kHelpFile});
  EXPECT_TRUE(tool.waitForFinished(10000)) << "enum_chmLib (libchm-bin) did not run";
  static const QRegularExpression line(
      QStringLiteral(R"(^\s*0\s+(\d+)\s+(\d+)\s+.*::DataSpace/Storage/MSCompressed/Content\s*$)"),
      QRegularExpression::MultilineOption);
  const auto match = line.match(QString::fromUtf8(tool.readAllStandardOutput()));
  EXPECT_TRUE(match.hasMatch());
  if (!match.hasMatch() || bytes.size() < 0x60) return {};
  // Offsets in section 0 count from where the ITSF header says it starts.
  const qint64 section0 = qFromLittleEndian<qint64>(bytes.constData() + 0x58);
  const qint64 at = section0 + match.captured(1).toLongLong() + match.captured(2).toLongLong() / 2;
  EXPECT_LT(at, bytes.size());
  if (at >= bytes.size()) return {};
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
  return bytes;
}

QString pageText(const HelpBook& book, const QString& page) {
  const auto data = book.archive().read(page);
  return data ? DecodeHelpText(*data, book.languageId()) : QString();
}

// ---- The help file as built -------------------------------------------------------------

TEST(HelpFile, ContentsIndexAndContextTableLeadToPagesOfTheFile) {
  auto book = openBuiltBook();
  ASSERT_TRUE(book);
  EXPECT_EQ(book->title(), QStringLiteral("Tallowen ヘルプ"));
  EXPECT_EQ(book->defaultPage(), QStringLiteral("/index.html"));

  int contentsPages = 0;
  forEachEntry(book->contents(), [&](const SitemapEntry& e) {
    EXPECT_FALSE(e.name.isEmpty());
    for (const QString& local : e.locals) {
      EXPECT_FALSE(book->find(local).isEmpty()) << local.toStdString();
      ++contentsPages;
    }
  });
  EXPECT_GE(contentsPages, 8);

  int keywords = 0;
  forEachEntry(book->index(), [&](const SitemapEntry& e) {
    ++keywords;
    ASSERT_FALSE(e.locals.isEmpty()) << e.name.toStdString();
    for (const QString& local : e.locals) EXPECT_FALSE(book->find(local).isEmpty()) << local.toStdString();
  });
  EXPECT_GE(keywords, 20);

  // chmcmd keeps the [MAP] page under its source's absolute path.
  EXPECT_EQ(book->topicPage(1), QStringLiteral("/cannot_record.html"));
  EXPECT_EQ(book->topicPage(100), QStringLiteral("/index.html"));
  EXPECT_TRUE(book->topicPage(6).isEmpty());
}

// Each cause a failed start names has its page: what the warning's first line said, what
// to check, and keywords that find it.
TEST(HelpFile, EachCauseOfAFailedStartHasItsPageAndItsKeywords) {
  auto book = openBuiltBook();
  ASSERT_TRUE(book);
  QStringList keywordPages;
  forEachEntry(book->index(), [&](const SitemapEntry& e) {
    for (const QString& local : e.locals) keywordPages << book->find(local);
  });
  const std::tuple<int, const char*, std::vector<const char*>> wanted[] = {
      {2, "/no_input.html", {"録音デバイス (マイク) が見つかりません。", "pactl list short sources", ".monitor"}},
      {3, "/sound_server.html", {"音声サーバー (PipeWire または PulseAudio) が応答しません。", "pactl info", "sudo"}},
      {4, "/input_held.html", {"は、ほかのプログラムが使っています。", "pasuspender", "fuser"}},
      {5, "/save_folder.html", {"がなく、作成することもできません。", "にファイルを作成できません。", "df -h"}},
  };
  for (const auto& [topic, page, phrases] : wanted) {
    ASSERT_EQ(book->topicPage(quint32(topic)), QString::fromLatin1(page));
    const QString text = pageText(*book, QString::fromLatin1(page));
    for (const char* phrase : phrases)
      EXPECT_TRUE(text.contains(QString::fromUtf8(phrase))) << page << ": " << phrase;
    EXPECT_TRUE(keywordPages.contains(QString::fromLatin1(page))) << page << " has no keyword";
  }
}

TEST(HelpFile, TopicOneSaysWhatToCheckWhenRecordingCannotStart) {
  auto book = openBuiltBook();
  ASSERT_TRUE(book);
  const QString text = pageText(*book, book->topicPage(1));
  EXPECT_TRUE(text.contains(QStringLiteral("Windows Media Encoderのインストールがまだ終了していません")));
  for (const char* needed : {"pavucontrol", "ミュート", "pactl info", "書き込め", "WMEDist"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(needed))) << needed;
  // A stored quality that names none of the profiles: the message the user then sees on
  // every start, the two ways it comes about, and the way out.
  for (const char* needed : {"録音を始める前に、音質の設定を行います。", "に合うプロファイルがありません",
                             "直接入力", "Windows 版", "setting.ini", "一覧から"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(needed))) << needed;
}

TEST(HelpFile, EveryLinkAndPictureInItsPagesResolvesAndEveryPageIsInTheContents) {
  auto book = openBuiltBook();
  ASSERT_TRUE(book);
  QStringList inContents;
  forEachEntry(book->contents(), [&](const SitemapEntry& e) {
    for (const QString& l : e.locals) inContents << book->find(l);
  });

  static const QRegularExpression reference(QStringLiteral("(?:href|src)\\s*=\\s*\"([^\"]*)\""),
                                            QRegularExpression::CaseInsensitiveOption);
  int pages = 0;
  int links = 0;
  for (const QString& file : book->archive().files()) {
    if (!file.endsWith(QLatin1String(".html"))) continue;
    ++pages;
    EXPECT_TRUE(inContents.contains(file)) << file.toStdString() << " cannot be reached from the contents";
    const QString text = pageText(*book, file);
    ASSERT_FALSE(text.isEmpty()) << file.toStdString();
    for (auto it = reference.globalMatch(text); it.hasNext();) {
      QString target = it.next().captured(1);
      if (target.startsWith(QLatin1Char('#')) || target.contains(QLatin1String("://"))) continue;
      ++links;
      // Relative to the page's own folder.
      const QString folder = file.left(file.lastIndexOf(QLatin1Char('/')) + 1);
      EXPECT_FALSE(book->find(folder + target).isEmpty())
          << file.toStdString() << " -> " << target.toStdString();
    }
  }
  EXPECT_EQ(pages, 18);
  EXPECT_GE(links, 60);
}

TEST(HelpFile, KeywordsLeadToThePagesOnKeysMarksThePlayerAndTheRecordingsWindow) {
  auto book = openBuiltBook();
  ASSERT_TRUE(book);
  // keyword (and sub-keyword) -> page, and what that page must say.
  const std::tuple<const char*, const char*, const char*, std::vector<const char*>> wanted[] = {
      {"キー操作", "メイン画面", "/keys.html", {"録音を始めます", "Esc", "右クリック", "Tab", "スペース", "Enter", "録音(R)", "F10"}},
      {"マーク",
       nullptr,
       "/marks.html",
       {"マーク 1", "Marker Object", "チャプター", "一時停止した位置", "修復"}},
      {"キー操作",
       "再生画面",
       "/player_keys.html",
       {"3 秒戻ります", "10 秒進みます", "Page Down", "3.0 倍", "A-B", "次のマークへ", "目盛り"}},
      {"録音一覧",
       nullptr,
       "/recordings.html",
       {"録音一覧(R)", "F2", "ごみ箱", "フォルダーを開く", "新しいもの", "Ctrl+Z", "Ctrl+C", "フォルダーに表示", "Ctrl+E", "チャプター", "キャンセル"}},
      {"書き出し", nullptr, "/recordings.html", {"MP3", "M4A", "Opus", "FLAC", "WAV"}},
      {"サウンドサーバー", "止まったとき", "/no_sound.html", {"60 秒", "同じファイル", "こはく色", "5 秒"}},
      {"波形", nullptr, "/waveform.html", {"Ctrl", "10 秒", "Page Down", "Shift", "無音", "波形を作っています", "スライダー"}},
      {"キー操作", "波形", "/waveform.html", {"Home", "Esc"}},
  };
  for (const auto& [keyword, sub, page, phrases] : wanted) {
    QString found;
    for (const SitemapEntry& e : book->index()) {
      if (e.name != QString::fromUtf8(keyword)) continue;
      if (!sub) found = book->find(e.locals.value(0));
      for (const SitemapEntry& c : e.children)
        if (sub && c.name == QString::fromUtf8(sub)) found = book->find(c.locals.value(0));
    }
    ASSERT_EQ(found, QString::fromLatin1(page)) << keyword << " " << (sub ? sub : "");
    const QString text = pageText(*book, found);
    for (const char* phrase : phrases)
      EXPECT_TRUE(text.contains(QString::fromUtf8(phrase))) << page << ": " << phrase;
  }
}

TEST(HelpFile, ChmlibsOwnToolListsItAsValid) {
  QProcess tool;
  tool.start(QStringLiteral("enum_chmLib"), {kHelpFile});
  ASSERT_TRUE(tool.waitForFinished(10000)) << "enum_chmLib (libchm-bin) did not run";
  EXPECT_EQ(tool.exitCode(), 0);
  const QString listing = QString::fromUtf8(tool.readAllStandardOutput());
  for (const char* file : {"/#SYSTEM", "/#IVB", "/#STRINGS", "/contents.hhc", "/keywords.hhk",
                           "/cannot_record.html", "/images/record.png"})
    EXPECT_TRUE(listing.contains(QString::fromLatin1(file))) << file;
}

// ---- Reading other help files -----------------------------------------------------------

TEST(Sitemap, NestingKeywordPagesAndLooseHtml) {
  const QString html = QStringLiteral(
      "<HTML><BODY><!-- <UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" "
      "value=\"hidden\"></OBJECT> -->"
      "<OBJECT type=\"text/site properties\"><param name=\"ImageType\" value=\"Folder\"></OBJECT>"
      "<UL>"
      "<LI> <OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"A &amp; B\"><param name=\"Local\" "
      "value=\"a.htm\"></OBJECT>"
      "<UL><LI><OBJECT type=text/sitemap><PARAM NAME=Name VALUE=child><param name='Local' "
      "value='sub/c.htm#x'/></OBJECT></UL>"
      "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"key\"><param name=\"Name\" "
      "value=\"Title 1\">"
      "<param name=\"Local\" value=\"p1.htm\"><param name=\"Name\" value=\"Title 2\"><param name=\"Local\" "
      "value=\"p2.htm\">"
      "</OBJECT>"
      "</UL></BODY></HTML>");
  const auto entries = ParseSitemap(html);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, QStringLiteral("A & B"));
  EXPECT_EQ(entries[0].locals, QStringList{QStringLiteral("a.htm")});
  ASSERT_EQ(entries[0].children.size(), 1u);
  EXPECT_EQ(entries[0].children[0].name, QStringLiteral("child"));
  EXPECT_EQ(entries[0].children[0].locals, QStringList{QStringLiteral("sub/c.htm#x")});
  EXPECT_EQ(entries[1].name, QStringLiteral("key"));
  EXPECT_EQ(entries[1].locals, (QStringList{QStringLiteral("p1.htm"), QStringLiteral("p2.htm")}));
  EXPECT_TRUE(entries[1].children.empty());

  // A list that opens before any entry nests nothing.
  const auto wrapped = ParseSitemap(QStringLiteral(
      "<UL><UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"x\"></OBJECT></UL></UL>"
      "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"y\"></OBJECT>"));
  ASSERT_EQ(wrapped.size(), 2u);
  EXPECT_EQ(wrapped[1].name, QStringLiteral("y"));
}

TEST(Sitemap, TextInTheLanguagesCodePageOrDeclared) {
  const QString japanese = QStringLiteral("録音");
  EXPECT_EQ(DecodeHelpText(japanese.toUtf8(), 0x0409), japanese);
  const QByteArray shiftJis("\x98\x5e\x89\xb9");  // 録音
  EXPECT_EQ(DecodeHelpText(shiftJis, 0x0411), japanese);
  EXPECT_EQ(DecodeHelpText(QByteArray("<meta charset=\"shift_jis\">") + shiftJis, 0x0409),
            QStringLiteral("<meta charset=\"shift_jis\">") + japanese);
}

TEST(HelpBook, LinksBecomeArchivePaths) {
  EXPECT_EQ(HelpBook::archivePath(QStringLiteral("page.html#part")), QStringLiteral("/page.html"));
  EXPECT_EQ(HelpBook::archivePath(QStringLiteral("sub/../a%20b.htm")), QStringLiteral("/a b.htm"));
  EXPECT_EQ(HelpBook::archivePath(QStringLiteral("ms-its:TallowenHelp.chm::/images/stop.png")),
            QStringLiteral("/images/stop.png"));
  EXPECT_EQ(HelpBook::archivePath(QStringLiteral("sub\\page.htm")), QStringLiteral("/sub/page.htm"));
  EXPECT_TRUE(HelpBook::archivePath(QStringLiteral("https://example.org/a.html")).isEmpty());
  EXPECT_TRUE(HelpBook::archivePath(QStringLiteral("#top")).isEmpty());
}

TEST(HelpBook, MissingFilesAndFilesNotAsBuiltAreSaidInWordsBeforeChmlibReadsThem) {
  QTemporaryDir dir;
  QString error;
  EXPECT_FALSE(HelpBook::open(dir.filePath(QStringLiteral("none.chm")), BuiltHelpFile(), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("見つかりません"))) << error.toStdString();

  const QByteArray built = builtBytes();
  const QByteArray changed = withCompressedByteChanged();
  ASSERT_EQ(changed.size(), built.size());
  const std::pair<const char*, QByteArray> damaged[] = {
      {"garbled.chm", QByteArray(4096, 'x')},
      {"cut.chm", built.left(built.size() / 2)},
      {"cut-at-end.chm", built.chopped(1)},
      {"changed.chm", changed},
  };
  for (const auto& [name, bytes] : damaged) {
    const QString path = writeFile(dir.filePath(QString::fromLatin1(name)), bytes);
    error.clear();
    EXPECT_FALSE(HelpBook::open(path, BuiltHelpFile(), &error)) << name;
    // Said by the check, not by chmlib, which says "開けません" or "読めません".
    EXPECT_TRUE(error.contains(QStringLiteral("が壊れています。Tallowen をインストールし直して")))
        << name << ": " << error.toStdString();
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
  }

  // The intact file too, against a digest or a size that is not its own; none is no pass.
  const ExpectedFile asBuilt = BuiltHelpFile();
  const ExpectedFile others[] = {
      {asBuilt.size, QByteArray()},
      {asBuilt.size, QCryptographicHash::hash("x", QCryptographicHash::Sha256)},
      {asBuilt.size + 1, asBuilt.sha256},
      {-1, asBuilt.sha256},
  };
  for (const ExpectedFile& other : others) {
    error.clear();
    EXPECT_FALSE(HelpBook::open(kHelpFile, other, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("壊れています"))) << error.toStdString();
  }
  EXPECT_TRUE(HelpBook::open(kHelpFile, asBuilt, &error)) << error.toStdString();
}

// ---- The viewer, through HTMLHelp -------------------------------------------------------

class HelpViewerTest : public ::testing::Test {
 protected:
  void TearDown() override { DeleteWindowsLeftOpen(); }
  static std::vector<HelpViewer*> viewers() {
    std::vector<HelpViewer*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<HelpViewer*>(w)) found.push_back(v);
    return found;
  }
  // The one viewer open, once it has read (or refused) its file.
  static HelpViewer* onlyViewer() {
    const auto all = viewers();
    EXPECT_EQ(all.size(), 1u);
    if (all.empty()) return nullptr;
    EXPECT_TRUE(waitUntil([&] { return !all.front()->isLoading(); }));
    return all.front();
  }
  static void waitForAll() {
    for (HelpViewer* v : viewers()) EXPECT_TRUE(waitUntil([&] { return !v->isLoading(); }));
  }
  static HelpPage* page(const HelpViewer* viewer) { return find<HelpPage>(viewer, "helpPage"); }
  static QString pageText(const HelpViewer* viewer) { return page(viewer)->toPlainText(); }
  static QAction* action(const HelpViewer* viewer, const char* name) { return find<QAction>(viewer, name); }
  static QTreeWidget* tree(const HelpViewer* viewer) { return find<QTreeWidget>(viewer, "contentsTree"); }
  static QListWidget* keywords(const HelpViewer* viewer) { return find<QListWidget>(viewer, "keywordList"); }
};

TEST_F(HelpViewerTest, ContentsOpenAtTheDefaultPageWithTreeIndexAndPicturesForTheScreensScale) {
  const quintptr handle = ShowHelpContents(nullptr, kHelpFile);
  EXPECT_NE(handle, 0u);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(static_cast<quintptr>(viewer->winId()), handle);
  EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Tallowen ヘルプ"));
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/index.html"));
  EXPECT_TRUE(pageText(viewer).contains(QStringLiteral("メイン画面のボタン")));
  EXPECT_EQ(tree(viewer)->topLevelItemCount(), 3);
  EXPECT_GE(keywords(viewer)->count(), 20);

  // The pictures of the page come out of the same file, drawn for the screen's scale and
  // laid out at the page's size whatever it is.
  const qreal scale = page(viewer)->devicePixelRatio();
  for (const char* name : {"images/record.png", "images/settings.png"}) {
    const QImage picture = qvariant_cast<QImage>(
        page(viewer)->document()->resource(QTextDocument::ImageResource, QUrl(QString::fromLatin1(name))));
    EXPECT_EQ(picture.deviceIndependentSize(), QSizeF(32, 32)) << name;
    EXPECT_EQ(picture.size(), scale > 1 ? QSize(64, 64) : QSize(32, 32)) << name << " at scale " << scale;
  }
}

TEST_F(HelpViewerTest, ItOpensInsideTheScreenShrinkingToFitAndTakesTheKeyboard) {
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  // The main window in the screen's bottom right corner, where 40 pixels on would run off.
  QWidget owner;
  owner.setGeometry(area.right() - 180, area.bottom() - 60, 175, 47);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  ShowHelpContents(&owner, kHelpFile);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  ASSERT_TRUE(QTest::qWaitForWindowActive(viewer));
  EXPECT_TRUE(area.contains(viewer->frameGeometry()))
      << "screen " << area.width() << "x" << area.height() << ", window " << viewer->frameGeometry().width()
      << "x" << viewer->frameGeometry().height() << " at " << viewer->frameGeometry().x() << ","
      << viewer->frameGeometry().y();
  // As large as it was drawn where there is room, else about as large as the room (the
  // frame is guessed before the window has one).
  EXPECT_LE(viewer->width(), 800);
  EXPECT_LE(viewer->height(), 560);
  EXPECT_GE(viewer->frameGeometry().width(), qMin(800, area.width() * 9 / 10));
  EXPECT_GE(viewer->frameGeometry().height(), qMin(560, area.height() * 9 / 10));
  EXPECT_EQ(QApplication::focusWidget(), tree(viewer)) << "the contents take the keyboard";

  // A topic puts the keyboard on the page, so that the arrow keys scroll it.
  ShowHelpTopic(&owner, kHelpFile, 1);
  EXPECT_EQ(QApplication::focusWidget(), page(viewer));
}

TEST_F(HelpViewerTest, EveryControlHasAJapaneseNameForScreenReaders) {
  ShowHelpContents(nullptr, kHelpFile);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  static const QRegularExpression japanese(QStringLiteral("[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]"));
  int controls = 0;
  for (QWidget* w : viewer->findChildren<QWidget*>()) {
    // What the keyboard reaches; the tab bar and the splitter handle speak through Qt's own names.
    if (w->focusPolicy() == Qt::NoFocus || w->inherits("QTabBar") || !w->isVisibleTo(viewer)) continue;
    if (w->parentWidget() && w->parentWidget()->inherits("QAbstractScrollArea") &&
        w->objectName().startsWith(QLatin1String("qt_")))
      continue;
    ++controls;
    EXPECT_TRUE(w->accessibleName().contains(japanese))
        << w->metaObject()->className() << " " << w->objectName().toStdString() << ": "
        << w->accessibleName().toStdString();
  }
  EXPECT_GE(controls, 3);  // the tabs, the tree and the page
  // The keyword tab's, and the tool bar's buttons, which Alt+Left and Alt+Right press.
  for (const char* name : {"keywordField", "keywordList", "displayButton"})
    EXPECT_TRUE(find(viewer, name)->accessibleName().contains(japanese)) << name;
  auto* bar = find<QToolBar>(viewer, "navigationBar");
  for (const char* name : {"backAction", "forwardAction"}) {
    QWidget* button = bar->widgetForAction(action(viewer, name));
    ASSERT_TRUE(button) << name;
    EXPECT_TRUE(button->accessibleName().contains(japanese)) << name;
    EXPECT_TRUE(button->accessibleDescription().contains(japanese)) << name;
  }
  EXPECT_FALSE(find(viewer, "keywordField")->accessibleDescription().isEmpty());
}

TEST_F(HelpViewerTest, TopicOneOpensItsPageAndAskingAgainBringsTheSameWindowForward) {
  auto owner = std::make_unique<QWidget>();
  owner->show();
  const quintptr first = ShowHelpContents(owner.get(), kHelpFile);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  viewer->showMinimized();

  const quintptr second = ShowHelpTopic(owner.get(), kHelpFile, 1);
  EXPECT_EQ(second, first);
  ASSERT_EQ(onlyViewer(), viewer);
  EXPECT_FALSE(viewer->isMinimized());
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/cannot_record.html"));
  EXPECT_TRUE(pageText(viewer).contains(QStringLiteral("録音を開始できないとき")));
  ASSERT_TRUE(tree(viewer)->currentItem());
  EXPECT_EQ(tree(viewer)->currentItem()->text(0), QStringLiteral("録音を開始できないとき"));

  // The window that asked may go; the help stays.
  owner.reset();
  EXPECT_EQ(onlyViewer(), viewer);
  EXPECT_TRUE(viewer->isVisible());
}

TEST_F(HelpViewerTest, WhatIsAskedForWhileTheFileIsReadIsShownOnceItIs) {
  // Asked before the file is read: the last request wins.
  ShowHelpContents(nullptr, kHelpFile);
  ShowHelpTopic(nullptr, kHelpFile, 1);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/cannot_record.html"));
  EXPECT_FALSE(action(viewer, "backAction")->isEnabled()) << "the contents were never shown";
}

TEST_F(HelpViewerTest, AnUnknownTopicNumberIsSaidInTheViewer) {
  EXPECT_NE(ShowHelpTopic(nullptr, kHelpFile, 4242), 0u);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  EXPECT_TRUE(viewer->currentPage().isEmpty());
  const QString text = pageText(viewer);
  EXPECT_TRUE(text.contains(QStringLiteral("4242"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("ありません")));

  ShowHelpTopic(nullptr, kHelpFile, 1);
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/cannot_record.html"));
  ShowHelpTopic(nullptr, kHelpFile, 4242);
  ShowHelpTopic(nullptr, kHelpFile, 1);
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/cannot_record.html"))
      << "the same page again after a notice";
}

TEST_F(HelpViewerTest, AMissingFileIsSaidInItsOwnViewerAndTheCallerGoesOn) {
  QTemporaryDir dir;
  const QString missing = dir.filePath(QStringLiteral("TallowenHelp.chm"));
  EXPECT_NE(ShowHelpContents(nullptr, missing), 0u);
  EXPECT_NE(ShowHelpTopic(nullptr, missing, 1), 0u);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  EXPECT_FALSE(viewer->hasBook());
  EXPECT_FALSE(find(viewer, "navigation")->isEnabled());
  const QString text = pageText(viewer);
  EXPECT_TRUE(text.contains(QStringLiteral("見つかりません"))) << text.toStdString();
  EXPECT_TRUE(text.contains(missing));

  // Another file has a viewer of its own.
  ShowHelpContents(nullptr, kHelpFile);
  EXPECT_EQ(viewers().size(), 2u);
}

TEST_F(HelpViewerTest, ADamagedOrCutCopyIsSaidDamagedInItsViewerAndNeverOpened) {
  QTemporaryDir dir;
  const QByteArray built = builtBytes();
  const QByteArray changed = withCompressedByteChanged();
  ASSERT_EQ(changed.size(), built.size());
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("changed")));
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("cut")));
  const QString copies[] = {
      writeFile(dir.filePath(QStringLiteral("changed/TallowenHelp.chm")), changed),
      writeFile(dir.filePath(QStringLiteral("cut/TallowenHelp.chm")), built.left(built.size() - 4096)),
  };
  for (const QString& copy : copies) {
    EXPECT_NE(ShowHelpContents(nullptr, copy), 0u);
    EXPECT_NE(ShowHelpTopic(nullptr, copy, 1), 0u);
  }
  ASSERT_EQ(viewers().size(), 2u);
  waitForAll();
  for (HelpViewer* viewer : viewers()) {
    EXPECT_FALSE(viewer->hasBook());
    EXPECT_FALSE(find(viewer, "navigation")->isEnabled());
    EXPECT_TRUE(viewer->currentPage().isEmpty());
    const QString text = pageText(viewer);
    EXPECT_TRUE(text.contains(QStringLiteral("ヘルプ ファイル「%1」が壊れています").arg(viewer->helpFile())))
        << text.toStdString();
  }

  // The file as built still opens beside them.
  ShowHelpTopic(nullptr, kHelpFile, 1);
  ASSERT_EQ(viewers().size(), 3u);
  waitForAll();
  for (HelpViewer* viewer : viewers()) {
    if (viewer->helpFile() == kHelpFile) {
      EXPECT_EQ(viewer->currentPage(), QStringLiteral("/cannot_record.html"));
    }
  }
}

// A file of `size` bytes that takes no room: a hole up to its end.
QString sparseFile(const QString& path, qint64 size) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  EXPECT_TRUE(file.resize(size)) << file.errorString().toStdString();
  return path;
}

TEST_F(HelpViewerTest, AHugeFileOfAnotherSizeIsRefusedAtOnceWithoutBeingRead) {
  QTemporaryDir dir;
  const QString huge = sparseFile(dir.filePath(QStringLiteral("TallowenHelp.chm")), 4LL << 30);
  QElapsedTimer clock;
  clock.start();
  ShowHelpContents(nullptr, huge);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  // Reading 4 GB takes many seconds even from a hole.
  EXPECT_LT(clock.elapsed(), 1500);
  EXPECT_TRUE(pageText(viewer).contains(QStringLiteral("が壊れています"))) << pageText(viewer).toStdString();
}

TEST_F(HelpViewerTest, AFileOfTheRightSizeIsCheckedWhileTheWindowThreadGoesOn) {
  // A help file as big as this one would be, with other bytes in it: its checksum takes
  // a while, which the window thread spends on its timers.
  QTemporaryDir dir;
  const qint64 size = 512LL << 20;
  const QString copy = sparseFile(dir.filePath(QStringLiteral("TallowenHelp.chm")), size);
  const ExpectedFile expected{size, QCryptographicHash::hash("other", QCryptographicHash::Sha256)};

  QElapsedTimer clock;
  clock.start();
  std::vector<qint64> ticks{0};
  QTimer timer;
  timer.setInterval(100);
  QObject::connect(&timer, &QTimer::timeout, [&] { ticks.push_back(clock.elapsed()); });
  timer.start();
  auto* viewer = new HelpViewer(copy, expected);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->showContents();
  viewer->show();
  EXPECT_TRUE(viewer->isLoading());
  EXPECT_TRUE(pageText(viewer).contains(QStringLiteral("読み込み中…")));
  EXPECT_TRUE(viewer->windowTitle().contains(QStringLiteral("読み込み中")));
  ASSERT_TRUE(waitUntil([&] { return !viewer->isLoading(); }, 120000));
  const qint64 took = clock.elapsed();
  ticks.push_back(took);
  timer.stop();

  EXPECT_TRUE(pageText(viewer).contains(QStringLiteral("が壊れています"))) << pageText(viewer).toStdString();
  qint64 longestGap = 0;
  for (std::size_t i = 1; i < ticks.size(); ++i) longestGap = qMax(longestGap, ticks[i] - ticks[i - 1]);
  // Checked on the window thread, the check would have been one gap as long as itself.
  ASSERT_GE(ticks.size(), 5u) << "the check took " << took << " ms: too short to tell";
  EXPECT_LT(longestGap, took / 2) << "the timer stopped for " << longestGap << " ms of " << took;
}

TEST_F(HelpViewerTest, ClosingTheWindowWhileItChecksABigFileEndsTheCheck) {
  QTemporaryDir dir;
  const qint64 size = 2LL << 30;
  const QString copy = sparseFile(dir.filePath(QStringLiteral("TallowenHelp.chm")), size);
  auto* viewer = new HelpViewer(copy, {size, QByteArray(32, '\0')});
  viewer->show();
  runFor(200);
  ASSERT_TRUE(viewer->isLoading()) << "2 GB are read in less than 200 ms here: the test needs a bigger file";
  QElapsedTimer clock;
  clock.start();
  delete viewer;
  EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(HelpViewerTest, OnlyWebAndMailLinksLeaveTheViewerAndOthersAreRefusedInThePane) {
  ShowHelpContents(nullptr, kHelpFile);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  HelpPage* pane = page(viewer);
  QList<QUrl> handedOut;
  bool desktopTakesIt = true;
  pane->setLinkOpener([&](const QUrl& url) {
    handedOut << url;
    return desktopTakesIt;
  });
  auto click = [&](const char* link) { emit pane->anchorClicked(QUrl(QString::fromUtf8(link))); };

  for (const char* allowed : {"http://example.org/a.html", "https://example.org/b?c=d#e",
                              "mailto:someone@example.org", "HTTPS://EXAMPLE.ORG/"}) {
    handedOut.clear();
    click(allowed);
    ASSERT_EQ(handedOut.size(), 1) << allowed;
    EXPECT_EQ(handedOut[0], QUrl(QString::fromUtf8(allowed)));
    EXPECT_EQ(viewer->currentPage(), QStringLiteral("/index.html")) << "the page stays";
  }

  handedOut.clear();
  for (const char* refused :
       {"file:///etc/passwd", "smb://server/share/file.txt", "javascript:alert(1)", "ftp://example.org/file",
        "tallowen-unknown:whatever", "FILE:///tmp/x", "chm-notice:/1"}) {
    click(refused);
    EXPECT_TRUE(pane->showsNotice()) << refused;
    const QString text = pane->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("はヘルプから開けません")))
        << refused << ": " << text.toStdString();
    action(viewer, "backAction")->trigger();
    EXPECT_EQ(viewer->currentPage(), QStringLiteral("/index.html")) << refused;
  }
  EXPECT_TRUE(handedOut.isEmpty()) << handedOut.first().toString().toStdString();

  // Links into the file, also in the form other help files use, stay in the viewer.
  click("ms-its:TallowenHelp.chm::/play.html");
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/play.html"));
  EXPECT_TRUE(handedOut.isEmpty());

  // Nothing on the desktop took an allowed link: said too, not left silent.
  desktopTakesIt = false;
  click("https://example.org/");
  EXPECT_EQ(handedOut.size(), 1);
  EXPECT_TRUE(pane->toPlainText().contains(QStringLiteral("開くアプリケーションが見つかりません")));
}

TEST_F(HelpViewerTest, LinksHistoryContentsAndKeywordsMoveBetweenPages) {
  ShowHelpContents(nullptr, kHelpFile);
  HelpViewer* viewer = onlyViewer();
  ASSERT_TRUE(viewer);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
  HelpPage* pane = page(viewer);
  QAction* back = action(viewer, "backAction");
  QAction* forward = action(viewer, "forwardAction");
  EXPECT_FALSE(back->isEnabled());

  emit pane->anchorClicked(pane->source().resolved(QUrl(QStringLiteral("record.html"))));
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/record.html"));
  ASSERT_TRUE(back->isEnabled());
  back->trigger();
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/index.html"));
  ASSERT_TRUE(forward->isEnabled());
  forward->trigger();
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/record.html"));

  QTreeWidget* contents = tree(viewer);
  const auto found = contents->findItems(QStringLiteral("再生する"), Qt::MatchExactly | Qt::MatchRecursive);
  ASSERT_EQ(found.size(), 1);
  contents->scrollToItem(found[0]);
  QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, contents->visualItemRect(found[0]).center());
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/play.html"));

  find<QTabWidget>(viewer, "navigation")->setCurrentIndex(1);
  auto* field = find<QLineEdit>(viewer, "keywordField");
  QListWidget* list = keywords(viewer);
  // Japanese arrives through the input method.
  QInputMethodEvent typed;
  typed.setCommitString(QStringLiteral("ミュ"));
  QApplication::sendEvent(field, &typed);
  ASSERT_TRUE(list->currentItem());
  EXPECT_EQ(list->currentItem()->text(), QStringLiteral("ミュート"));
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/cannot_record.html"));

  // No keyword starts with it: the first that contains it, in the reading's order.
  viewer->showKeyword(QStringLiteral("サーバー"));
  EXPECT_EQ(list->currentItem()->text(), QStringLiteral("音声サーバー"));
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/sound_server.html"));
  viewer->showKeyword(QStringLiteral("レベル"));
  EXPECT_EQ(list->currentItem()->text(), QStringLiteral("レベルメーター")) << "one starts with it";
  EXPECT_EQ(viewer->currentPage(), QStringLiteral("/no_sound.html"));
}

}  // namespace
