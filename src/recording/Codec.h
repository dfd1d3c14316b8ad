#pragma once
// What the program takes from FFmpeg, behind an interface: the WMA encoder, a decoder
// that tells how loud a file is, and the export into other formats. The code that links FFmpeg is a module of its own
// (libtallowen_codec.so), loaded on first use: FFmpeg brings its many shared libraries with
// it, and the program does not hold them until it records or draws a waveform.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "recording/Profiles.h"

namespace tallowen {

// What a file's header says of the encoded stream (the WAVEFORMATEX of WMA version 2).
struct WmaFormat {
  uint16_t formatTag = 0;
  int channels = 0;
  int sampleRate = 0;
  int bitRate = 0;
  int blockAlign = 0;  // bytes of every encoded block
  int frameSamples = 0;  // samples per channel that each block holds
  QByteArray extradata;
  QString codecName;  // for the header's codec list
};

// One encoded block; `pts` counts samples per channel from the start of the sound, and is
// negative for what the decoder throws away before it.
struct EncodedBlock {
  const uint8_t* data = nullptr;
  int size = 0;
  int64_t pts = 0;
};
// Where encoded blocks go as they fill up: the file's writer.
class BlockSink {
 public:
  virtual void take(const EncodedBlock& block) = 0;

 protected:
  ~BlockSink() = default;
};

// Encodes 32-bit float sound, interleaved, at the profile's rate and channel count.
class WmaEncoder {
 public:
  virtual ~WmaEncoder() = default;
  virtual const WmaFormat& format() const = 0;
  // The blocks that fill up go to `out` before the call returns; throws RecordingError.
  virtual void encode(const float* samples, int frames, BlockSink& out) = 0;
  // The last, partial frame (padded) and whatever the encoder still holds.
  virtual void finish(BlockSink& out) = 0;
};

// Where a decoder puts how loud the sound is: the loudest sample (absolute, of all channels)
// of each block of `sampleRate / 50` frames, counted from the start of the sound.
class PeakSink {
 public:
  // Blocks `first` to `first + count - 1`, in order.
  virtual void takePeaks(int64_t first, const float* peaks, int count) = 0;

 protected:
  ~PeakSink() = default;
};

// Reads a sound file from any point on, for how loud it is. One thread at a time; two
// decoders of one file may run side by side.
class SoundDecoder {
 public:
  virtual ~SoundDecoder() = default;
  // From the file's header; 0 when it does not say.
  virtual int64_t durationMs() const = 0;
  virtual int sampleRate() const = 0;
  // The frames of a block, as LoudnessMeter counts them.
  int blockFrames() const { return sampleRate() / 50 > 0 ? sampleRate() / 50 : 1; }
  // The blocks from `fromBlock` up to `toBlock` (exclusive; -1 for the end of the sound)
  // go to `out`, each once and at its own index, found from the packets' times, so that
  // decoders of two stretches meet without a gap or an overlap. False when `cancel` was set
  // on the way; throws RecordingError with FFmpeg's words when the file cannot be read.
  virtual bool decodePeaks(int64_t fromBlock, int64_t toBlock, PeakSink& out, const std::atomic<bool>& cancel) = 0;
};

// A recording, or a stretch of it, in a format every phone and computer plays.
enum class ExportFormat { Mp3, M4a, Opus, Flac, Wav };

struct ExportJob {
  QString source;
  QString target;  // written as it goes: the caller writes to a temporary name and renames
  ExportFormat format = ExportFormat::Mp3;
  int64_t fromMs = 0;
  int64_t toMs = -1;  // -1 for the end
  int bitRate = 0;    // 0 for what suits speech in that format
  QString title;
  QString began;  // when the recording began, ISO 8601, for the file's date tag
  struct Chapter {
    int64_t ms = 0;  // in the source
    QString name;
  };
  QList<Chapter> chapters;  // those inside the stretch become the file's chapters
};

class Codec {
 public:
  // What this FFmpeg lacks for recording, in words; empty when it has everything.
  virtual QString missingComponents() const = 0;
  // Throws RecordingError.
  virtual std::unique_ptr<WmaEncoder> createEncoder(const Profile& profile) = 0;
  // The first sound stream of a file of any format FFmpeg reads; throws RecordingError.
  virtual std::unique_ptr<SoundDecoder> openDecoder(const QString& path) = 0;
  // Decodes the stretch and encodes it into `job.target`, telling `progress` (0 to 1000)
  // now and then. False when `cancel` was set on the way; throws RecordingError with
  // FFmpeg's words when it cannot be done. Either way the target may be left half written.
  virtual bool exportSound(const ExportJob& job, const std::function<void(int permille)>& progress,
                           const std::atomic<bool>& cancel) = 0;

 protected:
  ~Codec() = default;  // the module keeps it for the life of the process
};

// The module, loaded on first use from any thread; throws RecordingError when it cannot be.
Codec& LoadedCodec();
// The first of these files that loads as the module; throws RecordingError, saying why
// each failed.
Codec& LoadCodecFrom(const QStringList& files);
// Whether the module is there, without loading it: FFmpeg's libraries take some megabytes
// once loaded, which the program does not hold until it records. Throws RecordingError;
// what else can fail of the load is said when a recording starts.
void CheckCodecModule();

}  // namespace tallowen

// The module's one entry point; the version in its name changes with the interface.
#define TALLOWEN_CODEC_ENTRY "tallowen_codec_v7"
