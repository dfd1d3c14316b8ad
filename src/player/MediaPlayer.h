#pragma once

#include <QMediaPlayer>
#include <QWidget>

class QAudioOutput;
class QLabel;
class QSlider;
class QToolButton;

namespace tallowen {

// The player control of the player windows: a file name that starts playing when set,
// a volume in hundredths of a decibel, a position in seconds, and the user's own transport
// buttons, seek bar, volume and mute.
class MediaPlayer : public QWidget {
  Q_OBJECT
 public:
  explicit MediaPlayer(QWidget* parent = nullptr);
  ~MediaPlayer() override;

  // Opens the file and, with AutoStart, plays it at once; an empty name unloads.
  void setFileName(const QString& path);
  QString FileName() const { return fileName_; }

  // 0 is full volume, -600 half the amplitude, -10000 and below silence.
  void setVolume(int hundredthsOfDecibel);
  int Volume() const { return volume_; }

  // Seconds from the start of the file; -1 when there is nothing to report.
  double CurrentPosition() const;

  bool AutoStart = true;

  // What the control says about the file it cannot play; empty when it plays.
  QString problem() const;

  QMediaPlayer* engine() const { return player_; }
  QAudioOutput* output() const { return output_; }

  QToolButton* playButton() const { return play_; }
  QToolButton* pauseButton() const { return pause_; }
  QToolButton* stopButton() const { return stop_; }
  QToolButton* muteButton() const { return mute_; }
  QSlider* tracker() const { return tracker_; }
  QSlider* volumeSlider() const { return volumeSlider_; }

  static double amplitudeOf(int hundredthsOfDecibel);

 private:
  void play();
  void pause();
  void stop();
  void seekBy(qint64 ms);
  void seekTo(qint64 ms);
  void showProblem(const QString& text);
  void updateControls();

  QMediaPlayer* player_;
  QAudioOutput* output_;
  QToolButton* play_;
  QToolButton* pause_;
  QToolButton* stop_;
  QToolButton* start_;
  QToolButton* back_;
  QToolButton* forward_;
  QToolButton* end_;
  QToolButton* mute_;
  QSlider* tracker_;
  QSlider* volumeSlider_;
  QLabel* message_;

  QString fileName_;
  int volume_ = 0;
  bool ended_ = false;  // stays at the end: no rewind after the last sample
};

}  // namespace tallowen
