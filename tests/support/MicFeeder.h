#pragma once
// The test microphone: a tone written into the test sound server's pipe source at the
// pace of a real microphone, from a thread of its own, for as long as the feeder lives.

#include <QString>
#include <atomic>
#include <cstdint>
#include <thread>

namespace tallowen::test {

class MicFeeder {
 public:
  static constexpr int kRate = 44100;  // the pipe source's format: s16le, stereo

  // The pipe named by TALLOWEN_TEST_MIC_FIFO; available() says whether there is one.
  explicit MicFeeder(double frequency = 440, double amplitude = 0.35);
  ~MicFeeder();
  MicFeeder(const MicFeeder&) = delete;
  MicFeeder& operator=(const MicFeeder&) = delete;

  static bool available();
  bool running() const { return fd_ >= 0; }

  // Of full scale: 0 is digital silence, 1 and more clip.
  void setAmplitude(double amplitude) { amplitude_ = amplitude; }
  // Loudness that swells and fades `perSecond` times a second, as speech does, so that a
  // level meter has something to show; 0 keeps the tone steady.
  void setSwell(double perSecond) { swell_ = perSecond; }
  // Frames written so far.
  int64_t frames() const { return frames_; }

 private:
  void run();

  int fd_ = -1;
  double frequency_;
  std::atomic<double> amplitude_;
  std::atomic<double> swell_{0};
  std::atomic<int64_t> frames_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tallowen::test
