#pragma once
// The only part of the program that knows GStreamer: everything else speaks of files,
// milliseconds, speeds and typed failures.

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

namespace tallowen {

// Why a file does not play, in the engine's own words; the player words it in Japanese.
struct PlaybackFailure {
  enum class Cause {
    None,
    MissingComponent,  // no GStreamer, or no plugin for this kind of file
    Unreadable,        // the file cannot be opened or read
    Undecodable,       // read, but not sound that can be decoded
    Damaged,           // a decoder for its kind is there, but the file's stream header is impossible
    NoOutput,          // the sound server cannot be reached
    Other,
  };
  Cause cause = Cause::None;
  QString detail;  // GStreamer's own text, for the tooltip and the log
};

// Plays one local file at a time, at any speed with the pitch kept (GStreamer's playbin
// with scaletempo), and reports what happens as queued signals on the thread that owns it.
// Nothing polls: GStreamer's bus hands each message to this object's thread.
class PlaybackEngine : public QObject {
  Q_OBJECT
 public:
  enum class State { Stopped, Paused, Playing };
  enum class Media { None, Loading, Ready, Ended, Failed };

  explicit PlaybackEngine(QObject* parent = nullptr);
  ~PlaybackEngine() override;
  PlaybackEngine(const PlaybackEngine&) = delete;
  PlaybackEngine& operator=(const PlaybackEngine&) = delete;

  // Opens a local file, and plays it as soon as it is ready when asked to.
  void load(const QString& path, bool play);
  void unload();

  void play();
  void pause();
  // Back to the start, paused.
  void stop();
  void seek(qint64 ms);
  // 1.0 is normal speed; the pitch stays the same at any other.
  void setRate(double rate);
  // The A-B loop, kept here alone. A by itself marks where a loop will start; with B,
  // fromMs..toMs plays over and over until it is cleared, a seek leaves it, or the file
  // is unloaded. Each change is told by loopChanged().
  void setLoopStart(qint64 fromMs);
  void setLoop(qint64 fromMs, qint64 toMs);
  void clearLoop();
  // -1 while unset.
  qint64 loopFrom() const { return loopFrom_; }
  qint64 loopTo() const { return loopTo_; }
  // Linear amplitude, 1.0 for the file as it is.
  void setVolume(double amplitude);
  void setMuted(bool muted);

  State state() const { return state_; }
  Media media() const { return media_; }
  // Milliseconds from the start of the file; 0 when the position cannot be read.
  qint64 position() const;
  // -1 while unknown.
  qint64 duration() const { return duration_; }
  bool isSeekable() const { return seekable_; }
  double rate() const { return rate_; }
  const PlaybackFailure& failure() const { return failure_; }

 signals:
  void loopChanged();
  void stateChanged(State state);
  void mediaChanged(Media media);
  void durationChanged(qint64 ms);
  void seekableChanged(bool seekable);
  void failed(const PlaybackFailure& failure);
  // The sound ran out at `reachedMs`, well before the length the file gave (`expectedMs`):
  // the file was cut short, maybe while it played. The duration is now `reachedMs`.
  void cutShort(qint64 reachedMs, qint64 expectedMs);

 private:
  struct Pipeline;
  struct Relay;
  struct BusNote;
  friend struct Relay;

  void handle(const BusNote& note);
  void prerolled();
  void ended();
  // Where a seek to or past the end leaves the file: as if it had played to its end.
  void atTheEnd();
  void fail(const PlaybackFailure& failure);
  void setState(State state);
  void setMedia(Media media);
  void readDurationAndSeekable();
  // A flushing seek to `ms` at the current rate, held back until the file is ready.
  void seekNow(qint64 ms);
  void loopAgain();
  void applyTarget();
  void tearDown();

  std::unique_ptr<Pipeline> pipeline_;
  // Which file a bus message belongs to: messages of a file that has been replaced are
  // dropped. Written on this thread only after the old file's threads have stopped.
  std::atomic<quint64> generation_{0};
  // Which stretch of the file a loop's end belongs to (see loopAgain()).
  std::atomic<quint64> seekGeneration_{0};

  State state_ = State::Stopped;
  Media media_ = Media::None;
  PlaybackFailure failure_;
  qint64 duration_ = -1;
  bool seekable_ = false;
  bool ready_ = false;          // prerolled: seeks and queries may go to the pipeline
  bool seeking_ = false;        // a flushing seek is under way: its target is the position
  qint64 seekTarget_ = 0;
  qint64 pendingSeek_ = -1;     // asked for before the file was ready
  bool atEnd_ = false;
  QString decoderRefusal_;       // why an installed decoder refused the stream; empty while none did
  double rate_ = 1.0;
  // Sets the loop's ends and tells of a change.
  void placeLoop(qint64 fromMs, qint64 toMs);

  qint64 loopFrom_ = -1;
  qint64 loopTo_ = -1;
  double volume_ = 1.0;
  bool muted_ = false;
};

}  // namespace tallowen
