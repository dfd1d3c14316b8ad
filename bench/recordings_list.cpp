// The recordings window over a folder of thousands of recordings: how long it takes to
// show the list, how long until every length and mark is read from the headers, how long
// the window's thread is held up at most meanwhile, and what the list costs in memory.
//   recordings_list [COUNT]     (5000 recordings unless told)
// Runs on the offscreen platform, in a folder of its own; needs ffmpeg for the one
// recording it copies.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "ProcStatus.h"
#include "platform/Seams.h"
#include "player/RecordingList.h"
#include "player/frmRecordings.h"
#include "settings/Settings.h"
#include "settings/modINI.h"

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QStandardPaths::setTestModeEnabled(true);
  const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
  QTemporaryDir folder;
  // One short recording of a lecture's kind, with its header, copied `count` times.
  const QString first = folder.filePath(QStringLiteral("0000.wma"));
  QProcess ffmpeg;
  ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-ac", "1",
                                          "-ar", "16000", "-c:a", "wmav2", "-b:a", "24k", first});
  if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0 || !QFile::exists(first)) {
    std::fprintf(stderr, "ffmpeg could not make the recording to copy\n");
    return 1;
  }
  for (int i = 1; i < count; ++i)
    QFile::copy(first, folder.filePath(QStringLiteral("%1.wma").arg(i, 4, 10, QLatin1Char('0'))));
  tallowen::WriteSetting(tallowen::kSaveFolderSetting, folder.path());
  // The page cache holds the files, as it does for a folder the user has just looked at.
  const long rssBefore = statusKb("VmRSS:");

  // The window's thread is looked at every 10 ms: the longest gap is how long it was held.
  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (sinceTick.isValid()) longestGap = std::max(longestGap, sinceTick.elapsed());
    sinceTick.start();
  });

  tallowen::Seams seams{};
  QElapsedTimer clock;
  clock.start();
  tallowen::Settings settings;
  tallowen::frmRecordings window(seams, settings, [] { return tallowen::LiveRecording{}; });
  window.show();
  QCoreApplication::processEvents();
  const qint64 shownMs = clock.elapsed();
  const int rows = window.list().rowCount();
  ticker.start(10);
  qint64 completeMs = -1;
  QTimer::singleShot(0, [&] {
    if (window.list().complete()) completeMs = clock.elapsed(), app.quit();
  });
  QObject::connect(&window.list(), &tallowen::RecordingList::headersRead, [&] {
    completeMs = clock.elapsed();
    app.quit();
  });
  QTimer::singleShot(60000, &app, &QApplication::quit);
  app.exec();
  const long rssAfter = statusKb("VmRSS:");

  std::printf("recordings window, %d recordings: listed in %lld ms (%d rows), every header read in %lld ms; "
              "the window's thread held at most %lld ms meanwhile; memory %+.1f MiB (RSS %.1f MiB)\n",
              count, static_cast<long long>(shownMs), rows, static_cast<long long>(completeMs),
              static_cast<long long>(longestGap), (rssAfter - rssBefore) / 1024.0, rssAfter / 1024.0);
  return completeMs >= 0 && rows == count ? 0 : 1;
}
