#include "companion/Report.h"

namespace tallowen {

CompanionOptions ParseArguments(const QStringList& arguments) {
  CompanionOptions options;
  for (const QString& argument : arguments)
    if (argument == QLatin1String("/?")) options.help = true;
  return options;
}

QString Usage() {
  return QStringLiteral(
      "WMEDist [/Q:A] [/R:N]\n"
      "Tallowen で録音できるかを確かめ、足りないものと直し方を表示します。何もインストールしません。\n"
      "デスクトップではウィンドウに、端末では標準出力に結果を表示します。\n"
      "  /Q:A  /R:N  以前のインストーラーのスイッチです。受け付けますが、動作は変わりません\n"
      "終了コードは見つかった問題の数です (0 なら録音できます)。\n");
}

ReportWays ChooseReportWays(bool stdoutIsTerminal, bool hasDisplay) {
  return {stdoutIsTerminal || !hasDisplay, hasDisplay};
}

QString FindingLine(const Finding& finding) {
  QString line = (finding.ok ? QStringLiteral("[OK] ") : QStringLiteral("[問題] ")) + finding.text;
  if (!finding.fix.isEmpty()) line += QLatin1Char(' ') + finding.fix;
  return line;
}

QString Summary(const std::vector<Finding>& findings) {
  const int problems = CountProblems(findings);
  if (problems == 0) return QStringLiteral("この環境で録音できます。");
  return QStringLiteral("録音の前に、次の問題を解決してください (%1 件)。").arg(problems);
}

}  // namespace tallowen
