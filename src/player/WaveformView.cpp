#include "player/WaveformView.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "player/Colours.h"
#include "player/PositionText.h"

namespace tallowen {

namespace {

// Quieter than this is silence to the ear in a room: the screen reader says so.
constexpr float kSilentDb = -50.0f;
// A press that moves less than this is a click, not a selection.
constexpr double kDragPixels = 4;
constexpr double kZoomStep = 2.0;

QString timeText(qint64 ms) { return PositionText(ms / 1000.0); }

}  // namespace

WaveformView::WaveformView(QWidget* parent) : SpokenSlider(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);  // a slider's height is fixed
  setKeepsNavigationKeys(true);
  setRange(0, 0);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setValueText([this](int value) { return describe(value); });
  setValueUnit([](int ms) { return ms / 1000.0; }, [](double s) { return int(std::lround(s * 1000)); });
  connect(this, &SpokenSlider::valueChosen, this, [this](int ms) {
    follow(ms);
    emit seekRequested(ms);
  });
}

QSize WaveformView::sizeHint() const { return {600, fontMetrics().height() * 6}; }
QSize WaveformView::minimumSizeHint() const { return {160, fontMetrics().height() * 4}; }

void WaveformView::clear() {
  loudness_ = {};
  marks_.clear();
  setRecording(0, {});
}

void WaveformView::setRecording(qint64 lengthMs, const QList<Mark>& marks) {
  length_ = std::max<qint64>(lengthMs, 0);
  marks_ = marks;
  loudness_ = {};
  percent_ = 0;
  notice_.clear();
  selFrom_ = selTo_ = anchor_ = -1;
  whole_ = true;
  lengthChanged();
  setValue(0);
  update();
}

void WaveformView::setLoudness(const Loudness& loudness, int percent) {
  loudness_ = loudness;
  percent_ = std::clamp(percent, 0, 100);
  // Complete, the loudness is the sound's own length, whatever the header claimed.
  if (loudness_.lengthMs() > length_ || (percent_ == 100 && !loudness_.levels.empty() && loudness_.lengthMs() != length_)) {
    length_ = loudness_.lengthMs();
    if (value() > length_) setValue(int(length_));
    lengthChanged();
  }
  update();
}

void WaveformView::appendLoudness(const std::vector<uint8_t>& levels) {
  if (levels.empty()) return;
  loudness_.levels.insert(loudness_.levels.end(), levels.begin(), levels.end());
  percent_ = 100;
  length_ = std::max<qint64>(length_, loudness_.lengthMs());
  lengthChanged();
  update();
}

void WaveformView::setMarks(const QList<Mark>& marks) {
  marks_ = marks;
  update();
}

void WaveformView::setNotice(const QString& text) {
  notice_ = text;
  update();
}

void WaveformView::lengthChanged() {
  setMaximum(int(std::min<qint64>(length_, INT_MAX)));
  setSingleStep(int(arrowStep()));
  if (whole_)
    setView(0, double(length_));
  else
    setView(viewFrom_, viewMs_);
}

void WaveformView::setPosition(qint64 ms) {
  if (dragging_) return;
  const QSignalBlocker quiet(this);
  const qint64 before = value();
  setValue(int(std::clamp<qint64>(ms, 0, length_)));
  // The view pages along with playback when zoomed in.
  if (!whole_ && (value() < viewFrom_ || value() > viewFrom_ + viewMs_)) setView(value(), viewMs_);
  if (before != value()) update();
}

void WaveformView::setSelection(qint64 fromMs, qint64 toMs) {
  if (fromMs > toMs) std::swap(fromMs, toMs);
  fromMs = std::clamp<qint64>(fromMs, 0, length_);
  toMs = std::clamp<qint64>(toMs, 0, length_);
  if (toMs <= fromMs) {
    clearSelection();
    return;
  }
  if (fromMs == selFrom_ && toMs == selTo_) return;
  selFrom_ = fromMs;
  selTo_ = toMs;
  update();
  emit selectionChanged(selFrom_, selTo_);
}

