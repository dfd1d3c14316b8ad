#pragma once
// What recording takes from FFmpeg, behind an interface. The code that links FFmpeg is a
// module of its own (libtallowen_codec.so), loaded on first use: FFmpeg brings about a
// hundred shared libraries with it, and loading them would double the program's start-up.

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <memory>

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

// The type of one sample of PCM.
enum class SampleType { None, U8, S16, S32, Float, Double };

// The layout of the PCM that a source delivers: interleaved in one plane, or a plane a
// channel.
struct PcmFormat {
  int sampleRate = 0;
  int channels = 0;
  SampleType sampleType = SampleType::None;
  bool planar = false;
};

struct WriterOptions {
  bool flushEachPacket = false;               // hand each packet to the OS as soon as it is muxed
  std::chrono::milliseconds syncInterval{0};  // 0: sync only when finished
};

// Where the muxer's bytes go: the recording's file, opened by the program itself.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual const QString& path() const = 0;
  // Returns `size`, or a negative errno.
  virtual int write(const uint8_t* data, int size) = 0;
  // `whence` is SEEK_SET, SEEK_CUR or SEEK_END; returns the new position or a negative errno.
  virtual int64_t seek(int64_t offset, int whence) = 0;
  virtual int64_t size() = 0;
  // Why the last write failed, in words; empty while every write succeeded.
  virtual QString writeError() const = 0;
  // Asks the operating system to put what was written on the disk; throws EncoderError.
  virtual void syncToDisk() = 0;
  virtual void close() = 0;
};

// Resamples PCM to the profile, encodes it with wmav2 and muxes it into ASF.
class PcmWriter {
 public:
  virtual ~PcmWriter() = default;
  // `planes` as FFmpeg lays them out for the input format; throws EncoderError.
  virtual void write(const uint8_t* const* planes, int frames) = 0;
  // Drains the resampler and encoder, writes the trailer, syncs and closes the file; throws.
  virtual void finish() = 0;
  // Closes what is on disk without a trailer, after a failure.
  virtual void abandon() = 0;
  // Samples per channel handed to the encoder so far, at the profile's rate.
  virtual int64_t samplesEncoded() const = 0;
};

// The decoded sound of an audio file, a frame at a time.
class PcmReader {
 public:
  virtual ~PcmReader() = default;
  virtual PcmFormat format() const = 0;
  // The next frame's sample count, its planes valid until the next call; 0 at the end of
  // the file, -1 where the file can no longer be decoded.
  virtual int read(const uint8_t* const** planes) = 0;
  virtual void rewind() = 0;
};

class Codec {
 public:
  // What this FFmpeg lacks for recording, in words; empty when it has everything.
  virtual QString missingComponents() const = 0;
  // Writes the file's header; throws EncoderError.
  virtual std::unique_ptr<PcmWriter> createWriter(std::unique_ptr<ByteSink> file, const Profile& profile,
                                                  const DisplayTexts& texts, const PcmFormat& input,
                                                  const WriterOptions& options) = 0;
  // Opens anything FFmpeg reads that holds sound; throws EncoderError.
  virtual std::unique_ptr<PcmReader> openFile(const QString& path) = 0;

 protected:
  ~Codec() = default;  // the module keeps it for the life of the process
};

// The module, loaded on first use from any thread; throws EncoderError when it cannot be.
Codec& LoadedCodec();
// The first of these files that loads as the module; throws EncoderError, saying why each
// failed.
Codec& LoadCodecFrom(const QStringList& files);
// Where the module is for a test or benchmark program that does not stand beside it; the
// program itself never asks for this.
void SetCodecModuleForTesting(const QString& file);
// Whether the module is there, without loading it: FFmpeg's hundred libraries take some
// 15 MB once loaded, which the program does not hold until it records. Throws EncoderError;
// what else can fail of the load is said when a recording starts.
void CheckCodecModule();

}  // namespace tallowen

// The module's one entry point; the version in its name changes with the interface.
#define TALLOWEN_CODEC_ENTRY "tallowen_codec_v3"
