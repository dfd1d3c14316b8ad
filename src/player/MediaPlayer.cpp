#include "player/MediaPlayer.h"

#include <QAction>
#include <QAudioOutput>
#include <QFileInfo>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <cmath>

namespace tallowen {

namespace {

constexpr int kSilence = -10000;
constexpr int kSliderFloor = -4000;  // below -40 dB the slider's last step is silence
constexpr qint64 kSkipMs = 5000;

QToolButton* makeButton(QWidget* parent, QStyle::StandardPixmap icon, const QString& tip, const char* name,
                        int x) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setIcon(parent->style()->standardIcon(icon));
  button->setIconSize(QSize(14, 14));
  button->setToolTip(tip);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::TabFocus);
  button->setGeometry(x, 19, 22, 22);
  return button;
}

}  // namespace

MediaPlayer::MediaPlayer(QWidget* parent)
    : QWidget(parent), player_(new QMediaPlayer(this)), output_(new QAudioOutput(this)) {
  player_->setAudioOutput(output_);
  player_->setLoops(1);

  tracker_ = new QSlider(Qt::Horizontal, this);
  tracker_->setObjectName(QStringLiteral("tracker"));
  tracker_->setGeometry(0, 0, 281, 17);
  tracker_->setToolTip(QStringLiteral("再生位置"));
  tracker_->setEnabled(false);
  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("message"));
  message_->setGeometry(2, 0, 279, 17);
  message_->setStyleSheet(QStringLiteral("color: #b00000;"));
  message_->hide();

  play_ = makeButton(this, QStyle::SP_MediaPlay, QStringLiteral("再生"), "play", 0);
  pause_ = makeButton(this, QStyle::SP_MediaPause, QStringLiteral("一時停止"), "pause", 22);
  stop_ = makeButton(this, QStyle::SP_MediaStop, QStringLiteral("停止"), "stop", 44);
  start_ = makeButton(this, QStyle::SP_MediaSkipBackward, QStringLiteral("先頭へ"), "start", 72);
  back_ = makeButton(this, QStyle::SP_MediaSeekBackward, QStringLiteral("5 秒戻す"), "back", 94);
  forward_ = makeButton(this, QStyle::SP_MediaSeekForward, QStringLiteral("5 秒進める"), "forward", 116);
  end_ = makeButton(this, QStyle::SP_MediaSkipForward, QStringLiteral("末尾へ"), "end", 138);
  mute_ = makeButton(this, QStyle::SP_MediaVolume, QStringLiteral("ミュート"), "mute", 166);
  mute_->setCheckable(true);
  volumeSlider_ = new QSlider(Qt::Horizontal, this);
  volumeSlider_->setObjectName(QStringLiteral("volume"));
  volumeSlider_->setGeometry(190, 21, 91, 18);
  volumeSlider_->setRange(kSliderFloor, 0);
  volumeSlider_->setSingleStep(100);
  volumeSlider_->setPageStep(500);
  volumeSlider_->setToolTip(QStringLiteral("音量"));

  connect(play_, &QToolButton::clicked, this, &MediaPlayer::play);
  connect(pause_, &QToolButton::clicked, this, &MediaPlayer::pause);
  connect(stop_, &QToolButton::clicked, this, &MediaPlayer::stop);
  connect(start_, &QToolButton::clicked, this, [this] { seekTo(0); });
  connect(back_, &QToolButton::clicked, this, [this] { seekBy(-kSkipMs); });
  connect(forward_, &QToolButton::clicked, this, [this] { seekBy(kSkipMs); });
  connect(end_, &QToolButton::clicked, this, [this] { seekTo(player_->duration()); });
  connect(mute_, &QToolButton::toggled, this, [this](bool muted) {
    output_->setMuted(muted);
    mute_->setIcon(style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
  });
  connect(volumeSlider_, &QSlider::valueChanged, this, [this](int value) {
    if (value != std::max(volume_, kSliderFloor)) setVolume(value == kSliderFloor ? kSilence : value);
  });
  connect(tracker_, &QSlider::sliderMoved, this, [this](int ms) { seekTo(ms); });

  connect(player_, &QMediaPlayer::durationChanged, this, [this](qint64 ms) {
    tracker_->setRange(0, int(std::min<qint64>(ms, INT_MAX)));
  });
  connect(player_, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
    if (!tracker_->isSliderDown()) tracker_->setValue(int(std::min<qint64>(ms, INT_MAX)));
  });
  connect(player_, &QMediaPlayer::playbackStateChanged, this, &MediaPlayer::updateControls);
  connect(player_, &QMediaPlayer::seekableChanged, this, &MediaPlayer::updateControls);
  connect(player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
    if (status == QMediaPlayer::EndOfMedia) {
      ended_ = true;
      tracker_->setValue(tracker_->maximum());
    }
    if (status == QMediaPlayer::InvalidMedia && problem().isEmpty())
      showProblem(QStringLiteral("このファイルは再生できません: %1").arg(QFileInfo(fileName_).fileName()));
    updateControls();
  });
  connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString& text) {
    if (error == QMediaPlayer::NoError) return;
    showProblem(QStringLiteral("このファイルは再生できません: %1").arg(QFileInfo(fileName_).fileName()) +
                (text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text)));
  });

  // The same commands on the right mouse button.
  setContextMenuPolicy(Qt::ActionsContextMenu);
  const std::pair<QToolButton*, QString> commands[] = {
      {play_, QStringLiteral("再生(&P)")}, {pause_, QStringLiteral("一時停止(&A)")}, {stop_, QStringLiteral("停止(&S)")}};
  for (const auto& [button, text] : commands) {
    auto* action = new QAction(text, this);
    connect(action, &QAction::triggered, button, &QToolButton::click);
    addAction(action);
  }
  auto* muteAction = new QAction(QStringLiteral("ミュート(&M)"), this);
  muteAction->setCheckable(true);
  connect(muteAction, &QAction::toggled, mute_, &QToolButton::setChecked);
  connect(mute_, &QToolButton::toggled, muteAction, &QAction::setChecked);
  addAction(muteAction);

  setFixedSize(281, 41);
  setVolume(0);
  updateControls();
}

