#pragma once
// xdotool on the test screen. It reads window names and types text in its own locale,
// and the suite runs in the C locale too (or a Japanese one that was never generated):
// there, a Japanese title never matches and Japanese text is typed as bytes.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace tallowen::test {

inline QString xdotool(const QStringList& arguments, int timeoutMs = 10000) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral("xdotool"), arguments);
  if (!p.waitForFinished(timeoutMs)) p.kill();
  p.waitForFinished();
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

}  // namespace tallowen::test
