#pragma once
// A program started by the bench, watched through /proc while it runs.

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tallowen::bench {

// The steady clock in seconds; the program's trace uses the same clock.
double now();

// One thread's figures so far: its CPU time to the nanosecond (schedstat), and its
// context switches, voluntary and not: the times it was woken or set aside.
struct ThreadFigures {
  std::string name;
  double cpu = 0;
  long long wakeUps = 0;
};
using ThreadTable = std::map<int, ThreadFigures>;  // by thread id

// What each thread did between two looks; threads that came or went meanwhile are left out.
ThreadTable Between(const ThreadTable& before, const ThreadTable& after);

class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  // Starts `argv` with these variables added to the bench's environment; stdin is
  // /dev/null, stdout and stderr go to `log` when given. Returns false if it did not start.
  bool start(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env = {},
             const std::string& log = {});
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }

  // User plus system CPU seconds so far, from /proc/<pid>/stat.
  double cpuSeconds() const;
  // Peak resident size so far in KiB (VmHWM).
  long peakKiB() const;
  // Every thread's figures so far.
  ThreadTable threads() const;
  // Resident KiB by mapped file ("[anon]" for the rest), from /proc/<pid>/smaps.
  std::map<std::string, long> residentByMapping() const;

  // Waits for the end; the CPU seconds the whole process used, or -1.
  double wait();
  // SIGTERM, then SIGKILL after a second; waits.
  void stop();
  // Sends SIGINT (ffmpeg finishes its file on it) and waits.
  double interrupt();

 private:
  pid_t pid_ = -1;
};

}  // namespace tallowen::bench
