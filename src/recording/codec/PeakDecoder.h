#pragma once

#include <vector>

#include "recording/Codec.h"
#include "recording/codec/FFmpegPtr.h"

namespace tallowen {

// A file's first sound stream through libavformat and libavcodec, measured block by block
// straight from the decoder's frames (planar or interleaved, integer or float), without
// converting them first.
class FFmpegPeakDecoder final : public SoundDecoder {
 public:
  // Throws RecordingError.
  explicit FFmpegPeakDecoder(const QString& path);

  int64_t durationMs() const override { return durationMs_; }
  int sampleRate() const override { return codec_->sample_rate; }
  bool decodePeaks(int64_t fromBlock, int64_t toBlock, PeakSink& out, const std::atomic<bool>& cancel) override;

 private:
  [[noreturn]] void fail(const QString& what, int error) const;
  // The next decoded frame into frame_; false at the end of the stream.
  bool nextFrame();
  // The time of the first frame, which is where the sound starts.
  void findOrigin();
  void seekTo(int64_t sample);
  // Where frame_ begins, in frames from the start of the sound; INT64_MIN when untimed.
  int64_t positionOf(const AVFrame& frame) const;
  // The loudest sample of frames [from, from + count) of frame_.
  float peakOf(int from, int count) const;

  QString path_;
  FormatContextPtr format_;
  CodecContextPtr codec_;
  PacketPtr packet_;
  FramePtr frame_;
  int stream_ = -1;
  AVRational timeBase_{1, 1000};
  int64_t durationMs_ = 0;
  int64_t originPts_ = 0;
  bool originKnown_ = false;
  bool read_ = false;       // anything was read since the file opened or was rewound
  bool flushed_ = false;    // the decoder was told the stream ended
  bool haveFrame_ = false;  // frame_ holds a frame not yet measured
};

}  // namespace tallowen
