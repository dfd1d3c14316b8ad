#include "recording/codec/FileDecoder.h"

#include <QDir>

#include "recording/EncoderError.h"

namespace tallowen {

FileDecoder::FileDecoder(const QString& path) {
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
  format_ = FromAvSampleFormat(decoder_->sample_rate, decoder_->ch_layout.nb_channels, decoder_->sample_fmt);
  if (format_.sampleType == SampleType::None)
    throw EncoderError(QStringLiteral("The sound of %1 is in a sample format that cannot be read.").arg(shown));
}

int FileDecoder::read(const uint8_t* const** planes) {
  av_frame_unref(frame_.get());  // the caller is done with the last one
  for (;;) {
    int r = avcodec_receive_frame(decoder_.get(), frame_.get());
    if (r == 0) {
      *planes = frame_->extended_data;
      return frame_->nb_samples;
    }
    if (r == AVERROR_EOF) return 0;
    if (r != AVERROR(EAGAIN)) return -1;
    r = av_read_frame(demuxer_.get(), packet_.get());
    if (r < 0) {
      avcodec_send_packet(decoder_.get(), nullptr);  // drain what the decoder holds
      continue;
    }
    if (packet_->stream_index == streamIndex_) avcodec_send_packet(decoder_.get(), packet_.get());
    av_packet_unref(packet_.get());
  }
}

void FileDecoder::rewind() {
  avcodec_flush_buffers(decoder_.get());
  av_seek_frame(demuxer_.get(), streamIndex_, 0, AVSEEK_FLAG_BACKWARD);
}

}  // namespace tallowen
