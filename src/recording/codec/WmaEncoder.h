#pragma once

#include "recording/Codec.h"
#include "recording/codec/FFmpegPtr.h"

namespace tallowen {

// FFmpeg's wmav2 encoder, fed interleaved float sound.
class FFmpegWmaEncoder final : public WmaEncoder {
 public:
  // Throws RecordingError.
  explicit FFmpegWmaEncoder(const Profile& profile);

  const WmaFormat& format() const override { return format_; }
  void encode(const float* samples, int frames, BlockSink& out) override;
  void finish(BlockSink& out) override;

  static QString missingComponents();

 private:
  void sendFrame(BlockSink& out);
  void drain(BlockSink& out);

  CodecContextPtr codec_;
  FramePtr frame_;
  PacketPtr packet_;
  WmaFormat format_;
  int filled_ = 0;  // samples per channel already in frame_
  int64_t nextPts_ = 0;
  bool finished_ = false;
};

}  // namespace tallowen
