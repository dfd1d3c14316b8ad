#pragma once
// RAII owners for the FFmpeg objects the encoder and the decoder use; every av_*_alloc
// result goes straight into one of these.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <QString>
#include <memory>

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

struct FormatContextDeleter {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
// An input opened with avformat_open_input.
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;

// FFmpeg's own text for an error code, for messages that name what failed.
QString avErrorText(int error);

}  // namespace tallowen
