// Records through the encoder from the command line, for tests that need a separate
// process (killed mid-recording) and for benchmarks.
//   record_tool INPUT OUT.wma PROFILE_INDEX SECONDS [fast] [flush] [sync]
// SECONDS 0 records until the input runs out (a file) or the process is killed.
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
#include "recording/Encoder.h"
#include "recording/RecordingJournal.h"

using namespace tallowen;

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
    const QList<InterruptedRecording> found = RepairInterruptedRecordings([die](const QString&) {
      if (die) ::raise(SIGKILL);
    });
    for (const InterruptedRecording& r : found)
      std::printf("%d %d %s\n", int(r.state), r.attempts, qPrintable(r.path));
    return 0;
  }
  if (args.size() < 5) {
    std::fprintf(stderr, "usage: record_tool INPUT OUT.wma PROFILE_INDEX SECONDS [fast] [flush] [sync]\n");
    return 2;
  }
  try {
    Encoder encoder;
    Source& source = encoder.sourceGroupCollection().add(QStringLiteral("SG_1")).addSource(SourceType::Audio);
    encoder.sourceGroupCollection().item(0).setProfile(encoder.profileCollection().item(args[3].toInt()));
    source.setInput(args[1]);
    if (args.contains(QStringLiteral("fast"))) source.setPace(Source::Pace::AsFastAsPossible);
    encoder.setFlushPackets(args.contains(QStringLiteral("flush")));
    encoder.setSyncToDisk(args.contains(QStringLiteral("sync")));
    encoder.displayInfo().setAuthor(QStringLiteral("Tallowen"));
    encoder.file().setLocalFileName(args[2]);
    int status = 0;
    QObject::connect(&encoder, &Encoder::stateChanged, &app, [&](int state) {
      if (state != Encoder::Stopped) return;
      if (!encoder.lastError().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(encoder.lastError()));
        status = 1;
      }
      app.quit();
    });
    encoder.start();
    std::printf("recording\n");
    std::fflush(stdout);
    if (const double seconds = args[4].toDouble(); seconds > 0)
      QTimer::singleShot(int(seconds * 1000), &app, [&] {
        try {
          encoder.stop();
        } catch (const EncoderError& e) {
          std::fprintf(stderr, "%s\n", qPrintable(e.reason()));
          status = 1;
        }
      });
    app.exec();
    return status;
  } catch (const EncoderError& e) {
    std::fprintf(stderr, "%s\n", qPrintable(e.reason()));
    return 1;
  }
}
