// Where the program's own files are, in a copy run from its folder and in an installed one;
// where setting.ini lives: beside the program while its folder is writable and it is not
// installed, in the user's configuration folder otherwise, and a word to the user when
// neither can keep it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <unistd.h>

#include "platform/ApplicationFolder.h"
#include "settings/Settings.h"
#include "settings/modINI.h"

using namespace tallowen;

namespace {

TEST(ProgramFiles, ACopyRunFromItsFolderHasEverythingBesideItsExecutable) {
  for (const char* folder : {"/home/u/src/tallowen/build", "/home/u/tallowen", "/home/u/mylib/tallowen",
                             "/usr/lib/tallowen/old", "/"}) {
    const ProgramFiles files = ProgramFilesFor(QString::fromUtf8(folder));
    EXPECT_EQ(files.programFolder, QString::fromUtf8(folder));
    EXPECT_EQ(files.dataFolder, QString::fromUtf8(folder));
    EXPECT_FALSE(files.installed) << folder;
  }
  EXPECT_EQ(ProgramFilesFor(QString()).programFolder, QString());
}

TEST(ProgramFiles, AnInstalledCopyFindsItsDataUnderTheSamePrefix) {
  const ProgramFiles usr = ProgramFilesFor(QStringLiteral("/usr/lib/tallowen"));
  EXPECT_EQ(usr.programFolder, QStringLiteral("/usr/lib/tallowen"));
  EXPECT_EQ(usr.dataFolder, QStringLiteral("/usr/share/tallowen"));
  EXPECT_TRUE(usr.installed);
  EXPECT_EQ(ProgramFilesFor(QStringLiteral("/usr/local/lib/tallowen/")).dataFolder,
            QStringLiteral("/usr/local/share/tallowen"));
  // A package unpacked into a folder of its own, as the package test does.
  const ProgramFiles unpacked = ProgramFilesFor(QStringLiteral("/tmp/p.1/root/usr/lib/tallowen"));
  EXPECT_EQ(unpacked.dataFolder, QStringLiteral("/tmp/p.1/root/usr/share/tallowen"));
  EXPECT_TRUE(unpacked.installed);
}

// This test program runs from its build folder, as a copy with everything beside it.
TEST(ProgramFiles, ThisProcessIsTheExecutableTheKernelStarted) {
  const QString folder = QCoreApplication::applicationDirPath();
  EXPECT_EQ(ThisProgramFiles().programFolder, folder);
  EXPECT_FALSE(ThisProgramFiles().installed);
  EXPECT_EQ(HelpFilePath(), folder + QStringLiteral("/TallowenHelp.chm"));
  EXPECT_EQ(CodecModulePath(), folder + QStringLiteral("/libtallowen_codec.so"));
  EXPECT_EQ(CompanionPath(), folder + QStringLiteral("/WMEDist"));
}

const SettingsPlaces kPlaces{QStringLiteral("/home/u/Tallowen"), QStringLiteral("/home/u/.config/Tallowen"),
                             QStringLiteral("/home/u/Music")};

TEST(SettingsLocation, WritableProgramFolderKeepsEverythingBesideTheProgram) {
  const auto writable = [](const QString&) { return true; };
  EXPECT_EQ(SettingsFilePathFor(kPlaces, writable), QStringLiteral("/home/u/Tallowen/setting.ini"));
  EXPECT_EQ(DefaultSaveFolderFor(kPlaces, writable), QStringLiteral("/home/u/Tallowen/Rec"));
}

TEST(SettingsLocation, ReadOnlyProgramFolderMovesToTheUser) {
  const auto writable = [](const QString& folder) { return folder != QStringLiteral("/home/u/Tallowen"); };
  EXPECT_EQ(SettingsFilePathFor(kPlaces, writable), QStringLiteral("/home/u/.config/Tallowen/setting.ini"));
  EXPECT_EQ(DefaultSaveFolderFor(kPlaces, writable), QStringLiteral("/home/u/Music/Tallowen"));
  SettingsPlaces noMusic = kPlaces;
  noMusic.musicFolder.clear();
  EXPECT_EQ(DefaultSaveFolderFor(noMusic, writable), QDir::homePath() + QStringLiteral("/Tallowen"));
}

// The superuser may write into /usr/lib/tallowen; one user's settings still do not go there.
TEST(SettingsLocation, AnInstalledCopyKeepsEverythingWithTheUser) {
  SettingsPlaces installed = kPlaces;
  installed.applicationFolder.clear();
  const auto writable = [](const QString&) { return true; };
  EXPECT_EQ(SettingsFilePathFor(installed, writable), QStringLiteral("/home/u/.config/Tallowen/setting.ini"));
  EXPECT_EQ(DefaultSaveFolderFor(installed, writable), QStringLiteral("/home/u/Music/Tallowen"));
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
  Settings settings([&](const QString& where) { reports.push_back(where); });

  settings.setSaveFolder(QStringLiteral("/tmp"));
  EXPECT_EQ(ReadSetting(QStringLiteral("SaveTo"), QStringLiteral("Path")), QStringLiteral("/tmp"));
  EXPECT_TRUE(reports.empty());

  // A folder where the file should be: nothing can be written there, and what was written
  // holds for the run all the same.
  QFile::remove(path);
  ASSERT_TRUE(QDir().mkdir(path));
  settings.setSaveFolder(QStringLiteral("/a"));
  settings.setQuality(QStringLiteral("b"));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], path);
  EXPECT_EQ(settings.saveFolder().value, QStringLiteral("/a"));
  EXPECT_EQ(settings.quality(), QStringLiteral("b"));
  QDir().rmdir(path);
}

}  // namespace
