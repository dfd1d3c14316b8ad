#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <memory>
#include <optional>

#include "recording/CaptureWorker.h"
#include "recording/EncoderError.h"
#include "recording/Profiles.h"
#include "recording/Codec.h"
#include "recording/OutputFile.h"

class QMediaDevices;
class QTimer;
class QThread;

namespace tallowen {

enum class SourceType { Audio = 1, Video = 2 };

// One input of a source group. The input is "DEVICE://" and a device name
// ("Default_Audio_Device" for the system's default input), or an audio file, as a path
// or "FILE://" and a path.
class Source {
 public:
  enum class Pace { RealTime, AsFastAsPossible };

  SourceType type() const { return SourceType::Audio; }
  void setInput(const QString& input, const QString& scheme = QString(),
                const QString& streamName = QString());
  const QString& input() const { return input_; }
  // An input the program makes itself (a generator, a test's slow input); it replaces
  // whatever setInput named.
  void setCustomInput(std::function<std::unique_ptr<AudioInput>()> make) { customInput_ = std::move(make); }
  const std::function<std::unique_ptr<AudioInput>()>& customInput() const { return customInput_; }
  // A file source starts again from its beginning when it runs out; otherwise the
  // recording ends with the file. A device never runs out.
  void setRepeat(bool repeat) { repeat_ = repeat; }
  bool repeat() const { return repeat_; }
  // A file source is read at the pace of a real input unless told otherwise.
  void setPace(Pace pace) { pace_ = pace; }
  Pace pace() const { return pace_; }

 private:
  QString input_;
  std::function<std::unique_ptr<AudioInput>()> customInput_;
  bool repeat_ = false;
  Pace pace_ = Pace::RealTime;
};

class SourceGroup {
 public:
  explicit SourceGroup(const QString& name) : name_(name) {}
  const QString& name() const { return name_; }
  // Only audio sources can be recorded; one per group.
  Source& addSource(SourceType type);
  int sourceCount() const { return static_cast<int>(sources_.size()); }
  Source& source(int index);
  void setProfile(const Profile& profile) { profile_ = profile; }
  const std::optional<Profile>& profile() const { return profile_; }

 private:
  QString name_;
  std::deque<Source> sources_;  // deque: references handed out stay valid
  std::optional<Profile> profile_;
};

class SourceGroupCollection {
 public:
  SourceGroup& add(const QString& name);  // throws EncoderError for a name in use
  int count() const { return static_cast<int>(groups_.size()); }
  SourceGroup& item(int index);

 private:
  std::deque<SourceGroup> groups_;
};

// The five descriptive texts, in this order.
class DisplayInfo {
 public:
  void setDescription(const QString& text) { texts_.description = text; }
  void setAuthor(const QString& text) { texts_.author = text; }
  void setCopyright(const QString& text) { texts_.copyright = text; }
  void setRating(const QString& text) { texts_.rating = text; }
  void setTitle(const QString& text) { texts_.title = text; }
  const DisplayTexts& texts() const { return texts_; }

 private:
  DisplayTexts texts_;
};

class EncoderFile {
 public:
  void setLocalFileName(const QString& path) { localFileName_ = path; }
  const QString& localFileName() const { return localFileName_; }

 private:
  QString localFileName_;
};

// Records one source group into one WMA file. Capture and encoding run on a thread of
// their own, and so do the start and the stop: no call waits for the disk or the sound
// server (but the stop at the program's end, which must leave the file whole). State
// changes reach the owner's thread as queued signals, one at a time.
class Encoder : public QObject {
  Q_OBJECT
 public:
  enum State { Starting = 1, Running = 2, Paused = 3, Stopping = 4, Stopped = 5 };
  Q_ENUM(State)

