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
  bool startupOnly = false;    // just the start-up row, for trying changes to it
  bool recordingOnly = false;  // just the rows of the 30 s recordings
  bool lostOnly = false;       // just the lost-samples row
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
      for (const Traced& t : tracedAll(moment, since)) return t.at;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (now() < deadline);
    return NAN;
  }

  // Every `moment` traced after `since` and before `until`, with its figure if it has one.
  struct Traced {
    double at;
    long long value;
  };
  std::vector<Traced> tracedAll(const std::string& moment, double since, double until = INFINITY) const {
    std::vector<Traced> found;
    std::ifstream f(trace_);
    std::string line;
    while (std::getline(f, line)) {
      std::istringstream fields(line);
      long long ns = 0, value = 0;
      std::string name;
      if (!(fields >> ns >> name) || name != moment) continue;
      fields >> value;
      const double at = double(ns) / 1e9;
      if (at > since && at < until) found.push_back({at, value});
    }
    return found;
  }

  // Takes the main window off the screen, as a minimized window is, and puts it back.
  void hide() { run({"xdotool", "windowunmap", "--sync", std::to_string(window_.id)}); }
  void show() { run({"xdotool", "windowmap", "--sync", std::to_string(window_.id)}); }

  Child& process() { return child_; }
  const MappedWindow& window() const { return window_; }

 private:
  const Options& o_;
  std::string app_, trace_;
  Child child_;
  MappedWindow window_;
  const LocaleCodec utf8_{"UTF-8"};
};

const QString kProfileFirst = QStringLiteral("音声 低音質");  // 24 kb/s, 16 kHz mono
const QString kProfile64 = QStringLiteral("FM ラジオ");  // 64 kb/s, 44.1 kHz stereo
const QString kProfileTop = QStringLiteral("最高音質");  // 192 kb/s, 48 kHz stereo

// The file is complete (its header carries a duration) and holds the recording: about the
// wall-clock time between the clicks, give or take what the sound server held when they
// came.
bool completeWithDuration(const QString& path, double seconds) {
  const double d = test::probe(path).duration;
  return d > seconds - 0.5 && d < seconds + 3;
}

struct Quality {
  const QString& name;
  int rate, channels;
  std::string bitRate;  // as ffmpeg is told it
};

// The figures of one recording of `seconds`, clicked on and off as a user does.
struct RecordingRun {
  bool complete = false;
  double cpu = NAN;             // the whole program, click to file complete
  ThreadTable steady;           // each thread over the steady middle of the recording
  double steadySeconds = 0;
  double worstUnsynced = NAN;   // the most sound a power cut would have taken, s
  long peakKiB = 0;
  std::map<std::string, long> mappings;  // resident KiB by mapping, while recording
};

double wakeUpsPerSecond(const RecordingRun& run) {
  long long all = 0;
  for (const auto& [tid, t] : run.steady) all += t.wakeUps;
  return double(all) / run.steadySeconds;
}

// `hidden`: the window is taken off the screen a second into the recording and put back
// for the stop.
RecordingRun record(Recorder& r, double seconds, bool hidden) {
  RecordingRun run;
  const double cpu0 = r.process().cpuSeconds();
  const double clicked = r.click(24);
  const double first = r.traced("first-sample", clicked);
  if (hidden) {
    sleepUntil(clicked + 1);
    r.hide();
  }
  // The steady part: after the start has settled, before the stop.
  sleepUntil(clicked + 5);
  const ThreadTable before = r.process().threads();
  const double from = now();
  sleepUntil(clicked + seconds - 5);
  run.steady = Between(before, r.process().threads());
  run.steadySeconds = now() - from;
  run.mappings = r.process().residentByMapping();
  if (hidden) r.show();
  sleepUntil(clicked + seconds);
  const double stopped = r.click(56);
  const double closed = r.traced("file-closed", stopped);
  run.cpu = r.process().cpuSeconds() - cpu0;
  run.peakKiB = r.process().peakKiB();
  run.complete = !std::isnan(closed) && completeWithDuration(r.lastRecorded(), seconds);
  // A power cut just before a sync takes what came since the one before it: the time since
  // the first sample, less the sound that sync had put on the disk.
  const std::vector<Recorder::Traced> syncs = r.tracedAll("synced", first, stopped);
  for (size_t i = 0; i + 1 < syncs.size(); ++i)
    run.worstUnsynced = std::fmax(std::isnan(run.worstUnsynced) ? 0 : run.worstUnsynced,
                                  syncs[i + 1].at - first - double(syncs[i].value) / 1000);
  return run;
}

struct PeerRun {
  double cpu = NAN;
  double wakeUps = NAN;  // per second, over the steady middle
};

