#include "LostSamples.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "support/AudioCheck.h"

namespace tallowen::bench {

namespace {

constexpr double kToneHz = 997;  // no small run of samples is a whole number of its periods
constexpr double kAmplitude = 0.4;

void put(QFile& f, quint32 v, int bytes) {
  for (int i = 0; i < bytes; ++i) f.putChar(char((v >> (8 * i)) & 0xff));
}

}  // namespace

void WriteSignalWav(const QString& path, int toneSeconds) {
  const quint32 lead = quint32(kLeadSeconds * kSignalRate), tone = quint32(toneSeconds) * kSignalRate;
  const quint32 frames = lead + tone + quint32(kTailSeconds * kSignalRate);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return;
  f.write("RIFF");
  put(f, 36 + frames * 4, 4);
  f.write("WAVEfmt ");
  put(f, 16, 4), put(f, 1, 2), put(f, 2, 2), put(f, kSignalRate, 4), put(f, kSignalRate * 4, 4), put(f, 4, 2),
      put(f, 16, 2);
  f.write("data");
  put(f, frames * 4, 4);
  QByteArray block;
  for (quint32 i = 0; i < frames; ++i) {
    double v = 0;
    if (i >= lead && i < lead + tone)
      v = kAmplitude * std::sin(2 * std::numbers::pi * kToneHz * double(i - lead) / kSignalRate);
    const auto s = quint16(qint16(std::lround(v * 32767)));
    for (int c = 0; c < 2; ++c) block.append(char(s & 0xff)).append(char(s >> 8));
    if (block.size() > (1 << 20)) f.write(block), block.clear();
  }
  f.write(block);
}

ToneSpan MeasureTone(const QString& path) {
  ToneSpan span;
  const std::vector<float> x = test::decodeMono(path, kSignalRate);
  const float threshold = float(kAmplitude / 2);
  // The tone's start is the first loud sample soon after half a second of silence that goes
  // on loud for a second: whatever the microphone still held from before the silence, a
  // click or a moment of an earlier sound, is not part of it. "Soon", because the codec
  // spreads a little sound ahead of an onset.
  const auto staysLoud = [&](size_t from) {
    const size_t block = kSignalRate / 100;
    if (from + kSignalRate > x.size()) return false;
    for (size_t b = from; b + block <= from + kSignalRate; b += block)
      if (std::fabs(*std::max_element(x.begin() + b, x.begin() + b + block,
                                      [](float p, float q) { return std::fabs(p) < std::fabs(q); })) < threshold)
        return false;
    return true;
  };
  size_t first = 0, quiet = 0, last = x.size();
  size_t silenceEnd = x.size();
  for (; first < x.size(); ++first) {
    const float a = std::fabs(x[first]);
    if (a >= threshold && silenceEnd < x.size() && first - silenceEnd < size_t(kSignalRate / 10) &&
        staysLoud(first))
      break;
    if (a >= 0.01f && quiet >= size_t(kSignalRate / 2)) silenceEnd = first;
    quiet = a < 0.01f ? quiet + 1 : 0;
  }
  while (last > first && std::fabs(x[last - 1]) < threshold) --last;
  if (first >= x.size() || last - first < size_t(kSignalRate)) return span;
  span.found = true;
  span.first = double(first);
  span.last = double(last - 1);

  // The tone's phase against a clock that runs at the nominal rate: constant as long as no
  // sample went missing or came in between.
  const size_t window = kSignalRate / 10;
  const double w = 2 * std::numbers::pi * kToneHz / kSignalRate;
  double previous = 0;
  bool havePrevious = false;
  for (size_t a = first + kSignalRate / 5; a + window < last - kSignalRate / 5; a += window) {
    std::complex<double> sum;
    for (size_t n = a; n < a + window; ++n) sum += double(x[n]) * std::polar(1.0, -w * double(n));
    const double phase = std::arg(sum);
    if (havePrevious) {
      const double moved = std::remainder(phase - previous, 2 * std::numbers::pi);
      if (std::fabs(moved) > 0.2) ++span.phaseJumps;
    }
    previous = phase;
    havePrevious = true;
  }
  span.longestGap =
      test::longestSilenceSeconds(x, kSignalRate, span.first / kSignalRate, span.last / kSignalRate);
  return span;
}

}  // namespace tallowen::bench
