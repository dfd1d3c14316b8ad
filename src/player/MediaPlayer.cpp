#include "player/MediaPlayer.h"

#include <QAction>
#include <QActionGroup>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/AccessibleText.h"
#include "platform/Trace.h"
#include "player/PlaybackEngine.h"
#include "player/PositionText.h"
#include "player/SeekBar.h"
#include "player/SpokenSlider.h"
#include "recording/LoudnessMaker.h"

namespace tallowen {

namespace {

constexpr int kSilence = -10000;
constexpr int kSliderFloor = -4000;  // below -40 dB the slider's last step is silence
constexpr qint64 kBackMs = 3000;
constexpr qint64 kForwardMs = 10000;
// Page Up from just after a mark goes to the one before it, not back to the same mark.
constexpr qint64 kMarkBackMs = 1000;
// A and B pressed closer than this make no loop: B waits for a later press.
constexpr qint64 kShortestLoopMs = 200;
constexpr int kWidth = 281;
constexpr int kRowHeight = 22;
constexpr int kBarHeight = 17;

QString speedText(double rate) {
  const bool tenths = std::abs(rate * 10 - std::round(rate * 10)) < 1e-6;
  return QString::number(rate, 'f', tenths ? 1 : 2) + QStringLiteral("×");
}

void describe(QToolButton* button, const QString& accessibleName, const QString& keys, const QString& description) {
  button->setAccessibleName(accessibleName);
  button->setToolTip(keys.isEmpty() ? accessibleName : QStringLiteral("%1 (%2)").arg(accessibleName, keys));
  button->setAccessibleDescription(description);
}

QToolButton* makeButton(QWidget* parent, const char* objectName, QStyle::StandardPixmap icon,
                        const QString& accessibleName, const QString& keys, const QString& description) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(objectName));
  button->setIcon(parent->style()->standardIcon(icon));
  button->setIconSize(QSize(14, 14));
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::TabFocus);
  describe(button, accessibleName, keys, description);
  return button;
}

}  // namespace

