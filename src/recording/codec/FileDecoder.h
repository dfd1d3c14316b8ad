#pragma once

#include "recording/Codec.h"
#include "recording/codec/FFmpegPtr.h"

namespace tallowen {

class FileDecoder : public PcmReader {
 public:
  // Opens the file and its first sound stream; throws EncoderError.
  explicit FileDecoder(const QString& path);

  PcmFormat format() const override { return format_; }
  int read(const uint8_t* const** planes) override;
  void rewind() override;

 private:
  InputFormatPtr demuxer_;
  CodecContextPtr decoder_;
  PacketPtr packet_;
  FramePtr frame_;
  int streamIndex_ = -1;
  PcmFormat format_;
};

}  // namespace tallowen
