#include "recording/LoudnessMaker.h"

#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

#include "recording/Codec.h"
#include "recording/RecordingFailure.h"

namespace tallowen {

namespace {

// Often enough for the waveform to be seen filling in; each time, the whole length so far
// is copied once.
constexpr int kProgressMs = 100;

constexpr int64_t kMostBlocksAhead = int64_t(Loudness::kBlocksPerSecond) * 24 * 3600;

const bool metaTypes = [] {
  qRegisterMetaType<tallowen::Loudness>("tallowen::Loudness");
  return true;
}();

}  // namespace

struct LoudnessMaker::Job final : PeakSink {
  Job(LoudnessMaker* m, QString p) : maker(m), path(std::move(p)), cache(m->cache_) {}

  // Waits for its pool before it goes, so that it is there to be told.
  LoudnessMaker* const maker;
  const QString path;
  const LoudnessCache cache;
  std::atomic<bool> cancel{false};
  std::atomic<int> running{1};  // pieces not yet done

  std::mutex lock;
  // Under lock.
  std::vector<uint8_t> levels;  // the whole length, as far as the header tells it
  int64_t decoded = 0;          // blocks
  int64_t expected = 0;
  int64_t half = -1;     // where the second piece begins; the first stops there
  int64_t soundEnd = 0;  // one past the last block the decoders gave
  std::optional<QString> error;
  bool fromCache = false;

  void takePeaks(int64_t first, const float* peaks, int count) override {
    std::lock_guard<std::mutex> hold(lock);
    if (first + count > int64_t(levels.size())) levels.resize(size_t(first + count), 0);
    for (int i = 0; i < count; ++i) levels[size_t(first + i)] = Loudness::levelOf(peaks[i]);
    decoded += count;
    soundEnd = std::max(soundEnd, first + count);
  }
};

LoudnessMaker::LoudnessMaker(QObject* parent) : LoudnessMaker(LoudnessCache(), parent) {}

LoudnessMaker::LoudnessMaker(LoudnessCache cache, QObject* parent) : QObject(parent), cache_(std::move(cache)) {
  (void)metaTypes;
  pool_.setMaxThreadCount(2);
  progressTimer_.setInterval(kProgressMs);
  connect(&progressTimer_, &QTimer::timeout, this, &LoudnessMaker::tell);
}

LoudnessMaker::~LoudnessMaker() {
  cancel();
  pool_.waitForDone();
}

void LoudnessMaker::make(const QString& path) {
  cancel();
  path_ = path;
  job_ = std::make_shared<Job>(this, path);
  progressTimer_.start();
  pool_.start([job = job_] { run(job, 0); });
}

void LoudnessMaker::cancel() {
  progressTimer_.stop();
  if (job_) job_->cancel = true;
  job_.reset();
  path_.clear();
}

void LoudnessMaker::run(const std::shared_ptr<Job>& job, int piece) {
  try {
    if (piece == 0) {
      if (std::optional<Loudness> known = job->cache.load(job->path)) {
        std::lock_guard<std::mutex> hold(job->lock);
        job->levels = std::move(known->levels);
        job->soundEnd = int64_t(job->levels.size());
        job->fromCache = true;
      }
    }
    if (!job->fromCache && !job->cancel) {
      std::unique_ptr<SoundDecoder> decoder = LoadedCodec().openDecoder(job->path);
      int64_t from = 0, to = -1;
      if (piece == 0) {
        // A header may claim anything (40,000 hours): room for a day at most is made ahead,
        // and a claim beyond it is decoded from the start in one piece, growing as it goes.
        const int64_t claimed = decoder->durationMs() / Loudness::kBlockMs;
        const int64_t blocks = std::min(claimed, kMostBlocksAhead);
        const bool split = decoder->durationMs() >= kSplitMs && claimed <= kMostBlocksAhead;
        {
          std::lock_guard<std::mutex> hold(job->lock);
          job->levels.assign(size_t(blocks), 0);
          job->expected = blocks;
          if (split) job->half = to = blocks / 2;
        }
        if (split) {
          ++job->running;
          job->maker->pool_.start([job] { run(job, 1); });
        }
      } else {
        std::lock_guard<std::mutex> hold(job->lock);
        from = job->half;
      }
      decoder->decodePeaks(from, to, *job, job->cancel);
    }
  } catch (const RecordingError& e) {
    std::lock_guard<std::mutex> hold(job->lock);
    if (!job->error) job->error = e.detail();
  }
  if (--job->running == 0) done(job);
}

void LoudnessMaker::done(const std::shared_ptr<Job>& job) {
  if (!job->cancel && !job->fromCache && !job->error) {
    Loudness made;
    {
      std::lock_guard<std::mutex> hold(job->lock);
      // A header that told a longer sound than there is does not make a silent tail.
      job->levels.resize(size_t(job->soundEnd));
      made.levels = job->levels;
    }
    // Written here, not on the window's thread; a failure costs a decode next time.
    job->cache.store(job->path, made);
  }
  QMetaObject::invokeMethod(job->maker, [job] { job->maker->finish(job); }, Qt::QueuedConnection);
}

void LoudnessMaker::tell() {
  if (!job_) return;
  Loudness sofar;
  int percent;
  {
    std::lock_guard<std::mutex> hold(job_->lock);
    if (job_->expected <= 0) return;  // nothing decoded yet, or known from the cache
    sofar.levels = job_->levels;
    percent = int(std::clamp<int64_t>(job_->decoded * 100 / job_->expected, 0, 99));
  }
  emit progress(sofar, percent);
}

void LoudnessMaker::finish(const std::shared_ptr<Job>& job) {
  if (job != job_) return;  // dropped for another file meanwhile
  progressTimer_.stop();
  job_.reset();
  if (job->error) {
    emit failed(QStringLiteral("この録音の波形は作れません（%1）。").arg(*job->error));
    return;
  }
  Loudness loudness;
  loudness.levels = std::move(job->levels);
  emit ready(loudness);
}

}  // namespace tallowen
