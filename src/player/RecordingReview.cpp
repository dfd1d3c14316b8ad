#include "player/RecordingReview.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "player/MediaPlayer.h"
#include "player/PlaybackEngine.h"
#include "player/PositionText.h"
#include "recording/AsfReader.h"
#include "recording/Loudness.h"
#include "recording/LoudnessMaker.h"

namespace tallowen {

namespace {

constexpr qint64 kBackMs = 3000;
constexpr qint64 kForwardMs = 10000;
// A mark just passed is where a press of "previous mark" should not stop again.
constexpr qint64 kMarkBackMs = 1000;
// The play position moves smoothly at ten seconds across; only while playing.
constexpr int kPositionTickMs = 50;
// A recording's waveform grows as often as a level meter's hand would be read.
constexpr int kGrowTickMs = 500;

QString rateText(double rate) { return QStringLiteral("%1 倍").arg(rate, 0, 'g', 3); }

QList<WaveformView::Mark> marksOf(const QString& path) {
  QList<WaveformView::Mark> marks;
  if (const std::optional<AsfInfo> info = ReadAsfInfo(path))
    for (const asf::Mark& mark : info->marks) marks.push_back({mark.ms, mark.name});
  return marks;
}

}  // namespace

RecordingReview::RecordingReview(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("recordingReview"));
  waveform_ = new WaveformView(this);
  waveform_->setObjectName(QStringLiteral("waveform"));
  waveform_->setAccessibleName(QStringLiteral("波形"));
  const QString help = QStringLiteral(
      "左右の矢印キーで移動、Shift と矢印キーで範囲を選択、Home と End で先頭と末尾、"
      "Page Up と Page Down で前後のマーク、+ と - で拡大と縮小。クリックした所から再生します");
  waveform_->setAccessibleDescription(help);
  waveform_->setToolTip(help);

  playButton_ = new QToolButton(this);
  playButton_->setObjectName(QStringLiteral("reviewPlayButton"));
  playButton_->setAutoRaise(false);
  positionLabel_ = new QLabel(this);
  positionLabel_->setObjectName(QStringLiteral("reviewPosition"));
  positionLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  speedButton_ = new QToolButton(this);
  speedButton_->setObjectName(QStringLiteral("reviewSpeedButton"));
  speedButton_->setPopupMode(QToolButton::InstantPopup);
  speedButton_->setAccessibleName(QStringLiteral("再生の速さ"));

  playMenu_ = new QMenu(QStringLiteral("再生(&Y)"), this);
  viewMenu_ = new QMenu(QStringLiteral("表示(&V)"), this);
  playAction_ = addCommand(playMenu_, QStringLiteral("再生 / 一時停止"), QKeySequence(Qt::CTRL | Qt::Key_Space),
                           &RecordingReview::togglePlay);
  addCommand(playMenu_, QStringLiteral("3 秒戻る"), QKeySequence(Qt::CTRL | Qt::Key_Left), &RecordingReview::back);
  addCommand(playMenu_, QStringLiteral("10 秒進む"), QKeySequence(Qt::CTRL | Qt::Key_Right), &RecordingReview::forward);
  addCommand(playMenu_, QStringLiteral("前のマークへ"), QKeySequence(Qt::CTRL | Qt::Key_PageUp),
             &RecordingReview::previousMark);
  addCommand(playMenu_, QStringLiteral("次のマークへ"), QKeySequence(Qt::CTRL | Qt::Key_PageDown),
             &RecordingReview::nextMark);
  playMenu_->addSeparator();
  QMenu* speeds = playMenu_->addMenu(QStringLiteral("速さ(&S)"));
  addCommand(speeds, QStringLiteral("遅く"), QKeySequence(Qt::CTRL | Qt::Key_BracketLeft), &RecordingReview::slower);
  addCommand(speeds, QStringLiteral("速く"), QKeySequence(Qt::CTRL | Qt::Key_BracketRight), &RecordingReview::faster);
  addCommand(speeds, QStringLiteral("標準の速さ"), QKeySequence(Qt::CTRL | Qt::Key_Equal), &RecordingReview::normalSpeed);
  speeds->addSeparator();
  for (const double rate : MediaPlayer::speeds())
    speeds->addAction(rateText(rate), this, [this, rate] { setRate(rate); });
  speedButton_->setMenu(speeds);
  addCommand(viewMenu_, QStringLiteral("拡大"), QKeySequence(Qt::CTRL | Qt::Key_Plus), &RecordingReview::zoomIn);
  addCommand(viewMenu_, QStringLiteral("縮小"), QKeySequence(Qt::CTRL | Qt::Key_Minus), &RecordingReview::zoomOut);
  addCommand(viewMenu_, QStringLiteral("全体を表示"), QKeySequence(Qt::CTRL | Qt::Key_0), &RecordingReview::zoomWhole);
  connect(playButton_, &QToolButton::clicked, this, &RecordingReview::togglePlay);

