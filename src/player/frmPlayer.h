#pragma once

#include <QDialog>

#include "platform/Seams.h"

class QLabel;
class QPushButton;
class QTimer;

namespace tallowen {

class MediaPlayer;
class Settings;

// Plays the latest recording, and whatever other file the user picks.
class frmPlayer : public QDialog {
  Q_OBJECT
 public:
  // Loads the window: the latest recording, already playing. The volume and mute the user
  // chooses are kept in `settings`.
  frmPlayer(const Seams& seams, Settings& settings, QWidget* parent = nullptr);

  // The window of the main window's play button. With nothing recorded yet there is
  // nothing to play: the user is told so (in a message owned by `owner`) and no window
  // is made.
  static frmPlayer* ForLatestRecording(const Seams& seams, Settings& settings, QWidget* owner);
  // The same window, playing `path` instead of the latest recording.
  static frmPlayer* ForFile(const Seams& seams, Settings& settings, const QString& path);

  // Plays `path` from its start in this window.
  void play(const QString& path) { playFile(path); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

  enum class Load { LatestRecording, ChosenFile, GivenFile };
  frmPlayer(const Seams& seams, Settings& settings, Load load, QWidget* parent, const QString& given = QString());

  // The open-file dialog: a path, or empty when nothing was chosen.
  QString chooseFile();

 private:
  void runLoadingStep(Load load, const QString& given);
  void restoreVolume();
  void playFile(const QString& path);
  void playOtherFile();
  // The position tick: "hh:mm:ss" of what plays.
  void showPosition();

  Seams seams_;
  Settings& settings_;
  MediaPlayer* mediaPlayer_;
  QPushButton* otherFileButton_;
  QLabel* positionLabel_;
  QTimer* positionTimer_;
  bool shown_ = false;
};

// The same window, asking for a file before it opens.
class frmPlayer2 : public frmPlayer {
  Q_OBJECT
 public:
  frmPlayer2(const Seams& seams, Settings& settings, QWidget* parent = nullptr);
};

}  // namespace tallowen
