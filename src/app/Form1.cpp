#include "app/Form1.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <map>

#include "app/FailureText.h"
#include "app/FirstStart.h"
#include "app/LevelMeter.h"
#include "app/TimeBox.h"
#include "config/frmConfig.h"
#include "help/frmAbout.h"
#include "platform/AccessibleText.h"
#include "platform/ApplicationFolder.h"
#include "platform/Pictures.h"
#include "platform/TextFit.h"
#include "platform/Trace.h"
#include "platform/Twips.h"
#include "player/frmPlayer.h"
#include "player/frmRecordings.h"
#include "recording/InputLevel.h"
#include "recording/RecordingName.h"
#include "recording/RecordingPlan.h"
#include "settings/modINI.h"

namespace tallowen {

namespace {

using Phase = RecordingSession::Phase;

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

// The number the hidden state box shows for each phase, as the Windows encoder numbered its
// states.
int stateNumber(Phase phase) {
  switch (phase) {
    case Phase::Starting:
      return 1;
    case Phase::Recording:
      return 2;
    case Phase::Paused:
      return 3;
    case Phase::Stopping:
      return 4;
    case Phase::Idle:
      break;
  }
  return 5;
}

// A tooltip as a paragraph that wraps at about 400 pixels, rather than one line across the
// screen.
QString wrappedTip(const QStringList& paragraphs) {
  QStringList html;
  for (const QString& p : paragraphs) html << p.toHtmlEscaped();
  return QStringLiteral("<table width=\"400\"><tr><td>%1</td></tr></table>").arg(html.join(QStringLiteral("<br>")));
}

// The window is as wide as it was drawn, 175 pixels, and three menu titles at the style's
// spacing need more: closer together they fit, and none hides behind the bar's » button.
class CompactMenuBarStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    return metric == PM_MenuBarItemSpacing ? 0 : QProxyStyle::pixelMetric(metric, option, widget);
  }
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                         const QWidget* widget) const override {
    const QSize size = QProxyStyle::sizeFromContents(type, option, contents, widget);
    if (type != CT_MenuBarItem || size.isEmpty()) return size;
    return {std::min(size.width(), contents.width() + 4), size.height()};
  }
};

// A look at the level for each of its peaks while the window is on screen.
constexpr int kTickMs = 1000 / InputLevel::kPeaksPerSecond;
constexpr int kBlinkMs = 500;
constexpr qint64 kFlashMs = 1000;  // a mark's number stays this long in the time box
constexpr int kFileNameMs = 5000;   // and a recording's name after it stopped

}  // namespace

