#include "recording/codec/FFmpegPtr.h"

namespace tallowen {

QString avErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return QString::fromUtf8(text);
}

}  // namespace tallowen