// ffmpeg recording the same input live for `seconds` into WMA at the same quality.
PeerRun peerRecording(const std::string& work, const Quality& q, double seconds) {
  PeerRun run;
  const std::string out = work + "/peer-" + q.bitRate + ".wma";
  Child ffmpeg;
  if (!ffmpeg.start({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "pulse", "-sample_rate", std::to_string(q.rate),
                     "-channels", std::to_string(q.channels), "-i", "default", "-t", format("%.0f", seconds), "-c:a",
                     "wmav2", "-b:a", q.bitRate, out}))
    return run;
  const double started = now();
  sleepUntil(started + 5);
  const ThreadTable before = ffmpeg.threads();
  const double from = now();
  sleepUntil(started + seconds - 5);
  long long all = 0;
  for (const auto& [tid, t] : Between(before, ffmpeg.threads())) all += t.wakeUps;
  run.wakeUps = double(all) / (now() - from);
  const double cpu = ffmpeg.wait();
  if (test::probe(QString::fromStdString(out)).duration > seconds - 1) run.cpu = cpu;
  return run;
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

// Each thread's CPU and wake-ups over the steady middle of a recording.
void printThreads(const std::vector<std::pair<std::string, ThreadTable>>& tables, double seconds) {
  for (const auto& [title, table] : tables) {
    std::printf("\nthreads, recording %s, over %.0f s:\n", title.c_str(), seconds);
    std::printf("| thread           | CPU ms/s | wake-ups/s |\n|------------------|----------|------------|\n");
    double cpu = 0, wakeUps = 0;
    for (const auto& [tid, t] : table) {
      std::printf("| %-16s | %8.2f | %10.1f |\n", t.name.c_str(), t.cpu * 1000 / seconds, double(t.wakeUps) / seconds);
      cpu += t.cpu, wakeUps += double(t.wakeUps);
    }
    std::printf("| %-16s | %8.2f | %10.1f |\n", "all", cpu * 1000 / seconds, wakeUps / seconds);
  }
}

// What the recording holds in memory beyond the idle program, by mapping: the rest of
// the peak is there.
void printMappings(const std::map<std::string, long>& idle, const std::map<std::string, long>& recording) {
  std::vector<std::pair<long, std::string>> grown;
  long total = 0;
  for (const auto& [mapping, kib] : recording) {
    const auto before = idle.find(mapping);
    const long more = kib - (before == idle.end() ? 0 : before->second);
    total += more;
    if (more >= 256) grown.emplace_back(more, mapping);
  }
  std::sort(grown.rbegin(), grown.rend());
  std::printf("\nresident memory recording adds to the idle program, by mapping (256 KiB or more):\n");
  std::printf("| KiB    | mapping |\n|--------|---------|\n");
  for (const auto& [kib, mapping] : grown) std::printf("| %6ld | %s |\n", kib, mapping.c_str());
  std::printf("| %6ld | all |\n", total);
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
    else if (a == "--recording")
      o.recordingOnly = true;
    else if (a == "--lost-samples")
      o.lostOnly = true;
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

  if (!o.startupOnly && !o.recordingOnly && !o.lostOnly) {
    note("encoding speed");
    const EncodeTimes t = MeasureEncodeSpeed(QString::fromStdString(o.work));
    const double ratio = t.oursCpu / t.peerCpu;
    add(rows, {"encoding speed: 10-min WAV to 64 kb/s, CPU s", format("%.2f", t.oursCpu),
               format("%.2f", t.peerCpu), format("%.2f", ratio), "<= 1.10 x",
               t.ok ? verdict(ratio <= 1.10) : "FAIL (" + t.error.toStdString() + ")"});
  }

  double bareKiB = 0, japaneseKiB = 0;
  std::vector<double> idleKiB;
  if (!o.recordingOnly && !o.lostOnly) {
    note("start-up");
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

  // A tone in the microphone for every recording from here on but the last, written at a
  // microphone's pace in 10 ms chunks, as the tests' microphone is; its loudness swells as
  // speech does, so that the level meter redraws as it would for a voice.
  std::optional<test::MicFeeder> feeder;
  feeder.emplace();
  feeder->setSwell(1.3);
  sleepFor(1);

  if (!o.recordingOnly && !o.lostOnly) {
    note("click latencies at 64 kb/s");
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
    r.process().stop();
  }

  // The cost of recording against the encoder's own: 30 s at the first and at the highest
  // quality, the window on screen with its meter; then 30 s with the window off the screen.
  const double seconds = 30;
  const Quality first{kProfileFirst, 16000, 1, "24k"}, top{kProfileTop, 48000, 2, "192k"};
  std::vector<std::pair<std::string, ThreadTable>> threadTables;
  std::map<std::string, long> idleMappings, recordingMappings;
  double idleKiBBeforeRecording = NAN, recordingKiB = NAN;
  for (const Quality* q : {&first, &top}) {
    if (o.lostOnly) break;
    note(("recording 30 s at " + q->bitRate + "b/s").c_str());
    const ProfileCollection profiles;
    const double floor = EncodingFloorCpu(*profiles.matching(q->name), seconds, QString::fromStdString(o.work));
    Recorder r(o, "record" + q->bitRate);
    r.setProfile(q->name);
    if (r.start(watch) < 0) note("the main window did not come up");
    sleepFor(2);
    if (q == &first) {
      idleKiBBeforeRecording = double(r.process().peakKiB());
      idleMappings = r.process().residentByMapping();
    }
    const RecordingRun seen = record(r, seconds, false);
    const std::string what = q->bitRate + "b/s " + std::to_string(q->rate / 1000) + " kHz";
    add(rows, {"CPU recording 30 s at " + what + ", window on screen with the meter, s", format("%.3f", seen.cpu),
               format("%.3f", floor), format("%.1f", seen.cpu / floor), "<= 5 x the encoding floor",
               seen.complete ? verdict(seen.cpu / floor <= 5) : "FAIL (file)"});
    threadTables.emplace_back("on screen, " + what, seen.steady);
    const PeerRun peer = peerRecording(o.work, *q, seconds);
    add(rows, {"  the same recorded live by ffmpeg, CPU s / wake-ups a second",
               format("%.3f", peer.cpu) + " / " + format("%.0f", peer.wakeUps), "-", "-", "recorded", "-"});
    add(rows, {"wake-ups a second recording at " + what + ", window on screen", format("%.1f", wakeUpsPerSecond(seen)),
               format("%.0f", peer.wakeUps), format("%.2f", wakeUpsPerSecond(seen) / peer.wakeUps), "<= 30",
               verdict(wakeUpsPerSecond(seen) <= 30)});
    add(rows, {"sound a power cut could take, worst over 30 s at " + what + ", window on screen, s",
               format("%.2f", seen.worstUnsynced), "-", "-", "<= 1.0", verdict(seen.worstUnsynced <= 1.0)});
    if (q == &first) {
      recordingKiB = double(seen.peakKiB);
      recordingMappings = seen.mappings;
      sleepFor(1);
      const RecordingRun hidden = record(r, seconds, true);
      add(rows, {"wake-ups a second recording at " + what + ", window off the screen",
                 format("%.1f", wakeUpsPerSecond(hidden)), "-", "-", "<= 5", verdict(wakeUpsPerSecond(hidden) <= 5)});
      add(rows, {"sound a power cut could take, worst over 30 s at " + what + ", window off the screen, s",
                 format("%.2f", hidden.worstUnsynced), "-", "-", "<= 1.0", verdict(hidden.worstUnsynced <= 1.0)});
      threadTables.emplace_back("off the screen, " + what, hidden.steady);
    }
    r.process().stop();
  }
  auto printAll = [&] {
    std::puts("");
    printTable(rows);
    printThreads(threadTables, seconds - 10);
    printMappings(idleMappings, recordingMappings);
  };
  if (o.recordingOnly) {
    printAll();
    return 0;
  }

  if (!o.lostOnly) {
    note("memory while playing");
    double playingKiB = NAN;
    bool playing = false;
    {
      // The latest recording of the 24 kb/s runs, 30 s long.
      Recorder r(o, "record24k");
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
    add(rows, {"peak RSS recording 30 s at 24 kb/s vs the same program idle, MiB", mib(recordingKiB),
               mib(idleKiBBeforeRecording), format("%.2f", recordingKiB / idleKiBBeforeRecording), "<= 1.30 x",
               verdict(recordingKiB / idleKiBBeforeRecording <= 1.3)});
    add(rows, {"peak RSS playing a recording 5 s, MiB", mib(playingKiB), mib(bareKiB),
               format("%.2f", playingKiB / bareKiB), "recorded", playing ? "-" : "FAIL (not playing)"});
  }

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
    // Recording first, then the signal. Fed before, the signal would wait in the pipe while
    // PipeWire's pipe source is suspended (nothing records), and the recording would run that
    // far behind the clock to its end: its stop would cut the tone's last moments off.
    r.click(24);
    sleepFor(1);
    Child signalFeeder;
    signalFeeder.start({"ffmpeg", "-nostdin", "-v", "error", "-re", "-i", signal.toStdString(), "-f", "s16le",
                        "-ar", "44100", "-ac", "2", "-y", fifo.toStdString()});
    const double fed = now();
    sleepUntil(fed + kLeadSeconds + toneSeconds + 3);
    const double stopped = r.click(56);
    r.traced("file-closed", stopped);
    r.process().stop();
    signalFeeder.stop();

    const ToneSpan ref = MeasureTone(reference), rec = MeasureTone(r.lastRecorded());
    const double lost = (ref.last - ref.first) - (rec.last - rec.first);
    // Where the tones lie tells a cut edge from a gap inside.
    std::fprintf(stderr, "bench: the tone in the reference: samples %.0f to %.0f; in the recording: %.0f to %.0f\n",
                 ref.first, ref.last, rec.first, rec.last);
    const bool ok =
        ref.found && rec.found && std::fabs(lost) <= 2 && rec.phaseJumps == 0 && rec.longestGap < 0.001;
    std::string ours = rec.found ? format("%.0f", lost) : "no tone";
    if (rec.found && (rec.phaseJumps || rec.longestGap >= 0.001))
      ours += ", " + std::to_string(rec.phaseJumps) + " jumps, gap " + format("%.3f s", rec.longestGap);
    add(rows, {std::string("lost samples, ") + (o.quick ? "1" : "10") + "-min 997 Hz tone (+-2 resolution)",
               ours, "-", "-", "0", verdict(ok)});
  }

  printAll();
  return 0;
}
