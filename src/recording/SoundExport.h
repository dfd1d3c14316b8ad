#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

#include "recording/Codec.h"

namespace tallowen {

// One export at a time, on a thread of its own. The file is written under a hidden
// temporary name beside the target and renamed to it once complete, so that a cancel, a
// failure, a full disk or a killed program never leaves a half-written file under a name
// that looks like a recording. What it tells, it tells on the thread it lives on.
class SoundExport : public QObject {
  Q_OBJECT
 public:
  explicit SoundExport(QObject* parent = nullptr);
  // What still runs is cancelled and waited for, which is quick.
  ~SoundExport() override;

  // False while another export runs.
  bool start(const ExportJob& job);
  void cancel();
  bool running() const { return running_; }

  // The file name the target is written under until it is complete.
  static QString partialNameOf(const QString& target);
  // The suffix and the save dialog's filter of each format, in the order of ExportFormat.
  static QString suffixOf(ExportFormat format);

 signals:
  void progress(int permille);
  // `done`: the target is complete. Otherwise nothing of it is left; `why` says what went
  // wrong, empty for a cancel.
  void finished(bool done, const QString& why);

 private:
  void end(bool done, const QString& why);

  std::thread worker_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  bool running_ = false;
};

}  // namespace tallowen
