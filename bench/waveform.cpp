// How fast a waveform comes, for a 3-hour and a 10-hour recording at 192 kb/s: a recording
// of the program's own (its summary kept as it recorded, read back) and a file from
// elsewhere (decoded), to the first waveform and to the whole, with the memory it takes,
// beside the time `ffmpeg -i FILE -f null -` takes to decode the same file, measured in
// this run. Also how long drawing the whole of it across a wide window takes.
//   waveform [HOURS...]     (3 and 10 unless told)
// Runs on the offscreen platform, in a folder of its own; needs ffmpeg to make the files.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>

#include "ProcStatus.h"
#include "player/WaveformView.h"
#include "recording/Loudness.h"
#include "recording/LoudnessCache.h"
#include "recording/LoudnessMaker.h"

using namespace tallowen;

namespace {

// Speech-like: a second of tone, half a second of silence, over and over.
bool makeFile(const QString& path, int hours) {
  QProcess ffmpeg;
  ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  ffmpeg.start(QStringLiteral("ffmpeg"),
               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("aevalsrc=0.3*sin(2*PI*440*t)*lt(mod(t\\,1.5)\\,1):s=44100:c=stereo:d=%1").arg(hours * 3600),
                QStringLiteral("-c:a"), QStringLiteral("wmav2"), QStringLiteral("-b:a"), QStringLiteral("192k"), path});
  return ffmpeg.waitForFinished(-1) && ffmpeg.exitCode() == 0;
}

double ffmpegSeconds(const QString& path) {
  QElapsedTimer took;
  took.start();
  QProcess ffmpeg;
  ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                                          QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
  ffmpeg.waitForFinished(-1);
  return took.elapsed() / 1000.0;
}

struct Made {
  double firstS = -1, wholeS = -1;
  size_t bytes = 0;
  long rssGrowthKb = 0;
  Loudness loudness;
};

Made make(LoudnessMaker& maker, const QString& path) {
  Made m;
  QElapsedTimer took;
  bool done = false;
  const long rssBefore = statusKb("VmRSS:");
  long rssPeak = rssBefore;
  QObject context;
  QObject::connect(&maker, &LoudnessMaker::progress, &context, [&](const Loudness&, int) {
    if (m.firstS < 0) m.firstS = took.nsecsElapsed() / 1e9;
    rssPeak = std::max(rssPeak, statusKb("VmRSS:"));
  });
  QObject::connect(&maker, &LoudnessMaker::ready, &context, [&](const Loudness& l) {
    m.wholeS = took.nsecsElapsed() / 1e9;
    if (m.firstS < 0) m.firstS = m.wholeS;
    m.loudness = l;
    m.bytes = l.levels.capacity();
    done = true;
  });
  QObject::connect(&maker, &LoudnessMaker::failed, &context, [&](const QString& why) {
    std::fprintf(stderr, "failed: %s\n", qPrintable(why));
    done = true;
  });
  took.start();
  maker.make(path);
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  m.rssGrowthKb = std::max(rssPeak, statusKb("VmRSS:")) - rssBefore;
  return m;
}

// The longest of a few paints of the whole recording across 1920 pixels at scale 1, after
// a first one that loads the fonts.
double paintMs(const Loudness& loudness) {
  WaveformView view;
  view.resize(1920, 160);
  view.setRecording(loudness.lengthMs(), {});
  view.setLoudness(loudness);
  QImage picture(view.size(), QImage::Format_RGB32);
  view.render(&picture);
  double worst = 0;
  for (int i = 0; i < 5; ++i) {
    QElapsedTimer took;
    took.start();
    view.render(&picture);
    worst = std::max(worst, took.nsecsElapsed() / 1e6);
  }
  return worst;
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QList<int> hours;
  for (int i = 1; i < argc; ++i) hours << std::atoi(argv[i]);
  if (hours.isEmpty()) hours = {3, 10};
  const QString base = qEnvironmentVariable("TALLOWEN_TEST_TMP", QDir::tempPath());
  QTemporaryDir folder(base + QStringLiteral("/waveform.XXXXXX"));

  std::printf("%-9s %-8s %12s %12s %12s %14s %14s %12s\n", "length", "file", "first (s)", "whole (s)", "summary",
              "RSS growth", "ffmpeg null", "paint (ms)");
  for (const int h : hours) {
    const QString file = folder.filePath(QStringLiteral("%1h.wma").arg(h));
    std::fprintf(stderr, "making %d hours at 192 kb/s...\n", h);
    if (!makeFile(file, h)) return 1;
    const double ffmpeg = ffmpegSeconds(file);
    // The cache of this run alone: the first make decodes, the second finds what the
    // first stored, as a recording of the program's own finds what it stored as it
    // recorded.
    LoudnessCache cache(folder.filePath(QStringLiteral("cache")));
    QDir(cache.folder()).removeRecursively();
    LoudnessMaker maker(cache);
    const Made foreign = make(maker, file);
    const Made own = make(maker, file);
    const double paint = paintMs(own.loudness);
    for (const auto& [kind, m] : {std::pair{"own", &own}, std::pair{"foreign", &foreign}})
      std::printf("%-9s %-8s %12.3f %12.3f %9.2f MiB %10.2f MiB %12.2f s %12.1f\n",
                  QStringLiteral("%1 h").arg(h).toUtf8().constData(), kind, m->firstS, m->wholeS,
                  m->bytes / 1048576.0, m->rssGrowthKb / 1024.0, ffmpeg, paint);
    std::fflush(stdout);
    QFile::remove(file);
  }
  return 0;
}
