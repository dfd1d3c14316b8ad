#include "app/Form1.h"

#include <QApplication>
#include <QDir>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <map>

#include "config/frmConfig.h"
#include "help/frmAbout.h"
#include "platform/Trace.h"
#include "platform/Twips.h"
#include "player/frmPlayer.h"
#include "recording/EncoderError.h"
#include "recording/FailureText.h"
#include "app/FirstStart.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingName.h"
#include "settings/modINI.h"
#include "platform/ApplicationFolder.h"
#include "platform/Pictures.h"
#include "platform/TextFit.h"
#include "app/LevelMeter.h"


namespace tallowen {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

const QString kFirstUseMessage =
    QStringLiteral("録音を始める前に、音質の設定を行います。OKを押したあと録音品質を選択してください。");

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

}  // namespace

Form1::Form1(const Seams& seams, QWidget* parent)
    : QMainWindow(parent),
      seams_(seams),
      session_(new RecordingSession(seams.encoders, seams.clock, seams.audioInput, this)) {
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
  // Along the bottom of the time box, below the digits, inside its frame.
  levelMeter_ = new LevelMeter(Label1);
  levelMeter_->setGeometry(1, Label1->height() - 4, Label1->width() - 2, 3);
  levelMeter_->hide();
  meterTimer_ = new QTimer(this);
  meterTimer_->setInterval(50);
  connect(meterTimer_, &QTimer::timeout, this, &Form1::showLevel);

  connect(session_, &RecordingSession::phaseChanged, this, &Form1::showPhase);
  connect(session_, &RecordingSession::encoderStateChanged, this, &Form1::Encoder_OnStateChange);
  connect(session_, &RecordingSession::startFailed, this, &Form1::startFailed);
  connect(session_, &RecordingSession::finished, this, &Form1::recordingFinished);
  connect(session_, &RecordingSession::fileRestored, this, [this](const QString& path) {
    seams_.prompter->message(this,
                             QStringLiteral("録音中のファイルが削除されたため、録音をファイルに書き直しました。録音は続いています。") +
                                 kCrLf + QDir::toNativeSeparators(path),
                             Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
  });
}

Form1::~Form1() {
  if (repair_.joinable()) repair_.join();
}

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
  // The time box is 15 pixels high inside its frame, and its texts come and go while the
  // window stands. A Japanese desktop's own font (Noto Sans CJK) has a line of 17 pixels
  // and would cut the descenders of "Stopping...": the box takes Arial, as the program it
  // replaces did, and a smaller size of whatever stands in for it if that does not fit.
  Label1->setFont(QFont(QStringLiteral("Arial"), 9));
  FitLineToHeight(Label1);
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

void Form1::Form_Load() {
  Paused = false;
  // A recording cut short by a crash or a power cut gets its true length back. The files
  // may be long, or on a slow disk: off this thread, and the window says what was done.
  repair_ = std::thread([this] {
    const QList<InterruptedRecording> found = RepairInterruptedRecordings();
    QMetaObject::invokeMethod(
        this, [this, found] { interruptedRecordingsFound(found); }, Qt::QueuedConnection);
  });
  if (IsFirstStart()) OfferEncoderInstall();
}

void Form1::interruptedRecordingsFound(const QList<InterruptedRecording>& found) {
  repairDone_ = true;
  const QString report = InterruptedRecordingsReport(found);
  if (!report.isEmpty()) seams_.prompter->notice(this, report, Prompter::Icon::Information);
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

// The look of each phase of a recording: which of the paired buttons show, what the label
// says, and which timers run. The one place where the window follows the session.
void Form1::showPhase(RecordingSession::Phase phase) {
  using Phase = RecordingSession::Phase;
  struct Look {
    bool record, stop, play, pause, pausedSign, elapsed, blink;
    const char* caption;  // null: the label keeps what it shows
  };
  static const std::map<Phase, Look> looks = {
      {Phase::Idle, {true, false, true, false, false, false, false, ""}},
      {Phase::Starting, {false, false, false, false, false, false, false, "Starting..."}},
      {Phase::Recording, {false, true, false, true, false, true, false, nullptr}},
      {Phase::Paused, {false, true, false, false, true, true, true, nullptr}},
      {Phase::Stopping, {false, false, false, false, false, false, false, "Stopping..."}},
  };
  const Look& look = looks.at(phase);
  Paused = phase == Phase::Paused;
  Command2->setVisible(look.record);
  Command8->setVisible(!look.record);
  Command3->setVisible(look.stop);
  Command9->setVisible(!look.stop);
  Command4->setVisible(look.play);
  Command10->setVisible(!look.play);
  Command11->setVisible(look.pause);
  Command12->setVisible(look.pausedSign);
  if (look.caption) Label1->setText(QString::fromLatin1(look.caption));
  if (look.elapsed && !Timer1->isActive()) {
    ticks_ = 0;
    Timer1->start();
  }
  if (!look.elapsed) Timer1->stop();
  // The level moves while sound is recorded, stands still while paused, and goes with the
  // recording.
  levelMeter_->setVisible(look.elapsed);
  if (phase == Phase::Recording)
    meterTimer_->start();
  else
    meterTimer_->stop();
  if (!look.elapsed) {
    levelMeter_->clear();
    Label1->setToolTip(QString());
  }
  BlinkState = false;
  if (look.blink)
    Timer2->start();
  else
    Timer2->stop();
}

void Form1::StartRecording() {
  TraceMoment("record-click");
  // The blinking record button resumes; it never asks for the quality.
  if (session_->phase() == RecordingSession::Phase::Paused) {
    session_->resume();
    return;
  }
  if (session_->phase() != RecordingSession::Phase::Idle || askingBeforeStart_) return;
  // The questions and the dialog let other events run: a close or 終了 meanwhile withdraws
  // the start.
  askingBeforeStart_ = true;
  startWithdrawn_ = false;
  if (!session_->qualityChosen()) {
    seams_.prompter->message(this, kFirstUseMessage, Prompter::Icon::Information, Prompter::Buttons::Ok);
    if (!startWithdrawn_) showConfigModal();
  }
  const bool go = !startWithdrawn_ && roomConfirmed() && !startWithdrawn_;
  askingBeforeStart_ = false;
  if (go) session_->start();
}

bool Form1::roomConfirmed() {
  // A disk about to fill would end the recording within minutes: the user decides first.
  const std::optional<qint64> room = session_->secondsOfRoom();
  if (!room || *room >= 10 * 60) return true;
  const QString text = QStringLiteral("保存先の空き容量が少ないため、この録音品質では約 %1 分しか録音できません。") +
                       kCrLf + QStringLiteral("録音を始めますか?");
  return seams_.prompter->message(this, text.arg(*room / 60), Prompter::Icon::Question, Prompter::Buttons::YesNo) ==
         Prompter::Answer::Yes;
}

void Form1::showLevel() { levelMeter_->showPeak(session_->takeInputPeak()); }

// The time box's tooltip: what to check when no sound comes, and how long the disk lasts.
void Form1::showTimeBoxHint() {
  QStringList hint;
  if (session_->inputSilent())
    hint << QStringLiteral("入力の音がありません。マイクがつながっているか、ミュートになっていないかを確かめて"
                           "ください。録音レベルは右端のボタン (録音時の音量を調整) で調整できます。");
  if (const std::optional<qint64> room = session_->secondsOfRoom()) {
    const qint64 hours = *room / 3600, minutes = *room / 60 % 60;
    hint << (hours > 0 ? QStringLiteral("保存先の空き容量で、あと約 %1 時間 %2 分録音できます。").arg(hours).arg(minutes)
                       : QStringLiteral("保存先の空き容量で、あと約 %1 分録音できます。").arg(minutes));
  }
  Label1->setToolTip(hint.join(QLatin1Char('\n')));
}

void Form1::showConfigModal() {
  frmConfig* dialog = config_.get([this] { return new frmConfig(seams_); });
  seams_.prompter->runModal(dialog);
}

void Form1::startFailed(const EncoderError& failure) {
  // The warning says what it always said; what really failed follows in a line of its own.
  QString text = EncoderUnavailableMessage();
  if (failure.kind() != EncoderFailure::Component) text += kCrLf + FailureLine(failure);
  seams_.prompter->message(this, text, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
  seams_.help->showTopic(this, HelpFilePath(), kEncoderHelpTopic);
}

void Form1::recordingFinished(const RecordingResult& result) {
  QString text;
  if (result.endedByItself)
    text = result.complete ? QStringLiteral("録音が止まりました。ここまでの録音は保存されています。")
                           : QStringLiteral("録音が止まりました。録音ファイルを完成できませんでした。");
  else if (result.failure)
    text = result.complete ? QStringLiteral("録音の最後を書き込めませんでした。それまでの録音は保存されています。")
                           : QStringLiteral("録音ファイルを正しく閉じられませんでした。");
  else
    return;
  text += kCrLf + QDir::toNativeSeparators(result.path);
  if (result.failure) text += kCrLf + FailureLine(*result.failure);
  seams_.prompter->message(this, text, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
}

void Form1::Command11_Click() { session_->pause(); }

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

void Form1::StopRecording() {
  TraceMoment("stop-click");
  session_->stop();
}

void Form1::ShowElapsedTime() {
  // A silent input: the warning at once, then alternating with the time, a second each.
  const bool silent = session_->inputSilent();
  if (silent && warnedAt_ < 0) warnedAt_ = ticks_;
  if (!silent) warnedAt_ = -1;
  const bool warn = silent && (ticks_ - warnedAt_) / 10 % 2 == 0;
  // The text changes once a second: drawn again only then.
  const QString text = warn ? QStringLiteral("入力なし") : ElapsedText(session_->elapsedMs());
  if (Label1->text() != text) Label1->setText(text);
  if (ticks_ % 10 == 0 || silent != hinted_) showTimeBoxHint();
  hinted_ = silent;
  ++ticks_;
}

void Form1::Encoder_OnStateChange(int state) { Text1->setText(QString::number(state)); }

void Form1::StopOnClose() {
  // A start waiting for the quality is withdrawn; a recording is completed, and the
  // session finishes it even after the window has gone.
  startWithdrawn_ = true;
  session_->stop();
}

void Form1::closeEvent(QCloseEvent* event) {
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
  player_.open([this] { return frmPlayer::ForLatestRecording(seams_, this); });
}

void Form1::Command5_Click() {
  startOutsideProgram(QStringLiteral("pavucontrol"), {QStringLiteral("-t"), QStringLiteral("4")});
}

void Form1::MFPlay_Click() {
  player2_.open([this] { return new frmPlayer2(seams_); });
}

void Form1::MEnd_Click() {
  // Unlike closing, ending keeps no window's closing steps. A running recording is still
  // completed: the session does it as the program ends, so that the file plays in full.
  startWithdrawn_ = true;
  QCoreApplication::exit(0);
}

void Form1::MHelp2_Click() { seams_.help->showContents(this, HelpFilePath()); }

void Form1::MAbout_Click() {
  about_.open([this] { return new frmAbout(seams_.launcher); });
}

}  // namespace tallowen