void WaveformView::clearSelection() {
  anchor_ = -1;
  if (selFrom_ < 0) return;
  selFrom_ = selTo_ = -1;
  update();
  emit selectionChanged(-1, -1);
}

// ---- zoom and scrolling

void WaveformView::setView(double fromMs, double spanMs) {
  const double length = double(length_);
  spanMs = std::clamp(spanMs, std::min<double>(kNarrowestMs, length), std::max(length, 1.0));
  viewMs_ = spanMs;
  viewFrom_ = std::clamp(fromMs, 0.0, std::max(0.0, length - spanMs));
  whole_ = viewMs_ >= length;
  setSingleStep(int(arrowStep()));
  update();
}

void WaveformView::zoomAround(qint64 ms, double factor) {
  if (length_ <= 0) return;
  const double x = (ms - viewFrom_) / std::max(viewMs_, 1.0);  // stays where it is on the screen
  const double span = viewMs_ / factor;
  setView(ms - x * std::clamp(span, 0.0, double(length_)), span);
}

void WaveformView::zoomIn() { zoomAround(value(), kZoomStep); }
void WaveformView::zoomOut() { zoomAround(value(), 1 / kZoomStep); }
void WaveformView::zoomWhole() { setView(0, double(length_)); }

void WaveformView::follow(qint64 ms) {
  if (ms < viewFrom_)
    setView(ms - viewMs_ * 0.1, viewMs_);
  else if (ms > viewFrom_ + viewMs_)
    setView(ms - viewMs_ * 0.9, viewMs_);
}

double WaveformView::xOf(qint64 ms) const {
  if (viewMs_ <= 0) return 0;
  return (ms - viewFrom_) * width() / viewMs_;
}

qint64 WaveformView::msAt(double x) const {
  if (width() <= 0) return 0;
  return std::clamp<qint64>(std::llround(viewFrom_ + x * viewMs_ / width()), 0, length_);
}

// ---- what it says

int WaveformView::markNear(qint64 ms) const {
  int best = -1;
  qint64 nearest = 1001;
  for (int i = 0; i < marks_.size(); ++i)
    if (const qint64 d = std::abs(marks_[i].ms - ms); d < nearest) {
      nearest = d;
      best = i;
    }
  return best;
}

float WaveformView::dbAt(qint64 ms) const {
  // What a pixel around `ms` shows at the whole recording's width is too coarse to hear by;
  // a fifth of a second is what a word takes.
  return Loudness::dbOf(loudness_.peakOver(ms - 100, ms + 100));
}

QString WaveformView::describe(int value) const {
  if (length_ <= 0) return notice_.isEmpty() ? QStringLiteral("録音が選ばれていません") : notice_;
  QString text = QStringLiteral("%1 / %2").arg(timeText(value), timeText(length_));
  if (const int mark = markNear(value); mark >= 0) text += QStringLiteral("、%1").arg(marks_[mark].name);
  if (Loudness::blockAt(value) < qint64(loudness_.levels.size()) && percent_ == 100) {
    const float db = dbAt(value);
    text += db <= kSilentDb ? QStringLiteral("、無音") : QStringLiteral("、%1 dB").arg(std::lround(db));
  } else if (percent_ < 100) {
    text += QStringLiteral("、波形を作っています");
  }
  if (selFrom_ >= 0)
    text += QStringLiteral("、選択 %1 から %2 まで").arg(timeText(selFrom_), timeText(selTo_));
  return text;
}

// ---- the pointer and the keys

