#pragma once
// A signal whose every lost or added sample shows: silence, then a 997 Hz tone of a whole
// number of seconds (so it starts and ends at phase zero), then silence. A recording of
// it is measured against ffmpeg's own encoding of the same file, so that what the codec
// does to the tone's edges cancels out.

#include <QString>

namespace tallowen::bench {

constexpr int kSignalRate = 44100;
constexpr double kLeadSeconds = 5;
constexpr double kTailSeconds = 30;

// Stereo 16-bit WAV: kLeadSeconds of silence, `toneSeconds` of tone, kTailSeconds of silence.
void WriteSignalWav(const QString& path, int toneSeconds);

struct ToneSpan {
  bool found = false;
  double first = 0, last = 0;  // sample positions where the tone starts and ends
  int phaseJumps = 0;          // 100 ms windows whose phase moved against the one before
  double longestGap = 0;       // seconds of silence inside the tone
};

// Where the tone lies in a file, decoded by ffmpeg at kSignalRate.
ToneSpan MeasureTone(const QString& path);

}  // namespace tallowen::bench
