#include "app/Form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include "config/frmConfig.h"
#include "help/frmAbout.h"
#include "platform/Trace.h"
#include "platform/Twips.h"
#include "player/frmPlayer.h"
#include "recording/Encoder.h"
#include "app/FirstStart.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingName.h"
#include "settings/modINI.h"
#include "platform/ApplicationFolder.h"
#include "platform/Pictures.h"
#include "platform/TextFit.h"


namespace tallowen {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

const QString kFirstUseMessage =
    QStringLiteral("録音を始める前に、音質の設定を行います。OKを押したあと録音品質を選択してください。");

QString encoderUnavailableMessage() {
  return QStringLiteral(
             "Windows Media Encoderのインストールがまだ終了していません。しばらくおまちください。") +
         kCrLf + QStringLiteral("この現象に関する情報がヘルプにありますのでご覧ください。");
}

QString installOfferMessage() {
  return QStringList{
      QStringLiteral("Tallowenの動作に必要な'Windows Media Encoder'をインストールします。"),
      QStringLiteral("'はい'を押すとインストールを行います。すでに'Windows Media Encoder "
                     "7.1がインストール済みの場合は"),
      QStringLiteral("'いいえ'を押してください。なお、後から手動でインストールする場合は、Tallowenの"
                     "インストールフォルダ内の"),
      QStringLiteral("'WMEDist.exe'を実行してインストールしてください。")}
      .join(kCrLf);
}

// Twips to pixels: 15 twips a pixel.
}  // namespace

Form1::Form1(const Seams& seams, QWidget* parent) : QMainWindow(parent), seams_(seams) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Tallowen"));
  setWindowIcon(PictureIcon("icon"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  createControls();
  createMenu();
  // A fixed window: the client area below the menu bar is 175 x 47 pixels.
  centralWidget()->setFixedSize(px(2625), px(705));
  FitTexts(centralWidget());
  setFixedSize(centralWidget()->width(), centralWidget()->height() + menuBar()->sizeHint().height());
}

Form1::~Form1() = default;

frmConfig* Form1::configWindow() const { return config_.window(); }
frmPlayer* Form1::playerWindow() const { return player_.window(); }
frmPlayer2* Form1::player2Window() const { return player2_.window(); }
frmAbout* Form1::aboutWindow() const { return about_.window(); }

QPushButton* Form1::pictureButton(const char* name, const char* picture, int left, int width) {
  auto* button = new QPushButton(centralWidget());
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(px(left), px(240), px(width), px(375));
  button->setIcon(PictureIcon(picture));
  button->setIconSize(QSize(32, 32));
  button->setFocusPolicy(Qt::TabFocus);
  return button;
}

void Form1::createControls() {
  setCentralWidget(new QWidget(this));
  Timer2 = new QTimer(this);
  Timer2->setInterval(500);
  Command12 = pictureButton("Command12", "pause_grey", 1560, 135);
  Command11 = pictureButton("Command11", "pause", 1560, 135);
  Command10 = pictureButton("Command10", "play_grey", 1080, 495);
  Command9 = pictureButton("Command9", "stop_grey", 600, 495);
  Command8 = pictureButton("Command8", "record_grey", 120, 495);
  Command5 = pictureButton("Command5", "volume", 2160, 375);
  Command5->setToolTip(QStringLiteral("録音時の音量を調整"));
  Command4 = pictureButton("Command4", "play", 1080, 495);
  Timer1 = new QTimer(this);
  Timer1->setInterval(100);
  Text1 = new QLineEdit(QStringLiteral("Text1"), centralWidget());
  Text1->setObjectName(QStringLiteral("Text1"));
  Text1->setGeometry(px(4560), px(120), px(375), px(375));
  Command3 = pictureButton("Command3", "stop", 600, 495);
  Command2 = pictureButton("Command2", "record", 120, 495);
  Command1 = pictureButton("Command1", "settings", 1800, 375);
  Command1->setToolTip(QStringLiteral("ファイルの保存場所と音質を変更する"));
  Label1 = new QLabel(centralWidget());
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(px(120), 0, px(1455), px(255));
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setFrameShape(QFrame::Box);
  Label1->setAutoFillBackground(true);
  QPalette white = Label1->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  Label1->setPalette(white);

  for (QWidget* hidden :
       {static_cast<QWidget*>(Command12), static_cast<QWidget*>(Command11), static_cast<QWidget*>(Command10),
        static_cast<QWidget*>(Command8), static_cast<QWidget*>(Command3), static_cast<QWidget*>(Text1)})
    hidden->hide();

  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &Form1::StartRecording);
  connect(Command3, &QPushButton::clicked, this, &Form1::StopRecording);
  connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
  connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
  connect(Command11, &QPushButton::clicked, this, &Form1::Command11_Click);
  connect(Timer1, &QTimer::timeout, this, &Form1::ShowElapsedTime);
  connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
}

