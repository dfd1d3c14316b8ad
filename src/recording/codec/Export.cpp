#include "recording/codec/Export.h"

#include <QFile>
#include <QTime>
#include <algorithm>
#include <vector>

#include "recording/RecordingFailure.h"
#include "recording/codec/FFmpegPtr.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

namespace tallowen {

namespace {

struct ResamplerDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoDeleter {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
// An output context with the file it opened.
struct OutputDeleter {
  void operator()(AVFormatContext* f) const {
    if (f->pb && !(f->oformat->flags & AVFMT_NOFILE)) avio_closep(&f->pb);
    avformat_free_context(f);
  }
};
struct SamplesDeleter {
  void operator()(uint8_t** planes) const {
    if (planes) av_freep(&planes[0]);
    av_freep(&planes);
  }
};

struct Target {
  const char* muxer;
  const char* encoder;
  int speechBitRate;  // 0 for a format without one
};

Target targetOf(ExportFormat format) {
  switch (format) {
    case ExportFormat::Mp3:
      return {"mp3", "libmp3lame", 64000};
    case ExportFormat::M4a:
      return {"ipod", "aac", 64000};
    case ExportFormat::Opus:
      return {"opus", "libopus", 32000};  // Opus is made for speech: 32 kb/s is near transparent
    case ExportFormat::Flac:
      return {"flac", "flac", 0};
    case ExportFormat::Wav:
      break;
  }
  return {"wav", "pcm_s16le", 0};
}

// The source's own rate where the encoder takes it, otherwise the nearest above it (or the
// highest there is): nothing is thrown away that the source had.
int rateFor(const AVCodec* encoder, int wanted) {
  const int* rates = encoder->supported_samplerates;
  if (!rates) return wanted;
  int above = 0, highest = 0;
  for (; *rates; ++rates) {
    if (*rates == wanted) return wanted;
    if (*rates > wanted && (above == 0 || *rates < above)) above = *rates;
    highest = std::max(highest, *rates);
  }
  return above ? above : highest;
}

QString clockText(int64_t ms) {
  return QTime::fromMSecsSinceStartOfDay(0).addMSecs(int(ms % 86400000)).toString(QStringLiteral("HH:mm:ss.zzz"));
}

class Exporter {
 public:
  Exporter(const ExportJob& job, const std::function<void(int)>& progress, const std::atomic<bool>& cancel)
      : job_(job), progress_(progress), cancel_(cancel) {}

  bool run() {
    openInput();
    openOutput();
    if (!pump()) return false;
    finish();
    return true;
  }

 private:
  [[noreturn]] void fail(const QString& what, int error) const {
    throw RecordingError(FailureCause::Other, job_.target, QStringLiteral("%1: %2").arg(what, avErrorText(error)));
  }
  void check(int result, const char* what) const {
    if (result < 0) fail(QString::fromUtf8(what), result);
  }

  void openInput() {
    AVFormatContext* opened = nullptr;
    check(avformat_open_input(&opened, QFile::encodeName(job_.source).constData(), nullptr, nullptr),
          "Opening the recording");
    input_.reset(opened);
    check(avformat_find_stream_info(input_.get(), nullptr), "Reading the recording's streams");
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    check(stream_, "Finding the sound");
    for (unsigned i = 0; i < input_->nb_streams; ++i)
      if (int(i) != stream_) input_->streams[i]->discard = AVDISCARD_ALL;
    const AVStream* stream = input_->streams[stream_];
    decoder_.reset(avcodec_alloc_context3(decoder));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!decoder_ || !packet_ || !frame_) fail(QStringLiteral("Making the decoder"), AVERROR(ENOMEM));
    check(avcodec_parameters_to_context(decoder_.get(), stream->codecpar), "Preparing the decoder");
    check(avcodec_open2(decoder_.get(), decoder, nullptr), "Opening the decoder");
    if (decoder_->sample_rate <= 0) fail(QStringLiteral("Reading the sample rate"), AVERROR_INVALIDDATA);
    origin_ = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int64_t lengthMs = input_->duration > 0 ? av_rescale(input_->duration, 1000, AV_TIME_BASE) : 0;
    fromMs_ = std::max<int64_t>(job_.fromMs, 0);
    toMs_ = job_.toMs >= 0 ? job_.toMs : lengthMs;
    if (lengthMs > 0) toMs_ = std::min(toMs_, lengthMs);
    fromSample_ = av_rescale(fromMs_, decoder_->sample_rate, 1000);
    toSample_ = job_.toMs >= 0 ? av_rescale(job_.toMs, decoder_->sample_rate, 1000) : INT64_MAX;
  }

