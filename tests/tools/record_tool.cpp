// Records a sound file through the recording session from the command line, for tests that
// need a separate process (killed mid-recording).
//   record_tool INPUT OUT.wma PROFILE_INDEX SECONDS [fast] [mark=MS ...]
// SECONDS 0 records until the input runs out or the process is killed; each mark=MS sets
// a mark that many milliseconds into the recording.
//   record_tool repair FILE.wma
// mends the header of a recording cut short and prints what it found.
//   record_tool journal [die]
// does what a start does with the journal, and prints a line for each recording; `die`
// kills the process just as the first repair begins, as a crash inside it would.
#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "recording/AsfRepair.h"
#include "recording/RecordingJournal.h"
#include "platform/Seams.h"
#include "recording/RecordingSession.h"
#include "support/FileSources.h"
#include "support/OnEachRepair.h"

using namespace tallowen;

namespace {

class SystemClock : public Clock {
 public:
  QDateTime now() const override { return QDateTime::currentDateTime(); }
  qint64 steadyMs() const override { return 0; }
};

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 3 && args[1] == QLatin1String("repair")) {
    const AsfRepairOutcome outcome = RepairAsfFile(args[2]);
    static const char* const results[] = {"sound", "repaired", "failed"};
    std::printf("%s: %lld packets, %.3f s, %lld bytes cut off %s\n", results[int(outcome.result)],
                (long long)outcome.packets, outcome.durationMs / 1000.0, (long long)outcome.droppedBytes,
                qPrintable(outcome.error));
    return outcome.result == AsfRepairOutcome::Result::Failed ? 1 : 0;
  }
  if (args.size() >= 2 && args[1] == QLatin1String("journal")) {
    const bool die = args.contains(QStringLiteral("die"));
    test::OnEachRepair progress([die](const QString&) {
      if (die) ::raise(SIGKILL);
    });
    const QList<InterruptedRecording> found = RepairInterruptedRecordings(&progress);
    for (const InterruptedRecording& r : found)
      std::printf("%d %d %s\n", int(r.state), r.attempts, qPrintable(r.path));
    return 0;
  }
  if (args.size() < 5) {
    std::fprintf(stderr, "usage: record_tool INPUT OUT.wma PROFILE_INDEX SECONDS [fast] [mark=MS ...]\n");
    return 2;
  }
  const bool fast = args.contains(QStringLiteral("fast"));
  test::FileSources sound(args[1], fast ? test::FileSources::Pace::AsFastAsPossible : test::FileSources::Pace::RealTime,
                          args[4].toDouble() > 0);
  SystemClock clock;
  RecordingSession session(sound, clock);
  int status = 0;
  QObject::connect(&session, &RecordingSession::finished, &app, [&](const RecordingResult& result) {
    if (result.failure && !result.failure->detail.isEmpty()) {
      std::fprintf(stderr, "%s\n", qPrintable(result.failure->detail));
      status = 1;
    }
    app.quit();
  });
  QObject::connect(&session, &RecordingSession::phaseChanged, &app, [&](RecordingSession::Phase phase) {
    if (phase != RecordingSession::Phase::Recording) return;
    std::printf("recording\n");
    std::fflush(stdout);
    int n = 0;
    for (const QString& a : args)
      if (a.startsWith(QLatin1String("mark=")))
        QTimer::singleShot(a.mid(5).toInt(), &session,
                           [&session, name = QStringLiteral("マーク %1").arg(++n)] { session.addMark(name); });
    if (const double seconds = args[4].toDouble(); seconds > 0)
      QTimer::singleShot(int(seconds * 1000), &session, [&session] { session.stop(); });
  });
  try {
    session.start(RecordingSetup{args[2], ProfileCollection().item(args[3].toInt()), AudioInput{}, {}});
  } catch (const RecordingError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.detail()));
    return 1;
  }
  app.exec();
  return status;
}
