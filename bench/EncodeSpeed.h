#pragma once

#include <QString>

#include "recording/Profiles.h"

namespace tallowen::bench {

struct EncodeTimes {
  bool ok = false;
  QString error;
  double oursCpu = 0, oursWall = 0;
  double peerCpu = 0, peerWall = 0;
};

// Encodes the same ten-minute WAV (made in `folder` unless it is there) to 64 kb/s WMA
// through the recorder's encoder and file writer, as fast as it goes, and through the
// ffmpeg command a user would type.
EncodeTimes MeasureEncodeSpeed(const QString& folder);

// The floor of recording: the CPU seconds that encoding and writing `seconds` of a tone
// take at `profile`, the sound already at the profile's rate (the least of five runs);
// NAN when the encoder cannot be loaded.
double EncodingFloorCpu(const Profile& profile, double seconds, const QString& folder);

}  // namespace tallowen::bench
