#include "recording/codec/WmaWriter.h"

#include <QDir>
#include <QStringList>
#include <algorithm>
#include <cstdio>

#include "recording/EncoderError.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace tallowen {

namespace {

constexpr int kIoBufferSize = 32 * 1024;

[[noreturn]] void fail(const QString& what, int error) {
  throw EncoderError(QStringLiteral("%1: %2").arg(what, avErrorText(error)));
}

void check(int result, const char* what) {
  if (result < 0) fail(QString::fromUtf8(what), result);
}

}  // namespace

QString WmaWriter::missingComponents() {
  QStringList missing;
  if (!avcodec_find_encoder(AV_CODEC_ID_WMAV2)) missing << QStringLiteral("the WMA encoder (wmav2)");
  if (!av_guess_format("asf", nullptr, nullptr)) missing << QStringLiteral("the ASF muxer (asf)");
  return missing.join(QStringLiteral(" and "));
}

WmaWriter::WmaWriter(std::unique_ptr<ByteSink> file, const Profile& profile, const DisplayTexts& texts,
                     const PcmFormat& input, const WriterOptions& options)
    : path_(file->path()),
      file_(std::move(file)),
      options_(options),
      lastSync_(std::chrono::steady_clock::now()) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  if (!buffer) throw EncoderError(QStringLiteral("Out of memory for the output buffer."));
  io_.reset(
      avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &WmaWriter::writePacket, &WmaWriter::seek));
  if (!io_) {
    av_free(buffer);
    throw EncoderError(QStringLiteral("Out of memory for the output context."));
  }
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  const AVOutputFormat* asf = av_guess_format("asf", nullptr, nullptr);
  if (!encoder || !asf)
    throw EncoderError(EncoderFailure::Component, QString(),
                       QStringLiteral("This FFmpeg lacks %1.").arg(missingComponents()));

  codec_.reset(avcodec_alloc_context3(encoder));
  if (!codec_) throw EncoderError(QStringLiteral("Out of memory for the encoder."));
  codec_->sample_rate = profile.sampleRate;
  codec_->bit_rate = profile.bitRate;
  codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
  codec_->time_base = AVRational{1, profile.sampleRate};
  av_channel_layout_default(&codec_->ch_layout, profile.channels);
  codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // ASF keeps the codec data in its header
  check(avcodec_open2(codec_.get(), encoder, nullptr), "Opening the WMA encoder");

  AVFormatContext* fmt = nullptr;
  check(avformat_alloc_output_context2(&fmt, asf, nullptr, nullptr), "Preparing the ASF file");
  format_.reset(fmt);
  format_->pb = io_.get();
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  // The muxer hands out whole ASF packets only. At most half a second of sound each
  // (FFmpeg's 3200 bytes at the higher bit rates) bounds what a crash can take.
  const int64_t packetBytes = std::clamp<int64_t>(profile.bitRate / 16, 500, 3200);
  check(av_opt_set_int(format_->priv_data, "packet_size", packetBytes, 0), "Setting the ASF packet size");
  const std::pair<const char*, const QString*> fields[] = {{"title", &texts.title},
                                                           {"author", &texts.author},
                                                           {"copyright", &texts.copyright},
                                                           {"comment", &texts.description},
                                                           {"rating", &texts.rating}};
  for (const auto& [key, value] : fields)
    if (!value->isEmpty()) av_dict_set(&format_->metadata, key, value->toUtf8().constData(), 0);

  stream_ = avformat_new_stream(format_.get(), nullptr);
  if (!stream_) throw EncoderError(QStringLiteral("Out of memory for the audio stream."));
  stream_->time_base = codec_->time_base;
  check(avcodec_parameters_from_context(stream_->codecpar, codec_.get()), "Describing the audio stream");
  check(avformat_write_header(format_.get(), nullptr), "Writing the file header");
  flush();

  AVChannelLayout inLayout;
  av_channel_layout_default(&inLayout, input.channels);
  SwrContext* swr = nullptr;
  check(swr_alloc_set_opts2(&swr, &codec_->ch_layout, codec_->sample_fmt, codec_->sample_rate, &inLayout,
                            ToAvSampleFormat(input), input.sampleRate, 0, nullptr),
        "Preparing the resampler");
  swr_.reset(swr);
  check(swr_init(swr_.get()), "Starting the resampler");

  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!frame_ || !packet_) throw EncoderError(QStringLiteral("Out of memory for audio buffers."));
  frame_->nb_samples = codec_->frame_size;
  frame_->format = codec_->sample_fmt;
  frame_->sample_rate = codec_->sample_rate;
  check(av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout), "Preparing audio buffers");
  check(av_frame_get_buffer(frame_.get(), 0), "Preparing audio buffers");
  primeEncoder();
}

