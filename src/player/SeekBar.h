#pragma once

#include <QList>

#include "player/SpokenSlider.h"
#include "recording/Loudness.h"

class QPainter;

namespace tallowen {

// The player's seek bar, in milliseconds: a click anywhere jumps there (and may go on as
// a drag), index marks show as ticks, a click on a tick lands on its mark, and an A-B loop
// shows as a band.
class SeekBar : public SpokenSlider {
  Q_OBJECT
 public:
  explicit SeekBar(QWidget* parent = nullptr);

  void setMarks(const QList<qint64>& marksMs);
  // The file's loudness, drawn behind the groove; empty levels for none.
  void setLoudness(const Loudness& loudness);
  const Loudness& loudness() const { return loudness_; }
  // -1 for an end that is not set: A alone shows as a line, A and B as a band.
  void setLoop(qint64 fromMs, qint64 toMs);

  // The value whose handle would be centred at x.
  int valueAt(int x) const;
  // The x at which the handle's centre stands for the value.
  int xOf(qint64 value) const;

 signals:
  // Clicked, dragged, stepped by the keyboard or wheel, or set by an assistive tool.
  void seekRequested(int ms);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // Where a click at x lands: the mark whose tick is nearest, if one is within reach, or
  // else the value at x.
  int clickedValue(int x) const;

  void paintLoudness(QPainter& painter);

  Loudness loudness_;
  QList<qint64> marks_;
  qint64 loopFrom_ = -1;
  qint64 loopTo_ = -1;
};

}  // namespace tallowen