  void openOutput() {
    const Target target = targetOf(job_.format);
    AVFormatContext* made = nullptr;
    check(avformat_alloc_output_context2(&made, nullptr, target.muxer, QFile::encodeName(job_.target).constData()),
          "Preparing the file");
    output_.reset(made);
    const AVCodec* encoder = avcodec_find_encoder_by_name(target.encoder);
    if (!encoder)
      throw RecordingError(FailureCause::Component, job_.target,
                           QStringLiteral("This FFmpeg lacks the encoder %1.").arg(QString::fromLatin1(target.encoder)));
    encoder_.reset(avcodec_alloc_context3(encoder));
    if (!encoder_) fail(QStringLiteral("Making the encoder"), AVERROR(ENOMEM));
    const int channels = std::clamp(decoder_->ch_layout.nb_channels, 1, 2);
    av_channel_layout_default(&encoder_->ch_layout, channels);
    encoder_->sample_rate = rateFor(encoder, decoder_->sample_rate);
    encoder_->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    if (target.speechBitRate) encoder_->bit_rate = job_.bitRate > 0 ? job_.bitRate : target.speechBitRate * channels;
    encoder_->time_base = AVRational{1, encoder_->sample_rate};
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(encoder_.get(), encoder, nullptr), "Opening the encoder");
    frameSize_ = (encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || encoder_->frame_size <= 0
                     ? 4096
                     : encoder_->frame_size;
    smallLastFrame_ = (encoder->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) ||
                      encoder_->frame_size <= 0;

    AVStream* stream = avformat_new_stream(output_.get(), nullptr);
    if (!stream) fail(QStringLiteral("Preparing the file"), AVERROR(ENOMEM));
    check(avcodec_parameters_from_context(stream->codecpar, encoder_.get()), "Preparing the file");
    stream->time_base = encoder_->time_base;

    if (!job_.title.isEmpty()) av_dict_set(&output_->metadata, "title", job_.title.toUtf8().constData(), 0);
    if (!job_.began.isEmpty()) {
      av_dict_set(&output_->metadata, "date", job_.began.left(10).toUtf8().constData(), 0);
      av_dict_set(&output_->metadata, "creation_time", job_.began.toUtf8().constData(), 0);
    }
    addChapters();
    // Ogg keeps its comments (the title, the marks of FLAC's kind) with the stream.
    if (job_.format == ExportFormat::Opus) av_dict_copy(&stream->metadata, output_->metadata, 0);

    if (!(output_->oformat->flags & AVFMT_NOFILE))
      check(avio_open(&output_->pb, QFile::encodeName(job_.target).constData(), AVIO_FLAG_WRITE), "Creating the file");
    check(avformat_write_header(output_.get(), nullptr), "Writing the file's header");

    SwrContext* resampler = nullptr;
    check(swr_alloc_set_opts2(&resampler, &encoder_->ch_layout, encoder_->sample_fmt, encoder_->sample_rate,
                              &decoder_->ch_layout, decoder_->sample_fmt, decoder_->sample_rate, 0, nullptr),
          "Preparing the resampler");
    resampler_.reset(resampler);
    check(swr_init(resampler_.get()), "Preparing the resampler");
    fifo_.reset(av_audio_fifo_alloc(encoder_->sample_fmt, channels, frameSize_ * 2));
    outFrame_.reset(av_frame_alloc());
    outPacket_.reset(av_packet_alloc());
    if (!fifo_ || !outFrame_ || !outPacket_) fail(QStringLiteral("Preparing the encoder"), AVERROR(ENOMEM));
  }

