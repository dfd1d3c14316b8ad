// The entry point of libtallowen_codec.so: everything of the program that links FFmpeg.
#include "recording/Codec.h"
#include "recording/codec/Export.h"
#include "recording/codec/PeakDecoder.h"
#include "recording/codec/WmaEncoder.h"

namespace tallowen {
namespace {

class FFmpegCodec final : public Codec {
 public:
  QString missingComponents() const override { return FFmpegWmaEncoder::missingComponents(); }

  std::unique_ptr<WmaEncoder> createEncoder(const Profile& profile) override {
    return std::make_unique<FFmpegWmaEncoder>(profile);
  }

  std::unique_ptr<SoundDecoder> openDecoder(const QString& path) override {
    return std::make_unique<FFmpegPeakDecoder>(path);
  }

  bool exportSound(const ExportJob& job, const std::function<void(int)>& progress,
                   const std::atomic<bool>& cancel) override {
    return FFmpegExport(job, progress, cancel);
  }
};

}  // namespace
}  // namespace tallowen

extern "C" __attribute__((visibility("default"))) tallowen::Codec* tallowen_codec_v7() {
  static tallowen::FFmpegCodec codec;
  return &codec;
}
