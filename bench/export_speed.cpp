// Exporting a 1-hour recording to MP3 at 64 kb/s, in CPU seconds, against
// `ffmpeg -i in.wma -c:a libmp3lame -b:a 64k out.mp3` on the same file in the same run.
//   export_speed [MINUTES]     (60 unless told)
// The recording is made by ffmpeg first: WMA at 64 kb/s, 22.05 kHz mono, as the program's
// speech qualities record.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>

#include "recording/Codec.h"

using namespace tallowen;

namespace {

double cpuOf(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool ffmpeg(const QStringList& arguments) {
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} + arguments);
  return p.waitForFinished(-1) && p.exitCode() == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;
  const QString base = qEnvironmentVariable("TALLOWEN_TEST_TMP", QDir::tempPath());
  QTemporaryDir folder(base + QStringLiteral("/export.XXXXXX"));
  const QString wma = folder.filePath(QStringLiteral("in.wma"));
  std::fprintf(stderr, "making %d minutes of WMA...\n", minutes);
  if (!ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
               QStringLiteral("aevalsrc=0.3*sin(2*PI*440*t)*lt(mod(t\\,1.5)\\,1):s=22050:c=mono:d=%1").arg(minutes * 60),
               QStringLiteral("-c:a"), QStringLiteral("wmav2"), QStringLiteral("-b:a"), QStringLiteral("64k"), wma}))
    return 1;

  double ours = 1e9, theirs = 1e9, oursWall = 0;
  for (int round = 0; round < 3; ++round) {
    ExportJob job;
    job.source = wma;
    job.target = folder.filePath(QStringLiteral("ours.mp3"));
    job.format = ExportFormat::Mp3;
    job.bitRate = 64000;
    std::atomic<bool> cancel{false};
    Codec& codec = LoadedCodec();
    const double before = cpuOf(RUSAGE_SELF);
    QElapsedTimer wall;
    wall.start();
    if (!codec.exportSound(job, {}, cancel)) return 1;
    const double took = cpuOf(RUSAGE_SELF) - before;
    if (took < ours) ours = took, oursWall = wall.elapsed() / 1000.0;

    const double childBefore = cpuOf(RUSAGE_CHILDREN);
    if (!ffmpeg({QStringLiteral("-i"), wma, QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"),
                 QStringLiteral("64k"), folder.filePath(QStringLiteral("theirs.mp3"))}))
      return 1;
    theirs = std::min(theirs, cpuOf(RUSAGE_CHILDREN) - childBefore);
  }
  std::printf("export of %d min to MP3 at 64 kb/s, CPU s (least of 3): ours %.2f (%.2f s wall), ffmpeg %.2f, ratio %.2f\n",
              minutes, ours, oursWall, theirs, ours / theirs);
  return 0;
}
