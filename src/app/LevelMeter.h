#pragma once

#include <QWidget>

#include "recording/InputLevel.h"

namespace tallowen {

// A thin bar that shows how loud the input is while recording, on a scale of decibels
// below full scale: -60 dB at the left end, 0 dB at the right. The loudest moment of the
// last second stays marked, and the bar turns red for a second when the sound clips.
class LevelMeter : public QWidget {
  Q_OBJECT
 public:
  static constexpr double kFloorDb = -60.0;
  static constexpr double kClipDb = -1.0;
  // Updates a peak mark and a clip light stay: a second, at a look for each peak.
  static constexpr int kHoldUpdates = InputLevel::kPeaksPerSecond;

  explicit LevelMeter(QWidget* parent = nullptr);

  // One update: the loudest sample since the last one, as a fraction of full scale.
  void showPeak(float peak);
  // Nothing to show: the bar empty, the marks gone.
  void clear();

  double levelDb() const { return level_; }
  double peakHoldDb() const { return hold_; }
  bool clipping() const { return clipLeft_ > 0; }
  // How far along the bar a level stands, 0 to 1.
  static double fraction(double db);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // What the bar shows, in pixels: repainted only when it changes, so that a steady sound
  // costs no drawing.
  struct Look {
    int filled = 0;
    int holdAt = -1;
    bool clip = false;
    bool operator==(const Look&) const = default;
  };
  Look look() const;
  void refresh();

  Look shown_;
  double level_ = kFloorDb;
  double hold_ = kFloorDb;
  int holdLeft_ = 0;
  int clipLeft_ = 0;
};

}  // namespace tallowen
