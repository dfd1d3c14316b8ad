#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "config/frmConfig.h"
#include "app/FirstStart.h"
#include "app/Form1.h"
#include "recording/Profiles.h"
#include "recording/RecordingPlan.h"
#include "settings/modINI.h"
#include "support/FakeSeams.h"
#include "support/Wait.h"
#include "support/Widgets.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

QStringList listed(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

QByteArray settingsBytes() {
  QFile f(SettingsFilePath());
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QLineEdit* folderEdit(const QWidget* dialog) { return find<QLineEdit>(dialog, "Text1"); }
QComboBox* qualityBox(const QWidget* dialog) { return find<QComboBox>(dialog, "Combo1"); }
QPushButton* okButton(const QWidget* dialog) { return find<QPushButton>(dialog, "Command1"); }
QPushButton* browseButton(const QWidget* dialog) { return find<QPushButton>(dialog, "Command2"); }
QPushButton* cancelButton(const QWidget* dialog) { return find<QPushButton>(dialog, "Command3"); }

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QFile::remove(SettingsFilePath());
    ASSERT_TRUE(dir_.isValid());
  }
  void TearDown() override { QFile::remove(SettingsFilePath()); }

  std::unique_ptr<frmConfig> loaded() { return std::make_unique<frmConfig>(sys_.seams(), sys_.settings); }
  void ok(frmConfig& dialog, const QString& folder) {
    folderEdit(&dialog)->setText(folder);
    okButton(&dialog)->click();
  }
  QString readFolder() { return ReadSetting(QStringLiteral("SaveTo"), QStringLiteral("Path")); }

  QTemporaryDir dir_;
  FakeSystem sys_;
};