void WmaWriter::primeEncoder() {
  // A WMA decoder throws away the first frame it decodes, as the encoder's warm-up. One
  // frame of silence ahead of the sound, timed before zero, saves the sound's first frame.
  check(av_samples_set_silence(frame_->extended_data, 0, codec_->frame_size, codec_->ch_layout.nb_channels,
                               codec_->sample_fmt),
        "Preparing audio buffers");
  frame_->pts = -codec_->frame_size;
  check(avcodec_send_frame(codec_.get(), frame_.get()), "Encoding");
  drainPackets();
}

WmaWriter::~WmaWriter() {
  if (!finished_) abandon();
}

int WmaWriter::writePacket(void* opaque, uint8_t* data, int size) {
  const int written = static_cast<WmaWriter*>(opaque)->file_->write(data, size);
  return written < 0 ? AVERROR(-written) : written;
}

int64_t WmaWriter::seek(void* opaque, int64_t offset, int whence) {
  ByteSink& file = *static_cast<WmaWriter*>(opaque)->file_;
  if (whence & AVSEEK_SIZE) return file.size();
  const int64_t at = file.seek(offset, whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(-at) : at;
}

void WmaWriter::throwIfWriteFailed() {
  if (io_ && io_->error < 0) {
    const QString why = file_->writeError().isEmpty() ? avErrorText(io_->error) : file_->writeError();
    throw EncoderError(EncoderFailure::Write, path_,
                       QStringLiteral("Writing %1 failed: %2").arg(QDir::toNativeSeparators(path_), why));
  }
}

void WmaWriter::flush() {
  throwIfWriteFailed();
  avio_flush(io_.get());
  throwIfWriteFailed();
}

void WmaWriter::sync() {
  flush();
  file_->syncToDisk();
  lastSync_ = std::chrono::steady_clock::now();
}

void WmaWriter::closeFile() {
  if (io_) {
    if (io_->error >= 0) avio_flush(io_.get());
    io_.reset();
  }
  if (file_) file_->close();
}

bool WmaWriter::fillFrame(const uint8_t* const* in, int inFrames) {
  if (filled_ == 0) check(av_frame_make_writable(frame_.get()), "Preparing an audio frame");
  uint8_t* out[AV_NUM_DATA_POINTERS] = {};
  const int bytesPerSample = av_get_bytes_per_sample(codec_->sample_fmt);
  for (int c = 0; c < codec_->ch_layout.nb_channels; ++c)
    out[c] = frame_->extended_data[c] + filled_ * bytesPerSample;
  // swr_convert only reads the input; its older signature lacks the const.
  const int got =
      swr_convert(swr_.get(), out, codec_->frame_size - filled_, const_cast<const uint8_t**>(in), inFrames);
  check(got, "Resampling");
  filled_ += got;
  return filled_ == codec_->frame_size;
}

void WmaWriter::write(const uint8_t* const* planes, int frames) {
  // The resampler keeps what does not fit in the frame. Later rounds pass the same planes
  // with no new samples: a null input would flush the resampler mid-stream.
  for (bool full = fillFrame(planes, frames); full; full = fillFrame(planes, 0)) encodeFilledFrame();
}

void WmaWriter::encodeFilledFrame() {
  frame_->nb_samples = filled_;
  frame_->pts = nextPts_;
  nextPts_ += filled_;
  filled_ = 0;
  check(avcodec_send_frame(codec_.get(), frame_.get()), "Encoding");
  frame_->nb_samples = codec_->frame_size;
  drainPackets();
}

void WmaWriter::drainPackets() {
  bool wrote = false;
  for (;;) {
    const int r = avcodec_receive_packet(codec_.get(), packet_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    check(r, "Encoding");
    packet_->stream_index = stream_->index;
    av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
    const int w = av_write_frame(format_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (w < 0) {
      flush();  // names the disk's own error when there is one
      throw EncoderError(EncoderFailure::Write, path_,
                         QStringLiteral("Writing %1: %2").arg(QDir::toNativeSeparators(path_), avErrorText(w)));
    }
    wrote = true;
  }
  if (!wrote) return;
  if (options_.flushEachPacket) flush();
  if (options_.syncInterval.count() > 0 &&
      std::chrono::steady_clock::now() - lastSync_ >= options_.syncInterval)
    sync();
}

void WmaWriter::finish() {
  if (finished_) return;
  finished_ = true;
  try {
    // What the resampler still holds, then the last (short) frame; the encoder pads it.
    while (fillFrame(nullptr, 0)) encodeFilledFrame();
    if (filled_ > 0) encodeFilledFrame();
    check(avcodec_send_frame(codec_.get(), nullptr), "Finishing the encoder");
    drainPackets();
    check(av_write_trailer(format_.get()), "Completing the file");
    sync();
  } catch (...) {
    closeFile();
    throw;
  }
  closeFile();
}

void WmaWriter::abandon() {
  finished_ = true;
  closeFile();
}

}  // namespace tallowen
