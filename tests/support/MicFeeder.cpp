#include "support/MicFeeder.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QFile>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace tallowen::test {

namespace {

// 10 ms a write: below the pipe's atomic size, so a frame is never split and the sound
// server never reads half a sample.
constexpr int kChunk = MicFeeder::kRate / 100;

}  // namespace

bool MicFeeder::available() { return !qEnvironmentVariableIsEmpty("TALLOWEN_TEST_MIC_FIFO"); }

MicFeeder::MicFeeder(double frequency, double amplitude) : frequency_(frequency), amplitude_(amplitude) {
  if (!available()) return;
  // The sound server holds the pipe open for reading, so this does not wait.
  const QByteArray fifo = QFile::encodeName(qEnvironmentVariable("TALLOWEN_TEST_MIC_FIFO"));
  // Sound an earlier test left in the pipe is old: nobody recorded it, so it is gone.
  if (const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); reader >= 0) {
    char discard[4096];
    while (::read(reader, discard, sizeof discard) > 0) {
    }
    ::close(reader);
  }
  fd_ = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ >= 0) thread_ = std::thread([this] { run(); });
}

MicFeeder::~MicFeeder() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

void MicFeeder::run() {
  // A test may take the microphone away: writing then fails rather than end the process.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<int16_t> chunk(2 * kChunk);
  while (!stop_) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    // A little ahead of the clock, as a sound card's buffer is: a server that reads a
    // period at a time (PipeWire) never finds the pipe short of one.
    const auto due = int64_t(elapsed * kRate) + 3 * kChunk;
    while (frames_ + kChunk <= due && !stop_) {
      const double amplitude = amplitude_, swell = swell_;
      for (int i = 0; i < kChunk; ++i) {
        const double t = double(frames_ + i) / kRate;
        const double loudness = swell > 0 ? 0.55 + 0.45 * std::sin(2 * std::numbers::pi * swell * t) : 1.0;
        const double v =
            std::clamp(amplitude * loudness * std::sin(2 * std::numbers::pi * frequency_ * t), -1.0, 1.0);
        chunk[2 * i] = chunk[2 * i + 1] = int16_t(std::lround(v * 32767));
      }
      const auto bytes = ssize_t(chunk.size() * sizeof(int16_t));
      // The sound server reads the pipe only while something records. A microphone nobody
      // listens to keeps nothing: what would pile up in the pipe is dropped instead, so a
      // recording starts with the present, not with a backlog. PipeWire reads a period of
      // its graph at a time (some 20 ms), so up to 50 ms may wait.
      int waiting = 0;
      if (::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting < 5 * bytes) {
        const ssize_t written = ::write(fd_, chunk.data(), size_t(bytes));
        (void)written;  // a pipe that filled meanwhile drops the chunk, as above
      }
      frames_ += kChunk;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace tallowen::test
