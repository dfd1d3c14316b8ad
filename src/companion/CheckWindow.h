#pragma once

#include <QDialog>
#include <atomic>
#include <thread>
#include <vector>

#include "companion/RecordingCheck.h"

class QLabel;
class QPushButton;
class QScrollArea;

namespace tallowen {

// The recording check in a window of its own: each check waiting, running, then what it
// found, with what to do about each problem, and a close button. The checks run one after
// another on a thread of their own, so that the window answers while the audio input takes
// its seconds.
class CheckWindow : public QDialog {
  Q_OBJECT
 public:
  explicit CheckWindow(std::vector<CheckStep> steps, QWidget* parent = nullptr);
  // Waits for the check that is running, if any; those after it are not run.
  ~CheckWindow() override;

  // Starts the checks; call once.
  void start();
  bool isDone() const { return findings_.size() == rows_.size(); }
  // What the checks found so far, in their order.
  const std::vector<Finding>& findings() const { return findings_; }

 signals:
  void checked(const tallowen::Finding& finding);
  void allChecked();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void done(int result) override;

 private:
  struct Row {
    QLabel* state;
    QLabel* result;
    QLabel* fix;
  };
  void stepStarted(std::size_t index);
  void stepFinished(std::size_t index, const Finding& finding);
  void setState(std::size_t index, const QString& state, const QColor& colour);
  void fitToScreen();
  void placeOnScreen();

  std::vector<CheckStep> steps_;
  std::vector<Row> rows_;
  std::vector<Finding> findings_;
  QLabel* summaryLabel_;
  QScrollArea* scroll_;
  QWidget* content_;
  QPushButton* closeButton_;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace tallowen
