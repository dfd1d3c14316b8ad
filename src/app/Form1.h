#pragma once

#include <QMainWindow>
#include <memory>
#include <thread>

#include "platform/Seams.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingSession.h"
#include "app/SingleWindow.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

namespace tallowen {

class LevelMeter;
class frmAbout;
class frmConfig;
class frmPlayer;
class frmPlayer2;

// The main window: record, stop, pause, play, settings and recording volume.
class Form1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit Form1(const Seams& seams, QWidget* parent = nullptr);
  ~Form1() override;

  // The recording the window shows; its phase is the window's look.
  RecordingSession* session() const { return session_; }
  RecordingSession::Phase phase() const { return session_->phase(); }

  // The load step; runs before the window is first shown.
  void Form_Load();

  void StartRecording();
  void StopRecording();
  void ShowElapsedTime();
  void Encoder_OnStateChange(int state);
  void StopOnClose();

  // Controls, under the names the program gives them.
  QPushButton* Command1;   // settings
  QPushButton* Command2;   // record
  QPushButton* Command3;   // stop
  QPushButton* Command4;   // play
  QPushButton* Command5;   // recording volume
  QPushButton* Command8;   // grey record
  QPushButton* Command9;   // grey stop
  QPushButton* Command10;  // grey play
  QPushButton* Command11;  // pause
  QPushButton* Command12;  // grey pause
  QLabel* Label1;
  QLineEdit* Text1;
  QTimer* Timer1;
  QTimer* Timer2;
  QMenu* MFile;
  QAction* MFPlay;
  QAction* MBar2;
  QAction* MEnd;
  QMenu* MHelp;
  QAction* MHelp2;
  QAction* MBar;
  QAction* MAbout;

  // The windows opened from here, while they are open.
  frmConfig* configWindow() const;
  frmPlayer* playerWindow() const;
  frmPlayer2* player2Window() const;
  frmAbout* aboutWindow() const;
  // The input's level, at the bottom of the time box while recording.
  LevelMeter* levelMeter() const { return levelMeter_; }
  // Whether the start's mending of interrupted recordings is done.
  bool repairDone() const { return repairDone_; }

  // The pause feature's state: paused, and which of the record pair shows in the blink.
  bool Paused = false;
  bool BlinkState = false;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void createControls();
  void createMenu();
  QPushButton* pictureButton(const char* name, const char* picture, int left, int width);
  void OfferEncoderInstall();
  void Command1_Click();
  void Command4_Click();
  void Command5_Click();
  void Command11_Click();
  void Timer2_Timer();
  void MFPlay_Click();
  void MEnd_Click();
  void MHelp2_Click();
  void MAbout_Click();
  void showConfigModal();
  void showPhase(RecordingSession::Phase phase);
  void startFailed(const EncoderError& failure);
  void recordingFinished(const RecordingResult& result);
  void startOutsideProgram(const QString& program, const QStringList& arguments);
  void interruptedRecordingsFound(const QList<InterruptedRecording>& found);
  bool roomConfirmed();
  void showLevel();
  void showTimeBoxHint();

  Seams seams_;
  RecordingSession* session_;
  bool askingBeforeStart_ = false;  // the first-use question or dialog, or the room question, is up
  LevelMeter* levelMeter_;
  QTimer* meterTimer_;              // 20 looks a second at the input's level
  int ticks_ = 0;                   // of Timer1, for what changes once a second
  int warnedAt_ = -1;               // the tick the silent input was first seen
  bool hinted_ = false;             // the tooltip says the input is silent
  bool startWithdrawn_ = false;    // closed or ended while it was
  std::thread repair_;             // mends what a crash left, at the start
  bool repairDone_ = false;
  SingleWindow<frmConfig> config_;
  SingleWindow<frmPlayer> player_;
  SingleWindow<frmPlayer2> player2_;
  SingleWindow<frmAbout> about_;
};

}  // namespace tallowen
