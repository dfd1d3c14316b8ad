#include "Child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace tallowen::bench {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Child::~Child() { stop(); }

bool Child::start(const std::vector<std::string>& argv, const std::vector<std::pair<std::string, std::string>>& env,
                  const std::string& log) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) vars[std::string(*e, size_t(eq - *e))] = eq + 1;
  }
  for (const auto& [k, v] : env) vars[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : vars) envStrings.push_back(k + '=' + v);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string out = log.empty() ? std::string("/dev/null") : log;
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int r = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) pid_ = -1;
  return r == 0;
}

double Child::cpuSeconds() const {
  std::ifstream f("/proc/" + std::to_string(pid_) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  // The command name may hold spaces: fields are counted after its closing parenthesis.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

long Child::peakKiB() const {
  std::ifstream f("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

ThreadTable Child::threads() const {
  ThreadTable table;
  const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(tasks, error)) {
    ThreadFigures f;
    std::ifstream comm(entry.path() / "comm");
    std::getline(comm, f.name);
    unsigned long long ns = 0;
    if (!(std::ifstream(entry.path() / "schedstat") >> ns)) continue;
    f.cpu = double(ns) / 1e9;
    std::ifstream status(entry.path() / "status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        f.wakeUps += std::atoll(line.c_str() + line.find(':') + 1);
    table[std::atoi(entry.path().filename().c_str())] = f;
  }
  return table;
}

std::map<std::string, long> Child::residentByMapping() const {
  std::map<std::string, long> kib;
  std::ifstream smaps("/proc/" + std::to_string(pid_) + "/smaps");
  std::string line, mapping = "[anon]";
  while (std::getline(smaps, line)) {
    // A mapping's first line: "start-end perms offset dev inode [path]".
    if (line.find('-') < line.find(' ') && std::isxdigit(static_cast<unsigned char>(line[0]))) {
      std::istringstream fields(line);
      std::string range, perms, offset, dev, inode, path;
      fields >> range >> perms >> offset >> dev >> inode;
      std::getline(fields >> std::ws, path);
      mapping = path.empty() || path[0] == '[' ? "[anon]" : path;
    } else if (line.rfind("Rss:", 0) == 0) {
      kib[mapping] += std::atol(line.c_str() + 4);
    }
  }
  return kib;
}

ThreadTable Between(const ThreadTable& before, const ThreadTable& after) {
  ThreadTable d;
  for (const auto& [tid, a] : after) {
    const auto b = before.find(tid);
    if (b == before.end()) continue;
    d[tid] = ThreadFigures{a.name, a.cpu - b->second.cpu, a.wakeUps - b->second.wakeUps};
  }
  return d;
}

double Child::wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  rusage usage{};
  const pid_t r = wait4(pid_, &status, 0, &usage);
  pid_ = -1;
  if (r <= 0) return -1;
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Child::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  wait();
}

double Child::interrupt() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGINT);
  return wait();
}

}  // namespace tallowen::bench