Form1::Form1(const Seams& seams, Settings& settings, QWidget* parent)
    : QMainWindow(parent),
      seams_(seams),
      settings_(settings),
      session_(new RecordingSession(*seams.sound, *seams.clock, this)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Tallowen"));
  setWindowIcon(PictureIcon("icon"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  createControls();
  createCommands();
  enableCommands(Phase::Idle);
  createMenu();
  // A fixed window: the client area below the menu bar is 175 x 47 pixels.
  centralWidget()->setFixedSize(px(2625), px(705));
  FitTexts(centralWidget());
  setFixedSize(centralWidget()->width(), centralWidget()->height() + menuBar()->sizeHint().height());
  // Along the bottom of the time box, below the texts, inside its frame.
  levelMeter_ = new LevelMeter(timeBox_);
  timeBox_->setBar(levelMeter_, 2);
  levelMeter_->hide();

  connect(session_, &RecordingSession::phaseChanged, this, &Form1::showPhase);
  connect(session_, &RecordingSession::finished, this, &Form1::recordingFinished);
  connect(session_, &RecordingSession::inputLostChanged, this, &Form1::inputLostChanged);
  connect(session_, &RecordingSession::marked, this, &Form1::marked);
  connect(session_, &RecordingSession::fileChanged, this, &Form1::fileChanged);
  connect(session_, &RecordingSession::soundLost, this, [this](qint64 lostMs) {
    const QString text =
        QStringLiteral("このプログラムがしばらく動けなかったため (一時停止、スリープ、メモリー不足など)、約 %1 秒の音を"
                       "録音できませんでした。その部分は無音になっています。録音は続いています。")
            .arg((lostMs + 500) / 1000);
    announce(text);
    seams_.prompter->notice(this, text, Prompter::Icon::Exclamation);
  });
  connect(session_, &RecordingSession::journalTrouble, this, [this](const QString& folder) {
    seams_.prompter->notice(
        this,
        QStringLiteral("録音の経過を記録できません。ディスクの空き容量を確かめてください。録音は続いていますが、"
                       "いまプログラムが異常終了すると、最後に記録できた時点までしか修復できません。") +
            kCrLf + QDir::toNativeSeparators(folder),
        Prompter::Icon::Exclamation);
  });
}

Form1::~Form1() {
  // A recording still running is completed now, and the player finds it where it ended up.
  if (const RecordingResult last = session_->end(); last.started) settings_.setLastRecording(last.path);
  if (repair_.joinable()) repair_.join();
  // The list asks this window what is being recorded: it goes with it.
  delete recordings_.window();
}

QPushButton* Form1::pictureButton(const char* name, const char* picture, int left, int width,
                                  const QString& accessibleName) {
  auto* button = new QPushButton(centralWidget());
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(px(left), px(240), px(width), px(375));
  QIcon icon = PictureIcon(picture);
  // A grey member is inactive, and looks as drawn, not dimmed once more.
  icon.addPixmap(Picture(picture), QIcon::Disabled);
  button->setIcon(icon);
  button->setIconSize(QSize(32, 32));
  button->setFocusPolicy(Qt::StrongFocus);
  button->setAutoDefault(false);
  button->setAccessibleName(accessibleName);
  return button;
}

void Form1::createControls() {
  setCentralWidget(new QWidget(this));
  blinkTimer_ = new QTimer(this);
  blinkTimer_->setObjectName(QStringLiteral("Timer2"));
  blinkTimer_->setInterval(kBlinkMs);
  pauseGrey_ = pictureButton("Command12", "pause_grey", 1560, 135, QStringLiteral("一時停止中"));
  pauseButton_ = pictureButton("Command11", "pause", 1560, 135, QStringLiteral("一時停止"));
  playGrey_ = pictureButton("Command10", "play_grey", 1080, 495, QStringLiteral("再生 (録音中は使えません)"));
  stopGrey_ = pictureButton("Command9", "stop_grey", 600, 495, QStringLiteral("停止 (録音していません)"));
  recordGrey_ = pictureButton("Command8", "record_grey", 120, 495, QStringLiteral("録音 (録音中)"));
  volumeButton_ = pictureButton("Command5", "volume", 2160, 375, QStringLiteral("録音時の音量"));
  volumeButton_->setToolTip(QStringLiteral("録音時の音量を調整"));
  playButton_ = pictureButton("Command4", "play", 1080, 495, QStringLiteral("再生"));
  playButton_->setToolTip(QStringLiteral("最新の録音を再生 (L)"));
  playButton_->setAccessibleDescription(QStringLiteral("最新の録音を再生します。キーは L です。"));
  tickTimer_ = new QTimer(this);
  tickTimer_->setObjectName(QStringLiteral("Timer1"));
  tickTimer_->setInterval(kTickMs);
  stateBox_ = new QLineEdit(QStringLiteral("Text1"), centralWidget());
  stateBox_->setObjectName(QStringLiteral("Text1"));
  stateBox_->setGeometry(px(4560), px(120), px(375), px(375));
  stateBox_->setAccessibleName(QStringLiteral("録音の状態番号"));
  stopButton_ = pictureButton("Command3", "stop", 600, 495, QStringLiteral("停止"));
  stopButton_->setToolTip(QStringLiteral("録音を止める (S)"));
  stopButton_->setAccessibleDescription(QStringLiteral("録音を止めて、ファイルを完成させます。キーは S です。"));
  recordButton_ = pictureButton("Command2", "record", 120, 495, QStringLiteral("録音"));
  recordButton_->setToolTip(QStringLiteral("録音を始める (R)"));
  recordButton_->setAccessibleDescription(
      QStringLiteral("録音を始めます。一時停止中は録音を続けます。キーは R です。"));
  pauseButton_->setToolTip(QStringLiteral("一時停止 (P, Esc)"));
  pauseButton_->setAccessibleDescription(QStringLiteral("録音を一時停止します。キーは P か Esc です。"));
  settingsButton_ = pictureButton("Command1", "settings", 1800, 375, QStringLiteral("設定"));
  settingsButton_->setToolTip(QStringLiteral("ファイルの保存場所と音質を変更する"));
  timeBox_ = new TimeBox(centralWidget());
  timeBox_->setObjectName(QStringLiteral("Label1"));
  NameByPurpose(timeBox_, QStringLiteral("録音時間"));
  timeBox_->setGeometry(px(120), 0, px(1455), px(255));
  timeBox_->setAlignment(Qt::AlignCenter);
  timeBox_->setFrameShape(QFrame::Box);
  // The time box is 15 pixels high inside its frame, and its texts come and go while the
  // window stands: the box takes Arial, and draws each text at a size whose ink fits.
  timeBox_->setFont(QFont(QStringLiteral("Arial"), 9));
  timeFont_ = timeBox_->font();
  nameTimer_ = new QTimer(this);
  nameTimer_->setSingleShot(true);
  nameTimer_->setInterval(kFileNameMs);
  connect(nameTimer_, &QTimer::timeout, this, [this] {
    if (session_->phase() != Phase::Idle) return;
    timeBox_->clear();
    timeBox_->setFont(timeFont_);
  });
  timeBox_->setAutoFillBackground(true);
  setWarning(false);

  // The grey members only show a place; they take no click and no focus.
  for (QPushButton* grey : {recordGrey_, stopGrey_, playGrey_, pauseGrey_}) grey->setEnabled(false);
  for (QWidget* hidden : {static_cast<QWidget*>(pauseGrey_), static_cast<QWidget*>(pauseButton_),
                          static_cast<QWidget*>(playGrey_), static_cast<QWidget*>(recordGrey_),
                          static_cast<QWidget*>(stopButton_), static_cast<QWidget*>(stateBox_)})
    hidden->hide();
  // Left to right over what acts.
  setTabOrder(recordButton_, stopButton_);
  setTabOrder(stopButton_, playButton_);
  setTabOrder(playButton_, pauseButton_);
  setTabOrder(pauseButton_, settingsButton_);
  setTabOrder(settingsButton_, volumeButton_);

  connect(settingsButton_, &QPushButton::clicked, this, &Form1::openSettings);
  connect(recordButton_, &QPushButton::clicked, this, &Form1::record);
  connect(stopButton_, &QPushButton::clicked, this, &Form1::stop);
  connect(playButton_, &QPushButton::clicked, this, &Form1::playLatest);
  connect(volumeButton_, &QPushButton::clicked, this, &Form1::openVolumeControl);
  connect(pauseButton_, &QPushButton::clicked, this, &Form1::pause);
  connect(tickTimer_, &QTimer::timeout, this, &Form1::tick);
  connect(blinkTimer_, &QTimer::timeout, this, &Form1::blink);
}

void Form1::createMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  file->setObjectName(QStringLiteral("MFile"));
  QAction* playFile = file->addAction(QStringLiteral("ファイルを指定して再生(&P)"), this, &Form1::playFile);
  QAction* recordings = file->addAction(QStringLiteral("録音一覧(&R)"), this, &Form1::openRecordings);
  QAction* bar2 = file->addSeparator();
  QAction* end = file->addAction(QStringLiteral("終了(&E)"), this, &Form1::endProgram);
  // The recording commands of the context menu, with their keys, where the menu bar
  // shows every command.
  QMenu* recording = menuBar()->addMenu(QStringLiteral("録音(&R)"));
  recording->setObjectName(QStringLiteral("MRecord"));
  recording->addActions(centralWidget()->actions());
  auto* compact = new CompactMenuBarStyle(QApplication::style()->name());
  compact->setParent(menuBar());
  menuBar()->setStyle(compact);
  QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  help->setObjectName(QStringLiteral("MHelp"));
  QAction* contents = help->addAction(QStringLiteral("目次とキーワード(&C)"), this, &Form1::openHelp);
  QAction* bar = help->addSeparator();
  QAction* about = help->addAction(QStringLiteral("バージョン情報(&A)"), this, &Form1::openAbout);
  const std::pair<QAction*, const char*> names[] = {{playFile, "MFPlay"}, {recordings, "MFRecordings"}, {bar2, "MBar2"}, {end, "MEnd"},
                                                    {contents, "MHelp2"}, {bar, "MBar"},   {about, "MAbout"}};
  for (const auto& [action, name] : names) action->setObjectName(QString::fromLatin1(name));
}

void Form1::createCommands() {
  // Keys that work whenever the window is active, whatever has the focus: the first letter
  // of each command's English name, as sound editors have them (R, P, S); L for listening
  // to the latest recording, M for a mark. Space and Enter stay with the focused button.
  // The same commands are in the window's context menu and the 録音 menu, where their keys
  // show.
  auto command = [this](const char* name, const QString& text, const QList<QKeySequence>& keys,
                        std::function<void()> run) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [this, run] {
      // Qt lets a window's keys act in a tool window it owns as well; these act only here,
      // where the user sees what they start.
      if (QApplication::activeWindow() == this) run();
    });
    centralWidget()->addAction(action);
    return action;
  };
  recordAction_ = command("recordCommand", QStringLiteral("録音 / 再開"),
                          {QKeySequence(Qt::Key_R), QKeySequence(Qt::Key_MediaRecord)}, [this] { record(); });
  pauseAction_ = command("pauseCommand", QStringLiteral("一時停止 / 再開"),
                         {QKeySequence(Qt::Key_P), QKeySequence(Qt::Key_MediaPause)},
                         [this] { session_->phase() == Phase::Paused ? record() : pause(); });
  stopAction_ = command("stopCommand", QStringLiteral("停止"), {QKeySequence(Qt::Key_S), QKeySequence(Qt::Key_MediaStop)},
                        [this] { stop(); });
  playAction_ = command("playCommand", QStringLiteral("最新の録音を再生"),
                        {QKeySequence(Qt::Key_L), QKeySequence(Qt::Key_MediaPlay)}, [this] { playLatest(); });
  markAction_ = command("markCommand", QStringLiteral("マークを付ける"), {QKeySequence(Qt::Key_M)}, [this] { addMark(); });
  centralWidget()->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void Form1::load() {
  // A recording cut short by a crash or a power cut gets its true length back. The files
  // may be long, or on a slow disk: off this thread, and the window says what was done.
  repair_ = std::thread([this] {
    const QList<InterruptedRecording> found = RepairInterruptedRecordings();
    QMetaObject::invokeMethod(
        this, [this, found] { interruptedRecordingsFound(found); }, Qt::QueuedConnection);
  });
  if (IsFirstStart()) offerRecordingCheck();
}

