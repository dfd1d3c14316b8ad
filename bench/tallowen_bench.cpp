// Runs the recorder and its peers side by side on the test screen and sound server and
// prints one table.
//   tallowen_bench --program PATH --bare PATH --work FOLDER [--quick | --startup]
// Expects DISPLAY, PULSE_SERVER and TALLOWEN_TEST_MIC_FIFO from scripts/test-env.sh.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Child.h"
#include "EncodeSpeed.h"
#include "LostSamples.h"
#include "MapWatch.h"
#include "settings/ProfileFile.h"
#include "support/AudioCheck.h"
#include "support/MicFeeder.h"

using namespace tallowen;
using namespace tallowen::bench;

namespace {

struct Row {
  std::string figure, ours, peer, ratio, target, verdict;
};

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string verdict(bool pass) { return pass ? "pass" : "FAIL"; }

void sleepUntil(double when) {
  const double left = when - now();
  if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double>(left));
}

void sleepFor(double seconds) { sleepUntil(now() + seconds); }

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double worst(const std::vector<double>& v) { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }

// Runs a helper program to its end.
void run(const std::vector<std::string>& argv) {
  Child c;
  if (c.start(argv)) c.wait();
}

std::string capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
  }
  return out;
}

struct Options {
  std::string program, bare, work;
  bool quick = false;
  bool startupOnly = false;  // just the start-up row, for trying changes to it
};

// One run of the recorder from its own application folder, with its settings and trace.
class Recorder {
 public:
  Recorder(const Options& o, const std::string& name) : o_(o) {
    app_ = o.work + "/" + name;
    std::filesystem::create_directories(app_);
    std::filesystem::copy_file(o.program, app_ + "/tallowen",
                               std::filesystem::copy_options::overwrite_existing);
    // The recording module goes where the program looks for it first: beside it.
    const auto codec = std::filesystem::path(o.program).parent_path() / "libtallowen_codec.so";
    if (std::filesystem::exists(codec))
      std::filesystem::copy_file(codec, app_ + "/libtallowen_codec.so",
                                 std::filesystem::copy_options::overwrite_existing);
    std::filesystem::create_directories(o.work + "/rec");
    trace_ = app_ + "/trace.txt";
  }

  void setProfile(const QString& profileText) {
    const QString ini = QString::fromStdString(app_ + "/setting.ini");
    WriteProfileString(ini, QStringLiteral("SaveTo"), QStringLiteral("Path"),
                       QString::fromStdString(o_.work + "/rec"), utf8_);
    WriteProfileString(ini, QStringLiteral("Profile"), QStringLiteral("Prof"), profileText, utf8_);
  }
  QString lastRecorded() const {
    return ReadProfileString(QString::fromStdString(app_ + "/setting.ini"), QStringLiteral("LastRecorded"),
                             QStringLiteral("FileName"), utf8_);
  }

  // Starts the program; the seconds from exec to its main window mapped, or -1.
  double start(MapWatch& watch) {
    const double t0 = now();
    if (!child_.start({app_ + "/tallowen"}, Environment(o_, trace_), app_ + "/log.txt")) return -1;
    window_ = watch.waitFor(child_.pid(), "Tallowen", 15);
    return window_.id ? window_.at - t0 : -1;
  }

  // The program's own process environment: the X platform, a first start already made.
  static std::vector<std::pair<std::string, std::string>> Environment(const Options& o,
                                                                      const std::string& trace) {
    const std::string config = o.work + "/config";
    std::filesystem::create_directories(config + "/Tallowen");
    std::ofstream(config + "/Tallowen/started") << "benchmark\n";
    return {{"QT_QPA_PLATFORM", "xcb"},
            {"XDG_CONFIG_HOME", config},
            {"LANG", "C.UTF-8"},
            {"TALLOWEN_TRACE", trace}};
  }

  // Clicks a button of the main window's row; the moment of the click.
  double click(int x) {
    run({"xdotool", "mousemove", "--window", std::to_string(window_.id), std::to_string(x),
         std::to_string(window_.height - 19)});
    const double at = now();
    run({"xdotool", "click", "1"});
    return at;
  }

