#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <memory>

#include "recording/Loudness.h"
#include "recording/LoudnessCache.h"

namespace tallowen {

// Makes the loudness of one sound file at a time, off the window's thread: from the cache
// when the file is known there, otherwise by decoding it, in two pieces side by side when
// it is long. What it tells, it tells on the thread it lives on.
class LoudnessMaker : public QObject {
  Q_OBJECT
 public:
  explicit LoudnessMaker(QObject* parent = nullptr);
  LoudnessMaker(LoudnessCache cache, QObject* parent = nullptr);
  // What still runs is cancelled and waited for, which is quick.
  ~LoudnessMaker() override;

  // The file's loudness: `ready`, after `progress` now and then while it is decoded; or
  // `failed`. A file asked for before drops the one asked for earlier.
  void make(const QString& path);
  void cancel();
  // The file being made or last made; empty after a cancel.
  const QString& path() const { return path_; }

  // Files at least this long are decoded in two pieces at once.
  static constexpr qint64 kSplitMs = 5 * 60 * 1000;

 signals:
  // The whole length so far as it is known, what is not decoded yet silent.
  void progress(const tallowen::Loudness& sofar, int percent);
  void ready(const tallowen::Loudness& loudness);
  // Why not, in words for the user.
  void failed(const QString& why);

 private:
  struct Job;
  static void run(const std::shared_ptr<Job>& job, int piece);
  // The last piece of a job is done.
  static void done(const std::shared_ptr<Job>& job);
  void tell();
  void finish(const std::shared_ptr<Job>& job);

  LoudnessCache cache_;
  QThreadPool pool_;
  QTimer progressTimer_{this};
  std::shared_ptr<Job> job_;
  QString path_;
};

}  // namespace tallowen