void Form1::interruptedRecordingsFound(const QList<InterruptedRecording>& found) {
  const QString report = InterruptedRecordingsReport(found);
  if (!report.isEmpty()) seams_.prompter->notice(this, report, Prompter::Icon::Information);
  emit startUpRepairDone();
}

void Form1::offerRecordingCheck() {
  // Asked once: whatever the answer, the message says how to run the check later.
  MarkStarted();
  const auto answer = seams_.prompter->message(this, installOfferMessage(), Prompter::Icon::Question,
                                               Prompter::Buttons::YesNo);
  if (answer == Prompter::Answer::Yes)
    startOutsideProgram(CompanionPath(), {QStringLiteral("/Q:A"), QStringLiteral("/R:N")});
}

void Form1::startOutsideProgram(const QString& program, const QStringList& arguments) {
  if (seams_.launcher->start(program, arguments)) return;
  seams_.prompter->message(this,
                           QStringLiteral("次のプログラムを起動できませんでした。") + kCrLf +
                               (QStringList{program} + arguments).join(QLatin1Char(' ')),
                           Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
}

// ---- Recording -------------------------------------------------------------------------

void Form1::record() {
  TraceMoment("record-click");
  // The record button resumes a paused recording; it never asks for the quality.
  if (session_->phase() == Phase::Paused) {
    session_->resume();
    return;
  }
  if (session_->phase() != Phase::Idle || askingBeforeStart_) return;
  // The questions and the dialog let other events run: a close or 終了 meanwhile withdraws
  // the start.
  askingBeforeStart_ = true;
  startWithdrawn_ = false;
  RecordingPlan plan;
  const bool go = prepareToRecord(plan) && roomConfirmed(plan.folder, plan.profile->bitRate) && !startWithdrawn_;
  askingBeforeStart_ = false;
  if (go) session_->start(SetupFor(plan.folder, *plan.profile, seams_.clock->now()));
}

bool Form1::prepareToRecord(RecordingPlan& plan) {
  plan = storedPlan();
  if (!plan.qualityChosen()) {
    seams_.prompter->message(this, kFirstUseMessage, Prompter::Icon::Information, Prompter::Buttons::Ok);
    if (startWithdrawn_) return false;
    showConfigModal();
    if (startWithdrawn_) return false;
    plan = storedPlan();
  }
  // No recording goes where nobody chose: an empty folder is not the root folder, and a
  // folder cut short when read is not the one chosen.
  if (!plan.folderChosen()) {
    if (!askForSettings(plan.folderCut ? QStringLiteral("保存先フォルダーの設定が長すぎて、正しく読み取れません。"
                                                         "保存先を選び直してください。")
                                       : QStringLiteral("保存先フォルダーが設定されていません。保存先を選んでください。")))
      return false;
    plan = storedPlan();
    if (!plan.folderChosen()) {
      seams_.prompter->message(this, QStringLiteral("保存先フォルダーが決まらないため、録音を始めませんでした。"),
                               Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
      return false;
    }
  }
  // A quality nobody chose is never used without asking; the one asked about is the one
  // the dialog proposes.
  if (!plan.qualityChosen()) {
    const Profile speech = ProfileCollection().forSpeech();
    const QString text =
        plan.qualityText.isEmpty()
            ? QStringLiteral("録音品質が選ばれていません。「%1」で録音しますか?").arg(speech.name)
            : QStringLiteral("録音品質「%1」に合う品質がありません。「%2」で録音しますか?").arg(plan.qualityText, speech.name);
    if (seams_.prompter->message(this, text, Prompter::Icon::Question, Prompter::Buttons::YesNo) !=
            Prompter::Answer::Yes ||
        startWithdrawn_)
      return false;
    plan.profile = speech;
  }
  return !startWithdrawn_;
}

bool Form1::askForSettings(const QString& why) {
  seams_.prompter->message(this, why, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
  if (startWithdrawn_) return false;
  showConfigModal();
  return !startWithdrawn_;
}

bool Form1::roomConfirmed(const QString& folder, int bitRate) {
  // A disk about to fill would end the recording within minutes: the user decides first.
  const std::optional<qint64> room = SecondsOfRoom(folder, bitRate);
  if (!room || *room >= 10 * 60) return true;
  const QString text = QStringLiteral("保存先の空き容量が少ないため、この録音品質では約 %1 分しか録音できません。") +
                       kCrLf + QStringLiteral("録音を始めますか?");
  return seams_.prompter->message(this, text.arg(*room / 60), Prompter::Icon::Question, Prompter::Buttons::YesNo) ==
         Prompter::Answer::Yes;
}

void Form1::showConfigModal() {
  frmConfig* dialog = config_.get([this] { return new frmConfig(seams_, settings_); });
  seams_.prompter->runModal(dialog);
}

RecordingPlan Form1::storedPlan() const {
  const StoredSetting folder = settings_.saveFolder();
  return PlanRecording(settings_.quality(), folder.value, folder.cut);
}

void Form1::fileChanged(const QString& path, FileChange change) {
  // The player finds the latest recording where it is now.
  settings_.setLastRecording(path);
  QString what;
  switch (change) {
    case FileChange::Made:
    case FileChange::Followed:  // said when the recording ends, with where it is
      return;
    case FileChange::PutBack:
      what = QStringLiteral("録音中のファイルが削除されたため、録音をファイルに書き直しました。録音は続いています。");
      break;
    case FileChange::Rescued:
      what = QStringLiteral("録音中のファイルが保存先フォルダーごと削除され、フォルダーを作り直せないため、"
                            "録音を次の場所に移しました。録音は続いています。");
      break;
  }
  seams_.prompter->notice(this, what + kCrLf + QDir::toNativeSeparators(path), Prompter::Icon::Exclamation);
}

void Form1::pause() { session_->pause(); }

void Form1::stop() {
  TraceMoment("stop-click");
  session_->stop();
}

void Form1::addMark() {
  session_->addMark(QStringLiteral("マーク %1").arg(session_->marks() + 1));
}

// The look of each phase of a recording: which of the paired buttons show, what the time
// box says, and which timers run. The one place where the window follows the session.
void Form1::showPhase(Phase phase) {
  struct Look {
    bool record, stop, play, pause, pausedSign;
    const char* caption;  // null: the time
    const char* spoken;   // what a screen reader is told
  };
  static const std::map<Phase, Look> looks = {
      {Phase::Idle, {true, false, true, false, false, "", "停止しました"}},
      {Phase::Starting, {false, false, false, false, false, "Starting...", "録音を始めています"}},
      {Phase::Recording, {false, true, false, true, false, nullptr, "録音中"}},
      {Phase::Paused, {true, true, false, false, true, nullptr, "一時停止中"}},
      {Phase::Stopping, {false, false, false, false, false, "Stopping...", "録音を止めています"}},
  };
  const Look& look = looks.at(phase);
  QWidget* focused = QApplication::focusWidget();
  recordButton_->setVisible(look.record);
  recordGrey_->setVisible(!look.record);
  stopButton_->setVisible(look.stop);
  stopGrey_->setVisible(!look.stop);
  playButton_->setVisible(look.play);
  playGrey_->setVisible(!look.play);
  pauseButton_->setVisible(look.pause);
  pauseGrey_->setVisible(look.pausedSign);
  stateBox_->setText(QString::number(stateNumber(phase)));
  enableCommands(phase);

  // Paused, the record button stays in place and takes clicks and keys at every moment of
  // its blink: only its picture blinks.
  blinkRed_ = true;
  recordButton_->setIcon(PictureIcon("record"));
  if (phase == Phase::Paused)
    blinkTimer_->start();
  else
    blinkTimer_->stop();
  nameTimer_->stop();
  timeBox_->setFont(timeFont_);
  if (look.caption) timeBox_->setText(QString::fromLatin1(look.caption));
  const bool running = phase == Phase::Recording || phase == Phase::Paused;
  levelMeter_->setVisible(running);
  if (phase == Phase::Starting) markRoomFullSaid_ = false;
  if (!running) {
    levelMeter_->clear();
    timeBox_->setToolTip(QString());
    setWarning(false);
    flash_.clear();
  }
  updateWatched();
  if (running) {
    showTime();
    showTimeBoxHint();
  }
  // The focus stays where the hand is: on the button that now stands for the one that went.
  // While starting or stopping nothing acts; the focus waits out of sight until something
  // does.
  if (focused && (!focused->isVisible() || focused == centralWidget())) focusActingButton();
  announce(QString::fromUtf8(look.spoken));
}

void Form1::enableCommands(Phase phase) {
  // The menus grey out what does nothing now. A stop or a mark asked for as the recording
  // starts is taken: the mark lands at its first moment.
  const bool underWay = phase == Phase::Starting || phase == Phase::Recording || phase == Phase::Paused;
  recordAction_->setEnabled(phase == Phase::Idle || phase == Phase::Paused);
  pauseAction_->setEnabled(phase == Phase::Recording || phase == Phase::Paused);
  stopAction_->setEnabled(underWay);
  playAction_->setEnabled(phase == Phase::Idle);
  markAction_->setEnabled(underWay);
}

void Form1::focusActingButton() {
  switch (session_->phase()) {
    case Phase::Recording:
      stopButton_->setFocus(Qt::OtherFocusReason);
      break;
    case Phase::Idle:
    case Phase::Paused:
      recordButton_->setFocus(Qt::OtherFocusReason);
      break;
    case Phase::Starting:
    case Phase::Stopping:
      centralWidget()->setFocus(Qt::OtherFocusReason);
      break;
  }
}

void Form1::updateWatched() {
  // Shown is not seen: a window unmapped or covered by the desktop is not exposed.
  const QWindow* window = windowHandle();
  const bool watched = isVisible() && !isMinimized() && window && window->isExposed();
  if (watched != watched_) {
    watched_ = watched;
    session_->setWatched(watched);
  }
  // Nothing is drawn for a window nobody sees: the tick runs only while it is on screen.
  if (watched_ && session_->phase() == Phase::Recording) {
    if (!tickTimer_->isActive()) tickTimer_->start();
  } else {
    tickTimer_->stop();
  }
}

void Form1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Exposure comes to the window's QWindow only; installing twice keeps one filter.
  if (QWindow* window = windowHandle()) window->installEventFilter(this);
  updateWatched();
  if (session_->phase() == Phase::Recording) showTime();
}

void Form1::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  updateWatched();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == windowHandle() && event->type() == QEvent::Expose) updateWatched();
  return QMainWindow::eventFilter(watched, event);
}

