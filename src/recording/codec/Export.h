#pragma once

#include "recording/Codec.h"

namespace tallowen {

// Codec::exportSound, through libavformat's muxers, libavcodec's encoders and
// libswresample.
bool FFmpegExport(const ExportJob& job, const std::function<void(int permille)>& progress,
                  const std::atomic<bool>& cancel);

}  // namespace tallowen
