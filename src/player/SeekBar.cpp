#include "player/SeekBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "player/Colours.h"

namespace tallowen {

namespace {

// A tick is a line one pixel wide, and a pixel spans seconds of a long recording: a click
// this near it means the mark.
constexpr int kTickReach = 3;

struct Geometry {
  QRect groove;
  QRect handle;
};

Geometry geometryOf(const QSlider* slider, const QStyleOptionSlider& option) {
  return {slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider),
          slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)};
}

}  // namespace

SeekBar::SeekBar(QWidget* parent) : SpokenSlider(parent) {
  connect(this, &QSlider::sliderMoved, this, &SeekBar::seekRequested);
  connect(this, &SpokenSlider::valueChosen, this, &SeekBar::seekRequested);
  // Steps of the keyboard and the wheel; a drag is reported by sliderMoved as it goes.
  connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) {
    if (action != SliderNoAction && action != SliderMove) emit seekRequested(sliderPosition());
  });
}

void SeekBar::setMarks(const QList<qint64>& marksMs) {
  marks_ = marksMs;
  update();
}

void SeekBar::setLoudness(const Loudness& loudness) {
  loudness_ = loudness;
  update();
}

void SeekBar::setLoop(qint64 fromMs, qint64 toMs) {
  loopFrom_ = fromMs;
  loopTo_ = toMs;
  update();
}

int SeekBar::valueAt(int x) const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  const Geometry g = geometryOf(this, option);
  return QStyle::sliderValueFromPosition(minimum(), maximum(), x - g.groove.x() - g.handle.width() / 2,
                                         g.groove.width() - g.handle.width(), option.upsideDown);
}

int SeekBar::xOf(qint64 value) const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  const Geometry g = geometryOf(this, option);
  const int clamped = int(std::clamp<qint64>(value, minimum(), maximum()));
  return g.groove.x() + g.handle.width() / 2 +
         QStyle::sliderPositionFromValue(minimum(), maximum(), clamped, g.groove.width() - g.handle.width(),
                                         option.upsideDown);
}

int SeekBar::clickedValue(int x) const {
  int value = valueAt(x);
  int nearest = kTickReach + 1;
  for (const qint64 mark : marks_) {
    if (mark < minimum() || mark > maximum()) continue;
    if (const int distance = std::abs(xOf(mark) - x); distance < nearest) {
      nearest = distance;
      value = int(mark);
    }
  }
  return value;
}

void SeekBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && isEnabled() && maximum() > minimum()) {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QPoint at = event->position().toPoint();
    if (!geometryOf(this, option).handle.contains(at)) {
      // The handle comes under the pointer, so that the press goes on as a drag of it.
      const int value = clickedValue(at.x());
      setValue(value);
      emit seekRequested(value);
    }
  }
  SpokenSlider::mousePressEvent(event);
}

void SeekBar::paintLoudness(QPainter& painter) {
  // Column by column in the device's own pixels, from the groove's start to its end: the
  // sound at each x is what the handle there would play.
  const double dpr = painter.device()->devicePixelRatioF();
  const int from = int(std::floor(xOf(minimum()) * dpr)), to = int(std::ceil(xOf(maximum()) * dpr));
  if (to <= from) return;
  const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
  const QColor colour = Mixed(palette().color(group, QPalette::Text), palette().color(group, QPalette::Window), 0.35);
  const double centre = height() * dpr / 2.0, half = height() * dpr / 2.0 - dpr;
  const double msPerColumn = double(maximum() - minimum()) / (to - from);
  painter.save();
  painter.scale(1 / dpr, 1 / dpr);
  for (int c = from; c < to; ++c) {
    const auto ms = qint64(minimum() + (c - from) * msPerColumn);
    const int h = int(std::lround(loudness_.peakOver(ms, ms + std::max<qint64>(1, qint64(msPerColumn))) / 255.0 * half));
    if (h > 0) painter.fillRect(QRect(c, int(std::lround(centre)) - h, 1, 2 * h), colour);
  }
  painter.restore();
}

void SeekBar::paintEvent(QPaintEvent* event) {
  if (maximum() > minimum() && !loudness_.levels.empty()) {
    QPainter behind(this);
    paintLoudness(behind);
  }
  SpokenSlider::paintEvent(event);
  if (maximum() <= minimum() || (marks_.isEmpty() && loopFrom_ < 0)) return;
  QPainter painter(this);
  if (loopFrom_ >= 0) {
    QColor band = palette().color(QPalette::Highlight);
    band.setAlpha(110);
    const int from = xOf(loopFrom_);
    const int to = loopTo_ >= 0 ? xOf(loopTo_) : from + 2;
    painter.fillRect(QRect(from, 0, std::max(to - from, 2), height()), band);
  }
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  for (const qint64 mark : marks_) {
    const int x = xOf(mark);
    painter.drawLine(x, height() - 4, x, height() - 1);
    painter.drawLine(x, 0, x, 2);
  }
}

}  // namespace tallowen
