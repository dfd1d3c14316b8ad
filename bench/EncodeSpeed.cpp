#include "EncodeSpeed.h"

#include <sys/resource.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>
#include <numbers>
#include <vector>

#include "recording/AsfWriter.h"
#include "recording/Codec.h"
#include "recording/OutputFile.h"
#include "recording/RecordingFailure.h"

namespace tallowen::bench {

namespace {

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double childrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Speech-like test sound: a few tones whose loudness moves, so the encoder has work to do.
double speechLike(double t) {
  const double env = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
  return env * (0.3 * std::sin(2 * std::numbers::pi * 220 * t) + 0.2 * std::sin(2 * std::numbers::pi * 660 * t) +
                0.1 * std::sin(2 * std::numbers::pi * 1875 * t));
}

constexpr int kWavRate = 44100, kWavChannels = 2, kWavHeader = 44;

void writeWav(const QString& path, int seconds) {
  const quint32 frames = quint32(kWavRate * seconds);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return;
  auto put = [&](quint32 v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.putChar(char((v >> (8 * i)) & 0xff));
  };
  f.write("RIFF");
  put(36 + frames * 4, 4);
  f.write("WAVEfmt ");
  put(16, 4), put(1, 2), put(kWavChannels, 2), put(kWavRate, 4), put(kWavRate * 4, 4), put(4, 2), put(16, 2);
  f.write("data");
  put(frames * 4, 4);
  QByteArray block;
  for (quint32 i = 0; i < frames; ++i) {
    const auto s = quint16(qint16(std::lround(speechLike(double(i) / kWavRate) * 30000)));
    for (int c = 0; c < kWavChannels; ++c) block.append(char(s & 0xff)).append(char(s >> 8));
    if (block.size() > (1 << 20)) f.write(block), block.clear();
  }
  f.write(block);
}

// What a recording does with its sound: the module's encoder, then the file writer. `next`
// fills the buffer with up to `frames` frames and says how many it gave; 0 ends.
void encodeToFile(const Profile& profile, const QString& path,
                  const std::function<int(std::vector<float>&, int frames)>& next) {
  std::unique_ptr<WmaEncoder> encoder = LoadedCodec().createEncoder(profile);
  QFile::remove(path);
  std::unique_ptr<OutputFile> file = OutputFile::create(path);
  AsfWriter writer(*file, encoder->format(), {QStringLiteral("bench"), QStringLiteral("Tallowen")});
  std::vector<float> buffer;
  while (const int frames = next(buffer, 4096)) encoder->encode(buffer.data(), frames, writer);
  encoder->finish(writer);
  writer.finish();
  file->close();
}

}  // namespace

EncodeTimes MeasureEncodeSpeed(const QString& dir) {
  EncodeTimes r;
  const QString wav = dir + QStringLiteral("/in.wav");
  if (!QFile::exists(wav)) writeWav(wav, 600);
  const Profile* profile = ProfileCollection().matching(QStringLiteral("64 kbps"));

  const QString ours = dir + QStringLiteral("/ours.wma");
  QElapsedTimer wall;
  const double cpu0 = threadCpuSeconds();
  wall.start();
  try {
    QFile in(wav);
    if (!profile || !in.open(QIODevice::ReadOnly) || !in.seek(kWavHeader)) throw RecordingError(QStringLiteral("no input"));
    std::vector<int16_t> pcm;
    encodeToFile(*profile, ours, [&](std::vector<float>& out, int frames) {
      pcm.resize(size_t(frames) * kWavChannels);
      const qint64 got = in.read(reinterpret_cast<char*>(pcm.data()), qint64(pcm.size() * sizeof(int16_t)));
      const int n = got > 0 ? int(got / qint64(kWavChannels * sizeof(int16_t))) : 0;
      out.resize(size_t(n) * kWavChannels);
      for (size_t i = 0; i < out.size(); ++i) out[i] = float(pcm[i]) / 32768.0f;
      return n;
    });
  } catch (const RecordingError& e) {
    r.error = QStringLiteral("encoder: ") + e.detail();
    return r;
  }
  r.oursWall = wall.elapsed() / 1000.0;
  r.oursCpu = threadCpuSeconds() - cpu0;

  const QString theirs = dir + QStringLiteral("/ffmpeg.wma");
  QProcess ffmpeg;
  const double child0 = childrenCpuSeconds();
  wall.restart();
  ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                                          QStringLiteral("-i"), wav, QStringLiteral("-c:a"), QStringLiteral("wmav2"),
                                          QStringLiteral("-b:a"), QStringLiteral("64k"), theirs});
  if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0) {
    r.error = QStringLiteral("ffmpeg failed");
    return r;
  }
  r.peerWall = wall.elapsed() / 1000.0;
  r.peerCpu = childrenCpuSeconds() - child0;
  r.ok = true;
  return r;
}

double EncodingFloorCpu(const Profile& profile, double seconds, const QString& dir) {
  // The tone made beforehand: the floor is the encoding, not the making of the sound.
  const auto total = int64_t(seconds * profile.sampleRate);
  std::vector<float> tone(size_t(total) * size_t(profile.channels));
  for (int64_t i = 0; i < total; ++i)
    for (int c = 0; c < profile.channels; ++c)
      tone[size_t(i * profile.channels + c)] = float(speechLike(double(i) / profile.sampleRate));
  std::vector<double> runs;
  try {
    for (int run = 0; run < 5; ++run) {
      int64_t at = 0;
      const double cpu0 = threadCpuSeconds();
      encodeToFile(profile, dir + QStringLiteral("/floor.wma"), [&](std::vector<float>& out, int frames) {
        const int n = int(std::min<int64_t>(frames, total - at));
        out.assign(tone.begin() + at * profile.channels, tone.begin() + (at + n) * profile.channels);
        at += n;
        return n;
      });
      runs.push_back(threadCpuSeconds() - cpu0);
    }
  } catch (const RecordingError&) {
    return NAN;
  }
  // The least of the runs: a floor is what the work takes when nothing else gets in its way.
  return *std::min_element(runs.begin(), runs.end());
}

}  // namespace tallowen::bench
