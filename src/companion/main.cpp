// WMEDist: stands where the Windows Media Encoder installer stood. The encoder is built into
// Tallowen, so instead of installing it this checks that the machine can record.
#include <QApplication>
#include <QTextStream>
#include <cstdio>

#include <unistd.h>

#include "companion/CheckWindow.h"
#include "companion/CompanionLog.h"
#include "companion/RecordingCheck.h"
#include "companion/Report.h"
#include "platform/ApplicationFolder.h"
#include "platform/ProcessEnd.h"

using namespace tallowen;

namespace {

bool stdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

void print(QTextStream& out, const Finding& finding) {
  out << FindingLine(finding) << '\n';
  out.flush();
  if (out.status() != QTextStream::Ok) qCWarning(lcCompanion) << "stdout takes no more lines";
}

int run(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const CompanionOptions options = ParseArguments(arguments);
  QTextStream out(stdout);
  if (options.help) {
    out << Usage();
    return 0;
  }

  // From a terminal without a desktop the report still reaches stdout.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  LoadQtTranslation();

  // A platform with no visible screen would show a window nobody can see or close.
  const QString platform = QGuiApplication::platformName();
  const bool display = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
  const ReportWays ways = ChooseReportWays(stdoutIsTerminal(), display);

  if (!ways.show) {
    std::vector<Finding> findings;
    for (const CheckStep& step : RecordingChecks()) {
      findings.push_back(step.run());
      print(out, findings.back());
    }
    return CountProblems(findings);
  }

  CheckWindow window(RecordingChecks());
  if (ways.print)
    QObject::connect(&window, &CheckWindow::checked, [&out](const Finding& f) { print(out, f); });
  window.show();
  window.start();
  app.exec();
  // Closed before the end, it counts what it found.
  return CountProblems(window.findings());
}

}  // namespace

int main(int argc, char* argv[]) { EndProcess(run(argc, argv)); }
