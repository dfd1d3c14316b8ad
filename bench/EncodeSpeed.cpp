#include "EncodeSpeed.h"

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numbers>

#include "recording/Encoder.h"

namespace tallowen::bench {

namespace {

double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double childrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Speech-like test sound: a few tones whose loudness moves, so the encoder has work to do.
void writeWav(const QString& path, int seconds) {
  const int rate = 44100, channels = 2;
  const quint32 frames = quint32(rate * seconds);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return;
  auto put = [&](quint32 v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.putChar(char((v >> (8 * i)) & 0xff));
  };
  f.write("RIFF");
  put(36 + frames * 4, 4);
  f.write("WAVEfmt ");
  put(16, 4), put(1, 2), put(channels, 2), put(rate, 4), put(rate * 4, 4), put(4, 2), put(16, 2);
  f.write("data");
  put(frames * 4, 4);
  QByteArray block;
  for (quint32 i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    const double env = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
    const double v = env * (0.3 * std::sin(2 * std::numbers::pi * 220 * t) +
                            0.2 * std::sin(2 * std::numbers::pi * 660 * t) +
                            0.1 * std::sin(2 * std::numbers::pi * 1875 * t));
    const auto s = quint16(qint16(std::lround(v * 30000)));
    for (int c = 0; c < channels; ++c) block.append(char(s & 0xff)).append(char(s >> 8));
    if (block.size() > (1 << 20)) f.write(block), block.clear();
  }
  f.write(block);
}

}  // namespace

EncodeTimes MeasureEncodeSpeed(const QString& dir) {
  EncodeTimes r;
  const QString wav = dir + QStringLiteral("/in.wav");
  if (!QFile::exists(wav)) writeWav(wav, 600);

  // The profile that matches the ffmpeg command: 64 kb/s, 44.1 kHz stereo.
  int profile = -1;
  ProfileCollection profiles;
  for (int i = 0; i < profiles.count(); ++i)
    if (profiles.item(i).bitRate == 64000 && profiles.item(i).sampleRate == 44100) profile = i;

  const QString ours = dir + QStringLiteral("/ours.wma");
  QFile::remove(ours);
  QElapsedTimer wall;
  const double cpu0 = processCpuSeconds();
  wall.start();
  try {
    Encoder encoder;
    SourceGroup& group = encoder.sourceGroupCollection().add(QStringLiteral("SG_1"));
    Source& source = group.addSource(SourceType::Audio);
    source.setInput(wav);
    source.setPace(Source::Pace::AsFastAsPossible);
    group.setProfile(profiles.item(profile));
    encoder.file().setLocalFileName(ours);
    encoder.setFlushPackets(true);
    QEventLoop loop;
    QObject::connect(&encoder, &Encoder::stateChanged, &loop, [&](int s) {
      if (s == Encoder::Stopped) loop.quit();
    });
    encoder.start();
    loop.exec();
  } catch (const EncoderError& e) {
    r.error = QStringLiteral("encoder: ") + e.reason();
    return r;
  }
  r.oursWall = wall.elapsed() / 1000.0;
  r.oursCpu = processCpuSeconds() - cpu0;

  const QString theirs = dir + QStringLiteral("/ffmpeg.wma");
  QProcess ffmpeg;
  const double child0 = childrenCpuSeconds();
  wall.restart();
  ffmpeg.start(QStringLiteral("ffmpeg"),
               {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"),
                wav, QStringLiteral("-c:a"), QStringLiteral("wmav2"), QStringLiteral("-b:a"),
                QStringLiteral("64k"), theirs});
  if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0) {
    r.error = QStringLiteral("ffmpeg failed");
    return r;
  }
  r.peerWall = wall.elapsed() / 1000.0;
  r.peerCpu = childrenCpuSeconds() - child0;
  r.ok = true;
  return r;
}

}  // namespace tallowen::bench
