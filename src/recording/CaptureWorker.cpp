#include "recording/CaptureWorker.h"

#include <fcntl.h>

#include <QFile>

#include "platform/Trace.h"
#include "recording/AsfRepair.h"

namespace tallowen {

CaptureWorker::CaptureWorker(CaptureSetup setup) : setup_(std::move(setup)) {}

CaptureWorker::~CaptureWorker() {
  writer_.reset();  // its file reports syncs to the journal entry
}

void CaptureWorker::begin() {
  bool created = false;
  try {
    // The module loads here, off the window's thread, the first time it is needed.
    if (const QString missing = LoadedCodec().missingComponents(); !missing.isEmpty())
      throw EncoderError(EncoderFailure::Component, QString(), QStringLiteral("This FFmpeg lacks %1.").arg(missing));
    input_ = setup_.makeInput();
    std::unique_ptr<OutputFile> file = OutputFile::create(setup_.path, setup_.disk);
    created = true;
    if (const int fd = ::fcntl(file->descriptor(), F_DUPFD_CLOEXEC, 0); fd >= 0)
      recording_.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    journal_ = std::make_unique<RecordingJournalEntry>(setup_.path, file->descriptor());
    file->setOnSynced([this](qint64 size) {
      if (journal_) journal_->noteSynced(size);
    });
    file->setOnRestored([this](const QString& path, int fd) { followFile(path, fd); });
    inputFormat_ = input_->format();
    writer_ = LoadedCodec().createWriter(std::move(file), setup_.profile, setup_.texts, inputFormat_,
                                         setup_.options);
    input_->start([this](const uint8_t* const* planes, int frames) { onAudio(planes, frames); },
                  [this](const QString& reason) { onInputEnded(reason); });
  } catch (const EncoderError& e) {
    // A file we created holds nothing but our header: it is ours to take away again.
    if (writer_) writer_->abandon();
    writer_.reset();
    if (created) QFile::remove(setup_.path);
    if (journal_) journal_->markCompleted();
    journal_.reset();
    recording_.close();
    input_.reset();
    finished_ = true;
    if (onBegun) onBegun(e);
    return;
  }
  if (onBegun) onBegun(std::nullopt);
}

void CaptureWorker::followFile(const QString& path, int fd) {
  recording_.close();
  if (const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0); copy >= 0)
    recording_.open(copy, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
  // The removed file is beyond mending; the journal names the one put back instead.
  if (journal_) journal_->markCompleted();
  journal_ = std::make_unique<RecordingJournalEntry>(path, fd);
  setup_.path = path;
  if (onFileRestored) onFileRestored(path);
}

void CaptureWorker::setPaused(bool paused) {
  paused_ = paused;
  TraceMoment(paused ? "paused" : "resumed");
}

void CaptureWorker::onAudio(const uint8_t* const* planes, int frames) {
  if (paused_ || !writer_ || writerFailed_) return;
  level_.feed(planes, frames, inputFormat_);
  if (!heardSound_) {
    heardSound_ = true;
    TraceMoment("first-sample");
  }
  try {
    writer_->write(planes, frames);
    samples_ = writer_->samplesEncoded();
  } catch (const EncoderError& e) {
    writerFailed_ = true;
    failLater(e);
  }
}

void CaptureWorker::onInputEnded(const QString& reason) {
  if (reason.isEmpty()) {
    ranOut_ = true;
    failLater(EncoderError(EncoderFailure::Other, QString(), QString()));
  } else {
    failLater(EncoderError(EncoderFailure::InputLost, QString(), reason));
  }
}

void CaptureWorker::endBecause(const EncoderError& reason) { failLater(reason); }

void CaptureWorker::failLater(const EncoderError& reason) {
  // The first reason is the one that counts; a stop that comes before the end is carried
  // out reports it all the same.
  if (!reason_ && !finished_) reason_ = reason;
  // Not from inside the input's own callback: finishing destroys the input.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (finished_) return;  // a stop request came first, and carried the reason
        finish();
        if (onEndedByItself) onEndedByItself(outcome_);
      },
      Qt::QueuedConnection);
}

CaptureOutcome CaptureWorker::end() {
  if (!finished_) finish();
  return outcome_;
}

void CaptureWorker::finish() {
  finished_ = true;
  if (input_) input_->stop();
  input_.reset();
  outcome_.endedByItself = reason_.has_value();
  outcome_.path = setup_.path;
  // A source that simply ran out is no failure.
  if (reason_ && !ranOut_) outcome_.failure = reason_;
  if (!writer_) return;
  outcome_.fileMade = true;
  std::unique_ptr<PcmWriter> writer = std::move(writer_);
  // A file removed and not put back is beyond any mending: nobody can find it.
  auto lost = [](const std::optional<EncoderError>& e) { return e && e->kind() == EncoderFailure::FileLost; };
  if (writerFailed_) {
    // The disk refused a write: the muxer can finish nothing more, so the file is made
    // whole from the packets that did reach it.
    writer->abandon();
    outcome_.complete = !lost(reason_) && completeByRepair();
  } else {
    try {
      writer->finish();
      outcome_.complete = true;
      TraceMoment("file-closed");
    } catch (const EncoderError& e) {
      if (!outcome_.failure) outcome_.failure = e;
      outcome_.complete = !lost(e) && completeByRepair();
    }
  }
  recording_.close();
  outcome_.samples = writer->samplesEncoded();
  samples_ = outcome_.samples;
  outcome_.path = setup_.path;  // the last word: the close may have put the file back
  if (outcome_.complete && journal_) journal_->markCompleted();
}

bool CaptureWorker::completeByRepair() {
  // Through the descriptor: the name may by now be another file's.
  const AsfRepairOutcome outcome =
      RepairAsfDescriptor(recording_.handle(), setup_.path, journal_ ? journal_->syncedSize() : 0);
  // A file that cannot be mended now stays in the journal for the next start.
  if (outcome.result == AsfRepairOutcome::Result::Failed) {
    if (!outcome_.failure) outcome_.failure = EncoderError(EncoderFailure::Write, setup_.path, outcome.error);
    return false;
  }
  TraceMoment("file-closed");
  return true;
}

}  // namespace tallowen
