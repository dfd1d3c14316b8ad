#pragma once

#include <QElapsedTimer>
#include <QFont>
#include <QMainWindow>
#include <thread>

#include "app/SingleWindow.h"
#include "platform/Seams.h"
#include "recording/RecordingJournal.h"
#include "recording/RecordingPlan.h"
#include "recording/RecordingSession.h"
#include "settings/Settings.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

namespace tallowen {

class LevelMeter;
class TimeBox;
class frmAbout;
class frmConfig;
class frmPlayer;
class frmPlayer2;
class frmRecordings;

// The main window: record, stop, pause, play, settings and recording volume. It shows the
// session's phase and keeps no state of its own beyond its look.
class Form1 : public QMainWindow {
  Q_OBJECT
 public:
  Form1(const Seams& seams, Settings& settings, QWidget* parent = nullptr);
  ~Form1() override;

  // The load step; runs before the window is first shown.
  void load();

  // The recording the window shows.
  RecordingSession& session() { return *session_; }

 signals:
  // The start's look at recordings a crash left is done, and what it found was said.
  void startUpRepairDone();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createControls();
  void createMenu();
  void createCommands();
  QPushButton* pictureButton(const char* name, const char* picture, int left, int width, const QString& accessibleName);

  // Recording.
  void record();
  void stop();
  void pause();
  void addMark();
  bool prepareToRecord(RecordingPlan& plan);
  bool askForSettings(const QString& why);
  bool roomConfirmed(const QString& folder, int bitRate);
  RecordingPlan storedPlan() const;
  void fileChanged(const QString& path, FileChange change);
  void showPhase(RecordingSession::Phase phase);
  void recordingFinished(const RecordingResult& result);
  void showWhereItWent(const QString& path);
  void inputLostChanged(bool lost, qint64 gapMs, qint64 silenceMs);
  void marked(int number, bool stored);
  void tick();
  void blink();
  void showTime();
  void showTimeBoxHint();
  void setWarning(bool warning);
  void updateWatched();
  void enableCommands(RecordingSession::Phase phase);
  void focusActingButton();
  void announce(const QString& text);

  // The other commands.
  void offerRecordingCheck();
  void openSettings();
  void playLatest();
  void openVolumeControl();
  void playFile();
  void openRecordings();
  void playRecording(const QString& path);
  void endProgram();
  void openHelp();
  void openAbout();
  void startOutsideProgram(const QString& program, const QStringList& arguments);
  void showConfigModal();
  void interruptedRecordingsFound(const QList<InterruptedRecording>& found);

  Seams seams_;
  Settings& settings_;
  RecordingSession* session_;
  QPushButton* settingsButton_;
  QPushButton* recordButton_;
  QPushButton* stopButton_;
  QPushButton* playButton_;
  QPushButton* volumeButton_;
  QPushButton* recordGrey_;
  QPushButton* stopGrey_;
  QPushButton* playGrey_;
  QPushButton* pauseButton_;
  QPushButton* pauseGrey_;
  TimeBox* timeBox_;
  QLineEdit* stateBox_;  // the number of the recording's state, out of sight
  LevelMeter* levelMeter_;
  QTimer* tickTimer_;   // the time and the level while recording, 16 looks a second
  QTimer* blinkTimer_;  // the record button blinks while paused
  QAction* recordAction_;
  QAction* pauseAction_;
  QAction* stopAction_;
  QAction* playAction_;
  QTimer* nameTimer_;   // how long the time box names the recording that stopped
  QFont timeFont_;      // the time box's own, which a long name shrinks for a moment
  QAction* markAction_;

  bool askingBeforeStart_ = false;  // a question or the settings dialog is up for a start
  bool startWithdrawn_ = false;     // closed or ended while it was
  bool watched_ = false;            // the window is on screen
  bool blinkRed_ = true;
  bool warning_ = false;            // the time box shows the input's warning colour
  QElapsedTimer warnedFor_;         // since the input went quiet or away
  QString flash_;                   // a word the time box shows for a moment instead of the time
  QElapsedTimer flashFor_;
  bool markRoomFullSaid_ = false;   // the screen reader was told that no more marks fit
  std::thread repair_;              // mends what a crash left, at the start
  SingleWindow<frmConfig> config_;
  SingleWindow<frmPlayer> player_;
  SingleWindow<frmPlayer2> player2_;
  SingleWindow<frmAbout> about_;
  SingleWindow<frmRecordings> recordings_;
};

}  // namespace tallowen
