#include "support/AudioCheck.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <cmath>
#include <cstring>
#include <numbers>

namespace tallowen::test {

namespace {

void put16(QByteArray& b, quint16 v) { b.append(char(v & 0xff)).append(char(v >> 8)); }
void put32(QByteArray& b, quint32 v) {
  put16(b, quint16(v & 0xffff));
  put16(b, quint16(v >> 16));
}

}  // namespace

void writeToneWav(const QString& path, double frequency, double seconds, int sampleRate, int channels) {
  const quint32 frames = quint32(std::lround(seconds * sampleRate));
  const quint32 dataBytes = frames * quint32(channels) * 2;
  QByteArray b;
  b.append("RIFF");
  put32(b, 36 + dataBytes);
  b.append("WAVEfmt ");
  put32(b, 16);
  put16(b, 1);
  put16(b, quint16(channels));
  put32(b, quint32(sampleRate));
  put32(b, quint32(sampleRate * channels * 2));
  put16(b, quint16(channels * 2));
  put16(b, 16);
  b.append("data");
  put32(b, dataBytes);
  b.reserve(b.size() + int(dataBytes));
  for (quint32 i = 0; i < frames; ++i) {
    const auto v = qint16(std::lround(12000 * std::sin(2 * std::numbers::pi * frequency * i / sampleRate)));
    for (int c = 0; c < channels; ++c) put16(b, quint16(v));
  }
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(b);
}

Probe probe(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("ffprobe"),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_format"),
           QStringLiteral("-show_streams"), QStringLiteral("-of"), QStringLiteral("json"), path});
  Probe r;
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return r;
  const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
  const QJsonObject format = root.value(QStringLiteral("format")).toObject();
  const QJsonObject stream = root.value(QStringLiteral("streams")).toArray().at(0).toObject();
  const QJsonObject tags = format.value(QStringLiteral("tags")).toObject();
  r.ok = !stream.isEmpty();
  r.formatName = format.value(QStringLiteral("format_name")).toString();
  r.duration = format.value(QStringLiteral("duration")).toString().toDouble();
  r.codecName = stream.value(QStringLiteral("codec_name")).toString();
  r.sampleRate = stream.value(QStringLiteral("sample_rate")).toString().toInt();
  r.channels = stream.value(QStringLiteral("channels")).toInt();
  r.bitRate = stream.value(QStringLiteral("bit_rate")).toString().toDouble();
  r.title = tags.value(QStringLiteral("title")).toString();
  // FFmpeg reads the ASF author field back as "artist".
  r.author = tags.value(QStringLiteral("artist")).toString();
  return r;
}

std::vector<float> decodeMono(const QString& path, int sampleRate) {
  QProcess p;
  p.start(QStringLiteral("ffmpeg"),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-ac"),
           QStringLiteral("1"), QStringLiteral("-ar"), QString::number(sampleRate), QStringLiteral("-f"),
           QStringLiteral("f32le"), QStringLiteral("-")});
  std::vector<float> out;
  if (!p.waitForFinished(60000)) return out;
  const QByteArray raw = p.readAllStandardOutput();
  out.resize(size_t(raw.size()) / sizeof(float));
  std::memcpy(out.data(), raw.constData(), out.size() * sizeof(float));
  return out;
}

void startFeeding(QProcess& p, const QString& fifo, const QString& soundFile) {
  p.start(QStringLiteral("ffmpeg"),
          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-re"), QStringLiteral("-i"),
           soundFile, QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-ar"),
           QStringLiteral("44100"), QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-y"), fifo});
  p.waitForStarted();
}

double dominantFrequency(const std::vector<float>& samples, int sampleRate) {
  // Goertzel over the middle second at most: cheap, and enough resolution for a tone.
  const size_t n = std::min<size_t>(samples.size(), size_t(sampleRate));
  const size_t start = (samples.size() - n) / 2;
  double best = 0, bestPower = -1;
  for (double f = 50; f < sampleRate / 2.0; f += 5) {
    const double coeff = 2 * std::cos(2 * std::numbers::pi * f / sampleRate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
      const double s = samples[start + i] + coeff * s1 - s2;
      s2 = s1;
      s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    if (power > bestPower) {
      bestPower = power;
      best = f;
    }
  }
  return best;
}

double longestSilenceSeconds(const std::vector<float>& samples, int sampleRate, double from, double to) {
  const size_t a = size_t(std::max(0.0, from) * sampleRate);
  const size_t b = std::min(samples.size(), size_t(std::max(0.0, to) * sampleRate));
  size_t run = 0, longest = 0;
  for (size_t i = a; i < b; ++i) {
    run = std::fabs(samples[i]) < 0.01f ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return double(longest) / sampleRate;
}

}  // namespace tallowen::test
