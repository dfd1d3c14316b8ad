#include "recording/CaptureWorker.h"

#include <QFile>

#include "recording/EncoderError.h"

namespace tallowen {

CaptureWorker::CaptureWorker(CaptureSetup setup) : setup_(std::move(setup)) {}

CaptureWorker::~CaptureWorker() = default;

void CaptureWorker::begin() {
  bool created = false;
  try {
    input_ = setup_.makeInput();
    std::unique_ptr<OutputFile> file = OutputFile::create(setup_.path);
    created = true;
    writer_ = std::make_unique<WmaWriter>(std::move(file), setup_.profile, setup_.texts, input_->format(),
                                          setup_.options);
    input_->start([this](const uint8_t* const* planes, int frames) { onAudio(planes, frames); },
                  [this](const QString& reason) { onInputEnded(reason); });
  } catch (...) {
    // A file we created holds nothing but our header: it is ours to take away again.
    if (writer_) writer_->abandon();
    writer_.reset();
    if (created) QFile::remove(setup_.path);
    input_.reset();
    throw;
  }
}

void CaptureWorker::onAudio(const uint8_t* const* planes, int frames) {
  if (paused_ || !writer_ || failed_) return;
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
  std::unique_ptr<WmaWriter> writer = std::move(writer_);
  writer->finish();
  samples_ = writer->samplesEncoded();
}

}  // namespace tallowen