  auto* controls = new QHBoxLayout;
  controls->setContentsMargins(0, 0, 0, 0);
  controls->addWidget(playButton_);
  controls->addWidget(positionLabel_, 1);
  controls->addWidget(speedButton_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(waveform_, 1);
  layout->addLayout(controls);

  position_ = new QTimer(this);
  position_->setInterval(kPositionTickMs);
  connect(position_, &QTimer::timeout, this, &RecordingReview::tick);
  grow_ = new QTimer(this);
  grow_->setInterval(kGrowTickMs);
  connect(grow_, &QTimer::timeout, this, &RecordingReview::growLive);

  maker_ = new LoudnessMaker(this);
  connect(maker_, &LoudnessMaker::progress, this, [this](const Loudness& sofar, int percent) {
    waveform_->setLoudness(sofar, percent);
    showState();
  });
  connect(maker_, &LoudnessMaker::ready, this, [this](const Loudness& loudness) {
    waveform_->setLoudness(loudness);
    showState();  // the length, where the list did not know it yet
  });
  connect(maker_, &LoudnessMaker::failed, this, [this](const QString& why) { waveform_->setNotice(why); });
  connect(waveform_, &WaveformView::seekRequested, this, &RecordingReview::seekTo);
  connect(waveform_, &WaveformView::playToggled, this, &RecordingReview::togglePlay);
  connect(waveform_, &QAbstractSlider::valueChanged, this, &RecordingReview::showState);

  showNothing(QStringLiteral("録音が選ばれていません"));
}

RecordingReview::~RecordingReview() = default;

QAction* RecordingReview::addCommand(QMenu* menu, const QString& text, const QKeySequence& key,
                                     void (RecordingReview::*slot)()) {
  auto* action = menu->addAction(text, this, slot);
  action->setShortcut(key);
  action->setShortcutContext(Qt::WindowShortcut);
  // The menus are the window's: the keys work while their menu bar is shut.
  addAction(action);
  return action;
}

PlaybackEngine& RecordingReview::engine() {
  if (!engine_) {
    engine_ = new PlaybackEngine(this);
    connect(engine_, &PlaybackEngine::stateChanged, this, [this] {
      if (engine_->state() == PlaybackEngine::State::Playing)
        position_->start();
      else
        position_->stop();
      tick();
    });
    connect(engine_, &PlaybackEngine::failed, this, &RecordingReview::showFailure);
  }
  return *engine_;
}

void RecordingReview::showRecording(const QString& path, qint64 lengthMs, std::shared_ptr<const LoudnessMeter> live) {
  if (engine_) engine_->unload();
  loaded_ = false;
  failure_.clear();
  path_ = path;
  live_ = std::move(live);
  liveMarks_ = -1;
  waveform_->setRecording(lengthMs, marksOf(path));
  if (live_) {
    maker_->cancel();
    waveform_->setLoudness({}, 100);
    growLive();
    if (isVisible()) grow_->start();
  } else {
    grow_->stop();
    maker_->make(path);
  }
  showState();
}

void RecordingReview::showNothing(const QString& why) {
  if (engine_) engine_->unload();
  loaded_ = false;
  failure_.clear();
  maker_->cancel();
  grow_->stop();
  path_.clear();
  live_.reset();
  waveform_->clear();
  waveform_->setNotice(why);
  showState();
}

void RecordingReview::growLive() {
  if (!live_) return;
  const qint64 shown = qint64(waveform_->loudness().levels.size());
  waveform_->appendLoudness(live_->levelsFrom(shown));
  // The marks set meanwhile: the header holds them as they are set.
  if (++liveMarks_ % 4 == 0) waveform_->setMarks(marksOf(path_));
  showState();
}

void RecordingReview::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (live_) grow_->start();
}

void RecordingReview::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // Nothing wakes for a window nobody sees.
  grow_->stop();
  if (engine_) engine_->pause();
}

void RecordingReview::togglePlay() {
  if (engine_ && engine_->state() == PlaybackEngine::State::Playing)
    pause();
  else
    play();
}

void RecordingReview::play() {
  if (path_.isEmpty() || live_) return;
  PlaybackEngine& e = engine();
  qint64 from = waveform_->value();
  // With a selection, what plays is the selection.
  const qint64 selFrom = waveform_->selectionFrom(), selTo = waveform_->selectionTo();
  if (selFrom >= 0 && (from < selFrom || from >= selTo - 50)) from = selFrom;
  if (from >= waveform_->lengthMs() - 50) from = 0;
  e.setRate(rate_);
  if (!loaded_) {
    e.load(path_, true);
    loaded_ = true;
  } else {
    e.play();
  }
  e.seek(from);
  waveform_->setPosition(from);
}

