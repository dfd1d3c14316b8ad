#include "app/TimeBox.h"

#include <QPainter>

namespace tallowen {

namespace {

constexpr qreal kSmallestPoints = 6;

}  // namespace

TimeBox::TimeBox(QWidget* parent) : QLabel(parent) {}

void TimeBox::setBar(QWidget* bar, int height) {
  barHeight_ = height;
  const QRect inside = contentsRect();
  bar->setGeometry(inside.left(), inside.bottom() + 1 - height, inside.width(), height);
  update();
}

QRect TimeBox::textRoom() const {
  // A row and a column clear of the frame all round, and of the bar below.
  return contentsRect().adjusted(1, 1, -1, barHeight_ > 0 ? -barHeight_ - 1 : -1);
}

QFont TimeBox::fontFor(const QString& text) const {
  // Japanese fonts draw their strokes from the top of the line to below the baseline:
  // their ink, not the line's height, decides what fits.
  const QRectF room = textRoom();
  QFont f = font();
  for (; f.pointSizeF() > kSmallestPoints; f.setPointSizeF(f.pointSizeF() - 0.5)) {
    const QFontMetricsF metrics(f, this);
    const QRectF ink = metrics.tightBoundingRect(text);
    if (ink.height() <= room.height() && metrics.horizontalAdvance(text) <= room.width()) break;
  }
  return f;
}

void TimeBox::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);  // the frame; the background is filled by the widget
  if (text().isEmpty()) return;
  QPainter painter(this);
  const QFont f = fontFor(text());
  painter.setFont(f);
  painter.setPen(palette().color(QPalette::WindowText));
  const QFontMetricsF metrics(f, this);
  const QRectF room = textRoom();
  const QRectF ink = metrics.tightBoundingRect(text());
  // Across, by the text's advance, so that a time keeps its place as its digits change;
  // down, by its ink, in the middle of the room.
  const qreal x = room.left() + (room.width() - metrics.horizontalAdvance(text())) / 2;
  const qreal baseline = room.top() + (room.height() - ink.height()) / 2 - ink.top();
  painter.setClipRect(room);
  painter.drawText(QPointF(x, baseline), text());
}

}  // namespace tallowen
