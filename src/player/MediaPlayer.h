#pragma once

#include <QList>
#include <QWidget>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;

namespace tallowen {

class LoudnessMaker;
class PlaybackEngine;
class SeekBar;
class SpokenSlider;
struct PlaybackFailure;

// The player control of the player windows: a file name that starts playing when set,
// a volume in hundredths of a decibel, a position in seconds, and the user's own transport
// buttons, seek bar with index marks and A-B loop, speed, volume and mute. Its keys work
// wherever the focus is in its window.
class MediaPlayer : public QWidget {
  Q_OBJECT
 public:
  enum class PlayState { Stopped, Paused, Playing };

  explicit MediaPlayer(QWidget* parent = nullptr);
  ~MediaPlayer() override;

  // Opens the file and, with AutoStart, plays it at once; an empty name unloads.
  void setFileName(const QString& path);
  QString FileName() const { return fileName_; }

  // 0 is full volume, -600 half the amplitude, -10000 and below silence.
  void setVolume(int hundredthsOfDecibel);
  int Volume() const { return volume_; }
  void setMute(bool muted);
  bool Mute() const { return muted_; }

  // Seconds from the start of the file; -1 when there is nothing to report.
  double CurrentPosition() const;
  // Seconds; -1 while unknown.
  double Duration() const;
  PlayState playState() const;

  // 1.0 is normal speed; the pitch stays the same at every speed offered.
  void setRate(double rate);
  double Rate() const;
  // The speeds the keys and the menu step through, slowest first.
  static const QList<double>& speeds();

  // Index marks, in milliseconds from the start: ticks on the seek bar, and where
  // Page Up and Page Down, ⏮ and ⏭ go.
  void setMarks(const QList<qint64>& marksMs);
  QList<qint64> marks() const { return marks_; }

  // What the control says about a file it cannot play, or that ended before its length;
  // empty when it plays.
  QString problem() const;

  // The play button takes the keyboard focus.
  void takeFocus();
  // Shows on the seek bar where the file is: the window's position tick calls it, so that
  // one timer watches the position.
  void showPosition();

  bool AutoStart = true;

  static double amplitudeOf(int hundredthsOfDecibel);

 signals:
  // The user's own changes, once a drag of the slider has ended; not those of setVolume().
  void volumeChosen(int hundredthsOfDecibel);
  void muteChosen(bool muted);

 private:
  void buildControls();
  void buildActions();
  QAction* addCommand(const QString& text, const QList<QKeySequence>& keys, void (MediaPlayer::*slot)());

  void togglePlay();
  void play();
  void pause();
  void stop();
  void back();
  void forward();
  void toStart();
  void toEnd();
  void previousMark();
  void nextMark();
  void slower();
  void faster();
  void normalSpeed();
  void markLoop();
  void seekBy(qint64 ms);
  void seekTo(qint64 ms);
  void clearLoop();

  void applyVolume(int hundredthsOfDecibel);
  void applyMute(bool muted);
  void showFailure(const PlaybackFailure& failure);
  void showProblem(const QString& text, const QString& detail = QString());
  // Hides what showProblem() said of a file cut short, and brings the seek bar back.
  void dismissNotice();
  void clearProblem();
  void placeLength();
  void showDuration(qint64 ms);
  void showRate();
  // What ⏮ and ⏭ do: go to the marks when the file has some.
  void describeSkips();
  void updateControls();
  qint64 positionMs() const;
  // The file's loudness behind the seek bar, made off this thread.
  void showLoudnessOf(const QString& path);

  PlaybackEngine* engine_;
  LoudnessMaker* loudness_ = nullptr;
  SeekBar* seekBar_ = nullptr;
  QLabel* lengthLabel_ = nullptr;
  QLabel* problemLabel_ = nullptr;
  QToolButton* playButton_ = nullptr;
  QToolButton* stopButton_ = nullptr;
  QToolButton* startButton_ = nullptr;
  QToolButton* backButton_ = nullptr;
  QToolButton* forwardButton_ = nullptr;
  QToolButton* endButton_ = nullptr;
  QToolButton* speedButton_ = nullptr;
  QToolButton* muteButton_ = nullptr;
  SpokenSlider* volumeSlider_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  QMenu* speedMenu_ = nullptr;
  QActionGroup* speedActions_ = nullptr;
  QAction* playAction_ = nullptr;
  QAction* muteAction_ = nullptr;

  QString fileName_;
  int volume_ = 0;
  bool muted_ = false;
  bool notice_ = false;  // the message is about a file cut short, which still plays
  QList<qint64> marks_;
};

}  // namespace tallowen