void RecordingReview::pause() {
  if (engine_) engine_->pause();
}

void RecordingReview::seekTo(qint64 ms) {
  if (engine_ && loaded_) engine_->seek(ms);
  showState();
}

void RecordingReview::back() {
  const qint64 to = std::max<qint64>(0, waveform_->value() - kBackMs);
  waveform_->setPosition(to);
  seekTo(to);
}

void RecordingReview::forward() {
  const qint64 to = std::min<qint64>(waveform_->lengthMs(), waveform_->value() + kForwardMs);
  waveform_->setPosition(to);
  seekTo(to);
}

void RecordingReview::previousMark() {
  qint64 to = 0;
  for (const WaveformView::Mark& m : waveform_->marks())
    if (m.ms < waveform_->value() - kMarkBackMs) to = std::max(to, m.ms);
  waveform_->setPosition(to);
  seekTo(to);
}

void RecordingReview::nextMark() {
  qint64 to = -1;
  for (const WaveformView::Mark& m : waveform_->marks())
    if (m.ms > waveform_->value() + 500 && (to < 0 || m.ms < to)) to = m.ms;
  if (to < 0) return;
  waveform_->setPosition(to);
  seekTo(to);
}

void RecordingReview::setRate(double rate) {
  rate_ = rate;
  if (engine_) engine_->setRate(rate);
  showState();
}

void RecordingReview::slower() {
  const auto& offered = MediaPlayer::speeds();
  const auto at = std::lower_bound(offered.begin(), offered.end(), rate_ - 1e-6);
  if (at != offered.begin()) setRate(*(at - 1));
}

void RecordingReview::faster() {
  const auto& offered = MediaPlayer::speeds();
  const auto at = std::upper_bound(offered.begin(), offered.end(), rate_ + 1e-6);
  if (at != offered.end()) setRate(*at);
}

void RecordingReview::normalSpeed() { setRate(1.0); }
void RecordingReview::zoomIn() { waveform_->zoomIn(); }
void RecordingReview::zoomOut() { waveform_->zoomOut(); }
void RecordingReview::zoomWhole() { waveform_->zoomWhole(); }

void RecordingReview::tick() {
  if (!engine_ || !loaded_) return showState();
  const qint64 at = engine_->position();
  // The end of a selection ends its playback.
  if (engine_->state() == PlaybackEngine::State::Playing && waveform_->selectionTo() > 0 &&
      at >= waveform_->selectionTo() && waveform_->value() < waveform_->selectionTo()) {
    engine_->pause();
    waveform_->setPosition(waveform_->selectionTo());
  } else if (engine_->media() == PlaybackEngine::Media::Ended) {
    waveform_->setPosition(waveform_->lengthMs());
  } else {
    waveform_->setPosition(at);
  }
  showState();
}

void RecordingReview::showFailure(const PlaybackFailure& failure) {
  const QString text = QStringLiteral("このファイルは再生できません。") +
                       (failure.detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(failure.detail));
  failure_ = text;
  loaded_ = false;
  showState();
}

void RecordingReview::showState() {
  const bool playing = engine_ && engine_->state() == PlaybackEngine::State::Playing;
  const bool playable = !path_.isEmpty() && !live_;
  playButton_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
  const QString name = playing ? QStringLiteral("一時停止") : QStringLiteral("波形の位置から再生");
  playButton_->setAccessibleName(name);
  playButton_->setToolTip(name + QStringLiteral(" (Ctrl+Space)"));
  playButton_->setEnabled(playable);
  playAction_->setEnabled(playable);
  speedButton_->setText(rateText(rate_));
  speedButton_->setToolTip(QStringLiteral("再生の速さ: %1。Ctrl+[ で遅く、Ctrl+] で速く").arg(rateText(rate_)));
  speedButton_->setAccessibleDescription(rateText(rate_));
  QString text;
  if (!failure_.isEmpty())
    text = failure_;
  else if (path_.isEmpty())
    text = QString();
  else if (live_)
    text = QStringLiteral("録音中 %1。再生は録音が終わってからできます").arg(PositionText(waveform_->lengthMs() / 1000.0));
  else
    text = QStringLiteral("%1 / %2").arg(PositionText(waveform_->value() / 1000.0),
                                          PositionText(waveform_->lengthMs() / 1000.0));
  if (positionLabel_->text() != text) {
    positionLabel_->setText(text);
    positionLabel_->setAccessibleName(text.isEmpty() ? QStringLiteral("再生位置") : text);
  }
}

}  // namespace tallowen
