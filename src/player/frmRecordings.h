#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "platform/Seams.h"

class QFileSystemWatcher;
class QLabel;
class QProgressDialog;
class QPushButton;
class QTimer;
class QTreeView;

namespace tallowen {

class LoudnessMeter;
class RecordingList;
class RecordingReview;
class Settings;
class SoundExport;

// The recording this program is making: its file, and its loudness so far.
struct LiveRecording {
  QString path;
  std::shared_ptr<const LoudnessMeter> loudness;
};

// The save folder's recordings, newest first: play, rename, move to the trash, and open
// the folder in the file manager; and the chosen one's waveform, to look into and play.
class frmRecordings : public QDialog {
  Q_OBJECT
 public:
  // `recordingNow` tells the recording this program makes (an empty path for none);
  // another copy's recording is known by the journal. Neither is renamed nor deleted.
  frmRecordings(const Seams& seams, Settings& settings, std::function<LiveRecording()> recordingNow,
                QWidget* parent = nullptr);

  // Lists the save folder again.
  void refresh();
  // Lists it again with the recording at `path` chosen, where the list holds it.
  void showRecording(const QString& path);
  RecordingList& list() { return *list_; }
  RecordingReview& review() { return *review_; }

 signals:
  // The user asked to play this file.
  void playRequested(const QString& path);

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QString saveFolder() const;
  int currentRow() const;
  void playCurrent();
  void renameCurrent();
  void rename(int row, const QString& typed);
  void deleteCurrent();
  // Puts the recording last moved to the trash back where it was.
  void undoDelete();
  void forgetDelete();
  // The chosen recording onto the clipboard as a file, for a file manager to paste.
  void copyCurrent();
  // The file manager, with the chosen recording selected in its folder.
  void showInFolder();
  // The chosen recording, or the stretch selected in its waveform, into another format.
  void exportCurrent();
  void exportEnded(bool done, const QString& why);
  void openFolder();
  bool busy(int row);
  void gone(const QString& name);
  void say(const QString& text);
  void showCount();
  void updateButtons();
  // The chosen recording into the waveform, unless it shows there already.
  void reviewCurrent();
  void buildMenus(QAction* rename, QAction* remove, QAction* refresh, QAction* copy, QAction* exporting);

  Seams seams_;
  Settings& settings_;
  std::function<LiveRecording()> recordingNow_;
  RecordingList* list_;
  RecordingReview* review_;
  QTreeView* view_;
  QLabel* summaryLabel_;
  QPushButton* playButton_;
  QPushButton* renameButton_;
  QPushButton* deleteButton_;
  QPushButton* folderButton_;
  QPushButton* closeButton_;
  QWidget* undoBar_;
  QLabel* undoText_;
  QAction* undoAction_;
  QTimer* undoTimer_;  // how long a delete may be undone
  struct Trashed {
    QString original, inTrash;
  } trashed_;
  SoundExport* export_;
  QProgressDialog* exportProgress_ = nullptr;
  QString exportTarget_;
  int exportFilter_ = 0;  // the format chosen last
  QFileSystemWatcher* watcher_;
  QTimer* changed_;  // the folder changed: listed again once it settles
};

}  // namespace tallowen
