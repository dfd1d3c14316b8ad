#include "support/FileSources.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <memory>
#include <vector>

namespace tallowen::test {

namespace {

struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct SwrFreer {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// A sound file decoded a frame at a time into interleaved float at the wanted format.
class Decoder {
 public:
  Decoder(const QString& path, const SoundFormat& format) : format_(format) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) return;
    demuxer_.reset(fmt);
    if (avformat_find_stream_info(fmt, nullptr) < 0) return;
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream_ < 0 || !codec) return;
    decoder_.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder_.get(), fmt->streams[stream_]->codecpar);
    if (avcodec_open2(decoder_.get(), codec, nullptr) < 0) return;
    AVChannelLayout out;
    av_channel_layout_default(&out, format.channels);
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_FLT, format.sampleRate, &decoder_->ch_layout,
                            decoder_->sample_fmt, decoder_->sample_rate, 0, nullptr) < 0)
      return;
    swr_.reset(swr);
    if (swr_init(swr) < 0) return;
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    ok_ = true;
  }
  bool ok() const { return ok_; }

  // Appends the next decoded stretch to `out`; false at the end of the file.
  bool more(std::vector<float>& out) {
    for (;;) {
      const int r = avcodec_receive_frame(decoder_.get(), frame_.get());
      if (r == 0) {
        convert(const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples, out);
        av_frame_unref(frame_.get());
        return true;
      }
      if (r == AVERROR_EOF) {
        convert(nullptr, 0, out);  // what the resampler still holds
        return false;
      }
      if (av_read_frame(demuxer_.get(), packet_.get()) < 0) {
        avcodec_send_packet(decoder_.get(), nullptr);
        continue;
      }
      if (packet_->stream_index == stream_) avcodec_send_packet(decoder_.get(), packet_.get());
      av_packet_unref(packet_.get());
    }
  }

  void rewind() {
    avcodec_flush_buffers(decoder_.get());
    av_seek_frame(demuxer_.get(), stream_, 0, AVSEEK_FLAG_BACKWARD);
  }

 private:
  void convert(const uint8_t** in, int frames, std::vector<float>& out) {
    const int room = swr_get_out_samples(swr_.get(), frames);
    if (room <= 0) return;
    const size_t at = out.size();
    out.resize(at + size_t(room) * size_t(format_.channels));
    auto* dst = reinterpret_cast<uint8_t*>(out.data() + at);
    const int got = swr_convert(swr_.get(), &dst, room, in, frames);
    out.resize(at + size_t(std::max(got, 0)) * size_t(format_.channels));
  }

  SoundFormat format_;
  std::unique_ptr<AVFormatContext, FormatCloser> demuxer_;
  std::unique_ptr<AVCodecContext, CodecFreer> decoder_;
  std::unique_ptr<SwrContext, SwrFreer> swr_;
  std::unique_ptr<AVPacket, PacketFreer> packet_;
  std::unique_ptr<AVFrame, FrameFreer> frame_;
  int stream_ = -1;
  bool ok_ = false;
};

class FileSource final : public SoundSource {
 public:
  FileSource(FileSources& owner, const SoundFormat& format) : owner_(owner), format_(format) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
  }

  void start() override {
    ++owner_.opened;
    if (owner_.onOpen) owner_.onOpen();
    if (owner_.startDelayMs > 0) QThread::msleep(unsigned(owner_.startDelayMs));
    if (owner_.serverDown) return later([this] { emit lost(SourceLoss::ServerGone, QStringLiteral("down")); });
    decoder_ = std::make_unique<Decoder>(owner_.file, format_);
    if (!decoder_->ok())
      return later([this] {
        emit lost(SourceLoss::NoInput, QStringLiteral("%1 cannot be read.").arg(owner_.file));
      });
    later([this] {
      clock_.start();
      // Real time: a sound card's period of 10 ms. Fast: a burst a turn of the event loop,
      // so that a stop still gets through between bursts.
      timer_.start(owner_.pace == FileSources::Pace::RealTime ? 10 : 0);
      emit ready();
    });
  }

  void setBlock(std::chrono::milliseconds) override {}
  QString description() const override { return QFileInfo(owner_.file).fileName(); }

 private:
  template <typename F>
  void later(F f) {
    QTimer::singleShot(0, this, f);
  }

  void tick() {
    if (owner_.serverDown) {
      timer_.stop();
      emit lost(SourceLoss::ServerGone, QStringLiteral("The test's sound server went away."));
      return;
    }
    const int64_t due = owner_.pace == FileSources::Pace::RealTime
                            ? clock_.nsecsElapsed() / 1000 * format_.sampleRate / 1'000'000
                            : delivered_ + format_.sampleRate;  // about a second a burst
    const bool stalled = owner_.stalled;
    while (delivered_ < due) {
      if (pendingAt_ >= pending_.size()) {
        pending_.clear();
        pendingAt_ = 0;
        const bool more = decoder_->more(pending_);
        if (!pending_.empty()) {
          sinceRewind_ = true;
          continue;
        }
        if (more) continue;
        // The end of the file: from the start again, or the input runs out. A file with no
        // sound at all would otherwise be rewound for ever.
        if (owner_.repeat && sinceRewind_) {
          decoder_->rewind();
          sinceRewind_ = false;
          continue;
        }
        timer_.stop();
        emit lost(SourceLoss::RanOut, QString());
        return;
      }
      const int64_t available = int64_t(pending_.size() - pendingAt_) / format_.channels;
      const int frames = int(std::min(available, due - delivered_));
      // A stalled device hands over nothing; what passes meanwhile is gone.
      if (!stalled) {
        emit audio(pending_.data() + pendingAt_, frames);
        owner_.framesDelivered += frames;
      }
      pendingAt_ += size_t(frames) * size_t(format_.channels);
      delivered_ += frames;
    }
  }

  FileSources& owner_;
  SoundFormat format_;
  std::unique_ptr<Decoder> decoder_;
  std::vector<float> pending_;
  size_t pendingAt_ = 0;
  int64_t delivered_ = 0;
  bool sinceRewind_ = false;  // sound came since the last rewind
  QElapsedTimer clock_;
  QTimer timer_;
};

}  // namespace

std::unique_ptr<SoundSource> FileSources::open(const AudioInput&, const SoundFormat& format) {
  return std::make_unique<FileSource>(*this, format);
}

}  // namespace tallowen::test
