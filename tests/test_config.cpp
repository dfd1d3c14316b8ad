#include <gtest/gtest.h>

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
#include "settings/modINI.h"
#include "support/FakeSeams.h"

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

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QFile::remove(SettingsFilePath());
    ASSERT_TRUE(dir_.isValid());
    std::vector<Profile> profiles;
    for (const char* name : {"Voice A", "Video 1", "my video", "ビデオ高画質", "Screen capture 8",
                             "VIDEO IN CAPITALS", "Twice", "Twice"})
      profiles.push_back({QString::fromUtf8(name), 22050, 1, 32000});
    sys_.encoders.offered = profiles;
  }
  void TearDown() override { QFile::remove(SettingsFilePath()); }

  std::unique_ptr<frmConfig> loaded() { return std::make_unique<frmConfig>(sys_.seams()); }
  void ok(frmConfig& dialog, const QString& folder) {
    dialog.Text1->setText(folder);
    dialog.Command1->click();
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
  EXPECT_EQ(dialog->Text1->geometry(), QRect(8, 24, 401, 18));
  EXPECT_EQ(dialog->Command2->text(), QStringLiteral("参照"));
  EXPECT_EQ(dialog->Combo1->geometry(), QRect(8, 64, 465, 20));
  EXPECT_TRUE(dialog->Combo1->isEditable());
  EXPECT_EQ(dialog->Command1->text(), QStringLiteral("OK"));
  EXPECT_EQ(dialog->Command3->text(), QStringLiteral("キャンセル"));
  EXPECT_EQ(dialog->Label1->text(), QStringLiteral("保存場所"));
  EXPECT_EQ(dialog->Label2->text(), QStringLiteral("録音品質"));
  // Tab order: folder, quality, OK, browse, cancel.
  dialog->show();
  QApplication::setActiveWindow(dialog.get());
  dialog->Text1->setFocus();
  for (QWidget* next : std::initializer_list<QWidget*>{dialog->Combo1, dialog->Command1, dialog->Command2,
                                                       dialog->Command3}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focused = QApplication::focusWidget();
    EXPECT_TRUE(focused == next || next->isAncestorOf(focused)) << next->objectName().toStdString();
  }

  dialog->show();
  dialog->Text1->setFocus();
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  QTest::keyClick(dialog->Text1, Qt::Key_Return);
  EXPECT_TRUE(dialog->isVisible()) << "neither Esc nor Enter closes it";
  EXPECT_TRUE(settingsBytes().isEmpty()) << "nor stores anything";
}

TEST_F(ConfigTest, LoadingKeepsTheStoredNameAndListsAudioProfilesOnly) {
  WriteSetting(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("A name no longer offered"));
  auto dialog = loaded();
  EXPECT_EQ(listed(dialog->Combo1), (QStringList{"Voice A", "VIDEO IN CAPITALS", "Twice", "Twice"}));
  EXPECT_EQ(dialog->Combo1->currentText(), QStringLiteral("A name no longer offered"));
  EXPECT_EQ(dialog->Text1->text(), QCoreApplication::applicationDirPath() + QStringLiteral("/Rec"));
  EXPECT_FALSE(QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/Rec")))
      << "not created by loading";
  EXPECT_TRUE(sys_.prompter.messages.empty());

  dialog->Command1->click();
  EXPECT_EQ(ReadSetting(QStringLiteral("Profile"), QStringLiteral("Prof")),
            QStringLiteral("A name no longer offered"));
  QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/Rec")).removeRecursively();
}

TEST_F(ConfigTest, BuiltInProfilesAreAllListed) {
  sys_.encoders.offered.reset();
  auto dialog = loaded();
  EXPECT_EQ(dialog->Combo1->count(), ProfileCollection().count());
  EXPECT_TRUE(dialog->Combo1->currentText().isEmpty()) << "nothing stored, nothing chosen";
}

TEST_F(ConfigTest, EncoderFailureWarnsOpensHelpAndShowsWhatWasLoaded) {
  WriteSetting(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("Voice A"));
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), dir_.path());
  sys_.encoders.failure = QStringLiteral("no encoder");
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
  EXPECT_EQ(dialog->Combo1->count(), 0);
  EXPECT_EQ(dialog->Combo1->currentText(), QStringLiteral("Voice A"));
  EXPECT_EQ(dialog->Text1->text(), dir_.path());
}

TEST_F(ConfigTest, OkStoresTheFolderLessOneSeparatorThenTheProfile) {
  const QString voice = dir_.filePath(QStringLiteral("voice"));
  {
    auto dialog = loaded();
    dialog->Combo1->setEditText(QStringLiteral("typed quality"));
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
  EXPECT_EQ(loaded()->Text1->text(), QStringLiteral("/"));

  auto dialog = loaded();
  const QString deep = dir_.filePath(QStringLiteral("missing/deeper"));
  ok(*dialog, deep);
  EXPECT_EQ(readFolder(), deep) << "stored even though it cannot be made";
  EXPECT_FALSE(QFileInfo::exists(deep)) << "one level only";
  EXPECT_TRUE(sys_.prompter.messages.empty()) << "failures are silent";
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(ConfigTest, CancelAndTheCloseBoxStoreNothing) {
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), dir_.path());
  const QByteArray before = settingsBytes();
  for (bool closeBox : {false, true}) {
    auto dialog = loaded();
    dialog->show();
    dialog->Text1->setText(QStringLiteral("/elsewhere"));
    dialog->Combo1->setEditText(QStringLiteral("Twice"));
    if (closeBox)
      dialog->close();
    else
      dialog->Command3->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(settingsBytes(), before);
  }
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/elsewhere")));
}

TEST_F(ConfigTest, BrowseReplacesTheFolderUnlessCancelled) {
  auto dialog = loaded();
  dialog->Text1->setText(QStringLiteral("/typed"));
  dialog->Command2->click();
  ASSERT_EQ(sys_.prompter.folderRequests.size(), 1u);
  EXPECT_EQ(sys_.prompter.folderRequests[0].title, QStringLiteral("フォルダを指定"));
  EXPECT_EQ(sys_.prompter.folderRequests[0].owner, dialog.get());
  EXPECT_EQ(dialog->Text1->text(), QStringLiteral("/typed"));
  sys_.prompter.folderAnswer = dir_.path();
  dialog->Command2->click();
  EXPECT_EQ(dialog->Text1->text(), dir_.path());
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
    dialog->Text1->setText(dir_.path());
    dialog->Command2->click();
    return sys_.prompter.folderRequests.empty() ? QString() : sys_.prompter.folderRequests.back().start;
  };

  EXPECT_EQ(browsedFrom(), home.path()) << "no desktop folder";
  ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("Desktop")));
  EXPECT_EQ(browsedFrom(), home.filePath(QStringLiteral("Desktop")));
}

TEST_F(ConfigTest, MainWindowKeepsOneDialogAndWhatWasTypedInIt) {
  QStandardPaths::setTestModeEnabled(true);
  MarkStarted();
  Form1 form(sys_.seams());
  form.Command1->click();
  frmConfig* dialog = form.configWindow();
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(dialog->isModal());
  dialog->Text1->setText(QStringLiteral("/half typed"));
  form.Command1->click();
  EXPECT_EQ(form.configWindow(), dialog);
  EXPECT_EQ(dialog->Text1->text(), QStringLiteral("/half typed"));
  dialog->Command3->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(form.configWindow());
  form.Command1->click();
  EXPECT_NE(form.configWindow()->Text1->text(), QStringLiteral("/half typed")) << "loaded afresh";
  form.configWindow()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
