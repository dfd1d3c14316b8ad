// Where setting.ini lives: beside the program while its folder is writable, in the user's
// configuration folder when it is not, and a word to the user when neither can keep it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <unistd.h>

#include "settings/modINI.h"

using namespace tallowen;

namespace {

const SettingsPlaces kPlaces{QStringLiteral("/opt/tallowen"), QStringLiteral("/home/u/.config/Tallowen"),
                             QStringLiteral("/home/u/Music")};

TEST(SettingsLocation, WritableProgramFolderKeepsEverythingBesideTheProgram) {
  const auto writable = [](const QString&) { return true; };
  EXPECT_EQ(SettingsFilePathFor(kPlaces, writable), QStringLiteral("/opt/tallowen/setting.ini"));
  EXPECT_EQ(DefaultSaveFolderFor(kPlaces, writable), QStringLiteral("/opt/tallowen/Rec"));
}

TEST(SettingsLocation, ReadOnlyProgramFolderMovesToTheUser) {
  const auto writable = [](const QString& folder) { return folder != QStringLiteral("/opt/tallowen"); };
  EXPECT_EQ(SettingsFilePathFor(kPlaces, writable), QStringLiteral("/home/u/.config/Tallowen/setting.ini"));
  EXPECT_EQ(DefaultSaveFolderFor(kPlaces, writable), QStringLiteral("/home/u/Music/Tallowen"));
  SettingsPlaces noMusic = kPlaces;
  noMusic.musicFolder.clear();
  EXPECT_EQ(DefaultSaveFolderFor(noMusic, writable), QDir::homePath() + QStringLiteral("/Tallowen"));
}

TEST(SettingsLocation, RealFoldersFollowTheirPermissions) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  EXPECT_TRUE(FolderWritable(dir.path()));
  EXPECT_FALSE(FolderWritable(dir.filePath(QStringLiteral("missing"))));
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser may write into any folder";
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
  EXPECT_FALSE(FolderWritable(dir.path()));
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The program's own settings in this test's folder: a write that cannot be kept is said once.
TEST(SettingsLocation, AWriteThatCannotBeKeptIsReportedOnce) {
  const QString path = SettingsFilePath();
  ASSERT_EQ(path, QCoreApplication::applicationDirPath() + QStringLiteral("/setting.ini"));
  QFile::remove(path);
  std::vector<QString> reports;
  SetSettingsFailureHandler([&](const QString& where) { reports.push_back(where); });

  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), QStringLiteral("/tmp"));
  EXPECT_EQ(ReadSetting(QStringLiteral("SaveTo"), QStringLiteral("Path")), QStringLiteral("/tmp"));
  EXPECT_TRUE(reports.empty());

  // A folder where the file should be: nothing can be written there.
  QFile::remove(path);
  ASSERT_TRUE(QDir().mkdir(path));
  WriteSetting(QStringLiteral("SaveTo"), QStringLiteral("Path"), QStringLiteral("/a"));
  WriteSetting(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("b"));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], path);
  QDir().rmdir(path);
  SetSettingsFailureHandler(nullptr);
}

}  // namespace