  // The marks inside the stretch, from its start. FLAC keeps them as the comments players
  // read (CHAPTER001=00:01:02.000, CHAPTER001NAME=...); the other muxers write chapters.
  void addChapters() {
    QList<ExportJob::Chapter> inside;
    for (const ExportJob::Chapter& c : job_.chapters)
      if (c.ms >= fromMs_ && (toMs_ <= 0 || c.ms < toMs_)) inside << ExportJob::Chapter{c.ms - fromMs_, c.name};
    std::sort(inside.begin(), inside.end(), [](const auto& a, const auto& b) { return a.ms < b.ms; });
    // MP4's chapters are a track of their own whose first entry players take to begin at
    // the start, whatever time it has: what comes before the first mark is a chapter too,
    // named after the recording.
    if (job_.format == ExportFormat::M4a && !inside.isEmpty() && inside.first().ms > 0)
      inside.prepend({0, job_.title.isEmpty() ? QStringLiteral("-") : job_.title});
    const int64_t length = toMs_ > fromMs_ ? toMs_ - fromMs_ : 0;
    for (int i = 0; i < inside.size(); ++i) {
      const QByteArray name = inside[i].name.toUtf8();
      if (job_.format == ExportFormat::Flac) {
        const QByteArray key = QStringLiteral("CHAPTER%1").arg(i + 1, 3, 10, QLatin1Char('0')).toLatin1();
        av_dict_set(&output_->metadata, key.constData(), clockText(inside[i].ms).toLatin1().constData(), 0);
        av_dict_set(&output_->metadata, (key + "NAME").constData(), name.constData(), 0);
        continue;
      }
      auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
      if (!chapter) fail(QStringLiteral("Writing the marks"), AVERROR(ENOMEM));
      chapter->id = i + 1;
      chapter->time_base = AVRational{1, 1000};
      chapter->start = inside[i].ms;
      chapter->end = i + 1 < inside.size() ? inside[i + 1].ms : std::max(length, inside[i].ms + 1);
      av_dict_set(&chapter->metadata, "title", name.constData(), 0);
      int count = int(output_->nb_chapters);
      const int added = av_dynarray_add_nofree(&output_->chapters, &count, chapter);
      output_->nb_chapters = unsigned(count);
      if (added < 0) {
        av_dict_free(&chapter->metadata);
        av_free(chapter);
        fail(QStringLiteral("Writing the marks"), AVERROR(ENOMEM));
      }
    }
  }

  bool nextFrame() {
    for (;;) {
      int r = avcodec_receive_frame(decoder_.get(), frame_.get());
      if (r == 0) return true;
      if (r == AVERROR_EOF) return false;
      if (r != AVERROR(EAGAIN)) fail(QStringLiteral("Decoding"), r);
      if (flushed_) return false;
      r = av_read_frame(input_.get(), packet_.get());
      if (r == AVERROR_EOF || r == AVERROR(EIO) || r == AVERROR_INVALIDDATA) {
        flushed_ = true;  // a file cut short ends so
        avcodec_send_packet(decoder_.get(), nullptr);
        continue;
      }
      check(r, "Reading the recording");
      if (packet_->stream_index == stream_) {
        r = avcodec_send_packet(decoder_.get(), packet_.get());
        if (r < 0 && r != AVERROR_INVALIDDATA && r != AVERROR(EAGAIN)) fail(QStringLiteral("Decoding"), r);
      }
      av_packet_unref(packet_.get());
    }
  }

  // Decodes from a little before the stretch, keeps the samples inside it, and encodes.
  bool pump() {
    const int rate = decoder_->sample_rate;
    bool placing = fromSample_ > 0;
    if (placing) {
      const int64_t seekTo = std::max<int64_t>(fromSample_ - rate, 0);
      check(av_seek_frame(input_.get(), stream_,
                          origin_ + av_rescale_q(seekTo, AVRational{1, rate}, input_->streams[stream_]->time_base),
                          AVSEEK_FLAG_BACKWARD),
            "Seeking in the recording");
      avcodec_flush_buffers(decoder_.get());
    }
    const AVRational timeBase = input_->streams[stream_]->time_base;
    const int64_t total = toSample_ != INT64_MAX ? toSample_ - fromSample_ : av_rescale(toMs_ - fromMs_, rate, 1000);
    int64_t next = 0;
    while (nextFrame()) {
      if (cancel_.load(std::memory_order_relaxed)) return false;
      const int frames = frame_->nb_samples;
      int64_t at = frame_->best_effort_timestamp != AV_NOPTS_VALUE
                       ? av_rescale_q(frame_->best_effort_timestamp - origin_, timeBase, AVRational{1, rate})
                       : next;
      if (placing) {
        placing = false;
        // Millisecond times (ASF's) are rounded; whole frames from the start are not.
        const int64_t whole = (at + frames / 2) / frames * frames;
        if (std::llabs(whole - at) <= rate / 500 + 1) at = whole;
      } else if (std::llabs(at - next) <= frames / 2) {
        at = next;
      }
      next = at + frames;
      const int64_t from = std::max(at, fromSample_), to = std::min(at + frames, toSample_);
      if (to > from) convert(int(from - at), int(to - from));
      av_frame_unref(frame_.get());
      if (!encodeFull()) return false;
      if (total > 0 && progress_) {
        const int permille = int(std::clamp<int64_t>(std::max<int64_t>(to - fromSample_, 0) * 1000 / total, 0, 1000));
        if (permille != told_) progress_(told_ = permille);
      }
      if (at + frames >= toSample_) break;
    }
    return true;
  }