MediaPlayer::~MediaPlayer() {
  // Playback ends with the control, before its output goes.
  player_->stop();
}

double MediaPlayer::amplitudeOf(int hundredthsOfDecibel) {
  if (hundredthsOfDecibel <= kSilence) return 0.0;
  return std::pow(10.0, std::min(hundredthsOfDecibel, 0) / 2000.0);
}

void MediaPlayer::setVolume(int hundredthsOfDecibel) {
  volume_ = std::clamp(hundredthsOfDecibel, kSilence, 0);
  output_->setVolume(float(amplitudeOf(volume_)));
  volumeSlider_->setValue(std::max(volume_, kSliderFloor));
}

void MediaPlayer::setFileName(const QString& path) {
  fileName_ = path;
  ended_ = false;
  message_->hide();
  message_->clear();
  tracker_->show();
  tracker_->setValue(0);
  player_->stop();
  if (path.isEmpty()) {
    player_->setSource(QUrl());
  } else if (!QFileInfo(path).isFile()) {
    player_->setSource(QUrl());
    showProblem(QStringLiteral("ファイルが見つかりません: %1").arg(path));
  } else {
    player_->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    if (AutoStart) player_->play();
  }
  updateControls();
}

double MediaPlayer::CurrentPosition() const {
  if (fileName_.isEmpty() || !problem().isEmpty() || player_->source().isEmpty()) return -1;
  switch (player_->mediaStatus()) {
    case QMediaPlayer::NoMedia:
    case QMediaPlayer::InvalidMedia:
      return -1;
    default:
      break;
  }
  if (ended_ && player_->playbackState() == QMediaPlayer::StoppedState) return player_->duration() / 1000.0;
  return player_->position() / 1000.0;
}

QString MediaPlayer::problem() const { return message_->text(); }

void MediaPlayer::play() {
  if (player_->source().isEmpty()) return;
  ended_ = false;
  player_->play();
}

void MediaPlayer::pause() { player_->pause(); }

void MediaPlayer::stop() {
  ended_ = false;
  player_->stop();
  player_->setPosition(0);
  tracker_->setValue(0);
}

void MediaPlayer::seekBy(qint64 ms) { seekTo(std::max<qint64>(0, player_->position() + ms)); }

void MediaPlayer::seekTo(qint64 ms) {
  if (!player_->isSeekable()) return;
  ended_ = false;
  player_->setPosition(std::clamp<qint64>(ms, 0, std::max<qint64>(player_->duration(), 0)));
}

void MediaPlayer::showProblem(const QString& text) {
  message_->setText(text);
  message_->setToolTip(text);
  tracker_->hide();
  message_->show();
  updateControls();
}

void MediaPlayer::updateControls() {
  const bool loaded = !player_->source().isEmpty() && problem().isEmpty();
  const auto state = player_->playbackState();
  play_->setEnabled(loaded && state != QMediaPlayer::PlayingState);
  pause_->setEnabled(loaded && state == QMediaPlayer::PlayingState);
  stop_->setEnabled(loaded && state != QMediaPlayer::StoppedState);
  const bool seekable = loaded && player_->isSeekable();
  for (QWidget* w : {static_cast<QWidget*>(start_), static_cast<QWidget*>(back_),
                     static_cast<QWidget*>(forward_), static_cast<QWidget*>(end_),
                     static_cast<QWidget*>(tracker_)})
    w->setEnabled(seekable);
}

}  // namespace tallowen