void WaveformView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || length_ <= 0) return SpokenSlider::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  pressX_ = event->position().x();
  const qint64 at = msAt(pressX_);
  if (event->modifiers() & Qt::ShiftModifier) {
    if (anchor_ < 0) anchor_ = selFrom_ >= 0 ? selFrom_ : value();
    setSelection(anchor_, at);
  } else {
    anchor_ = at;
  }
  dragging_ = true;
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  if (std::abs(event->position().x() - pressX_) < kDragPixels && !(event->modifiers() & Qt::ShiftModifier)) return;
  const double x = std::clamp(event->position().x(), 0.0, double(width()));
  setSelection(anchor_, msAt(x));
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_) return SpokenSlider::mouseReleaseEvent(event);
  dragging_ = false;
  const bool click = std::abs(event->position().x() - pressX_) < kDragPixels;
  if (click && !(event->modifiers() & Qt::ShiftModifier)) {
    // A click plays from that point.
    clearSelection();
    moveTo(msAt(event->position().x()), false);
  } else {
    // A drag selects, up to where it was let go; playback stands at its start, ready to
    // play it.
    if (!click) setSelection(anchor_, msAt(std::clamp(event->position().x(), 0.0, double(width()))));
    if (selFrom_ < 0) return update();
    const QSignalBlocker quiet(this);
    setValue(int(selFrom_));
    emit seekRequested(selFrom_);
  }
  update();
}

void WaveformView::wheelEvent(QWheelEvent* event) {
  const int steps = event->angleDelta().y() / 120;
  if (steps == 0 || length_ <= 0) return;
  if (event->modifiers() & Qt::ControlModifier)
    zoomAround(msAt(event->position().x()), std::pow(kZoomStep, steps));
  else
    setView(viewFrom_ - steps * viewMs_ / 10, viewMs_);
  event->accept();
}

qint64 WaveformView::arrowStep() const {
  // About a fiftieth of what shows, in whole quarter seconds: a few presses cross a word
  // when zoomed in, a minute when the whole hour shows.
  const qint64 step = qint64(viewMs_ / 50 / 250) * 250;
  return std::clamp<qint64>(step, 250, 60000);
}

void WaveformView::moveTo(qint64 ms, bool select) {
  ms = std::clamp<qint64>(ms, 0, length_);
  if (select) {
    if (anchor_ < 0) anchor_ = value();
    setSelection(anchor_, ms);
  } else {
    anchor_ = -1;
  }
  {
    const QSignalBlocker quiet(this);
    setValue(int(ms));
  }
  follow(ms);
  update();
  emit seekRequested(ms);
  // The position is told as it changes: the slider's own signal was held back.
  emit valueChanged(int(ms));
}

void WaveformView::keyPressEvent(QKeyEvent* event) {
  if (length_ <= 0) return SpokenSlider::keyPressEvent(event);
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  const qint64 at = value();
  if (plain) {
    switch (event->key()) {
      case Qt::Key_Left:
      case Qt::Key_Down:
        return moveTo(at - arrowStep(), shift);
      case Qt::Key_Right:
      case Qt::Key_Up:
        return moveTo(at + arrowStep(), shift);
      case Qt::Key_Home:
        return moveTo(0, shift);
      case Qt::Key_End:
        return moveTo(length_, shift);
      case Qt::Key_PageUp: {
        qint64 to = 0;
        for (const Mark& m : marks_)
          if (m.ms < at - 500) to = std::max(to, m.ms);
        return moveTo(to, shift);
      }
      case Qt::Key_PageDown: {
        qint64 to = length_;
        for (const Mark& m : marks_)
          if (m.ms > at + 500) to = std::min(to, m.ms);
        return moveTo(to, shift);
      }
      case Qt::Key_Plus:
        return zoomIn();
      case Qt::Key_Minus:
        return zoomOut();
      case Qt::Key_Space:
        emit playToggled();
        return;
      case Qt::Key_Escape:
        if (selFrom_ >= 0) return clearSelection();
        break;
      default:
        break;
    }
  }
  event->ignore();
}

// ---- drawing

