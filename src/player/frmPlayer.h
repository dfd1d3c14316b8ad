#pragma once

#include <QDialog>
#include <functional>

#include "platform/Seams.h"

class QLabel;
class QPushButton;
class QTimer;

namespace tallowen {

class MediaPlayer;

// Plays the latest recording, and whatever other file the user picks.
class frmPlayer : public QDialog {
  Q_OBJECT
 public:
  // Loads the window: the latest recording, already playing.
  explicit frmPlayer(const Seams& seams, QWidget* parent = nullptr);

  MediaPlayer* MediaPlayer1;
  QPushButton* Command1;  // another file
  QLabel* Label1;         // the position
  QTimer* Timer1;

  // Where the tick reads the position; tests put a failing or scripted reader here.
  void setPositionReaderForTesting(std::function<double()> reader) { readPosition_ = std::move(reader); }
  void Timer1_Tick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

  enum class Load { LatestRecording, ChosenFile };
  frmPlayer(const Seams& seams, Load load, QWidget* parent);

  // The open-file dialog: a path, or empty when nothing was chosen.
  QString chooseFile();

 private:
  void Form_Load(Load load);
  void Command1_Click();
  void SplitPlayPos();

  Seams seams_;
  std::function<double()> readPosition_;
  double PlayPos = 0;
  qint16 PosHours = 0;
  qint16 PosMinutes = 0;
  qint16 PosSeconds = 0;
};

// The same window, asking for a file before it opens.
class frmPlayer2 : public frmPlayer {
  Q_OBJECT
 public:
  explicit frmPlayer2(const Seams& seams, QWidget* parent = nullptr);
};

}  // namespace tallowen
