// Encodes the same ten-minute WAV through the encoder's file source, as fast as it goes,
// and through the ffmpeg command a user would type, and prints both times.
//   encode_speed [WORK_FOLDER]
#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

#include "EncodeSpeed.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QTemporaryDir tmp;
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : tmp.path();
  const tallowen::bench::EncodeTimes t = tallowen::bench::MeasureEncodeSpeed(dir);
  if (!t.ok) {
    std::fprintf(stderr, "%s\n", qPrintable(t.error));
    return 1;
  }
  std::printf("%-34s %10s %10s\n", "10-minute WAV to 64 kb/s WMA", "CPU s", "wall s");
  std::printf("%-34s %10.2f %10.2f\n", "Tallowen encoder (file source)", t.oursCpu, t.oursWall);
  std::printf("%-34s %10.2f %10.2f\n", "ffmpeg -c:a wmav2 -b:a 64k", t.peerCpu, t.peerWall);
  std::printf("%-34s %10.2f %10.2f\n", "ratio (target: CPU at most 1.10)", t.oursCpu / t.peerCpu,
              t.oursWall / t.peerWall);
  return 0;
}
