// An hour recorded from a sound file as fast as the encoder goes, through the same session
// and capture as a recording of the input: the decoded sample count against the input's,
// and the resident size at 10 minutes and at the end.
//   long_recording [MINUTES] [WORK_FOLDER]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "platform/Seams.h"
#include "recording/RecordingSession.h"
#include "support/FileSources.h"

using namespace tallowen;

namespace {

// kB of the process's current and peak resident size.
struct Resident {
  long now = 0;
  long peak = 0;
};

Resident resident() {
  Resident r;
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return r;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) r.now = line.mid(6).trimmed().split(' ').value(0).toLong();
    if (line.startsWith("VmHWM:")) r.peak = line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return r;
}

bool run(const QString& program, const QStringList& args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(program, args);
  return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Samples per channel that ffmpeg decodes from the file, counted as they stream by.
int64_t decodedSamples(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("ffmpeg"),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-ac"),
           QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-")});
  int64_t bytes = 0;
  while (p.waitForReadyRead(-1)) bytes += p.readAllStandardOutput().size();
  p.waitForFinished(-1);
  bytes += p.readAllStandardOutput().size();
  return bytes / 2;
}

class SteadyClock : public Clock {
 public:
  QDateTime now() const override { return QDateTime::currentDateTime(); }
  qint64 steadyMs() const override { return started_.elapsed(); }

 private:
  QElapsedTimer started_ = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
};

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  const int minutes = args.size() > 1 ? args[1].toInt() : 60;
  QTemporaryDir scratch(args.size() > 2 ? args[2] + QStringLiteral("/long-XXXXXX") : QString());
  if (!scratch.isValid() || minutes < 10) {
    std::fprintf(stderr, "usage: long_recording [MINUTES>=10] [WORK_FOLDER]\n");
    return 2;
  }
  const int rate = 44100;
  // Whole 2048-sample frames, so that the encoder pads nothing at the end.
  const int64_t samples = int64_t(minutes) * 60 * rate / 2048 * 2048;
  const QString input = scratch.filePath(QStringLiteral("input.flac"));
  const QString output = scratch.filePath(QStringLiteral("hour.wma"));

  QElapsedTimer clock;
  clock.start();
  if (!run(QStringLiteral("ffmpeg"),
           {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
            QStringLiteral("-i"),
            QStringLiteral("aevalsrc=0.3*sin(2*PI*997*t)+0.2*sin(2*PI*311*t)+0.1*sin(2*PI*1733*t):s=44100"),
            QStringLiteral("-af"), QStringLiteral("atrim=end_sample=%1").arg(samples), QStringLiteral("-ac"),
            QStringLiteral("2"), input})) {
    std::fprintf(stderr, "making the input failed\n");
    return 1;
  }
  std::printf("input: %lld samples (%.1f min) of 44.1 kHz stereo FLAC, made in %.1f s\n", (long long)samples,
              double(samples) / rate / 60, clock.elapsed() / 1000.0);

  // A recording as the main window makes it, with the file in place of the input.
  test::FileSources sound(input, test::FileSources::Pace::AsFastAsPossible, false);
  SteadyClock steady;
  RecordingSession session(sound, steady);
  RecordingResult result;
  bool ended = false;
  QObject::connect(&session, &RecordingSession::finished, [&](const RecordingResult& r) {
    result = r;
    ended = true;
  });

  const Resident before = resident();
  Resident atTen;
  clock.restart();
  session.start(RecordingSetup{output, ProfileCollection().item(3), AudioInput{}, {}});
  const int64_t tenMinutes = int64_t(10) * 60 * rate;
  while (!ended) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
    if (atTen.now == 0 && sound.framesDelivered >= tenMinutes) atTen = resident();
  }
  const double seconds = clock.elapsed() / 1000.0;
  const Resident atEnd = resident();
  if (result.failure) {
    std::fprintf(stderr, "%s\n", qPrintable(result.failure->detail));
    return 1;
  }

  const int64_t decoded = decodedSamples(output);
  std::printf("encoded: %lld samples in %.1f s (%.0fx real time), file %.1f MB\n",
              (long long)sound.framesDelivered.load(), seconds, double(samples) / rate / seconds,
              QFileInfo(output).size() / 1e6);
  std::printf("decoded by ffmpeg: %lld samples, %lld from the input's %lld\n", (long long)decoded,
              (long long)(decoded - samples), (long long)samples);
  std::printf("resident kB: before %ld; at 10 min %ld (peak %ld); at %d min %ld (peak %ld)\n", before.now,
              atTen.now, atTen.peak, minutes, atEnd.now, atEnd.peak);
  return decoded == samples ? 0 : 1;
}
