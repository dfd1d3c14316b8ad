#include "recording/CaptureWorker.h"

#include <fcntl.h>

#include <QFile>

#include "platform/Trace.h"
#include "recording/AsfRepair.h"
#include "recording/EncoderError.h"
#include "recording/OutputFile.h"

namespace tallowen {

CaptureWorker::CaptureWorker(CaptureSetup setup) : setup_(std::move(setup)) {}

CaptureWorker::~CaptureWorker() {
  writer_.reset();  // its file reports syncs to the journal entry
}

void CaptureWorker::begin() {
  bool created = false;
  try {
    input_ = setup_.makeInput();
    std::unique_ptr<OutputFile> file = OutputFile::create(setup_.path);
    created = true;
    if (const int fd = ::fcntl(file->descriptor(), F_DUPFD_CLOEXEC, 0); fd >= 0)
      recording_.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    journal_ = std::make_unique<RecordingJournalEntry>(setup_.path, file->descriptor());
    file->setOnSynced([journal = journal_.get()](qint64 size) { journal->noteSynced(size); });
    writer_ = LoadedCodec().createWriter(std::move(file), setup_.profile, setup_.texts, input_->format(),
                                         setup_.options);
    input_->start([this](const uint8_t* const* planes, int frames) { onAudio(planes, frames); },
                  [this](const QString& reason) { onInputEnded(reason); });
  } catch (...) {
    // A file we created holds nothing but our header: it is ours to take away again.
    if (writer_) writer_->abandon();
    writer_.reset();
    if (created) QFile::remove(setup_.path);
    if (journal_) journal_->markCompleted();
    journal_.reset();
    recording_.close();
    input_.reset();
    throw;
  }
}

void CaptureWorker::onAudio(const uint8_t* const* planes, int frames) {
  if (paused_ || !writer_ || failed_) return;
  if (!heardSound_) {
    heardSound_ = true;
    TraceMoment("first-sample");
  }
  try {
    writer_->write(planes, frames);
    samples_ = writer_->samplesEncoded();
  } catch (const EncoderError& e) {
    failed_ = true;
    finishLater(e.reason());
  }
}

void CaptureWorker::onInputEnded(const QString& reason) { finishLater(reason); }

void CaptureWorker::finishLater(const QString& reason) {
  // Not from inside the input's own callback: finishing destroys the input.
  QMetaObject::invokeMethod(
      this,
      [this, reason] {
        if (!input_ && !writer_) return;  // a stop request came first
        QString why = reason;
        try {
          end();
        } catch (const EncoderError& e) {
          why = why.isEmpty() ? e.reason() : why + QLatin1Char('\n') + e.reason();
        }
        emit endedByItself(why);
      },
      Qt::QueuedConnection);
}

void CaptureWorker::end() {
  if (input_) input_->stop();
  input_.reset();
  if (!writer_) return;
  std::unique_ptr<PcmWriter> writer = std::move(writer_);
  if (failed_) {
    // The disk refused a write: the muxer can finish nothing more, so the file is made
    // whole from the packets that did reach it.
    writer->abandon();
    if (const QString why = completeByRepair(); !why.isEmpty()) throw EncoderError(why);
    return;
  }
  try {
    writer->finish();
  } catch (const EncoderError& e) {
    const QString why = completeByRepair();
    throw EncoderError(why.isEmpty() ? e.reason() : e.reason() + QLatin1Char('\n') + why);
  }
  recording_.close();
  TraceMoment("file-closed");
  samples_ = writer->samplesEncoded();
  if (journal_) journal_->markCompleted();
}

QString CaptureWorker::completeByRepair() {
  const AsfRepairOutcome outcome =
      RepairAsfDescriptor(recording_.handle(), setup_.path, journal_ ? journal_->syncedSize() : 0);
  recording_.close();
  // A file that cannot be mended now stays in the journal for the next start.
  if (outcome.result == AsfRepairOutcome::Result::Failed) return outcome.error;
  if (journal_) journal_->markCompleted();
  return QString();
}

}  // namespace tallowen