void Form1::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) updateWatched();
}

void Form1::tick() {
  if (const std::optional<float> peak = session_->nextPeak()) levelMeter_->showPeak(*peak);
  showTime();
}

void Form1::blink() {
  blinkRed_ = !blinkRed_;
  recordButton_->setIcon(PictureIcon(blinkRed_ ? "record" : "record_grey"));
  showTime();
}

void Form1::showTime() {
  const Phase phase = session_->phase();
  const bool warning = phase == Phase::Recording && (session_->inputSilent() || session_->inputLost());
  if (warning != warning_) {
    setWarning(warning);
    warnedFor_.start();
    showTimeBoxHint();
  }
  const QString time = ElapsedText(session_->elapsedMs());
  QString text = time;
  if (flashFor_.isValid() && flashFor_.elapsed() < kFlashMs) {
    text = flash_;
  } else if (phase == Phase::Paused) {
    // Paused: the time, and a second of "一時停止中", in turn.
    text = blinkRed_ ? QStringLiteral("一時停止中") : time;
  } else if (warning) {
    // The warning at once, then alternating with the time, a second each.
    text = warnedFor_.elapsed() / 1000 % 2 == 0 ? QStringLiteral("入力なし") : time;
  }
  // The text changes once a second: drawn again only then; the disk's room once a minute.
  if (timeBox_->text() != text) {
    timeBox_->setText(text);
    if (text == time && text.endsWith(QLatin1String(":00"))) showTimeBoxHint();
  }
}

