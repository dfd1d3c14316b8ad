#pragma once
// A recording session on a sound file, driven as the window drives it.

#include <gtest/gtest.h>

#include <vector>

#include "recording/RecordingSession.h"
#include "support/FakeSeams.h"
#include "support/Wait.h"

namespace tallowen::test {

class Recorder {
 public:
  explicit Recorder(const QString& file, FileSources::Pace pace = FileSources::Pace::RealTime, bool repeat = true)
      : sound(file, pace, repeat) {
    QObject::connect(&session, &RecordingSession::finished,
                     [this](const RecordingResult& r) { results.push_back(r); });
  }
  // Starts a recording of the profile at `profile` into `path`; false when it did not
  // start.
  bool start(const QString& path, int profile) {
    session.start(RecordingSetup{path, ProfileCollection().item(profile), AudioInput{}, {}});
    using Phase = RecordingSession::Phase;
    // A short file recorded as fast as it goes may be done before the first look.
    return waitUntil([&] { return session.phase() == Phase::Recording || session.phase() == Phase::Idle; }) &&
           (session.phase() == Phase::Recording || (!results.empty() && results.back().started));
  }
  // Stops, and the result once the file is complete.
  RecordingResult stop() {
    session.stop();
    return finished();
  }
  // The result, once the recording has ended (by itself, or after a stop).
  RecordingResult finished(int timeoutMs = 20000) {
    EXPECT_TRUE(waitUntil(
        [&] { return session.phase() == RecordingSession::Phase::Idle && !results.empty(); }, timeoutMs));
    return results.empty() ? RecordingResult() : results.back();
  }
  // A whole file of `file`'s sound, recorded as fast as the encoder goes.
  static QString recordWhole(const QString& file, int profile, const QString& path) {
    Recorder recorder(file, FileSources::Pace::AsFastAsPossible, false);
    EXPECT_TRUE(recorder.start(path, profile));
    return recorder.finished(60000).path;
  }

  FakeClock clock;
  FileSources sound;
  RecordingSession session{sound, clock};
  std::vector<RecordingResult> results;
};

}  // namespace tallowen::test
