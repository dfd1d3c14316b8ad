#pragma once
// RAII owners for the FFmpeg objects the recorder uses; every av_*_alloc result goes
// straight into one of these.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <QString>
#include <memory>

#include "recording/Codec.h"

namespace tallowen {

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct SwrDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

// An opened input (demuxer) is closed, not just freed.
struct InputFormatDeleter {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;

// Output contexts use our own AVIOContext, which the owner of the file frees.
struct OutputFormatDeleter {
  void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;

struct IOContextDeleter {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
using IOContextPtr = std::unique_ptr<AVIOContext, IOContextDeleter>;

// FFmpeg's own text for an error code, for messages that name what failed.
QString avErrorText(int error);

// The program's names for sample layouts and FFmpeg's.
AVSampleFormat ToAvSampleFormat(const PcmFormat& format);
PcmFormat FromAvSampleFormat(int sampleRate, int channels, AVSampleFormat format);

}  // namespace tallowen
