#include "recording/codec/PeakDecoder.h"

#include <QFile>
#include <algorithm>
#include <cmath>

#include "recording/RecordingFailure.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

namespace tallowen {

namespace {

// The loudest of `count` samples in a row, as a float of full scale 1. Four running
// maxima, so that the compiler keeps them in one vector register.
template <typename T, typename Scale>
float peakRun(const T* p, int count, Scale toFloat) {
  float m0 = 0, m1 = 0, m2 = 0, m3 = 0;
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    m0 = std::max(m0, std::fabs(toFloat(p[i])));
    m1 = std::max(m1, std::fabs(toFloat(p[i + 1])));
    m2 = std::max(m2, std::fabs(toFloat(p[i + 2])));
    m3 = std::max(m3, std::fabs(toFloat(p[i + 3])));
  }
  for (; i < count; ++i) m0 = std::max(m0, std::fabs(toFloat(p[i])));
  return std::max(std::max(m0, m1), std::max(m2, m3));
}

template <typename T, typename Scale>
float peakOfFrame(const AVFrame& f, bool planar, int from, int count, Scale toFloat) {
  const int channels = f.ch_layout.nb_channels;
  if (!planar)  // interleaved: every channel's samples of the stretch are one run
    return peakRun(reinterpret_cast<const T*>(f.extended_data[0]) + ptrdiff_t(from) * channels, count * channels,
                   toFloat);
  float peak = 0;
  for (int c = 0; c < channels; ++c)
    peak = std::max(peak, peakRun(reinterpret_cast<const T*>(f.extended_data[c]) + from, count, toFloat));
  return peak;
}

}  // namespace

FFmpegPeakDecoder::FFmpegPeakDecoder(const QString& path) : path_(path) {
  AVFormatContext* opened = nullptr;
  if (const int r = avformat_open_input(&opened, QFile::encodeName(path).constData(), nullptr, nullptr); r < 0)
    fail(QStringLiteral("Opening the file"), r);
  format_.reset(opened);
  if (const int r = avformat_find_stream_info(format_.get(), nullptr); r < 0)
    fail(QStringLiteral("Reading the file's streams"), r);
  const AVCodec* decoder = nullptr;
  stream_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (stream_ < 0) fail(QStringLiteral("Finding the sound"), stream_);
  for (unsigned i = 0; i < format_->nb_streams; ++i)
    if (int(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
  const AVStream* stream = format_->streams[stream_];
  timeBase_ = stream->time_base;
  codec_.reset(avcodec_alloc_context3(decoder));
  packet_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!codec_ || !packet_ || !frame_) fail(QStringLiteral("Making the decoder"), AVERROR(ENOMEM));
  if (const int r = avcodec_parameters_to_context(codec_.get(), stream->codecpar); r < 0)
    fail(QStringLiteral("Preparing the decoder"), r);
  if (const int r = avcodec_open2(codec_.get(), decoder, nullptr); r < 0) fail(QStringLiteral("Opening the decoder"), r);
  if (codec_->sample_rate <= 0) fail(QStringLiteral("Reading the sample rate"), AVERROR_INVALIDDATA);
  if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
    durationMs_ = av_rescale(format_->duration, 1000, AV_TIME_BASE);
  else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
    durationMs_ = av_rescale_q(stream->duration, timeBase_, AVRational{1, 1000});
}

void FFmpegPeakDecoder::fail(const QString& what, int error) const {
  throw RecordingError(FailureCause::Other, path_, QStringLiteral("%1: %2").arg(what, avErrorText(error)));
}

bool FFmpegPeakDecoder::nextFrame() {
  for (;;) {
    int r = avcodec_receive_frame(codec_.get(), frame_.get());
    if (r == 0) {
      if (frame_->nb_samples > 0) return true;
      av_frame_unref(frame_.get());
      continue;
    }
    if (r == AVERROR_EOF) return false;
    if (r != AVERROR(EAGAIN)) fail(QStringLiteral("Decoding"), r);
    if (flushed_) return false;
    read_ = true;
    r = av_read_frame(format_.get(), packet_.get());
    if (r == AVERROR_EOF || r == AVERROR(EIO) || r == AVERROR_INVALIDDATA) {
      // A file cut short ends so: what came before it counts.
      flushed_ = true;
      avcodec_send_packet(codec_.get(), nullptr);
      continue;
    }
    if (r < 0) fail(QStringLiteral("Reading the file"), r);
    if (packet_->stream_index == stream_) {
      r = avcodec_send_packet(codec_.get(), packet_.get());
      // A damaged packet is skipped, as a player does; the blocks it held stay quiet.
      if (r < 0 && r != AVERROR_INVALIDDATA && r != AVERROR(EAGAIN)) fail(QStringLiteral("Decoding"), r);
    }
    av_packet_unref(packet_.get());
  }
}

void FFmpegPeakDecoder::findOrigin() {
  if (originKnown_) return;
  originKnown_ = true;
  if (read_) seekTo(0);
  if (!nextFrame()) return;
  haveFrame_ = true;
  if (frame_->best_effort_timestamp != AV_NOPTS_VALUE) originPts_ = frame_->best_effort_timestamp;
}

void FFmpegPeakDecoder::seekTo(int64_t sample) {
  av_frame_unref(frame_.get());
  haveFrame_ = false;
  const int64_t ts = originPts_ + av_rescale_q(sample, AVRational{1, codec_->sample_rate}, timeBase_);
  if (const int r = av_seek_frame(format_.get(), stream_, ts, AVSEEK_FLAG_BACKWARD); r < 0 && sample > 0)
    fail(QStringLiteral("Seeking"), r);
  avcodec_flush_buffers(codec_.get());
  flushed_ = false;
}

int64_t FFmpegPeakDecoder::positionOf(const AVFrame& frame) const {
  if (frame.best_effort_timestamp == AV_NOPTS_VALUE) return INT64_MIN;
  return av_rescale_q(frame.best_effort_timestamp - originPts_, timeBase_, AVRational{1, codec_->sample_rate});
}

float FFmpegPeakDecoder::peakOf(int from, int count) const {
  const AVFrame& f = *frame_;
  const auto format = AVSampleFormat(f.format);
  const bool planar = av_sample_fmt_is_planar(format);
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
      return peakOfFrame<float>(f, planar, from, count, [](float v) { return v; });
    case AV_SAMPLE_FMT_DBL:
      return peakOfFrame<double>(f, planar, from, count, [](double v) { return float(v); });
    case AV_SAMPLE_FMT_S16:
      return peakOfFrame<int16_t>(f, planar, from, count, [](int16_t v) { return float(v) * (1.0f / 32768); });
    case AV_SAMPLE_FMT_S32:
      return peakOfFrame<int32_t>(f, planar, from, count, [](int32_t v) { return float(v) * (1.0f / 2147483648.0f); });
    case AV_SAMPLE_FMT_U8:
      return peakOfFrame<uint8_t>(f, planar, from, count, [](uint8_t v) { return float(int(v) - 128) * (1.0f / 128); });
    default:
      throw RecordingError(FailureCause::Other, path_,
                           QStringLiteral("The decoder gives samples of a kind not read here (%1).")
                               .arg(QString::fromUtf8(av_get_sample_fmt_name(format))));
  }
}

