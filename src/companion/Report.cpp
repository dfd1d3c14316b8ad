#include "companion/Report.h"

#include <QMessageBox>

namespace tallowen {

CompanionOptions ParseArguments(const QStringList& arguments) {
  CompanionOptions options;
  for (const QString& argument : arguments) {
    const QString a = argument.toUpper();
    if (a == QLatin1String("/?"))
      options.help = true;
    else if (a == QLatin1String("/Q") || a.startsWith(QLatin1String("/Q:")))
      options.quiet = true;
  }
  return options;
}

QString Usage() {
  return QStringLiteral(
      "WMEDist [/Q:A] [/R:N]\n"
      "Tallowen で録音できるかを確かめ、足りないものと直し方を表示します。何もインストールしません。\n"
      "  /Q:A  問題があったときだけウィンドウを表示します\n"
      "  /R:N  再起動しません (常にそうなので、指定しなくても同じです)\n"
      "終了コードは見つかった問題の数です (0 なら録音できます)。\n");
}

QString FindingLine(const Finding& finding) {
  QString line = (finding.ok ? QStringLiteral("[OK] ") : QStringLiteral("[問題] ")) + finding.text;
  if (!finding.fix.isEmpty()) line += QLatin1Char(' ') + finding.fix;
  return line;
}

void FillReport(QMessageBox& box, const std::vector<Finding>& findings) {
  const int problems = CountProblems(findings);
  QString text = problems == 0 ? QStringLiteral("この環境で録音できます。\n")
                               : QStringLiteral("録音の前に、次の問題を解決してください。\n");
  // Problems first, each with its fix, then what was found in order.
  for (const Finding& f : findings)
    if (!f.ok) text += QStringLiteral("\n× %1\n　%2\n").arg(f.text, f.fix);
  for (const Finding& f : findings)
    if (f.ok) text += QStringLiteral("\n○ %1").arg(f.text);
  box.setWindowTitle(QStringLiteral("Tallowen"));
  box.setIcon(problems == 0 ? QMessageBox::Information : QMessageBox::Warning);
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
}

}  // namespace tallowen