void Form1::createMenu() {
  MFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  MFile->setObjectName(QStringLiteral("MFile"));
  MFPlay = MFile->addAction(QStringLiteral("ファイルを指定して再生(&P)"), this, &Form1::MFPlay_Click);
  MBar2 = MFile->addSeparator();
  MEnd = MFile->addAction(QStringLiteral("終了(&E)"), this, &Form1::MEnd_Click);
  MHelp = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  MHelp->setObjectName(QStringLiteral("MHelp"));
  MHelp2 = MHelp->addAction(QStringLiteral("目次とキーワード(&C)"), this, &Form1::MHelp2_Click);
  MBar = MHelp->addSeparator();
  MAbout = MHelp->addAction(QStringLiteral("バージョン情報(&A)"), this, &Form1::MAbout_Click);
  const std::pair<QAction*, const char*> names[] = {{MFPlay, "MFPlay"}, {MBar2, "MBar2"}, {MEnd, "MEnd"},
                                                    {MHelp2, "MHelp2"}, {MBar, "MBar"},   {MAbout, "MAbout"}};
  for (const auto& [action, name] : names) action->setObjectName(QString::fromLatin1(name));
}

QString Form1::helpFile() const { return ApplicationFolder() + QStringLiteral("/TallowenHelp.chm"); }

void Form1::Form_Load() {
  Paused = false;
  // A recording cut short by a crash or a power cut gets its true length back.
  RepairInterruptedRecordings();
  if (IsFirstStart()) OfferEncoderInstall();
}

void Form1::OfferEncoderInstall() {
  // Asked once: whatever the answer, the message says how to run the companion later.
  MarkStarted();
  const auto answer = seams_.prompter->message(this, installOfferMessage(), Prompter::Icon::Question,
                                               Prompter::Buttons::YesNo);
  if (answer == Prompter::Answer::Yes)
    startOutsideProgram(ApplicationFolder() + QStringLiteral("/WMEDist"),
                        {QStringLiteral("/Q:A"), QStringLiteral("/R:N")});
}

