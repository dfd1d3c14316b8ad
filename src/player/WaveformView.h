#pragma once

#include <QList>
#include <QString>

#include "player/SpokenSlider.h"
#include "recording/Loudness.h"

namespace tallowen {

// A recording's loudness across the widget, with its marks by name, the play position and
// a selection, zoomed from the whole recording down to ten seconds across. Its value is
// the position in milliseconds; a screen reader hears it with the mark under it and how
// loud the sound is there.
class WaveformView : public SpokenSlider {
  Q_OBJECT
 public:
  static constexpr qint64 kNarrowestMs = 10000;

  struct Mark {
    qint64 ms = 0;
    QString name;
  };

  explicit WaveformView(QWidget* parent = nullptr);

  // A recording of `lengthMs` with these marks; the loudness comes later. Zoom and
  // selection start afresh.
  void setRecording(qint64 lengthMs, const QList<Mark>& marks);
  void clear();
  // What is known of the loudness; below 100 %, the view says it is still being made.
  void setLoudness(const Loudness& loudness, int percent = 100);
  // More of a recording that is still being recorded: its length grows with it.
  void appendLoudness(const std::vector<uint8_t>& levels);
  void setMarks(const QList<Mark>& marks);
  // Where playback is, as the player tells it (not a seek).
  void setPosition(qint64 ms);
  // Said across the view when there is no waveform to draw (empty for none).
  void setNotice(const QString& text);

  qint64 lengthMs() const { return length_; }
  const Loudness& loudness() const { return loudness_; }
  const QList<Mark>& marks() const { return marks_; }
  // -1 for both while nothing is selected.
  qint64 selectionFrom() const { return selFrom_; }
  qint64 selectionTo() const { return selTo_; }
  void setSelection(qint64 fromMs, qint64 toMs);
  void clearSelection();

  void zoomIn();
  void zoomOut();
  void zoomWhole();
  qint64 visibleFrom() const { return qint64(viewFrom_); }
  qint64 visibleMs() const { return qint64(viewMs_); }

  // The x (in the widget's own pixels) that stands for `ms`, and back.
  double xOf(qint64 ms) const;
  qint64 msAt(double x) const;
  // The mark within a second of `ms`, or -1.
  int markNear(qint64 ms) const;
  // The loudness drawn at `ms`, in dBFS.
  float dbAt(qint64 ms) const;

 signals:
  // Clicked, moved by a key or set by an assistive tool: playback goes there.
  void seekRequested(qint64 ms);
  void selectionChanged(qint64 fromMs, qint64 toMs);
  // Space: play or pause from here.
  void playToggled();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 private:
  void zoomAround(qint64 ms, double factor);
  void setView(double fromMs, double spanMs);
  // Scrolls so that `ms` is in view.
  void follow(qint64 ms);
  void moveTo(qint64 ms, bool select);
  qint64 arrowStep() const;
  QString describe(int value) const;
  void lengthChanged();

  Loudness loudness_;
  int percent_ = 100;
  qint64 length_ = 0;
  QList<Mark> marks_;
  QString notice_;
  double viewFrom_ = 0;
  double viewMs_ = 0;
  bool whole_ = true;  // shows the whole recording, however long it grows
  qint64 selFrom_ = -1;
  qint64 selTo_ = -1;
  qint64 anchor_ = -1;  // where a drag or a Shift+arrow selection began
  bool dragging_ = false;
  double pressX_ = 0;
};

}  // namespace tallowen
