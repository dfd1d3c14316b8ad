// WMEDist: stands where the Windows Media Encoder installer stood. The encoder is built into
// Tallowen, so instead of installing it this checks that the machine can record.
#include <QApplication>
#include <QMessageBox>
#include <QTextStream>

#include "platform/ApplicationFolder.h"
#include "platform/ProcessEnd.h"
#include "companion/RecordingCheck.h"
#include "companion/Report.h"

using namespace tallowen;

namespace {

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

  const std::vector<Finding> findings = CheckRecording(GatherInputs());
  for (const Finding& f : findings) out << FindingLine(f) << '\n';
  out.flush();
  const int problems = CountProblems(findings);

  // On a platform with no visible screen a modal box would wait for a click nobody can give.
  const QString platform = QGuiApplication::platformName();
  const bool unseen = platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
  if (!unseen && (!options.quiet || problems > 0)) {
    QMessageBox box;
    FillReport(box, findings);
    box.exec();
  }
  return problems;
}

}  // namespace

int main(int argc, char* argv[]) { EndProcess(run(argc, argv)); }
