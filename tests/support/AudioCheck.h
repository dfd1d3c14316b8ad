#pragma once
// Independent judges of what the recorder wrote: ffprobe and ffmpeg, run as programs.

#include <QList>
#include <QProcess>
#include <QString>
#include <vector>

namespace tallowen::test {

// A sine tone as a 16-bit WAV file.
void writeToneWav(const QString& path, double frequency, double seconds, int sampleRate, int channels);
// A WMA file of a sine tone in `folder` (stereo, 44.1 kHz, 64 kb/s), made by ffmpeg rather
// than by the program itself, with index marks "mark 1", "mark 2", ... at `marksMs`.
QString makeWma(const QString& folder, const QString& name, int frequency, int seconds, const QList<int>& marksMs = {});

struct Probe {
  bool ok = false;
  QString formatName;
  QString codecName;
  int sampleRate = 0;
  int channels = 0;
  double bitRate = 0;
  double duration = 0;
  QString title;
  QString author;
};
Probe probe(const QString& path);

// A chapter as FFmpeg lists it: ASF index marks are chapters there.
struct Chapter {
  double start = 0;  // seconds
  QString title;
};
std::vector<Chapter> chaptersOf(const QString& path);

// The file's sound decoded by ffmpeg to mono floats at `sampleRate`.
std::vector<float> decodeMono(const QString& path, int sampleRate);

// The strongest frequency between 50 Hz and the Nyquist limit, in 5 Hz steps.
double dominantFrequency(const std::vector<float>& samples, int sampleRate);

// The longest run of near-silent samples: a gap in the recording shows as one.
double longestSilenceSeconds(const std::vector<float>& samples, int sampleRate, double from, double to);

// Leaves the recording's header as the muxer writes it before its trailer (no size, no
// packet count, no duration): what a crash leaves behind.
void resetHeaderLikeACrash(const QString& path);

// A file system of a few hundred kilobytes (tmpfs) mounted on `folder`, where the machine
// lets the tests mount one; `mounted()` says whether it did.
class SmallDisk {
 public:
  SmallDisk(const QString& folder, int kilobytes);
  ~SmallDisk();
  bool mounted() const { return mounted_; }

 private:
  QString folder_;
  bool mounted_ = false;
};

// A module of the test sound server taken away, and put back as it was, the default again.
class ServerModule {
 public:
  // The module `module` whose arguments hold `argument`; `setDefault` is the pactl command
  // that makes `name` the default again.
  ServerModule(QString module, QString argument, QString setDefault, QString name)
      : module_(std::move(module)), argument_(std::move(argument)), setDefault_(std::move(setDefault)),
        name_(std::move(name)) {}
  // False without a test sound server.
  bool find();
  bool unload();
  bool restore();

 private:
  QString module_, argument_, setDefault_, name_;
  QString id_;
  QString arguments_;
};

// The test sound server's microphone, as when a USB microphone is pulled.
class MicrophoneModule : public ServerModule {
 public:
  MicrophoneModule()
      : ServerModule(QStringLiteral("module-pipe-source"), QStringLiteral("source_name=mic "),
                     QStringLiteral("set-default-source"), QStringLiteral("mic")) {}
};

// The test sound server's output, whose monitor is an input too (the computer's own sound):
// without it and the microphone, the server has no input at all.
class OutputModule : public ServerModule {
 public:
  OutputModule()
      : ServerModule(QStringLiteral("module-null-sink"), QStringLiteral("sink_name=tsink"),
                     QStringLiteral("set-default-sink"), QStringLiteral("tsink")) {}
};

// The test sound server, stopped and started again, or frozen and thawed, as a user's system
// does it (scripts/test-env.sh): PulseAudio, or PipeWire under TALLOWEN_TEST_SOUND=pipewire.
class SoundServer {
 public:
  // Whether the tests run with a sound server of their own.
  static bool available();
  static bool stop();
  static bool start();
  // SIGSTOP and SIGCONT, as a laptop's suspend holds the server.
  static bool freeze();
  static bool thaw();
};

}  // namespace tallowen::test