TEST_F(ConfigTest, DialogHasItsControlsInPlace) {
  auto dialog = loaded();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Tallowen - 設定変更"));
  EXPECT_EQ(dialog->size(), QSize(480, 119));
  EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
  EXPECT_FALSE(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(folderEdit(dialog.get())->geometry(), QRect(8, 24, 401, 18));
  EXPECT_EQ(browseButton(dialog.get())->text(), QStringLiteral("参照"));
  EXPECT_EQ(qualityBox(dialog.get())->geometry(), QRect(8, 64, 465, 20));
  EXPECT_TRUE(qualityBox(dialog.get())->isEditable());
  EXPECT_EQ(okButton(dialog.get())->text(), QStringLiteral("OK"));
  EXPECT_EQ(cancelButton(dialog.get())->text(), QStringLiteral("キャンセル"));
  EXPECT_EQ(find<QLabel>(dialog.get(), "Label1")->text(), QStringLiteral("保存場所"));
  EXPECT_EQ(find<QLabel>(dialog.get(), "Label2")->text(), QStringLiteral("録音品質"));
  // Tab order: folder, quality, OK, browse, cancel.
  dialog->show();
  QApplication::setActiveWindow(dialog.get());
  folderEdit(dialog.get())->setFocus();
  for (QWidget* next : std::initializer_list<QWidget*>{qualityBox(dialog.get()), okButton(dialog.get()),
                                                       browseButton(dialog.get()), cancelButton(dialog.get())}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focused = QApplication::focusWidget();
    EXPECT_TRUE(focused == next || next->isAncestorOf(focused)) << next->objectName().toStdString();
  }

  dialog->show();
  folderEdit(dialog.get())->setFocus();
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  QTest::keyClick(folderEdit(dialog.get()), Qt::Key_Return);
  EXPECT_TRUE(dialog->isVisible()) << "neither Esc nor Enter closes it";
  EXPECT_TRUE(settingsBytes().isEmpty()) << "nor stores anything";
}

// Video and screen-capture profiles are left out, as the Windows encoder listed them.
TEST(ConfigProfiles, AudioProfilesOnlyAreListed) {
  for (const char* name : {"Voice A", "VIDEO IN CAPITALS", "Twice"}) EXPECT_TRUE(frmConfig::isListed(QString::fromUtf8(name)));
  for (const char* name : {"Video 1", "my video", "ビデオ高画質", "Screen capture 8"})
    EXPECT_FALSE(frmConfig::isListed(QString::fromUtf8(name))) << name;
}

TEST_F(ConfigTest, LoadingKeepsTheStoredNameAndListsTheQualities) {
  WriteSetting(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("A name no longer offered"));
  auto dialog = loaded();
  QStringList all;
  for (int i = 0; i < ProfileCollection().count(); ++i) all << ProfileCollection().item(i).name;
  EXPECT_EQ(listed(qualityBox(dialog.get())), all);
  EXPECT_EQ(qualityBox(dialog.get())->currentText(), QStringLiteral("A name no longer offered"));
  EXPECT_EQ(folderEdit(dialog.get())->text(), QCoreApplication::applicationDirPath() + QStringLiteral("/Rec"));
  EXPECT_FALSE(QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/Rec")))
      << "not created by loading";
  EXPECT_TRUE(sys_.prompter.messages.empty());

  okButton(dialog.get())->click();
  EXPECT_EQ(ReadSetting(QStringLiteral("Profile"), QStringLiteral("Prof")),
            QStringLiteral("A name no longer offered"));
  QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/Rec")).removeRecursively();
}

// Nothing stored: speech is proposed, and OK records with it, with no question after.
TEST_F(ConfigTest, NothingStoredProposesTheQualityForSpeechAndOkKeepsIt) {
  auto dialog = loaded();
  QComboBox* box = qualityBox(dialog.get());
  EXPECT_EQ(box->count(), ProfileCollection().count());
  EXPECT_EQ(box->currentText(), QStringLiteral("音声 標準 (32 kbps, 22 kHz, モノラル)"));
  EXPECT_EQ(box->currentIndex(), 1) << "chosen in the list, not typed";
  ok(*dialog, dir_.path());
  EXPECT_EQ(ReadSetting(QStringLiteral("Profile"), QStringLiteral("Prof")), box->itemText(1));
  EXPECT_TRUE(PlanRecording(ReadSetting(QStringLiteral("Profile"), QStringLiteral("Prof")), readFolder(), false)
                  .qualityChosen());
}

TEST(ConfigProfiles, SpeechIsProposedInOneChannelWithItsSibilantsAtTheSmallestSize) {
  EXPECT_EQ(ProfileCollection().forSpeech().bitRate, 32000);
  // Whatever the list: mono and 22 kHz at least, the smallest of those.
  const ProfileCollection other({{QStringLiteral("stereo"), 44100, 2, 64000},
                                 {QStringLiteral("narrow"), 16000, 1, 24000},
                                 {QStringLiteral("wide, large"), 44100, 1, 96000},
                                 {QStringLiteral("wide"), 32000, 1, 48000}});
  EXPECT_EQ(other.forSpeech().name, QStringLiteral("wide"));
  // None fits: the first.
  const ProfileCollection music({{QStringLiteral("stereo"), 44100, 2, 64000}, {QStringLiteral("cd"), 44100, 2, 128000}});
  EXPECT_EQ(music.forSpeech().name, QStringLiteral("stereo"));
}

// A click on the box's text opens the list, as a click on its arrow does.
TEST_F(ConfigTest, AClickOnTheQualityTextOpensItsList) {
  auto dialog = loaded();
  dialog->show();
  QComboBox* box = qualityBox(dialog.get());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  QTest::mouseClick(box->lineEdit(), Qt::LeftButton, {}, QPoint(10, box->lineEdit()->height() / 2));
  ASSERT_TRUE(waitUntil([&] { return box->view()->isVisible(); }, 2000)) << "the list did not open";
  box->hidePopup();
  EXPECT_EQ(dialog->focusWidget(), box) << "and the box took the focus";
}

TEST_F(ConfigTest, AMissingRecordingModuleWarnsOpensHelpAndShowsWhatWasLoaded) {
  WriteSetting(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("Voice A"));
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), dir_.path());
  // The module the program loads from its own folder is not there.
  const QString module = QCoreApplication::applicationDirPath() + QStringLiteral("/libtallowen_codec.so");
  const QString away = module + QStringLiteral(".away");
  ASSERT_TRUE(QFile::rename(module, away));
  const auto putBack = qScopeGuard([&] { QFile::rename(away, module); });
  auto dialog = loaded();
  ASSERT_EQ(sys_.prompter.messages.size(), 1u);
  EXPECT_EQ(
      sys_.prompter.messages[0].text,
      QStringLiteral("Windows Media Encoderのインストールがまだ終了していません。しばらくおまちください。\r\n"
                     "この現象に関する情報がヘルプにありますのでご覧ください。"));
  EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Exclamation);
  ASSERT_EQ(sys_.help.calls.size(), 1u);
  EXPECT_EQ(sys_.help.calls[0].owner, dialog.get());
  EXPECT_EQ(sys_.help.calls[0].topic, 1);
  EXPECT_EQ(sys_.help.calls[0].file,
            QCoreApplication::applicationDirPath() + QStringLiteral("/TallowenHelp.chm"));
  EXPECT_EQ(qualityBox(dialog.get())->count(), 0);
  EXPECT_EQ(qualityBox(dialog.get())->currentText(), QStringLiteral("Voice A"));
  EXPECT_EQ(folderEdit(dialog.get())->text(), dir_.path());
}

