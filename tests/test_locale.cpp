#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

using namespace ::testing;

namespace {

// What the program makes of a locale, as the probe prints it.
QString probeUnder(const QString& lang) {
  QTemporaryDir folder;
  QProcess probe;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANGUAGE"}) env.remove(QString::fromLatin1(name));
  if (lang.isEmpty())
    env.remove(QStringLiteral("LANG"));
  else
    env.insert(QStringLiteral("LANG"), lang);
  probe.setProcessEnvironment(env);
  probe.start(QStringLiteral(LOCALE_PROBE), {folder.path()});
  if (!probe.waitForFinished(30000) || probe.exitCode() != 0) return QStringLiteral("probe failed");
  return QString::fromUtf8(probe.readAllStandardOutput());
}

// A fresh Debian has no Japanese locale generated: the program behaves the same whether
// LANG names one that is missing, the C locale with or without UTF-8, or nothing.
TEST(Locale, TheProgramBehavesTheSameWhateverLocaleTheMachineHas) {
  const QString reference = probeUnder(QStringLiteral("C.UTF-8"));
  SCOPED_TRACE(reference.toStdString());
  // Settings in UTF-8, read back whole; Japanese texts and file names intact.
  EXPECT_TRUE(reference.contains(QStringLiteral("codeset UTF-8\n")));
  EXPECT_TRUE(reference.contains(QStringLiteral("written 1 bytes ") +
                                 QString::fromLatin1(QByteArray("[SaveTo]\r\nPath=/home/録音/声\r\n").toHex())));
  EXPECT_TRUE(reference.contains(QStringLiteral("read back 1\n")));
  EXPECT_TRUE(reference.contains(QStringLiteral("recording 2002-04-03_09-05.wma 01:01:01\n")));
  EXPECT_TRUE(reference.contains(QStringLiteral("profile 音声 低音質")));
  EXPECT_TRUE(reference.contains(QStringLiteral("translation 1 はい(&Y)\n")));
  EXPECT_TRUE(reference.contains(QStringLiteral("file name 1 2002-04-03_09-05 会議.wma 1\n")));
  for (const QString& lang : {QStringLiteral("ja_JP.UTF-8"), QStringLiteral("C"), QStringLiteral("POSIX"),
                             QString(), QStringLiteral("en_US.UTF-8")})
    EXPECT_EQ(probeUnder(lang), reference) << "LANG=" << lang.toStdString();
}

}  // namespace
