// The entry point of libtallowen_codec.so: everything of the program that links FFmpeg.
#include "recording/Codec.h"
#include "recording/codec/FileDecoder.h"
#include "recording/codec/WmaWriter.h"

namespace tallowen {
namespace {

class FFmpegCodec final : public Codec {
 public:
  QString missingComponents() const override { return WmaWriter::missingComponents(); }

  std::unique_ptr<PcmWriter> createWriter(std::unique_ptr<ByteSink> file, const Profile& profile,
                                          const DisplayTexts& texts, const PcmFormat& input,
                                          const WriterOptions& options) override {
    return std::make_unique<WmaWriter>(std::move(file), profile, texts, input, options);
  }

  std::unique_ptr<PcmReader> openFile(const QString& path) override {
    return std::make_unique<FileDecoder>(path);
  }
};

}  // namespace
}  // namespace tallowen

extern "C" __attribute__((visibility("default"))) tallowen::Codec* tallowen_codec_v3() {
  static tallowen::FFmpegCodec codec;
  return &codec;
}
