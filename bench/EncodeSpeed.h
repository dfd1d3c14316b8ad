#pragma once

#include <QString>

namespace tallowen::bench {

struct EncodeTimes {
  bool ok = false;
  QString error;
  double oursCpu = 0, oursWall = 0;
  double peerCpu = 0, peerWall = 0;
};

// Encodes the same ten-minute WAV (made in `folder` unless it is there) to 64 kb/s WMA
// through the encoder's file source, as fast as it goes, and through the ffmpeg command a
// user would type. Needs a running QCoreApplication.
EncodeTimes MeasureEncodeSpeed(const QString& folder);

}  // namespace tallowen::bench
