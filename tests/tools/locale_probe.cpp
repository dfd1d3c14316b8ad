// Prints what the program makes of the machine's locale: the settings file's code set and
// bytes, a recording's name, Qt's Japanese buttons, a Japanese file name. The locale test
// runs it under several LANG values and expects the same lines each time.
//   locale_probe FOLDER
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include "platform/ApplicationFolder.h"
#include "platform/LocaleCodec.h"
#include "recording/Profiles.h"
#include "recording/RecordingName.h"
#include "settings/ProfileFile.h"

using namespace tallowen;

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc != 2) return 2;
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  QTextStream out(stdout);
  const LocaleCodec codec = LocaleCodec::system();
  out << "codeset " << codec.codeset() << '\n';

  const QString ini = folder.filePath(QStringLiteral("setting.ini"));
  const QString value = QStringLiteral("/home/録音/声");
  const bool written = WriteProfileString(ini, QStringLiteral("SaveTo"), QStringLiteral("Path"), value, codec);
  QFile file(ini);
  file.open(QIODevice::ReadOnly);
  out << "written " << written << " bytes " << file.readAll().toHex() << '\n';
  out << "read back " << (ReadProfileString(ini, QStringLiteral("SaveTo"), QStringLiteral("Path"), codec) == value)
      << '\n';

  out << "recording " << RecordingFileName(QDateTime(QDate(2002, 4, 3), QTime(9, 5, 12))) << ' '
      << ElapsedText(3661'000) << '\n';
  out << "profile " << BuiltInProfiles().front().name << '\n';
  out << "translation " << LoadQtTranslation() << ' ' << QCoreApplication::translate("QPlatformTheme", "&Yes")
      << '\n';

  const QString japanese = folder.filePath(QStringLiteral("2002-04-03_09-05 会議.wma"));
  QFile named(japanese);
  const bool made = named.open(QIODevice::WriteOnly);
  named.close();
  out << "file name " << made << ' ' << folder.entryList({QStringLiteral("*.wma")}).join(QLatin1Char('|'))
      << ' ' << QFile::encodeName(japanese).endsWith("\xe4\xbc\x9a\xe8\xad\xb0.wma") << '\n';
  return 0;
}
