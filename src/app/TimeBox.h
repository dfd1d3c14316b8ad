#pragma once

#include <QLabel>

namespace tallowen {

// The main window's time box: the time, or a word in its place ("一時停止中", "マーク 2"),
// in a box too small for a line of the window's font, above the level bar along its
// bottom. Each text is drawn at the largest size up to the box's font at which its ink fits
// between the frame and the bar, centred there, so that no text is cut by either.
class TimeBox : public QLabel {
  Q_OBJECT
 public:
  explicit TimeBox(QWidget* parent = nullptr);

  // A bar of this height along the bottom, inside the frame: the texts stay above it.
  void setBar(QWidget* bar, int height);

  // The room the texts' ink has: inside the frame and above the bar, a row clear of both.
  QRect textRoom() const;
  // The font the text is drawn with.
  QFont fontFor(const QString& text) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int barHeight_ = 0;
};

}  // namespace tallowen