void WaveformView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
  painter.fillRect(rect(), pal.color(group, QPalette::Base));
  const QFontMetrics metrics(font());
  const int labelHeight = metrics.height();
  const QRect wave = rect().adjusted(0, labelHeight, 0, -2);

  if (length_ > 0 && !loudness_.levels.empty()) {
    // Column by column in the device's own pixels: crisp at any scale.
    const double dpr = painter.device()->devicePixelRatioF();
    const int columns = int(std::ceil(width() * dpr));
    const double centre = wave.center().y() + 0.5;
    const double half = wave.height() / 2.0 - 1;
    const QColor played = pal.color(group, QPalette::Highlight);
    const QColor ahead = Mixed(pal.color(group, QPalette::Text), pal.color(group, QPalette::Base), 0.6);
    const double playedTo = xOf(value()) * dpr;
    painter.save();
    painter.scale(1 / dpr, 1 / dpr);
    const double msPerColumn = viewMs_ / std::max(columns, 1);
    for (int c = 0; c < columns; ++c) {
      const qint64 from = qint64(viewFrom_ + c * msPerColumn);
      const qint64 to = std::max<qint64>(from + 1, qint64(viewFrom_ + (c + 1) * msPerColumn));
      if (Loudness::blockAt(from) >= qint64(loudness_.levels.size())) break;
      // Whole device pixels: no blurred edge at any scale.
      const int h = std::max(1, int(std::lround(loudness_.peakOver(from, to) / 255.0 * half * dpr)));
      painter.fillRect(QRect(c, int(std::lround(centre * dpr)) - h, 1, 2 * h), c < playedTo ? played : ahead);
    }
    painter.restore();
  } else {
    painter.setPen(pal.color(group, QPalette::Mid));
    painter.drawLine(0, wave.center().y(), width(), wave.center().y());
  }

  if (selFrom_ >= 0) {
    QColor band = pal.color(group, QPalette::Highlight);
    band.setAlpha(70);
    const double from = xOf(selFrom_), to = xOf(selTo_);
    painter.fillRect(QRectF(from, 0, std::max(to - from, 1.0), height()), band);
  }

  // The marks, with their names above the waveform where there is room for them.
  painter.setPen(pal.color(group, QPalette::Link));
  double freeFrom = -1e9;
  for (const Mark& mark : marks_) {
    const double x = xOf(mark.ms);
    if (x < -1 || x > width() + 1) continue;
    painter.drawLine(QPointF(x + 0.5, labelHeight - 2), QPointF(x + 0.5, height()));
    const int textWidth = metrics.horizontalAdvance(mark.name);
    if (x + 3 > freeFrom) {
      painter.drawText(QPointF(x + 3, metrics.ascent()), mark.name);
      freeFrom = x + 3 + textWidth + metrics.averageCharWidth();
    }
  }

  if (length_ > 0) {
    QPen position(pal.color(group, QPalette::Text));
    position.setWidthF(2);
    painter.setPen(position);
    const double x = std::clamp(xOf(value()), 1.0, width() - 1.0);
    painter.drawLine(QPointF(x, 0), QPointF(x, height()));
  }

  QString said = notice_;
  if (said.isEmpty() && length_ > 0 && percent_ < 100) said = QStringLiteral("波形を作っています… %1 %").arg(percent_);
  if (!said.isEmpty()) {
    painter.setPen(pal.color(group, QPalette::Text));
    const QRect box = metrics.boundingRect(wave, Qt::AlignCenter | Qt::TextWordWrap, said).adjusted(-6, -3, 6, 3);
    QColor back = pal.color(group, QPalette::Base);
    back.setAlpha(220);
    painter.fillRect(box, back);
    painter.drawText(wave, Qt::AlignCenter | Qt::TextWordWrap, said);
  }

  if (hasFocus()) {
    QPen focus(pal.color(group, QPalette::Highlight));
    focus.setWidth(2);
    painter.setPen(focus);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
  }
}

}  // namespace tallowen
