#pragma once

#include <QString>
#include <chrono>
#include <memory>

#include "recording/FFmpegPtr.h"
#include "recording/OutputFile.h"
#include "recording/Profiles.h"

namespace tallowen {

// The five texts of the file's content-description object.
struct DisplayTexts {
  QString title;
  QString author;
  QString copyright;
  QString description;
  QString rating;
};

// The layout of the PCM that a source delivers.
struct PcmFormat {
  int sampleRate = 0;
  int channels = 0;
  AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;  // planar or interleaved
};

struct WriterOptions {
  bool flushEachPacket = false;               // hand each packet to the OS as soon as it is muxed
  std::chrono::milliseconds syncInterval{0};  // 0: sync only when finished
};

// Resamples PCM to the profile, encodes it with wmav2 and muxes it into ASF.
class WmaWriter {
 public:
  // Writes the file's header; throws EncoderError.
  WmaWriter(std::unique_ptr<OutputFile> file, const Profile& profile, const DisplayTexts& texts,
            const PcmFormat& input, const WriterOptions& options);
  ~WmaWriter();

  // `planes` as FFmpeg lays them out for the input format; throws EncoderError.
  void write(const uint8_t* const* planes, int frames);
  // Drains the resampler and encoder, writes the trailer and closes the file; throws.
  void finish();
  // Closes what is on disk without a trailer, after a failure.
  void abandon();

  const QString& path() const { return path_; }
  // Samples per channel handed to the encoder so far, at the profile's rate.
  int64_t samplesEncoded() const { return nextPts_; }

  // Whether the linked FFmpeg has what recording needs; empty when it does.
  static QString missingComponents();

 private:
  bool fillFrame(const uint8_t* const* in, int inFrames);
  void encodeFilledFrame();
  void drainPackets();
  void primeEncoder();

  QString path_;
  std::unique_ptr<OutputFile> file_;
  OutputFormatPtr format_;
  CodecContextPtr codec_;
  SwrPtr swr_;
  FramePtr frame_;
  PacketPtr packet_;
  AVStream* stream_ = nullptr;
  WriterOptions options_;
  int filled_ = 0;  // samples already in frame_
  int64_t nextPts_ = 0;
  bool finished_ = false;
};

}  // namespace tallowen