MediaPlayer::MediaPlayer(QWidget* parent) : QWidget(parent), engine_(new PlaybackEngine(this)) {
  buildControls();
  buildActions();

  connect(engine_, &PlaybackEngine::stateChanged, this, [this] {
    showPosition();
    updateControls();
  });
  connect(engine_, &PlaybackEngine::mediaChanged, this, [this] {
    showPosition();
    updateControls();
  });
  connect(engine_, &PlaybackEngine::durationChanged, this, &MediaPlayer::showDuration);
  connect(engine_, &PlaybackEngine::seekableChanged, this, &MediaPlayer::updateControls);
  connect(engine_, &PlaybackEngine::failed, this, &MediaPlayer::showFailure);
  connect(engine_, &PlaybackEngine::cutShort, this, [this](qint64 reachedMs, qint64 expectedMs) {
    showProblem(QStringLiteral("ファイルが途中で切れています (%1 まで): %2")
                    .arg(PositionText(reachedMs / 1000.0), QFileInfo(fileName_).fileName()),
                QStringLiteral("ファイルの示す長さは %1").arg(PositionText(expectedMs / 1000.0)));
    // The file still plays up to its cut: the next play or seek brings the seek bar back.
    notice_ = true;
  });

  setFixedSize(kWidth, kBarHeight + 2 + kRowHeight);
  applyVolume(0);
  showRate();
  updateControls();
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::buildControls() {
  // Top row: the seek bar and the file's length at its end, or a problem in their place.
  seekBar_ = new SeekBar(this);
  seekBar_->setObjectName(QStringLiteral("seekBar"));
  seekBar_->setAccessibleName(QStringLiteral("再生位置"));
  seekBar_->setAccessibleDescription(
      QStringLiteral("クリックした所から再生します。Page Up と Page Down で前と次のマークへ、A で A-B リピート"));
  seekBar_->setToolTip(
      QStringLiteral("再生位置: クリックした所へ (PageUp / PageDown: 前 / 次のマーク、A: A-B リピート)"));
  seekBar_->setSingleStep(int(kBackMs));
  seekBar_->setPageStep(int(kForwardMs));
  seekBar_->setFocusPolicy(Qt::TabFocus);
  seekBar_->setValueText([this](int ms) {
    // The bar's range stops at INT_MAX ms; the length is the file's own.
    return PositionText(ms / 1000.0) + QStringLiteral(" / ") + PositionText(std::max(Duration(), 0.0));
  });
  seekBar_->setValueUnit([](int ms) { return ms / 1000.0; }, [](double s) { return int(std::lround(s * 1000)); });
  lengthLabel_ = new QLabel(this);
  lengthLabel_->setObjectName(QStringLiteral("length"));
  lengthLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  NameByPurpose(lengthLabel_, QStringLiteral("全体の長さ"));
  lengthLabel_->setToolTip(QStringLiteral("全体の長さ"));
  placeLength();
  problemLabel_ = new QLabel(this);
  problemLabel_->setObjectName(QStringLiteral("message"));
  NameByPurpose(problemLabel_, QStringLiteral("再生できない理由"));
  problemLabel_->setGeometry(2, 0, kWidth - 2, kBarHeight);
  problemLabel_->setStyleSheet(QStringLiteral("color: #b00000;"));
  problemLabel_->hide();

  // Bottom row, left to right as Tab goes: transport, position, speed, mute, volume.
  const int y = kBarHeight + 2;
  playButton_ = makeButton(this, "play", QStyle::SP_MediaPlay, QStringLiteral("再生"), QStringLiteral("K"),
                           QStringLiteral("K キーでも再生と一時停止を切り替えます"));
  stopButton_ = makeButton(this, "stop", QStyle::SP_MediaStop, QStringLiteral("停止"), QString(),
                           QStringLiteral("止めて先頭に戻ります"));
  // Named for the file's marks once they are known (describeSkips()).
  startButton_ = makeButton(this, "start", QStyle::SP_MediaSkipBackward, QString(), QString(), QString());
  backButton_ = makeButton(this, "back", QStyle::SP_MediaSeekBackward, QStringLiteral("3 秒戻る"),
                           QStringLiteral("← / J"), QStringLiteral("← キーまたは J キー"));
  forwardButton_ = makeButton(this, "forward", QStyle::SP_MediaSeekForward, QStringLiteral("10 秒進む"),
                              QStringLiteral("→ / L"), QStringLiteral("→ キーまたは L キー"));
  endButton_ = makeButton(this, "end", QStyle::SP_MediaSkipForward, QString(), QString(), QString());
  describeSkips();
  int x = 0;
  for (QToolButton* button : {playButton_, stopButton_}) {
    button->setGeometry(x, y, kRowHeight, kRowHeight);
    x += kRowHeight;
  }
  x += 6;
  for (QToolButton* button : {startButton_, backButton_, forwardButton_, endButton_}) {
    button->setGeometry(x, y, kRowHeight, kRowHeight);
    x += kRowHeight;
  }
  x += 4;

  speedButton_ = new QToolButton(this);
  speedButton_->setObjectName(QStringLiteral("speed"));
  speedButton_->setAutoRaise(true);
  speedButton_->setFocusPolicy(Qt::TabFocus);
  speedButton_->setPopupMode(QToolButton::InstantPopup);
  speedButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  speedButton_->setAccessibleName(QStringLiteral("再生速度"));
  // Wide enough for the widest speed, so that the row never moves.
  int speedWidth = 0;
  for (const double rate : speeds())
    speedWidth = std::max(speedWidth, speedButton_->fontMetrics().horizontalAdvance(speedText(rate)) + 10);
  speedButton_->setGeometry(x, y, speedWidth, kRowHeight);
  x += speedWidth + 2;

  muteButton_ = makeButton(this, "mute", QStyle::SP_MediaVolume, QStringLiteral("ミュート"), QString(),
                           QStringLiteral("音を消します。もう一度押すと戻ります"));
  muteButton_->setCheckable(true);
  muteButton_->setGeometry(x, y, kRowHeight, kRowHeight);
  x += kRowHeight + 2;
  volumeSlider_ = new SpokenSlider(this);
  volumeSlider_->setObjectName(QStringLiteral("volume"));
  volumeSlider_->setGeometry(x, y + 2, kWidth - x, kRowHeight - 4);
  volumeSlider_->setRange(kSliderFloor, 0);
  volumeSlider_->setSingleStep(100);
  volumeSlider_->setPageStep(500);
  volumeSlider_->setFocusPolicy(Qt::StrongFocus);
  volumeSlider_->setKeepsNavigationKeys(true);
  volumeSlider_->setAccessibleName(QStringLiteral("音量"));
  volumeSlider_->setToolTip(QStringLiteral("音量"));
  volumeSlider_->setValueText([](int value) {
    if (value <= kSliderFloor) return QStringLiteral("無音");
    return QStringLiteral("%1 %").arg(std::lround(100 * amplitudeOf(value)));
  });
  // Heard in percent of the full amplitude, as it reads.
  volumeSlider_->setValueUnit(
      [](int value) { return value <= kSliderFloor ? 0.0 : double(std::lround(100 * amplitudeOf(value))); },
      [](double percent) { return percent <= 0 ? kSliderFloor : int(std::lround(2000 * std::log10(percent / 100))); });

  connect(engine_, &PlaybackEngine::loopChanged, this,
          [this] { seekBar_->setLoop(engine_->loopFrom(), engine_->loopTo()); });

  connect(seekBar_, &SeekBar::seekRequested, this, [this](int ms) { seekTo(ms); });
  connect(playButton_, &QToolButton::clicked, this, &MediaPlayer::togglePlay);
  connect(stopButton_, &QToolButton::clicked, this, &MediaPlayer::stop);
  // Without marks these go to the start and the end, as Home and End do.
  connect(startButton_, &QToolButton::clicked, this, &MediaPlayer::previousMark);
  connect(backButton_, &QToolButton::clicked, this, &MediaPlayer::back);
  connect(forwardButton_, &QToolButton::clicked, this, &MediaPlayer::forward);
  connect(endButton_, &QToolButton::clicked, this, &MediaPlayer::nextMark);
  connect(muteButton_, &QToolButton::toggled, this, [this](bool muted) {
    applyMute(muted);
    emit muteChosen(muted);
  });
  connect(volumeSlider_, &QSlider::valueChanged, this, [this](int value) {
    if (value == std::max(volume_, kSliderFloor)) return;
    applyVolume(value <= kSliderFloor ? kSilence : value);
    if (!volumeSlider_->isSliderDown()) emit volumeChosen(volume_);
  });
  connect(volumeSlider_, &QSlider::sliderReleased, this, [this] { emit volumeChosen(volume_); });
}

QAction* MediaPlayer::addCommand(const QString& text, const QList<QKeySequence>& keys, void (MediaPlayer::*slot)()) {
  auto* action = new QAction(text, this);
  action->setShortcuts(keys);
  // Wherever the focus is in the window, not only on this control.
  action->setShortcutContext(Qt::WindowShortcut);
  connect(action, &QAction::triggered, this, slot);
  addAction(action);
  return action;
}

void MediaPlayer::buildActions() {
  playAction_ = addCommand(QStringLiteral("再生 / 一時停止(&P)"),
                           {QKeySequence(Qt::Key_K), QKeySequence(Qt::Key_MediaPlay),
                            QKeySequence(Qt::Key_MediaTogglePlayPause)},
                           &MediaPlayer::togglePlay);
  QAction* stopAction = addCommand(QStringLiteral("停止(&S)"), {QKeySequence(Qt::Key_MediaStop)}, &MediaPlayer::stop);
  new QShortcut(QKeySequence(Qt::Key_MediaPause), this, this, &MediaPlayer::pause, Qt::WindowShortcut);
  QAction* backAction =
      addCommand(QStringLiteral("3 秒戻る"), {QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_J)}, &MediaPlayer::back);
  QAction* forwardAction = addCommand(QStringLiteral("10 秒進む"),
                                      {QKeySequence(Qt::Key_Right), QKeySequence(Qt::Key_L)}, &MediaPlayer::forward);
  QAction* startAction = addCommand(QStringLiteral("先頭へ"), {QKeySequence(Qt::Key_Home)}, &MediaPlayer::toStart);
  QAction* endAction = addCommand(QStringLiteral("末尾へ"), {QKeySequence(Qt::Key_End)}, &MediaPlayer::toEnd);
  QAction* previousAction =
      addCommand(QStringLiteral("前のマークへ"), {QKeySequence(Qt::Key_PageUp)}, &MediaPlayer::previousMark);
  QAction* nextAction =
      addCommand(QStringLiteral("次のマークへ"), {QKeySequence(Qt::Key_PageDown)}, &MediaPlayer::nextMark);
  QAction* slowerAction =
      addCommand(QStringLiteral("遅く"), {QKeySequence(Qt::Key_BracketLeft)}, &MediaPlayer::slower);
  QAction* fasterAction =
      addCommand(QStringLiteral("速く"), {QKeySequence(Qt::Key_BracketRight)}, &MediaPlayer::faster);
  QAction* normalAction =
      addCommand(QStringLiteral("標準の速さ"), {QKeySequence(Qt::Key_Equal)}, &MediaPlayer::normalSpeed);
  QAction* loopAction =
      addCommand(QStringLiteral("A-B リピート(&R)"), {QKeySequence(Qt::Key_A)}, &MediaPlayer::markLoop);
  muteAction_ = new QAction(QStringLiteral("ミュート(&M)"), this);
  muteAction_->setCheckable(true);
  connect(muteAction_, &QAction::triggered, muteButton_, &QToolButton::click);

  speedMenu_ = new QMenu(QStringLiteral("再生速度(&V)"), this);
  speedMenu_->addAction(slowerAction);
  speedMenu_->addAction(fasterAction);
  speedMenu_->addAction(normalAction);
  speedMenu_->addSeparator();
  speedActions_ = new QActionGroup(this);
  for (const double rate : speeds()) {
    QAction* action = speedMenu_->addAction(speedText(rate));
    action->setCheckable(true);
    action->setData(rate);
    speedActions_->addAction(action);
    connect(action, &QAction::triggered, this, [this, rate] { setRate(rate); });
  }
  speedButton_->setMenu(speedMenu_);

  contextMenu_ = new QMenu(this);
  contextMenu_->addActions({playAction_, stopAction});
  contextMenu_->addSeparator();
  contextMenu_->addActions({backAction, forwardAction, startAction, endAction, previousAction, nextAction});
  contextMenu_->addSeparator();
  contextMenu_->addMenu(speedMenu_);
  contextMenu_->addAction(loopAction);
  contextMenu_->addSeparator();
  contextMenu_->addAction(muteAction_);
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { contextMenu_->popup(mapToGlobal(at)); });
}