void Form1::setWarning(bool warning) {
  warning_ = warning;
  // Seen at a glance: amber behind dark text, which stays readable.
  QPalette p = timeBox_->palette();
  p.setColor(QPalette::Window, warning ? QColor(0xff, 0xc8, 0x40) : QColor(Qt::white));
  p.setColor(QPalette::WindowText, Qt::black);
  timeBox_->setPalette(p);
  if (warning)
    announce(session_->inputLost() ? QStringLiteral("音声サーバーとの接続が切れました") : QStringLiteral("入力の音がありません"));
}

// The time box's tooltip: what to check when no sound comes, and how long the disk lasts.
void Form1::showTimeBoxHint() {
  if (session_->phase() != Phase::Recording && session_->phase() != Phase::Paused) return;
  QStringList hint;
  if (session_->inputLost())
    hint << QStringLiteral("音声サーバーとの接続が切れました。戻るまで最大 60 秒待ち、その間は無音として録音します。");
  else if (session_->inputSilent())
    hint << QStringLiteral("入力の音がありません。マイクがつながっているか、ミュートになっていないかを確かめて"
                           "ください。録音レベルは右端のボタン (録音時の音量を調整) で調整できます。");
  if (const std::optional<qint64> room =
          SecondsOfRoom(QFileInfo(session_->path()).absolutePath(), session_->bitRate())) {
    const qint64 hours = *room / 3600, minutes = *room / 60 % 60;
    hint << (hours > 0 ? QStringLiteral("保存先の空き容量で、あと約 %1 時間 %2 分録音できます。").arg(hours).arg(minutes)
                       : QStringLiteral("保存先の空き容量で、あと約 %1 分録音できます。").arg(minutes));
  }
  // The tooltip only: the box's description is what a screen reader is told as it happens,
  // and the warnings are told there when they come.
  timeBox_->setToolTip(hint.isEmpty() ? QString() : wrappedTip(hint));
}

