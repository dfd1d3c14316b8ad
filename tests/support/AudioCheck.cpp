#include "support/AudioCheck.h"

#include <QDir>
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
  // Ogg keeps its tags with the stream.
  if (r.title.isEmpty()) r.title = stream.value(QStringLiteral("tags")).toObject().value(QStringLiteral("title")).toString();
  // FFmpeg reads the ASF author field back as "artist".
  r.author = tags.value(QStringLiteral("artist")).toString();
  return r;
}

std::vector<Chapter> chaptersOf(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_chapters"),
                                      QStringLiteral("-of"), QStringLiteral("json"), path});
  std::vector<Chapter> chapters;
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return chapters;
  const QJsonArray list =
      QJsonDocument::fromJson(p.readAllStandardOutput()).object().value(QStringLiteral("chapters")).toArray();
  for (const QJsonValue& c : list) {
    const QJsonObject o = c.toObject();
    chapters.push_back({o.value(QStringLiteral("start_time")).toString().toDouble(),
                        o.value(QStringLiteral("tags")).toObject().value(QStringLiteral("title")).toString()});
  }
  return chapters;
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

namespace {

quint64 get64(const QByteArray& b, qsizetype at) {
  quint64 v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | quint8(b[at + i]);
  return v;
}

void put64(QByteArray& b, qsizetype at, quint64 v) {
  for (int i = 0; i < 8; ++i) b[at + i] = char(v >> (8 * i));
}

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(10000)) return {};
  if (exitCode) *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace

void resetHeaderLikeACrash(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadWrite)) return;
  QByteArray b = f.read(64 * 1024);
  // File Properties and Data objects, found by their GUIDs.
  const qsizetype fp = b.indexOf(QByteArray::fromHex("a1dcab8c47a9cf118ee400c00c205365"));
  const qsizetype data = b.indexOf(QByteArray::fromHex("3626b2758e66cf11a6d900aa0062ce6c"));
  if (fp < 0 || data < 0) return;
  put64(b, fp + 40, 0);                          // file size
  put64(b, fp + 56, 0);                          // packets
  put64(b, fp + 64, get64(b, fp + 80) * 10000);  // play duration: the preroll alone
  put64(b, fp + 72, 0);                          // send duration
  put64(b, data + 16, 50);                       // data object: its own header only
  put64(b, data + 40, 0);
  f.seek(0);
  f.write(b.first(data + 50));
}

SmallDisk::SmallDisk(const QString& folder, int kilobytes) : folder_(folder) {
  QDir().mkpath(folder);
  int status = -1;
  run(QStringLiteral("mount"),
      {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
       QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"), folder},
      &status);
  mounted_ = status == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) run(QStringLiteral("umount"), {folder_});
}

bool ServerModule::find() {
  if (qEnvironmentVariableIsEmpty("TALLOWEN_TEST_MIC_FIFO")) return false;
  const QStringList lines = run(QStringLiteral("pactl"),
                                {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")})
                                .split(QLatin1Char('\n'));
  for (const QString& line : lines) {
    const QStringList fields = line.split(QLatin1Char('\t'));
    if (fields.size() >= 3 && fields[1] == module_ && (fields[2] + QLatin1Char(' ')).contains(argument_)) {
      id_ = fields[0];
      arguments_ = fields[2];
      return true;
    }
  }
  return false;
}

bool ServerModule::unload() {
  int status = -1;
  run(QStringLiteral("pactl"), {QStringLiteral("unload-module"), id_}, &status);
  return status == 0;
}

bool ServerModule::restore() {
  int status = -1;
  id_ = run(QStringLiteral("pactl"), {QStringLiteral("load-module"), module_, arguments_}, &status).trimmed();
  if (status != 0) return false;
  run(QStringLiteral("pactl"), {setDefault_, name_}, &status);
  return status == 0;
}

namespace {

// Runs one of the test environment's functions in a shell of its own.
bool testEnv(const QString& commands) {
  QProcess shell;
  shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("source %1/scripts/test-env.sh && %2")
                                                                  .arg(QStringLiteral(TALLOWEN_SOURCE_DIR), commands)});
  return shell.waitForFinished(30000) && shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0;
}

}  // namespace

bool SoundServer::available() { return !qEnvironmentVariableIsEmpty("TEST_ENV_DIR") && !qEnvironmentVariableIsEmpty("TALLOWEN_TEST_MIC_FIFO"); }
bool SoundServer::stop() { return testEnv(QStringLiteral("test_sound_stop")); }
bool SoundServer::start() { return testEnv(QStringLiteral("test_sound_start")); }
bool SoundServer::freeze() { return testEnv(QStringLiteral("kill -STOP $(test_sound_pids)")); }
bool SoundServer::thaw() { return testEnv(QStringLiteral("kill -CONT $(test_sound_pids)")); }

QString makeWma(const QString& folder, const QString& name, int frequency, int seconds, const QList<int>& marksMs) {
  const QString wav = folder + QStringLiteral("/") + name + QStringLiteral(".wav");
  const QString wma = folder + QStringLiteral("/") + name + QStringLiteral(".wma");
  const QString meta = folder + QStringLiteral("/") + name + QStringLiteral(".txt");
  writeToneWav(wav, frequency, seconds, 44100, 2);
  QStringList args{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-i"), wav};
  if (!marksMs.isEmpty()) {
    QFile chapters(meta);
    if (chapters.open(QIODevice::WriteOnly)) {
      chapters.write(";FFMETADATA1\n");
      for (int i = 0; i < marksMs.size(); ++i)
        chapters.write(QStringLiteral("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=mark %3\n")
                           .arg(marksMs[i])
                           .arg(marksMs[i] + 1)
                           .arg(i + 1)
                           .toUtf8());
    }
    args << QStringLiteral("-i") << meta << QStringLiteral("-map") << QStringLiteral("0") << QStringLiteral("-map_chapters")
         << QStringLiteral("1");
  }
  args << QStringLiteral("-c:a") << QStringLiteral("wmav2") << QStringLiteral("-b:a") << QStringLiteral("64k") << wma;
  QProcess p;
  p.start(QStringLiteral("ffmpeg"), args);
  p.waitForFinished(30000);
  QFile::remove(wav);
  QFile::remove(meta);
  return wma;
}

}  // namespace tallowen::test