  // Throws EncoderError when the recording module is missing; it is loaded, on the capture
  // thread, when a recording starts.
  explicit Encoder(QObject* parent = nullptr);
  // With a profile list of its own instead of the built-in one.
  explicit Encoder(ProfileCollection profiles, QObject* parent = nullptr);
  // Completes a recording still running, waiting for it.
  ~Encoder() override;

  SourceGroupCollection& sourceGroupCollection() { return groups_; }
  ProfileCollection& profileCollection() { return profiles_; }
  DisplayInfo& displayInfo() { return displayInfo_; }
  EncoderFile& file() { return file_; }

  // Hand every packet to the operating system as soon as it is written, so that a
  // recording whose program dies keeps all but its last moments.
  void setFlushPackets(bool on) { flushPackets_ = on; }
  bool flushPackets() const { return flushPackets_; }
  // Have the operating system put the file on the disk every second, so that a recording
  // survives a power failure too, and put back a file removed while recording.
  void setSyncToDisk(bool on) { syncToDisk_ = on; }
  bool syncToDisk() const { return syncToDisk_; }
  // Where the file's writes may go; the real disk when none is given.
  void setDiskSpace(std::shared_ptr<const DiskSpace> disk) { disk_ = std::move(disk); }

  // Starts capture into the file (Starting, then Running, or Stopped with failure()), or
  // resumes a paused recording. Throws EncoderError for what can be told at once: nothing
  // to record, no quality, no file name, no such input.
  void start();
  // Suspends capture; what is captured meanwhile is left out of the file. Throws when not
  // recording.
  void pause();
  // Ends capture and completes the file: Stopping, then Stopped. Also while starting.
  void stop();
  // The same, waiting until the file is complete: for the end of the program.
  void stopAndWait();

  State state() const { return state_; }
  // Why the start failed, why the recording ended by itself, or why the file could not
  // be completed; nothing after a recording that went well.
  const std::optional<EncoderError>& failure() const { return failure_; }
  // The same in words, empty when there is none.
  QString lastError() const { return failure_ ? failure_->reason() : QString(); }
  // How the last recording ended, once Stopped.
  bool endedByItself() const { return outcome_.endedByItself; }
  bool fileMade() const { return outcome_.fileMade; }
  bool fileComplete() const { return outcome_.complete; }
  // Where the last recording's file is: put back under another name, it has moved.
  const QString& filePath() const { return outcome_.path; }
  // Samples per channel encoded so far, at the profile's rate; after the end, in all.
  int64_t samplesEncoded() const;
  // The loudest input sample since the last call (0 to 1), and whether the input has been
  // quiet for a while; nothing while not recording.
  float takeInputPeak() { return worker_ ? worker_->level().takePeak() : 0.0f; }
  bool inputSilent() { return worker_ && worker_->level().silent(); }

 signals:
  void stateChanged(int state);
  // The file was removed while recording and has been made again, at `path`.
  void fileRestored(const QString& path);

 private:
  void setState(State state);
  void onBegun(quint64 run, const std::optional<EncoderError>& failure);
  void onFinished(quint64 run, const CaptureOutcome& outcome);
  void releaseWorker();
  void watchDevice(const QByteArray& id, const QString& description);
  void checkDevice();

  SourceGroupCollection groups_;
  ProfileCollection profiles_;
  DisplayInfo displayInfo_;
  EncoderFile file_;
  bool flushPackets_ = false;
  bool syncToDisk_ = false;
  std::shared_ptr<const DiskSpace> disk_;
  State state_ = Stopped;
  std::optional<EncoderError> failure_;
  CaptureOutcome outcome_;
  std::unique_ptr<QThread> thread_;
  std::unique_ptr<CaptureWorker> worker_;
  quint64 run_ = 0;  // counts the recordings started
  // While recording from a device: whether it is still there.
  std::unique_ptr<QMediaDevices> devices_;
  std::unique_ptr<QTimer> devicePoll_;
  QByteArray deviceId_;
  QString deviceDescription_;
};

}  // namespace tallowen
