#include "player/frmPlayer.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "platform/AccessibleText.h"
#include "platform/Pictures.h"
#include "platform/TextFit.h"
#include "platform/ToolWindow.h"
#include "platform/Twips.h"
#include "player/MediaPlayer.h"
#include "player/PlayerLog.h"
#include "player/PositionText.h"
#include "recording/AsfReader.h"
#include "settings/Settings.h"

namespace tallowen {

namespace {

constexpr int kFirstVolume = -600;

}  // namespace

frmPlayer::frmPlayer(const Seams& seams, Settings& settings, QWidget* parent)
    : frmPlayer(seams, settings, Load::LatestRecording, parent) {}

frmPlayer::frmPlayer(const Seams& seams, Settings& settings, Load load, QWidget* parent, const QString& given)
    : QDialog(parent), seams_(seams), settings_(settings) {
  setObjectName(load != Load::ChosenFile ? QStringLiteral("frmPlayer") : QStringLiteral("frmPlayer2"));
  setWindowTitle(QStringLiteral("Tallowen - 再生"));
  setWindowIcon(PictureIcon("icon"));
  MakeToolWindow(this);
  if (load != Load::ChosenFile)
    setFixedSize(px(4395), px(1155));
  else
    setFixedSize(px(4425), px(1170));

  mediaPlayer_ = new MediaPlayer(this);
  mediaPlayer_->setObjectName(QStringLiteral("MediaPlayer1"));
  mediaPlayer_->move(px(120), px(120));
  otherFileButton_ = new QPushButton(QStringLiteral("ほかのファイルを再生"), this);
  otherFileButton_->setObjectName(QStringLiteral("Command1"));
  otherFileButton_->setGeometry(place(240, 840, 1935, 255));
  otherFileButton_->setAutoDefault(false);
  otherFileButton_->setAccessibleName(QStringLiteral("ほかのファイルを再生"));
  otherFileButton_->setAccessibleDescription(QStringLiteral("ほかの Windows Media Audio ファイルを選んで再生します"));
  positionLabel_ = new QLabel(this);
  positionLabel_->setObjectName(QStringLiteral("Label1"));
  positionLabel_->setGeometry(place(3000, 840, 1215, 255));
  positionLabel_->setAutoFillBackground(true);
  QPalette palette = positionLabel_->palette();
  palette.setColor(QPalette::Window, Qt::white);
  palette.setColor(QPalette::WindowText, Qt::black);
  positionLabel_->setPalette(palette);
  positionLabel_->setFrameShape(QFrame::Box);
  positionLabel_->setLineWidth(1);
  positionLabel_->setAlignment(Qt::AlignCenter);
  NameByPurpose(positionLabel_, QStringLiteral("経過時間"));

  positionTimer_ = new QTimer(this);
  positionTimer_->setObjectName(QStringLiteral("Timer1"));
  positionTimer_->setInterval(200);
  connect(positionTimer_, &QTimer::timeout, this, &frmPlayer::showPosition);
  connect(otherFileButton_, &QPushButton::clicked, this, &frmPlayer::playOtherFile);

  FitTexts(this);
  runLoadingStep(load, given);
  connect(mediaPlayer_, &MediaPlayer::volumeChosen, this, [this](int volume) { settings_.setPlayerVolume(volume); });
  connect(mediaPlayer_, &MediaPlayer::muteChosen, this, [this](bool muted) { settings_.setPlayerMuted(muted); });
  positionTimer_->start();
}

frmPlayer2::frmPlayer2(const Seams& seams, Settings& settings, QWidget* parent)
    : frmPlayer(seams, settings, Load::ChosenFile, parent) {}

frmPlayer* frmPlayer::ForLatestRecording(const Seams& seams, Settings& settings, QWidget* owner) {
  if (settings.lastRecording().isEmpty()) {
    seams.prompter->message(owner,
                            QStringLiteral("再生する録音がまだありません。") + QStringLiteral("\r\n") +
                                QStringLiteral("録音してから再生ボタンを押してください。"),
                            Prompter::Icon::Information, Prompter::Buttons::Ok);
    return nullptr;
  }
  return new frmPlayer(seams, settings);
}

QString frmPlayer::chooseFile() {
  return seams_.prompter->chooseFile(this, QStringLiteral("Windows Media Audio (*.wma)"),
                                     settings_.saveFolder().value);
}

frmPlayer* frmPlayer::ForFile(const Seams& seams, Settings& settings, const QString& path) {
  return new frmPlayer(seams, settings, Load::GivenFile, nullptr, path);
}

void frmPlayer::runLoadingStep(Load load, const QString& given) {
  if (load == Load::GivenFile) {
    restoreVolume();
    playFile(given);
  } else if (load == Load::LatestRecording) {
    restoreVolume();
    const QString latest = settings_.lastRecording();
    if (!latest.isEmpty()) playFile(latest);
  } else {
    const QString chosen = chooseFile();
    restoreVolume();
    playFile(chosen);
  }
}

void frmPlayer::restoreVolume() {
  // Half the amplitude until the user has chosen a volume of their own.
  mediaPlayer_->setVolume(settings_.playerVolume().value_or(kFirstVolume));
  mediaPlayer_->setMute(settings_.playerMuted().value_or(false));
}

void frmPlayer::playFile(const QString& path) {
  mediaPlayer_->setFileName(path);
  // The index marks from the file's header: GStreamer's ASF reader passes them over.
  QList<qint64> marks;
  if (const std::optional<AsfInfo> info = ReadAsfInfo(path))
    for (const asf::Mark& mark : info->marks) marks << mark.ms;
  mediaPlayer_->setMarks(marks);
  showPosition();
  // The window's size and title stay as they were: the file is named where the time is.
  const QString playing =
      path.isEmpty() ? QString()
                     : QStringLiteral("再生中のファイル: %1").arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
  positionLabel_->setToolTip(playing);
  positionLabel_->setAccessibleDescription(playing);
}

void frmPlayer::keyPressEvent(QKeyEvent* event) {
  // The window has no cancel button: Esc neither closes it nor stops what plays.
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmPlayer::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FitOnScreen(this, pos());
  activateWindow();
  mediaPlayer_->takeFocus();
}

void frmPlayer::playOtherFile() {
  const QString chosen = chooseFile();
  // Nothing chosen: what is playing goes on.
  if (!chosen.isEmpty()) playFile(chosen);
}

void frmPlayer::showPosition() {
  // -1: nothing plays (no file, or one that failed), and the label shows no time, not
  // the last one of another file. A position that cannot be read comes as 0.
  mediaPlayer_->showPosition();
  const double position = mediaPlayer_->CurrentPosition();
  positionLabel_->setText(position == -1 ? QString() : PositionText(position));
}

}  // namespace tallowen