TEST_F(ConfigTest, OkStoresTheFolderLessOneSeparatorThenTheProfile) {
  const QString voice = dir_.filePath(QStringLiteral("voice"));
  {
    auto dialog = loaded();
    qualityBox(dialog.get())->setEditText(QStringLiteral("typed quality"));
    ok(*dialog, voice + QStringLiteral("/"));
  }
  EXPECT_EQ(readFolder(), voice);
  EXPECT_TRUE(QFileInfo(voice).isDir()) << "the folder is made";
  EXPECT_EQ(ReadSetting(QStringLiteral("Profile"), QStringLiteral("Prof")), QStringLiteral("typed quality"));
  const QByteArray file = settingsBytes();
  EXPECT_LT(file.indexOf("[SaveTo]"), file.indexOf("[Profile]")) << "the folder is written first";

  const struct {
    QString typed, stored;
  } cases[] = {{voice + QStringLiteral("//"), voice + QStringLiteral("/")},
               {QStringLiteral("/"), QStringLiteral("/")},
               {QString(), QString()},
               {voice, voice}};
  for (const auto& c : cases) {
    auto dialog = loaded();
    ok(*dialog, c.typed);
    EXPECT_EQ(readFolder(), c.stored) << c.typed.toStdString();
  }
  // The root keeps its separator, so that it still names the root when loaded again.
  ok(*loaded(), QStringLiteral("/"));
  EXPECT_EQ(folderEdit(loaded().get())->text(), QStringLiteral("/"));

  auto dialog = loaded();
  const QString deep = dir_.filePath(QStringLiteral("missing/deeper"));
  ok(*dialog, deep);
  EXPECT_EQ(readFolder(), deep) << "stored even though it cannot be made";
  EXPECT_FALSE(QFileInfo::exists(deep)) << "one level only";
  EXPECT_TRUE(sys_.prompter.messages.empty()) << "failures are silent";
  EXPECT_FALSE(dialog->isVisible());
}

// A folder is kept only as it reads back: one that would come back cut, or broken at a
// line, is refused with the reason, and nothing is stored.
TEST_F(ConfigTest, AFolderThatCannotBeStoredAsItIsIsRefusedWithItsReason) {
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), dir_.path());
  const QByteArray before = settingsBytes();
  const struct {
    QString folder;
    QString reason;
  } cases[] = {
      {QStringLiteral("/tmp/") + QString(340, QChar(0x97f3)), QStringLiteral("長すぎて")},
      {dir_.filePath(QStringLiteral("one\ntwo")), QStringLiteral("改行")},
  };
  for (const auto& c : cases) {
    auto dialog = loaded();
    dialog->show();
    sys_.prompter.messages.clear();
    ok(*dialog, c.folder);
    ASSERT_EQ(sys_.prompter.messages.size(), 1u);
    EXPECT_TRUE(sys_.prompter.messages[0].text.contains(c.reason)) << sys_.prompter.messages[0].text.toStdString();
    EXPECT_EQ(sys_.prompter.messages[0].icon, Prompter::Icon::Exclamation);
    EXPECT_TRUE(dialog->isVisible()) << "the dialog stays for another choice";
    EXPECT_EQ(settingsBytes(), before);
  }
  // A folder just short enough is kept whole.
  const QString longest = QStringLiteral("/tmp/") + QString(339, QChar(0x97f3));
  ok(*loaded(), longest);
  EXPECT_EQ(readFolder(), longest);
}