const QList<double>& MediaPlayer::speeds() {
  static const QList<double> offered{0.5, 0.75, 1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0};
  return offered;
}

double MediaPlayer::amplitudeOf(int hundredthsOfDecibel) {
  if (hundredthsOfDecibel <= kSilence) return 0.0;
  return std::pow(10.0, std::min(hundredthsOfDecibel, 0) / 2000.0);
}

void MediaPlayer::setVolume(int hundredthsOfDecibel) { applyVolume(hundredthsOfDecibel); }

void MediaPlayer::applyVolume(int hundredthsOfDecibel) {
  volume_ = std::clamp(hundredthsOfDecibel, kSilence, 0);
  engine_->setVolume(amplitudeOf(volume_));
  const QSignalBlocker quiet(volumeSlider_);
  volumeSlider_->setValue(std::max(volume_, kSliderFloor));
}

void MediaPlayer::setMute(bool muted) {
  const QSignalBlocker quiet(muteButton_);
  muteButton_->setChecked(muted);
  applyMute(muted);
}

void MediaPlayer::applyMute(bool muted) {
  muted_ = muted;
  engine_->setMuted(muted);
  muteAction_->setChecked(muted);
  muteButton_->setIcon(style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
  muteButton_->setToolTip(muted ? QStringLiteral("ミュート中: 押すと音が戻ります") : QStringLiteral("ミュート"));
}

void MediaPlayer::setFileName(const QString& path) {
  fileName_ = path;
  clearProblem();
  clearLoop();
  const QFileInfo file(path);
  if (path.isEmpty()) {
    engine_->unload();
  } else if (!file.exists()) {
    engine_->unload();
    showProblem(QStringLiteral("ファイルが見つかりません: %1").arg(path));
  } else if (!file.isFile()) {
    // A folder, a pipe or a device: never handed to GStreamer, which would wait on a pipe.
    engine_->unload();
    showProblem(QStringLiteral("ファイルではありません: %1").arg(path));
  } else {
    engine_->load(path, AutoStart);
  }
  showLoudnessOf(file.isFile() ? path : QString());
  showPosition();
  updateControls();
}

void MediaPlayer::showLoudnessOf(const QString& path) {
  seekBar_->setLoudness({});
  if (path.isEmpty()) {
    if (loudness_) loudness_->cancel();
    return;
  }
  if (!loudness_) {
    loudness_ = new LoudnessMaker(this);
    // The seek bar is too narrow to show a waveform filling in: it shows the whole one.
    connect(loudness_, &LoudnessMaker::ready, seekBar_, &SeekBar::setLoudness);
  }
  loudness_->make(path);
}

double MediaPlayer::CurrentPosition() const {
  if (fileName_.isEmpty()) return -1;
  switch (engine_->media()) {
    case PlaybackEngine::Media::None:
    case PlaybackEngine::Media::Failed:
      return -1;
    default:
      return engine_->position() / 1000.0;
  }
}

double MediaPlayer::Duration() const {
  const qint64 ms = engine_->duration();
  return ms < 0 ? -1 : ms / 1000.0;
}

MediaPlayer::PlayState MediaPlayer::playState() const {
  switch (engine_->state()) {
    case PlaybackEngine::State::Playing:
      return PlayState::Playing;
    case PlaybackEngine::State::Paused:
      return PlayState::Paused;
    default:
      return PlayState::Stopped;
  }
}

void MediaPlayer::setRate(double rate) {
  engine_->setRate(rate);
  showRate();
}

double MediaPlayer::Rate() const { return engine_->rate(); }

void MediaPlayer::setMarks(const QList<qint64>& marksMs) {
  marks_ = marksMs;
  std::sort(marks_.begin(), marks_.end());
  marks_.erase(std::unique(marks_.begin(), marks_.end()), marks_.end());
  seekBar_->setMarks(marks_);
  describeSkips();
}

void MediaPlayer::describeSkips() {
  if (marks_.isEmpty()) {
    describe(startButton_, QStringLiteral("先頭へ"), QStringLiteral("Home"), QStringLiteral("Home キー"));
    describe(endButton_, QStringLiteral("末尾へ"), QStringLiteral("End"), QStringLiteral("End キー"));
  } else {
    describe(startButton_, QStringLiteral("前のマークへ"), QStringLiteral("PageUp"),
             QStringLiteral("Page Up キー。最初のマークより前では先頭へ"));
    describe(endButton_, QStringLiteral("次のマークへ"), QStringLiteral("PageDown"),
             QStringLiteral("Page Down キー。最後のマークより後では末尾へ"));
  }
}

QString MediaPlayer::problem() const { return problemLabel_->text(); }

void MediaPlayer::takeFocus() {
  // With nothing to play the button is grey and cannot hold the focus: the window gives it
  // to the first control that can.
  if (playButton_->isEnabled()) playButton_->setFocus(Qt::ActiveWindowFocusReason);
}

void MediaPlayer::togglePlay() {
  if (engine_->state() == PlaybackEngine::State::Playing)
    pause();
  else
    play();
}

void MediaPlayer::play() {
  dismissNotice();
  engine_->play();
}

void MediaPlayer::pause() { engine_->pause(); }

void MediaPlayer::stop() {
  dismissNotice();
  clearLoop();
  engine_->stop();
  showPosition();
}

void MediaPlayer::back() { seekBy(-kBackMs); }

void MediaPlayer::forward() { seekBy(kForwardMs); }

void MediaPlayer::toStart() { seekTo(0); }

void MediaPlayer::toEnd() {
  if (engine_->duration() >= 0) seekTo(engine_->duration());
}

void MediaPlayer::previousMark() {
  const qint64 now = positionMs();
  qint64 target = 0;  // no mark before: the start
  for (const qint64 mark : marks_)
    if (mark < now - kMarkBackMs) target = mark;
  seekTo(target);
}

void MediaPlayer::nextMark() {
  const qint64 now = positionMs();
  for (const qint64 mark : marks_) {
    if (mark > now + 100) {
      seekTo(mark);
      return;
    }
  }
  toEnd();  // no mark after: the end, as the start lies before the first
}

void MediaPlayer::slower() {
  const auto& offered = speeds();
  const auto at = std::lower_bound(offered.begin(), offered.end(), Rate() - 1e-6);
  if (at != offered.begin()) setRate(*(at - 1));
}

void MediaPlayer::faster() {
  const auto& offered = speeds();
  const auto at = std::upper_bound(offered.begin(), offered.end(), Rate() + 1e-6);
  if (at != offered.end()) setRate(*at);
}

void MediaPlayer::normalSpeed() { setRate(1.0); }

void MediaPlayer::markLoop() {
  if (!engine_->isSeekable()) return;
  const qint64 now = positionMs();
  const qint64 from = engine_->loopFrom();
  if (from < 0) {
    engine_->setLoopStart(now);
  } else if (engine_->loopTo() < 0) {
    if (std::abs(now - from) < kShortestLoopMs) return;
    engine_->setLoop(std::min(now, from), std::max(now, from));
  } else {
    clearLoop();
  }
  showPosition();
}

void MediaPlayer::clearLoop() { engine_->clearLoop(); }

void MediaPlayer::seekBy(qint64 ms) { seekTo(std::max<qint64>(0, positionMs() + ms)); }

void MediaPlayer::seekTo(qint64 ms) {
  if (!engine_->isSeekable()) return;
  dismissNotice();
  if (engine_->duration() >= 0) ms = std::min(ms, engine_->duration());
  // Leaving the loop ends it (the engine sees to that).
  engine_->seek(ms);
  TraceMoment("player-seek", ms);
  showPosition();
}

qint64 MediaPlayer::positionMs() const {
  return engine_->media() == PlaybackEngine::Media::None ? 0 : engine_->position();
}

void MediaPlayer::showFailure(const PlaybackFailure& failure) {
  const QString name = QFileInfo(fileName_).fileName();
  switch (failure.cause) {
    case PlaybackFailure::Cause::MissingComponent:
      showProblem(QStringLiteral("再生に必要な部品がありません: %1").arg(name), failure.detail);
      break;
    case PlaybackFailure::Cause::Damaged:
      showProblem(QStringLiteral("ファイルが壊れています: %1").arg(name), failure.detail);
      break;
    case PlaybackFailure::Cause::Unreadable:
      showProblem(QStringLiteral("ファイルを読めません: %1").arg(name), failure.detail);
      break;
    case PlaybackFailure::Cause::NoOutput:
      showProblem(QStringLiteral("音を出せません (サウンドサーバーにつながりません)"), failure.detail);
      break;
    default:
      showProblem(QStringLiteral("このファイルは再生できません: %1").arg(name), failure.detail);
      break;
  }
}

void MediaPlayer::showProblem(const QString& text, const QString& detail) {
  notice_ = false;
  problemLabel_->setText(text);
  problemLabel_->setToolTip(detail.isEmpty() ? text : QStringLiteral("%1\n(%2)").arg(text, detail));
  problemLabel_->setAccessibleDescription(detail);
  seekBar_->hide();
  lengthLabel_->hide();
  problemLabel_->show();
  updateControls();
}

void MediaPlayer::dismissNotice() {
  if (notice_) clearProblem();
}

void MediaPlayer::clearProblem() {
  notice_ = false;
  problemLabel_->hide();
  problemLabel_->clear();
  problemLabel_->setToolTip(QString());
  problemLabel_->setAccessibleDescription(QString());
  seekBar_->show();
  lengthLabel_->show();
}

void MediaPlayer::placeLength() {
  // As wide as "00:00:00", or as the length shown when it is longer; the bar takes the rest.
  const QFontMetrics metrics = lengthLabel_->fontMetrics();
  const int width = std::max({50, metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 4,
                              metrics.horizontalAdvance(lengthLabel_->text()) + 4});
  lengthLabel_->setGeometry(kWidth - width, 0, width, kBarHeight);
  seekBar_->setGeometry(0, 0, kWidth - width - 2, kBarHeight);
}

void MediaPlayer::showDuration(qint64 ms) {
  seekBar_->setRange(0, int(std::clamp<qint64>(ms, 0, INT_MAX)));
  lengthLabel_->setText(ms < 0 ? QString() : PositionText(ms / 1000.0));
  placeLength();
  if (ms >= 0) TraceMoment("player-length");
  showPosition();
  updateControls();
}

void MediaPlayer::showPosition() {
  if (seekBar_->isSliderDown()) return;
  const bool loaded = engine_->media() != PlaybackEngine::Media::None && engine_->media() != PlaybackEngine::Media::Failed;
  const QSignalBlocker quiet(seekBar_);
  seekBar_->setValue(loaded ? int(std::min<qint64>(engine_->position(), INT_MAX)) : 0);
  seekBar_->update();
}

void MediaPlayer::showRate() {
  const double rate = Rate();
  speedButton_->setText(speedText(rate));
  speedButton_->setToolTip(QStringLiteral("再生速度 %1 ([ 遅く / ] 速く / = 標準)").arg(speedText(rate)));
  speedButton_->setAccessibleDescription(
      QStringLiteral("いまは %1 倍。[ キーで遅く、] キーで速く、= キーで標準の速さに").arg(rate));
  for (QAction* action : speedActions_->actions()) action->setChecked(std::abs(action->data().toDouble() - rate) < 1e-6);
}

void MediaPlayer::updateControls() {
  const auto media = engine_->media();
  const bool loaded = media != PlaybackEngine::Media::None && media != PlaybackEngine::Media::Failed;
  const bool playing = engine_->state() == PlaybackEngine::State::Playing;
  playButton_->setEnabled(loaded);
  playButton_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
  playButton_->setAccessibleName(playing ? QStringLiteral("一時停止") : QStringLiteral("再生"));
  playButton_->setToolTip(playing ? QStringLiteral("一時停止 (K)") : QStringLiteral("再生 (K)"));
  stopButton_->setEnabled(loaded && (engine_->state() != PlaybackEngine::State::Stopped || engine_->position() > 0));
  playAction_->setEnabled(loaded);
  const bool seekable = loaded && engine_->isSeekable();
  for (QWidget* w : std::initializer_list<QWidget*>{startButton_, backButton_, forwardButton_, endButton_, seekBar_})
    w->setEnabled(seekable);
}

}  // namespace tallowen
