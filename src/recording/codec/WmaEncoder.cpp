#include "recording/codec/WmaEncoder.h"

#include <QStringList>
#include <algorithm>

#include "recording/RecordingFailure.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace tallowen {

namespace {

void check(int result, const char* what) {
  if (result < 0) throw RecordingError(QStringLiteral("%1: %2").arg(QString::fromUtf8(what), avErrorText(result)));
}

}  // namespace

QString FFmpegWmaEncoder::missingComponents() {
  return avcodec_find_encoder(AV_CODEC_ID_WMAV2) ? QString() : QStringLiteral("the WMA encoder (wmav2)");
}

FFmpegWmaEncoder::FFmpegWmaEncoder(const Profile& profile) {
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  if (!encoder)
    throw RecordingError(FailureCause::Component, QString(),
                         QStringLiteral("This FFmpeg lacks %1.").arg(missingComponents()));
  codec_.reset(avcodec_alloc_context3(encoder));
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!codec_ || !frame_ || !packet_) throw RecordingError(QStringLiteral("Out of memory for the encoder."));
  codec_->sample_rate = profile.sampleRate;
  codec_->bit_rate = profile.bitRate;
  codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
  codec_->time_base = AVRational{1, profile.sampleRate};
  av_channel_layout_default(&codec_->ch_layout, profile.channels);
  codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // the file's header keeps the codec data
  check(avcodec_open2(codec_.get(), encoder, nullptr), "Opening the WMA encoder");

  format_.formatTag = 0x0161;
  format_.channels = profile.channels;
  format_.sampleRate = profile.sampleRate;
  format_.bitRate = int(codec_->bit_rate);
  format_.blockAlign = codec_->block_align;
  format_.frameSamples = codec_->frame_size;
  format_.extradata = QByteArray(reinterpret_cast<const char*>(codec_->extradata), codec_->extradata_size);
  format_.codecName = QStringLiteral("Windows Media Audio V8");

  frame_->nb_samples = codec_->frame_size;
  frame_->format = codec_->sample_fmt;
  frame_->sample_rate = codec_->sample_rate;
  check(av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout), "Preparing audio buffers");
  check(av_frame_get_buffer(frame_.get(), 0), "Preparing audio buffers");

  // A WMA decoder throws away the first frame it decodes, as the encoder's warm-up. One
  // frame of silence ahead of the sound, timed before zero, saves the sound's first frame.
  check(av_samples_set_silence(frame_->extended_data, 0, codec_->frame_size, profile.channels,
                               codec_->sample_fmt),
        "Preparing audio buffers");
  frame_->pts = -codec_->frame_size;
  check(avcodec_send_frame(codec_.get(), frame_.get()), "Encoding");
}

void FFmpegWmaEncoder::encode(const float* samples, int frames, BlockSink& out) {
  const int channels = format_.channels;
  while (frames > 0) {
    if (filled_ == 0) check(av_frame_make_writable(frame_.get()), "Preparing an audio frame");
    const int take = std::min(frames, codec_->frame_size - filled_);
    // The encoder takes a plane per channel; the sound comes interleaved.
    for (int c = 0; c < channels; ++c) {
      auto* plane = reinterpret_cast<float*>(frame_->extended_data[c]) + filled_;
      for (int i = 0; i < take; ++i) plane[i] = samples[i * channels + c];
    }
    samples += ptrdiff_t(take) * channels;
    frames -= take;
    filled_ += take;
    if (filled_ == codec_->frame_size) sendFrame(out);
  }
}

void FFmpegWmaEncoder::sendFrame(BlockSink& out) {
  frame_->nb_samples = filled_;
  frame_->pts = nextPts_;
  nextPts_ += filled_;
  filled_ = 0;
  check(avcodec_send_frame(codec_.get(), frame_.get()), "Encoding");
  frame_->nb_samples = codec_->frame_size;
  drain(out);
}

void FFmpegWmaEncoder::drain(BlockSink& out) {
  for (;;) {
    const int r = avcodec_receive_packet(codec_.get(), packet_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
    check(r, "Encoding");
    out.take(EncodedBlock{packet_->data, packet_->size, packet_->pts});
    av_packet_unref(packet_.get());
  }
}

void FFmpegWmaEncoder::finish(BlockSink& out) {
  if (finished_) return;
  finished_ = true;
  // The last frame may be short; the encoder pads it.
  if (filled_ > 0) sendFrame(out);
  check(avcodec_send_frame(codec_.get(), nullptr), "Finishing the encoder");
  drain(out);
}

}  // namespace tallowen