void Form1::startOutsideProgram(const QString& program, const QStringList& arguments) {
  if (seams_.launcher->start(program, arguments)) return;
  seams_.prompter->message(this,
                           QStringLiteral("次のプログラムを起動できませんでした。") + kCrLf +
                               (QStringList{program} + arguments).join(QLatin1Char(' ')),
                           Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
}

// ---- Recording -------------------------------------------------------------------------

void Form1::showPhase(Phase phase) {
  phase_ = phase;
  const bool idle = phase == Phase::Idle;
  const bool running = phase == Phase::Recording || phase == Phase::Paused;
  Command2->setVisible(idle);
  Command8->setVisible(!idle);
  Command3->setVisible(running);
  Command9->setVisible(!running);
  Command4->setVisible(idle);
  Command10->setVisible(!idle);
  Command11->setVisible(phase == Phase::Recording);
  Command12->setVisible(phase == Phase::Paused);
}

void Form1::letEventsRun() { QCoreApplication::processEvents(); }

void Form1::StartRecording() {
  TraceMoment("record-click");
  if (ReadSetting(QStringLiteral("Profile"), QStringLiteral("Prof")).isEmpty()) {
    seams_.prompter->message(this, kFirstUseMessage, Prompter::Icon::Information, Prompter::Buttons::Ok);
    showConfigModal();
  }
  if (Paused) {
    resumeRecording();
    return;
  }
  if (phase_ != Phase::Idle) return;  // a click that was queued behind the start

  ++busy_;
  try {
    showPhase(Phase::Starting);
    Label1->setText(QStringLiteral("Starting..."));
    letEventsRun();

    Encoder_ = seams_.encoders->create();
    connect(Encoder_.get(), &Encoder::stateChanged, this, &Form1::Encoder_OnStateChange);

    const QString profileText = ReadSetting(QStringLiteral("Profile"), QStringLiteral("Prof"));

    const QString fileName = RecordingFileName(seams_.clock->now());
    recordingPath_ = RecordingPath(ReadSetting(QStringLiteral("SaveTo"), QStringLiteral("Path")), fileName);
    const QString actualName = QFileInfo(recordingPath_).fileName();

    SourceGroup& group = Encoder_->sourceGroupCollection().add(QStringLiteral("SG_1"));
    Source& source = group.addSource(SourceType::Audio);

    ProfileCollection& profiles = Encoder_->profileCollection();
    for (int i = 0; i < profiles.count(); ++i) {
      if (profiles.item(i).name.contains(profileText)) {
        group.setProfile(profiles.item(i));
        break;
      }
    }

    source.setInput(QStringLiteral("DEVICE://") + QStringLiteral("Default_Audio_Device"), QString(),
                    QString());
    source.setRepeat(false);
    seams_.audioInput->adjust(source);

    DisplayInfo& info = Encoder_->displayInfo();
    info.setAuthor(QStringLiteral("Tallowen"));
    info.setCopyright(QString());
    info.setTitle(actualName);
    info.setRating(QString());
    info.setDescription(QString());

    Encoder_->file().setLocalFileName(recordingPath_);

    Encoder_->setSyncToDisk(true);
    Encoder_->setFlushPackets(true);

    WriteSetting(QStringLiteral("LastRecorded"), QStringLiteral("FileName"), recordingPath_);

    letEventsRun();

    Encoder_->start();

    StartTime = seams_.clock->now();
    pausedMs_ = 0;
    Timer1->start();
    showPhase(Phase::Recording);
  } catch (const EncoderError&) {
    // The window goes back to Idle, so that the user can try again after reading help.
    seams_.prompter->message(this, encoderUnavailableMessage(), Prompter::Icon::Exclamation,
                             Prompter::Buttons::Ok);
    seams_.help->showTopic(this, helpFile(), 1);
    releaseEncoder();
    Label1->clear();
    showPhase(Phase::Idle);
  }
  --busy_;
  if (closePending_ && !busy_) close();
}

void Form1::showConfigModal() {
  frmConfig* dialog = config_.get([this] { return new frmConfig(seams_); });
  seams_.prompter->runModal(dialog);
}

void Form1::Command11_Click() {
  if (phase_ != Phase::Recording || !Encoder_) return;
  try {
    Encoder_->pause();
  } catch (const EncoderError&) {
    return;  // still recording: nothing changes
  }
  Paused = true;
  pausedAt_ = seams_.clock->now();
  showPhase(Phase::Paused);
  BlinkState = false;
  Timer2->start();
}

void Form1::Timer2_Timer() {
  if (BlinkState) {
    Command2->show();
    Command8->hide();
    BlinkState = false;
  } else {
    Command8->show();
    Command2->hide();
    BlinkState = true;
  }
}

void Form1::resumeRecording() {
  if (!Encoder_) return;
  try {
    Encoder_->start();
  } catch (const EncoderError&) {
    return;  // still paused; the stop button completes the file
  }
  Timer2->stop();
  Paused = false;
  pausedMs_ += pausedAt_.msecsTo(seams_.clock->now());
  showPhase(Phase::Recording);
}

void Form1::StopRecording() {
  TraceMoment("stop-click");
  if (!Encoder_ || (phase_ != Phase::Recording && phase_ != Phase::Paused)) return;
  ++busy_;
  Timer1->stop();
  Timer2->stop();
  Paused = false;
  phase_ = Phase::Stopping;
  Command9->show();
  Command3->hide();
  Command11->hide();
  Command12->hide();
  Command8->show();
  Command2->hide();
  letEventsRun();
  Label1->setText(QStringLiteral("Stopping..."));
  letEventsRun();
  QString failure;
  try {
    Encoder_->stop();
  } catch (const EncoderError& e) {
    failure = e.reason();
  }
  Label1->clear();
  showPhase(Phase::Idle);
  letEventsRun();
  releaseEncoder();
  if (!failure.isEmpty())
    seams_.prompter->message(this,
                             QStringLiteral("録音ファイルを正しく閉じられませんでした。") + kCrLf +
                                 recordingPath_ + kCrLf + failure,
                             Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
  --busy_;
  if (closePending_ && !busy_) close();
}

void Form1::ShowElapsedTime() {
  Label1->setText(ElapsedText(StartTime.msecsTo(seams_.clock->now()) - pausedMs_));
}

void Form1::Encoder_OnStateChange(int state) {
  Text1->setText(QString::number(state));
  if (state != Encoder::Stopped || (phase_ != Phase::Recording && phase_ != Phase::Paused)) return;
  if (sender() != Encoder_.get()) return;
  // Not from inside the encoder's own signal: handling it releases the encoder.
  const QString reason = Encoder_->lastError();
  QMetaObject::invokeMethod(
      this, [this, reason] { recordingEndedByItself(reason); }, Qt::QueuedConnection);
}

void Form1::recordingEndedByItself(const QString& reason) {
  if (phase_ != Phase::Recording && phase_ != Phase::Paused) return;
  Timer1->stop();
  Timer2->stop();
  Paused = false;
  Label1->clear();
  showPhase(Phase::Idle);
  releaseEncoder();
  QString text =
      QStringLiteral("録音が止まりました。ここまでの録音は保存されています。") + kCrLf + recordingPath_;
  if (!reason.isEmpty()) text += kCrLf + reason;
  seams_.prompter->message(this, text, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
}

void Form1::releaseEncoder() { Encoder_.reset(); }

void Form1::StopOnClose() {
  try {
    if (Encoder_) Encoder_->stop();
  } catch (const EncoderError&) {
    // Closing goes on; what was written stays on disk.
  }
  releaseEncoder();
  Timer1->stop();
  Timer2->stop();
  Paused = false;
  if (phase_ != Phase::Idle) {
    Label1->clear();
    showPhase(Phase::Idle);
  }
}

void Form1::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // A start or a stop is letting events run: it finishes first, then the window closes.
    closePending_ = true;
    event->ignore();
    return;
  }
  closePending_ = false;
  StopOnClose();
  event->accept();
}

void Form1::keyPressEvent(QKeyEvent* event) {
  // The pause button is the window's cancel button, while it is shown.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (Command11->isVisible()) Command11->click();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

// ---- Other commands --------------------------------------------------------------------

void Form1::Command1_Click() {
  config_.open([this] { return new frmConfig(seams_); });
}

void Form1::Command4_Click() {
  player_.open([this] { return new frmPlayer(seams_); });
}

void Form1::Command5_Click() {
  startOutsideProgram(QStringLiteral("pavucontrol"), {QStringLiteral("-t"), QStringLiteral("4")});
}

void Form1::MFPlay_Click() {
  player2_.open([this] { return new frmPlayer2(seams_); });
}

void Form1::MEnd_Click() {
  // Unlike closing, ending keeps no window's closing steps; a running recording is still
  // completed first, so that the file plays in full.
  if (Encoder_) {
    try {
      Encoder_->stop();
    } catch (const EncoderError&) {
    }
    releaseEncoder();
  }
  QCoreApplication::exit(0);
}

void Form1::MHelp2_Click() { seams_.help->showContents(this, helpFile()); }

void Form1::MAbout_Click() {
  about_.open([this] { return new frmAbout(seams_.launcher); });
}

}  // namespace tallowen