  // When the program traced `moment` after `since`; NAN if it did not within `timeout`.
  double traced(const std::string& moment, double since, double timeout = 10) {
    const double deadline = now() + timeout;
    do {
      std::ifstream f(trace_);
      long long ns;
      std::string name;
      while (f >> ns >> name)
        if (name == moment && double(ns) / 1e9 > since) return double(ns) / 1e9;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (now() < deadline);
    return NAN;
  }

  Child& process() { return child_; }
  const MappedWindow& window() const { return window_; }

 private:
  const Options& o_;
  std::string app_, trace_;
  Child child_;
  MappedWindow window_;
  const LocaleCodec utf8_{"UTF-8"};
};

const QString kProfile64 = QStringLiteral("FM ラジオ");  // 64 kb/s, 44.1 kHz stereo
const QString kProfileTop = QStringLiteral("最高音質");  // 192 kb/s, 48 kHz stereo

// The whole program's CPU seconds from just before the record click to the file being
// complete after the stop click, `seconds` apart; NAN if the file did not complete.
double recordingCpu(Recorder& r, double seconds) {
  const double cpu0 = r.process().cpuSeconds();
  const double clicked = r.click(24);
  sleepUntil(clicked + seconds);
  const double stopped = r.click(56);
  if (std::isnan(r.traced("file-closed", stopped))) return NAN;
  return r.process().cpuSeconds() - cpu0;
}

double peerRecordingCpu(const Options& o, int rate, const std::string& bitRate, double seconds) {
  const std::string out = o.work + "/peer-" + bitRate + ".wma";
  Child ffmpeg;
  if (!ffmpeg.start({"ffmpeg",
                     "-nostdin",
                     "-v",
                     "error",
                     "-y",
                     "-f",
                     "pulse",
                     "-sample_rate",
                     std::to_string(rate),
                     "-channels",
                     "2",
                     "-i",
                     "default",
                     "-t",
                     format("%.0f", seconds),
                     "-c:a",
                     "wmav2",
                     "-b:a",
                     bitRate,
                     out}))
    return NAN;
  const double cpu = ffmpeg.wait();
  return test::probe(QString::fromStdString(out)).duration > seconds - 1 ? cpu : NAN;
}

// The file is complete (its header carries a duration) and holds the recording: about the
// wall-clock time between the clicks, give or take what the sound server held when they
// came.
bool completeWithDuration(const QString& path, double seconds) {
  const double d = test::probe(path).duration;
  return d > seconds - 0.5 && d < seconds + 3;
}

void printTable(const std::vector<Row>& rows) {
  const Row head{"figure", "ours", "peer", "ratio", "target", "result"};
  size_t w[6] = {};
  auto widen = [&](const Row& r) {
    const std::string* f[6] = {&r.figure, &r.ours, &r.peer, &r.ratio, &r.target, &r.verdict};
    for (int i = 0; i < 6; ++i) w[i] = std::max(w[i], f[i]->size());
  };
  widen(head);
  for (const Row& r : rows) widen(r);
  auto line = [&](const Row& r) {
    const std::string* f[6] = {&r.figure, &r.ours, &r.peer, &r.ratio, &r.target, &r.verdict};
    std::string s = "|";
    for (int i = 0; i < 6; ++i) s += " " + *f[i] + std::string(w[i] - f[i]->size(), ' ') + " |";
    std::puts(s.c_str());
  };
  line(head);
  std::string rule = "|";
  for (size_t x : w) rule += std::string(x + 2, '-') + "|";
  std::puts(rule.c_str());
  for (const Row& r : rows) line(r);
}

void note(const char* text) { std::fprintf(stderr, "bench: %s\n", text); }

// Each row is said as soon as it is measured, so that a long run shows its progress.
void add(std::vector<Row>& rows, Row row) {
  std::fprintf(stderr, "bench:   %s: %s / %s %s\n", row.figure.c_str(), row.ours.c_str(), row.peer.c_str(),
               row.verdict.c_str());
  rows.push_back(std::move(row));
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick")
      o.quick = true;
    else if (a == "--startup")
      o.startupOnly = true;
    else if (a == "--program" && i + 1 < argc)
      o.program = argv[++i];
    else if (a == "--bare" && i + 1 < argc)
      o.bare = argv[++i];
    else if (a == "--work" && i + 1 < argc)
      o.work = argv[++i];
  }
  const QString fifo = qEnvironmentVariable("TALLOWEN_TEST_MIC_FIFO");
  if (o.program.empty() || o.bare.empty() || o.work.empty() || fifo.isEmpty()) {
    std::fprintf(stderr,
                 "usage: tallowen_bench --program PATH --bare PATH --work FOLDER [--quick | --startup]\n"
                 "inside the test environment of scripts/test-env.sh\n");
    return 2;
  }
  o.work = std::filesystem::absolute(o.work).string();
  std::filesystem::create_directories(o.work);
  MapWatch watch;
  if (!watch.ok()) {
    std::fprintf(stderr, "no X display\n");
    return 2;
  }
  std::vector<Row> rows;
  const double recordSeconds = 60;

  if (!o.startupOnly) {
    note("encoding speed");
    const EncodeTimes t = MeasureEncodeSpeed(QString::fromStdString(o.work));
    const double ratio = t.oursCpu / t.peerCpu;
    add(rows, {"encoding speed: 10-min WAV to 64 kb/s, CPU s", format("%.2f", t.oursCpu),
               format("%.2f", t.peerCpu), format("%.2f", ratio), "<= 1.10 x",
               t.ok ? verdict(ratio <= 1.10) : "FAIL (" + t.error.toStdString() + ")"});
  }

