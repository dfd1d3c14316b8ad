#include "recording/FileInput.h"

#include <QDir>

#include "recording/EncoderError.h"

namespace tallowen {

FileInput::FileInput(const QString& path, Pace pace, bool repeat)
    : path_(path), pace_(pace), repeat_(repeat) {
  const QString shown = QDir::toNativeSeparators(path);
  AVFormatContext* fmt = nullptr;
  int r = avformat_open_input(&fmt, path.toUtf8().constData(), nullptr, nullptr);
  if (r < 0)
    throw EncoderError(QStringLiteral("The file %1 cannot be opened: %2").arg(shown, avErrorText(r)));
  demuxer_.reset(fmt);
  r = avformat_find_stream_info(fmt, nullptr);
  if (r < 0) throw EncoderError(QStringLiteral("The file %1 cannot be read: %2").arg(shown, avErrorText(r)));
  const AVCodec* codec = nullptr;
  streamIndex_ = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (streamIndex_ < 0 || !codec)
    throw EncoderError(QStringLiteral("The file %1 holds no sound that can be decoded.").arg(shown));
  decoder_.reset(avcodec_alloc_context3(codec));
  packet_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!decoder_ || !packet_ || !frame_) throw EncoderError(QStringLiteral("Out of memory for decoding."));
  avcodec_parameters_to_context(decoder_.get(), fmt->streams[streamIndex_]->codecpar);
  r = avcodec_open2(decoder_.get(), codec, nullptr);
  if (r < 0)
    throw EncoderError(QStringLiteral("The sound of %1 cannot be decoded: %2").arg(shown, avErrorText(r)));
  format_ = PcmFormat{decoder_->sample_rate, decoder_->ch_layout.nb_channels, decoder_->sample_fmt};
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &FileInput::tick);
}

FileInput::~FileInput() { stop(); }

void FileInput::start(AudioCallback onAudio, EndCallback onEnded) {
  onAudio_ = std::move(onAudio);
  onEnded_ = std::move(onEnded);
  delivered_ = 0;
  clock_.start();
  // Real time: top up every 10 ms like a sound card's period. Fast: one burst per
  // event-loop round, so that a stop request still gets through between bursts.
  timer_.start(pace_ == Pace::RealTime ? 10 : 0);
}

void FileInput::stop() {
  timer_.stop();
  onEnded_ = nullptr;
}

void FileInput::tick() {
  const int64_t due = pace_ == Pace::RealTime ? clock_.nsecsElapsed() * format_.sampleRate / 1'000'000'000
                                              : delivered_ + format_.sampleRate;  // about a second per burst
  while (delivered_ < due) {
    if (deliverNextFrame()) continue;
    timer_.stop();
    if (onEnded_) {
      auto ended = std::move(onEnded_);
      onEnded_ = nullptr;
      ended(QString());
    }
    return;
  }
}

bool FileInput::deliverNextFrame() {
  for (;;) {
    int r = avcodec_receive_frame(decoder_.get(), frame_.get());
    if (r == 0) {
      framesSinceRewind_ = true;
      if (onAudio_) onAudio_(frame_->extended_data, frame_->nb_samples);
      delivered_ += frame_->nb_samples;
      av_frame_unref(frame_.get());
      return true;
    }
    if (r == AVERROR_EOF) {
      // A file with no sound at all would otherwise be rewound for ever.
      if (!repeat_ || !framesSinceRewind_) return false;
      framesSinceRewind_ = false;
      avcodec_flush_buffers(decoder_.get());
      av_seek_frame(demuxer_.get(), streamIndex_, 0, AVSEEK_FLAG_BACKWARD);
    } else if (r != AVERROR(EAGAIN)) {
      return false;  // a damaged file ends where it can no longer be decoded
    }
    r = av_read_frame(demuxer_.get(), packet_.get());
    if (r < 0) {
      avcodec_send_packet(decoder_.get(), nullptr);  // drain what the decoder holds
      continue;
    }
    if (packet_->stream_index == streamIndex_) avcodec_send_packet(decoder_.get(), packet_.get());
    av_packet_unref(packet_.get());
  }
}

}  // namespace tallowen
