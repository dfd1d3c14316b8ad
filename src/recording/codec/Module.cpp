// The entry point of libtallowen_codec.so: everything of the program that links FFmpeg.
#include "recording/Codec.h"
#include "recording/codec/WmaEncoder.h"

namespace tallowen {
namespace {

class FFmpegCodec final : public Codec {
 public:
  QString missingComponents() const override { return FFmpegWmaEncoder::missingComponents(); }

  std::unique_ptr<WmaEncoder> createEncoder(const Profile& profile) override {
    return std::make_unique<FFmpegWmaEncoder>(profile);
  }
};

}  // namespace
}  // namespace tallowen

extern "C" __attribute__((visibility("default"))) tallowen::Codec* tallowen_codec_v5() {
  static tallowen::FFmpegCodec codec;
  return &codec;
}