void Form1::inputLostChanged(bool lost, qint64 gapMs, qint64 silenceMs) {
  showTime();
  if (lost) return;
  const auto seconds = [](qint64 ms) { return (ms + 500) / 1000; };
  const QString away = QStringLiteral("音声サーバーとの接続が %1 秒間切れていました。").arg(seconds(gapMs));
  // While paused nothing was recorded, silence neither.
  const QString what = silenceMs < 500 ? QStringLiteral("一時停止中だったため、録音には何も入っていません。")
                       : silenceMs + 500 < gapMs
                           ? QStringLiteral("そのうち録音中だった約 %1 秒は無音として録音しました。").arg(seconds(silenceMs))
                           : QStringLiteral("その間は無音として録音しました。");
  const QString now = session_->phase() == Phase::Paused ? QStringLiteral("いまは一時停止中です。")
                                                          : QStringLiteral("録音は続いています。");
  const QString text = away + what + now;
  announce(text);
  seams_.prompter->notice(this, text, Prompter::Icon::Information);
}

void Form1::marked(int number, bool stored) {
  if (!stored) {
    // Said in the time box, for a moment at each press, and to a screen reader once: a key
    // held down must not open a message at each repeat.
    flash_ = QStringLiteral("マーク満杯");
    flashFor_.start();
    if (!markRoomFullSaid_) announce(QStringLiteral("この録音には、これ以上マークを付けられません。"));
    markRoomFullSaid_ = true;
    showTime();
    return;
  }
  flash_ = QStringLiteral("マーク %1").arg(number);
  flashFor_.start();
  announce(flash_);
  showTime();
}