TEST_F(ConfigTest, CancelAndTheCloseBoxStoreNothing) {
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), dir_.path());
  const QByteArray before = settingsBytes();
  for (bool closeBox : {false, true}) {
    auto dialog = loaded();
    dialog->show();
    folderEdit(dialog.get())->setText(QStringLiteral("/elsewhere"));
    qualityBox(dialog.get())->setEditText(QStringLiteral("Twice"));
    if (closeBox)
      dialog->close();
    else
      cancelButton(dialog.get())->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(settingsBytes(), before);
  }
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/elsewhere")));
}

TEST_F(ConfigTest, BrowseReplacesTheFolderUnlessCancelled) {
  auto dialog = loaded();
  folderEdit(dialog.get())->setText(QStringLiteral("/typed"));
  browseButton(dialog.get())->click();
  ASSERT_EQ(sys_.prompter.folderRequests.size(), 1u);
  EXPECT_EQ(sys_.prompter.folderRequests[0].title, QStringLiteral("フォルダを指定"));
  EXPECT_EQ(sys_.prompter.folderRequests[0].owner, dialog.get());
  EXPECT_EQ(folderEdit(dialog.get())->text(), QStringLiteral("/typed"));
  sys_.prompter.folderAnswer = dir_.path();
  browseButton(dialog.get())->click();
  EXPECT_EQ(folderEdit(dialog.get())->text(), dir_.path());
}

TEST_F(ConfigTest, BrowseStartsOnTheDesktopOrElseInTheHomeFolder) {
  QTemporaryDir home;
  const QByteArray wasHome = qgetenv("HOME");
  const QByteArray wasConfig = qgetenv("XDG_CONFIG_HOME");
  const auto restore = qScopeGuard([&] {
    qputenv("HOME", wasHome);
    if (wasConfig.isNull())
      qunsetenv("XDG_CONFIG_HOME");
    else
      qputenv("XDG_CONFIG_HOME", wasConfig);
  });
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toUtf8());
  auto browsedFrom = [&] {
    auto dialog = loaded();
    folderEdit(dialog.get())->setText(dir_.path());
    browseButton(dialog.get())->click();
    return sys_.prompter.folderRequests.empty() ? QString() : sys_.prompter.folderRequests.back().start;
  };

  EXPECT_EQ(browsedFrom(), home.path()) << "no desktop folder";
  ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("Desktop")));
  EXPECT_EQ(browsedFrom(), home.filePath(QStringLiteral("Desktop")));
}

TEST_F(ConfigTest, MainWindowKeepsOneDialogAndWhatWasTypedInIt) {
  QStandardPaths::setTestModeEnabled(true);
  MarkStarted();
  Form1 form(sys_.seams(), sys_.settings);
  QPushButton* settings = find<QPushButton>(&form, "Command1");
  settings->click();
  frmConfig* dialog = openWindow<frmConfig>("frmConfig");
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(dialog->isModal());
  folderEdit(dialog)->setText(QStringLiteral("/half typed"));
  settings->click();
  EXPECT_EQ(openWindow<frmConfig>("frmConfig"), dialog);
  EXPECT_EQ(folderEdit(dialog)->text(), QStringLiteral("/half typed"));
  cancelButton(dialog)->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(openWindow<frmConfig>("frmConfig"));
  settings->click();
  EXPECT_NE(folderEdit(openWindow<frmConfig>("frmConfig"))->text(), QStringLiteral("/half typed")) << "loaded afresh";
  openWindow<frmConfig>("frmConfig")->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