  note("start-up");
  double bareKiB = 0, japaneseKiB = 0;
  std::vector<double> idleKiB;
  {
    std::vector<double> ours, bare, japanese;
    const int runs = 7;
    for (int i = 0; i <= runs; ++i) {  // the first round warms the file cache and is left out
      Child j;
      const double j0 = now();
      if (j.start({o.bare, "--japanese"}, Recorder::Environment(o, o.work + "/bare-trace.txt"))) {
        const MappedWindow w = watch.waitFor(j.pid(), "Bare", 15);
        if (i > 0 && w.id) japanese.push_back(w.at - j0);
        sleepFor(1);
        japaneseKiB = std::max(japaneseKiB, double(j.peakKiB()));
      }
      j.stop();
      Child b;
      const double t0 = now();
      if (b.start({o.bare}, Recorder::Environment(o, o.work + "/bare-trace.txt"))) {
        const MappedWindow w = watch.waitFor(b.pid(), "Bare", 15);
        if (i > 0 && w.id) bare.push_back(w.at - t0);
        sleepFor(1);
        bareKiB = std::max(bareKiB, double(b.peakKiB()));
      }
      b.stop();
      Recorder r(o, "startup");
      const double up = r.start(watch);
      if (i > 0 && up >= 0) ours.push_back(up);
      sleepFor(1);
      if (i > 0) idleKiB.push_back(double(r.process().peakKiB()));
      r.process().stop();
    }
    const double m = median(ours), p = median(bare);
    add(rows, {"start-up: exec to main window mapped, ms (median of 7)", format("%.0f", m * 1000),
               format("%.0f", p * 1000), format("%.2f", m / p), "<= 1.50 x and < 300 ms",
               verdict(ours.size() == runs && m / p <= 1.5 && m < 0.3)});
    const double jp = median(japanese);
    add(rows, {"start-up of the bare window with a Japanese menu bar, ms", format("%.0f", jp * 1000),
               format("%.0f", p * 1000), format("%.2f", jp / p), "recorded", "-"});
  }

  if (o.startupOnly) {
    std::puts("");
    printTable(rows);
    return 0;
  }

  // A continuous tone in the microphone for every recording from here on but the last,
  // written at a microphone's pace in 10 ms chunks, as the tests' microphone is.
  std::optional<test::MicFeeder> feeder;
  feeder.emplace();
  sleepFor(1);

  note("click latencies and CPU while recording at 64 kb/s");
  double recordingKiB = NAN;
  {
    std::vector<double> toFirst, toClosed;
    Recorder r(o, "record64");
    r.setProfile(kProfile64);
    if (r.start(watch) < 0) note("the main window did not come up");
    sleepFor(1);
    for (int i = 0; i < 5; ++i) {
      const double clicked = r.click(24);
      toFirst.push_back(r.traced("first-sample", clicked) - clicked);
      sleepFor(1.5);
      const double stopped = r.click(56);
      toClosed.push_back(r.traced("file-closed", stopped) - stopped);
      sleepFor(0.5);
    }
    const bool complete = completeWithDuration(r.lastRecorded(), 1.5);
    // The first recording after start-up loads the recording module; the others find it.
    const double firstOfAll = toFirst.front();
    const std::vector<double> later(toFirst.begin() + 1, toFirst.end());
    const double first = worst(later), closed = worst(toClosed);
    add(rows, {"click record to first sample, first recording after start-up, ms", format("%.0f", firstOfAll * 1000),
               "-", "-", "< 150 ms", verdict(firstOfAll < 0.150)});
    add(rows, {"click record to first sample, later recordings, ms (worst of 4)",
               format("%.0f", first * 1000) + " (median " + format("%.0f", median(later) * 1000) + ")", "-", "-",
               "< 150 ms", verdict(first < 0.150)});
    add(rows, {"click stop to file complete, ms (worst of 5)",
               format("%.0f", closed * 1000) + " (median " + format("%.0f", median(toClosed) * 1000) + ")",
               "-", "-", "< 200 ms", complete ? verdict(closed < 0.200) : "FAIL (file)"});

    sleepFor(1);
    const double ours = recordingCpu(r, recordSeconds);
    const bool ok = completeWithDuration(r.lastRecorded(), recordSeconds);
    recordingKiB = double(r.process().peakKiB());
    r.process().stop();
    const double peer = peerRecordingCpu(o, 44100, "64k", recordSeconds);
    add(rows, {"CPU while recording 60 s at 64 kb/s 44.1 kHz (meter, sync every second), s", format("%.2f", ours),
               format("%.2f", peer), format("%.2f", ours / peer), "<= 0.50 x",
               ok ? verdict(ours / peer <= 0.5) : "FAIL (file)"});
  }