void Form1::announce(const QString& text) {
  // The time box tells what happens: a screen reader hears its description change.
  timeBox_->setAccessibleDescription(text);
  QAccessibleEvent event(timeBox_, QAccessible::DescriptionChanged);
  QAccessible::updateAccessibility(&event);
}

void Form1::recordingFinished(const RecordingResult& result) {
  if (!result.started) {
    // What failed comes first, and the help page about it follows.
    const RecordingFailure failure = result.failure.value_or(RecordingFailure{});
    seams_.prompter->message(this, StartFailureMessage(failure), Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
    seams_.help->showTopic(this, HelpFilePath(), StartFailureHelpTopic(failure.cause));
    return;
  }
  showWhereItWent(result.path);
  QString text;
  if (result.endedByItself)
    text = result.complete ? QStringLiteral("録音が止まりました。ここまでの録音は保存されています。")
                           : QStringLiteral("録音が止まりました。録音ファイルを完成できませんでした。");
  else if (result.failure)
    text = result.complete ? QStringLiteral("録音の最後を書き込めませんでした。それまでの録音は保存されています。")
                           : QStringLiteral("録音ファイルを正しく閉じられませんでした。");
  else if (!result.begunAt.isEmpty())
    text = QStringLiteral("録音中に保存先フォルダーの名前か場所が変わったため、録音ファイルは次の場所にあります。");
  else
    return;
  text += kCrLf + QDir::toNativeSeparators(result.path);
  if (result.failure) {
    text += kCrLf + FailureLine(*result.failure);
    if (const QString detail = DetailLine(*result.failure); !detail.isEmpty()) text += kCrLf + detail;
  }
  seams_.prompter->message(this, text, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
}

void Form1::showWhereItWent(const QString& path) {
  // The name for a few seconds, without the extension every recording has, as large as
  // the box holds it; the whole path in the tooltip and for a screen reader.
  const QString native = QDir::toNativeSeparators(path);
  const QString name = QFileInfo(path).completeBaseName();
  QFont font = timeFont_;
  const int room = timeBox_->contentsRect().width() - 4;
  while (QFontMetrics(font).horizontalAdvance(name) > room && font.pointSizeF() > 7)
    font.setPointSizeF(font.pointSizeF() - 0.5);
  timeBox_->setFont(font);
  timeBox_->setText(QFontMetrics(font).elidedText(name, Qt::ElideMiddle, room));
  nameTimer_->start();
  timeBox_->setToolTip(wrappedTip({QStringLiteral("最後の録音: %1").arg(native)}));
  announce(QStringLiteral("停止しました。録音は %1 に保存されました").arg(native));
  // The list shows the new recording with its length, chosen.
  if (frmRecordings* list = recordings_.window()) list->showRecording(path);
}

void Form1::closeEvent(QCloseEvent* event) {
  // A start waiting for an answer is withdrawn; a recording is completed, and the session
  // finishes it even after the window has gone.
  startWithdrawn_ = true;
  session_->stop();
  event->accept();
}

void Form1::keyPressEvent(QKeyEvent* event) {
  // The pause button is the window's cancel button, while it is shown.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (pauseButton_->isVisible()) pauseButton_->click();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

// ---- Other commands --------------------------------------------------------------------

void Form1::openSettings() {
  config_.open([this] { return new frmConfig(seams_, settings_); });
}

void Form1::playLatest() {
  player_.open([this] { return frmPlayer::ForLatestRecording(seams_, settings_, this); });
}

void Form1::openVolumeControl() {
  startOutsideProgram(QStringLiteral("pavucontrol"), {QStringLiteral("-t"), QStringLiteral("4")});
}

void Form1::playFile() {
  player2_.open([this] { return new frmPlayer2(seams_, settings_); });
}

void Form1::openRecordings() {
  recordings_.open([this] {
    auto* window = new frmRecordings(seams_, settings_, [this] {
      if (session_->phase() == Phase::Idle) return LiveRecording{};
      return LiveRecording{session_->path(), session_->loudness()};
    });
    connect(window, &frmRecordings::playRequested, this, &Form1::playRecording);
    return window;
  });
}

void Form1::playRecording(const QString& path) {
  // One player for the latest recording and for the list's: what it plays is replaced.
  if (frmPlayer* open = player_.window()) open->play(path);
  player_.open([this, &path] { return frmPlayer::ForFile(seams_, settings_, path); });
}

void Form1::endProgram() {
  // Unlike closing, ending keeps no window's closing steps. A running recording is still
  // completed: the session does it as the program ends, so that the file plays in full.
  startWithdrawn_ = true;
  QCoreApplication::exit(0);
}

void Form1::openHelp() { seams_.help->showContents(this, HelpFilePath()); }

void Form1::openAbout() {
  about_.open([this] { return new frmAbout(seams_.launcher); });
}

}  // namespace tallowen
