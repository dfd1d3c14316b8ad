#pragma once

#include <QList>
#include <QWidget>
#include <memory>

#include "player/WaveformView.h"

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;

namespace tallowen {

class LoudnessMaker;
class LoudnessMeter;
class PlaybackEngine;
struct PlaybackFailure;

// The recordings window's look into one recording: its waveform, and playback of it (or of
// the selection) with the player's engine, speeds and marks. A recording still being
// recorded shows its waveform growing and is not played until it is complete.
class RecordingReview : public QWidget {
  Q_OBJECT
 public:
  explicit RecordingReview(QWidget* parent = nullptr);
  ~RecordingReview() override;

  // Shows the file at `path`; `live` is the loudness summed so far while it is recorded.
  void showRecording(const QString& path, qint64 lengthMs, std::shared_ptr<const LoudnessMeter> live);
  // Nothing chosen: `why` is said across the waveform.
  void showNothing(const QString& why);
  const QString& path() const { return path_; }
  bool live() const { return live_ != nullptr; }

  WaveformView& waveform() { return *waveform_; }
  // The commands, for the window's menus; they work wherever the focus is in the window.
  QMenu* playMenu() const { return playMenu_; }
  QMenu* viewMenu() const { return viewMenu_; }

 protected:
  void hideEvent(QHideEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QAction* addCommand(QMenu* menu, const QString& text, const QKeySequence& key, void (RecordingReview::*slot)());
  void togglePlay();
  void play();
  void pause();
  void back();
  void forward();
  void previousMark();
  void nextMark();
  void slower();
  void faster();
  void normalSpeed();
  void zoomIn();
  void zoomOut();
  void zoomWhole();
  void seekTo(qint64 ms);
  void tick();
  void readMarks();
  void growLive();
  void showState();
  void showFailure(const PlaybackFailure& failure);
  void setRate(double rate);
  // The engine, made the first time something is played.
  PlaybackEngine& engine();

  WaveformView* waveform_;
  QToolButton* playButton_;
  QLabel* positionLabel_;
  QToolButton* speedButton_;
  QMenu* playMenu_;
  QMenu* viewMenu_;
  QAction* playAction_ = nullptr;
  QTimer* position_;  // while playing
  QTimer* grow_;      // while a recording that is still being recorded shows
  LoudnessMaker* maker_;
  PlaybackEngine* engine_ = nullptr;

  QString path_;
  QString failure_;  // why the engine could not play path_
  bool loaded_ = false;  // the engine holds path_
  std::shared_ptr<const LoudnessMeter> live_;
  int liveMarks_ = -1;
  double rate_ = 1.0;
};

}  // namespace tallowen
