#include "player/frmPlayer.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <stdexcept>

#include "platform/Twips.h"
#include "player/MediaPlayer.h"
#include "settings/modINI.h"
#include "platform/Pictures.h"
#include "platform/TextFit.h"
#include "platform/ToolWindow.h"

namespace tallowen {

namespace {

QString twoDigits(qint16 value) {
  const QString text = QString::number(value);
  return text.size() == 1 ? QLatin1Char('0') + text : text;
}

qint16 toInt16(double value) {
  if (!(value >= -32768 && value <= 32767)) throw std::overflow_error("position out of range");
  return qint16(value);
}

}  // namespace

frmPlayer::frmPlayer(const Seams& seams, QWidget* parent) : frmPlayer(seams, Load::LatestRecording, parent) {}

frmPlayer::frmPlayer(const Seams& seams, Load load, QWidget* parent) : QDialog(parent), seams_(seams) {
  setObjectName(load == Load::LatestRecording ? QStringLiteral("frmPlayer") : QStringLiteral("frmPlayer2"));
  setWindowTitle(QStringLiteral("Tallowen - 再生"));
  setWindowIcon(PictureIcon("icon"));
  MakeToolWindow(this);
  if (load == Load::LatestRecording)
    setFixedSize(px(4395), px(1155));
  else
    setFixedSize(px(4425), px(1170));

  MediaPlayer1 = new MediaPlayer(this);
  MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
  MediaPlayer1->move(px(120), px(120));
  Command1 = new QPushButton(QStringLiteral("ほかのファイルを再生"), this);
  Command1->setObjectName(QStringLiteral("Command1"));
  Command1->setGeometry(place(240, 840, 1935, 255));
  Command1->setAutoDefault(false);
  Label1 = new QLabel(this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(place(3000, 840, 1215, 255));
  Label1->setAutoFillBackground(true);
  QPalette palette = Label1->palette();
  palette.setColor(QPalette::Window, Qt::white);
  palette.setColor(QPalette::WindowText, Qt::black);
  Label1->setPalette(palette);
  Label1->setFrameShape(QFrame::Box);
  Label1->setLineWidth(1);
  Label1->setAlignment(Qt::AlignCenter);
  setTabOrder(MediaPlayer1, Command1);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(200);
  connect(Timer1, &QTimer::timeout, this, &frmPlayer::Timer1_Tick);
  connect(Command1, &QPushButton::clicked, this, &frmPlayer::Command1_Click);
  readPosition_ = [this] { return MediaPlayer1->CurrentPosition(); };

  FitTexts(this);
  Form_Load(load);
  Timer1->start();
}

frmPlayer2::frmPlayer2(const Seams& seams, QWidget* parent) : frmPlayer(seams, Load::ChosenFile, parent) {}

QString frmPlayer::chooseFile() {
  return seams_.prompter->chooseFile(this, QStringLiteral("Windows Media Audio (*.wma)"),
                                     ReadSetting(kSaveFolderSetting));
}

void frmPlayer::Form_Load(Load load) {
  if (load == Load::LatestRecording) {
    MediaPlayer1->setVolume(-600);
    const QString latest = ReadSetting(kLastRecordingSetting);
    if (!latest.isEmpty()) MediaPlayer1->setFileName(latest);
  } else {
    const QString chosen = chooseFile();
    MediaPlayer1->setVolume(-600);
    MediaPlayer1->setFileName(chosen);
  }
}

void frmPlayer::keyPressEvent(QKeyEvent* event) {
  // The window has no cancel button: Esc neither closes it nor stops what plays.
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmPlayer::Command1_Click() {
  const QString chosen = chooseFile();
  // Nothing chosen: what is playing goes on.
  if (!chosen.isEmpty()) MediaPlayer1->setFileName(chosen);
}

void frmPlayer::Timer1_Tick() {
  // Each step on its own: one that fails is passed over, and no error reaches the user.
  double position = 0;
  try {
    position = readPosition_();
  } catch (...) {
    position = 0;
  }
  if (position == -1) return;
  PlayPos = std::trunc(position);
  try {
    SplitPlayPos();
  } catch (...) {
  }
  Label1->setText(twoDigits(PosHours) + QLatin1Char(':') + twoDigits(PosMinutes) + QLatin1Char(':') +
                  twoDigits(PosSeconds));
}

void frmPlayer::SplitPlayPos() {
  if (PlayPos >= 3600) {
    PosHours = toInt16(std::floor(PlayPos / 3600));
    PosMinutes = toInt16(std::floor((PlayPos - 3600.0 * PosHours) / 60));
    PosSeconds = toInt16(PlayPos - 3600.0 * PosHours - 60.0 * PosMinutes);
  } else if (PlayPos >= 60) {
    PosHours = 0;
    PosMinutes = toInt16(std::floor(PlayPos / 60));
    PosSeconds = toInt16(PlayPos - 60.0 * PosMinutes);
  } else {
    PosHours = 0;
    PosMinutes = 0;
    PosSeconds = toInt16(PlayPos);
  }
}

}  // namespace tallowen