  // Frames [offset, offset + count) of the decoded frame, into the encoder's format.
  void convert(int offset, int count) {
    const AVFrame& f = *frame_;
    const auto format = AVSampleFormat(f.format);
    const int bytes = av_get_bytes_per_sample(format);
    const int channels = f.ch_layout.nb_channels;
    std::vector<const uint8_t*> in(size_t(std::max(channels, 1)));
    if (av_sample_fmt_is_planar(format)) {
      for (int c = 0; c < channels; ++c) in[size_t(c)] = f.extended_data[c] + ptrdiff_t(offset) * bytes;
    } else {
      in[0] = f.extended_data[0] + ptrdiff_t(offset) * bytes * channels;
    }
    resampleInto(in.data(), count);
  }

  void resampleInto(const uint8_t* const* in, int count) {
    const int room = swr_get_out_samples(resampler_.get(), count);
    if (room <= 0) return;
    uint8_t** planes = nullptr;
    check(av_samples_alloc_array_and_samples(&planes, nullptr, encoder_->ch_layout.nb_channels, room,
                                             encoder_->sample_fmt, 0),
          "Preparing audio buffers");
    std::unique_ptr<uint8_t*, SamplesDeleter> owned(planes);
    const int made = swr_convert(resampler_.get(), planes, room, const_cast<const uint8_t**>(in), count);
    check(made, "Resampling");
    if (made > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes), made) < made)
      fail(QStringLiteral("Buffering the sound"), AVERROR(ENOMEM));
  }

  bool encodeFull() {
    while (av_audio_fifo_size(fifo_.get()) >= frameSize_) {
      if (cancel_.load(std::memory_order_relaxed)) return false;
      encodeFrame(frameSize_);
    }
    return true;
  }

  void encodeFrame(int count) {
    av_frame_unref(outFrame_.get());
    outFrame_->nb_samples = smallLastFrame_ ? count : frameSize_;
    outFrame_->format = encoder_->sample_fmt;
    outFrame_->sample_rate = encoder_->sample_rate;
    check(av_channel_layout_copy(&outFrame_->ch_layout, &encoder_->ch_layout), "Preparing audio buffers");
    check(av_frame_get_buffer(outFrame_.get(), 0), "Preparing audio buffers");
    if (outFrame_->nb_samples > count)  // the encoder takes whole frames only: the rest silent
      av_samples_set_silence(outFrame_->extended_data, 0, outFrame_->nb_samples, encoder_->ch_layout.nb_channels,
                             encoder_->sample_fmt);
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(outFrame_->extended_data), count) < count)
      fail(QStringLiteral("Buffering the sound"), AVERROR(EIO));
    outFrame_->pts = written_;
    written_ += count;
    check(avcodec_send_frame(encoder_.get(), outFrame_.get()), "Encoding");
    drain();
  }

  void drain() {
    for (;;) {
      const int r = avcodec_receive_packet(encoder_.get(), outPacket_.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      check(r, "Encoding");
      av_packet_rescale_ts(outPacket_.get(), encoder_->time_base, output_->streams[0]->time_base);
      outPacket_->stream_index = 0;
      check(av_interleaved_write_frame(output_.get(), outPacket_.get()), "Writing the file");
    }
  }

  void finish() {
    resampleInto(nullptr, 0);  // what the resampler still holds
    encodeFull();
    if (const int left = av_audio_fifo_size(fifo_.get()); left > 0) encodeFrame(left);
    check(avcodec_send_frame(encoder_.get(), nullptr), "Encoding");
    drain();
    check(av_write_trailer(output_.get()), "Completing the file");
    if (output_->pb) check(avio_closep(&output_->pb), "Closing the file");
    if (progress_ && told_ != 1000) progress_(1000);
  }

  const ExportJob& job_;
  const std::function<void(int)>& progress_;
  const std::atomic<bool>& cancel_;
  FormatContextPtr input_;
  CodecContextPtr decoder_;
  PacketPtr packet_;
  FramePtr frame_;
  int stream_ = -1;
  int64_t origin_ = 0;
  int64_t fromMs_ = 0, toMs_ = 0;
  int64_t fromSample_ = 0, toSample_ = INT64_MAX;
  bool flushed_ = false;
  std::unique_ptr<AVFormatContext, OutputDeleter> output_;
  CodecContextPtr encoder_;
  std::unique_ptr<SwrContext, ResamplerDeleter> resampler_;
  std::unique_ptr<AVAudioFifo, FifoDeleter> fifo_;
  FramePtr outFrame_;
  PacketPtr outPacket_;
  int frameSize_ = 4096;
  bool smallLastFrame_ = true;
  int64_t written_ = 0;
  int told_ = -1;
};

}  // namespace

bool FFmpegExport(const ExportJob& job, const std::function<void(int)>& progress, const std::atomic<bool>& cancel) {
  return Exporter(job, progress, cancel).run();
}

}  // namespace tallowen
