#include "recording/codec/FFmpegPtr.h"

namespace tallowen {

QString avErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return QString::fromUtf8(text);
}

namespace {

struct Layout {
  SampleType type;
  bool planar;
  AVSampleFormat av;
};
constexpr Layout kLayouts[] = {
    {SampleType::U8, false, AV_SAMPLE_FMT_U8},     {SampleType::S16, false, AV_SAMPLE_FMT_S16},
    {SampleType::S32, false, AV_SAMPLE_FMT_S32},   {SampleType::Float, false, AV_SAMPLE_FMT_FLT},
    {SampleType::Double, false, AV_SAMPLE_FMT_DBL}, {SampleType::U8, true, AV_SAMPLE_FMT_U8P},
    {SampleType::S16, true, AV_SAMPLE_FMT_S16P},   {SampleType::S32, true, AV_SAMPLE_FMT_S32P},
    {SampleType::Float, true, AV_SAMPLE_FMT_FLTP}, {SampleType::Double, true, AV_SAMPLE_FMT_DBLP},
};

}  // namespace

AVSampleFormat ToAvSampleFormat(const PcmFormat& format) {
  for (const Layout& l : kLayouts)
    if (l.type == format.sampleType && l.planar == format.planar) return l.av;
  return AV_SAMPLE_FMT_NONE;
}

PcmFormat FromAvSampleFormat(int sampleRate, int channels, AVSampleFormat format) {
  for (const Layout& l : kLayouts)
    if (l.av == format) return PcmFormat{sampleRate, channels, l.type, l.planar};
  return PcmFormat{sampleRate, channels, SampleType::None, false};
}

}  // namespace tallowen
