#include "platform/ApplicationFolder.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tallowen {

QString ApplicationFolder() { return QCoreApplication::applicationDirPath(); }

QString HelpFilePath() { return ApplicationFolder() + QStringLiteral("/TallowenHelp.chm"); }

bool LoadQtTranslation() {
  static QTranslator translator;
  return translator.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
         QCoreApplication::installTranslator(&translator);
}

}  // namespace tallowen
