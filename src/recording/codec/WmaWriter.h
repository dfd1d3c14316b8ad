#pragma once

#include <QString>
#include <chrono>
#include <memory>

#include "recording/Codec.h"
#include "recording/codec/FFmpegPtr.h"

namespace tallowen {

class WmaWriter : public PcmWriter {
 public:
  // Writes the file's header; throws EncoderError.
  WmaWriter(std::unique_ptr<ByteSink> file, const Profile& profile, const DisplayTexts& texts,
            const PcmFormat& input, const WriterOptions& options);
  ~WmaWriter() override;

  void write(const uint8_t* const* planes, int frames) override;
  void finish() override;
  void abandon() override;
  int64_t samplesEncoded() const override { return nextPts_; }

  static QString missingComponents();

 private:
  static int writePacket(void* opaque, uint8_t* data, int size);
  static int64_t seek(void* opaque, int64_t offset, int whence);
  bool fillFrame(const uint8_t* const* in, int inFrames);
  void encodeFilledFrame();
  void drainPackets();
  void primeEncoder();
  // The muxer's buffered bytes to the file; throws when a write failed.
  void flush();
  void sync();
  void throwIfWriteFailed();
  void closeFile();

  QString path_;
  std::unique_ptr<ByteSink> file_;
  IOContextPtr io_;
  OutputFormatPtr format_;
  CodecContextPtr codec_;
  SwrPtr swr_;
  FramePtr frame_;
  PacketPtr packet_;
  AVStream* stream_ = nullptr;
  WriterOptions options_;
  std::chrono::steady_clock::time_point lastSync_;
  int filled_ = 0;  // samples already in frame_
  int64_t nextPts_ = 0;
  bool finished_ = false;
};

}  // namespace tallowen