bool FFmpegPeakDecoder::decodePeaks(int64_t fromBlock, int64_t toBlock, PeakSink& out,
                                    const std::atomic<bool>& cancel) {
  const int64_t blockFrames = this->blockFrames();
  const int64_t start = std::max<int64_t>(fromBlock, 0) * blockFrames;
  const int64_t end = toBlock < 0 ? INT64_MAX : toBlock * blockFrames;
  findOrigin();
  // A stretch from the middle starts a second early: a decoder's first frames after a seek
  // lack what came before them, and are only there to be thrown away.
  const int64_t lead = codec_->sample_rate;
  bool afterSeek = start > 0;
  if (afterSeek) seekTo(std::max<int64_t>(start - lead, 0));

  std::vector<float> batch;
  int64_t batchFirst = 0;
  auto flush = [&] {
    if (!batch.empty()) out.takePeaks(batchFirst, batch.data(), int(batch.size()));
    batch.clear();
  };
  auto put = [&](int64_t block, float peak) {
    if (!batch.empty() && batchFirst + int64_t(batch.size()) != block) flush();
    if (batch.empty()) batchFirst = block;
    batch.push_back(peak);
    if (batch.size() >= 1024) flush();
  };

  int64_t next = 0;    // where the next frame begins, when it follows on
  int64_t block = -1;  // the block being summed, and its peak so far
  float peak = 0;
  for (;;) {
    if (cancel.load(std::memory_order_relaxed)) return false;
    if (!haveFrame_ && !nextFrame()) break;
    haveFrame_ = false;
    const int frames = frame_->nb_samples;
    int64_t at = positionOf(*frame_);
    if (afterSeek) {
      afterSeek = false;
      if (at == INT64_MIN) {
        // Untimed frames cannot be placed after a seek: from the start, then.
        seekTo(0);
        next = 0;
        continue;
      }
      // The container's times may be rounded (ASF's to the millisecond); frames of one size
      // from the start are not, so a time close to a whole number of them is that.
      const int64_t whole = (at + frames / 2) / frames * frames;
      if (std::llabs(whole - at) <= codec_->sample_rate / 500 + 1) at = whole;
      next = at;
    }
    // A frame within half of itself of where the last one ended follows on; further off,
    // the stream has a real gap or overlap, and its time counts.
    if (at == INT64_MIN || std::llabs(at - next) <= frames / 2) at = next;
    next = at + frames;
    if (at >= end) break;
    for (int64_t s = std::max(at, start), stop = std::min(at + frames, end); s < stop;) {
      const int64_t b = s / blockFrames;
      const int64_t to = std::min(stop, (b + 1) * blockFrames);
      if (b != block) {
        if (block >= 0) put(block, peak);
        block = b;
        peak = 0;
      }
      peak = std::max(peak, peakOf(int(s - at), int(to - s)));
      s = to;
    }
    av_frame_unref(frame_.get());
  }
  if (block >= 0) put(block, peak);
  flush();
  return true;
}

}  // namespace tallowen