  note("CPU while recording at the highest profile");
  {
    Recorder r(o, "recordtop");
    r.setProfile(kProfileTop);
    if (r.start(watch) < 0) note("the main window did not come up");
    sleepFor(1);
    const double ours = recordingCpu(r, recordSeconds);
    const bool ok = completeWithDuration(r.lastRecorded(), recordSeconds);
    r.process().stop();
    const double peer = peerRecordingCpu(o, 48000, "192k", recordSeconds);
    add(rows, {"CPU while recording 60 s at 192 kb/s 48 kHz (meter, sync every second), s", format("%.2f", ours),
               format("%.2f", peer), format("%.2f", ours / peer), "<= 0.50 x",
               ok ? verdict(ours / peer <= 0.5) : "FAIL (file)"});
  }

  note("memory while playing");
  double playingKiB = NAN;
  bool playing = false;
  {
    // The latest recording of the 64 kb/s run, one minute long.
    Recorder r(o, "record64");
    if (r.start(watch) < 0) note("the main window did not come up");
    sleepFor(1);
    r.click(88);
    const MappedWindow player = watch.waitFor(r.process().pid(), "Tallowen - 再生", 10);
    sleepFor(5);
    playing = player.id && !capture("pactl list short sink-inputs").empty();
    playingKiB = double(r.process().peakKiB());
    r.process().stop();
  }

  auto mib = [](double kib) { return format("%.1f", kib / 1024); };
  const double idle = median(idleKiB);
  add(rows, {"peak RSS idle (VmHWM) vs the bare window with the same Japanese menu bar, MiB", mib(idle),
             mib(japaneseKiB), format("%.2f", idle / japaneseKiB), "<= 1.30 x", verdict(idle / japaneseKiB <= 1.3)});
  add(rows, {"peak RSS idle (VmHWM) vs the bare window, MiB", mib(idle), mib(bareKiB),
             format("%.2f", idle / bareKiB), "recorded", "-"});
  add(rows, {"peak RSS after 60 s recording at 64 kb/s, MiB", mib(recordingKiB), mib(bareKiB),
             format("%.2f", recordingKiB / bareKiB), "recorded", "-"});
  add(rows, {"peak RSS playing a recording 5 s, MiB", mib(playingKiB), mib(bareKiB),
             format("%.2f", playingKiB / bareKiB), "recorded", playing ? "-" : "FAIL (not playing)"});

  const int toneSeconds = o.quick ? 60 : 600;
  note(o.quick ? "lost samples over 1 minute" : "lost samples over 10 minutes");
  {
    feeder.reset();
    sleepFor(1);
    const QString signal = QString::fromStdString(o.work + "/signal.wav");
    WriteSignalWav(signal, toneSeconds);
    const QString reference = QString::fromStdString(o.work + "/signal-ffmpeg.wma");
    QFile::remove(reference);
    run({"ffmpeg", "-nostdin", "-v", "error", "-i", signal.toStdString(), "-c:a", "wmav2", "-b:a", "64k",
         reference.toStdString()});
    Recorder r(o, "lost");
    r.setProfile(kProfile64);
    if (r.start(watch) < 0) note("the main window did not come up");
    Child signalFeeder;
    signalFeeder.start({"ffmpeg", "-nostdin", "-v", "error", "-re", "-i", signal.toStdString(), "-f", "s16le",
                        "-ar", "44100", "-ac", "2", "-y", fifo.toStdString()});
    const double fed = now();
    sleepUntil(fed + 3);  // inside the leading silence, after what the pipe still held
    r.click(24);
    sleepUntil(fed + kLeadSeconds + toneSeconds + 3);
    const double stopped = r.click(56);
    r.traced("file-closed", stopped);
    r.process().stop();
    signalFeeder.stop();

    const ToneSpan ref = MeasureTone(reference), rec = MeasureTone(r.lastRecorded());
    const double lost = (ref.last - ref.first) - (rec.last - rec.first);
    const bool ok =
        ref.found && rec.found && std::fabs(lost) <= 2 && rec.phaseJumps == 0 && rec.longestGap < 0.001;
    std::string ours = rec.found ? format("%.0f", lost) : "no tone";
    if (rec.found && (rec.phaseJumps || rec.longestGap >= 0.001))
      ours += ", " + std::to_string(rec.phaseJumps) + " jumps, gap " + format("%.3f s", rec.longestGap);
    add(rows, {std::string("lost samples, ") + (o.quick ? "1" : "10") + "-min 997 Hz tone (+-2 resolution)",
               ours, "-", "-", "0", verdict(ok)});
  }

  std::puts("");
  printTable(rows);
  return 0;
}
