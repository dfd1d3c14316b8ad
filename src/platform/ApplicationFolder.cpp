#include "platform/ApplicationFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

namespace tallowen {

namespace {

// packaging/CMakeLists.txt installs into these folders of the prefix.
const char kInstalledProgramFolder[] = "lib/tallowen";
const char kInstalledDataFolder[] = "share/tallowen";

QString fileIn(const QString& folder, const char* name) {
  if (folder.isEmpty()) return QString();
  return folder + QLatin1Char('/') + QLatin1String(name);
}

}  // namespace

ProgramFiles ProgramFilesFor(const QString& executableFolder) {
  if (executableFolder.isEmpty()) return {};
  const QString folder = QDir::cleanPath(executableFolder);
  const QString installedTail = QLatin1Char('/') + QLatin1String(kInstalledProgramFolder);
  if (!folder.endsWith(installedTail)) return {folder, folder, false};
  const QString prefix = folder.chopped(installedTail.size());
  return {folder, prefix + QLatin1Char('/') + QLatin1String(kInstalledDataFolder), true};
}

const ProgramFiles& ThisProgramFiles() {
  // Read once: a package upgrade while the program runs replaces its executable, after
  // which /proc/self/exe no longer leads to a file.
  static const ProgramFiles files = [] {
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return exe.isEmpty() ? ProgramFiles{} : ProgramFilesFor(QFileInfo(exe).path());
  }();
  return files;
}

QString HelpFilePath() { return fileIn(ThisProgramFiles().dataFolder, "TallowenHelp.chm"); }

QString CodecModulePath() { return fileIn(ThisProgramFiles().programFolder, "libtallowen_codec.so"); }

QString CompanionPath() { return fileIn(ThisProgramFiles().programFolder, "WMEDist"); }

bool LoadQtTranslation() {
  static QTranslator translator;
  return translator.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
         QCoreApplication::installTranslator(&translator);
}

}  // namespace tallowen
