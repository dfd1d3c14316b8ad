#include "platform/Trace.h"

#include <QByteArray>
#include <QtGlobal>
#include <chrono>
#include <cstdio>

namespace tallowen {

namespace {

std::FILE* traceFile() {
  static std::FILE* const file = []() -> std::FILE* {
    const QByteArray path = qgetenv("TALLOWEN_TRACE");
    return path.isEmpty() ? nullptr : std::fopen(path.constData(), "a");
  }();
  return file;
}

long long nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TraceMoment(const char* moment) {
  std::FILE* file = traceFile();
  if (!file) return;
  // stdio locks the stream: the capture thread and the window may both write.
  std::fprintf(file, "%lld %s\n", nowNs(), moment);
  std::fflush(file);
}

void TraceMoment(const char* moment, long long value) {
  std::FILE* file = traceFile();
  if (!file) return;
  std::fprintf(file, "%lld %s %lld\n", nowNs(), moment, value);
  std::fflush(file);
}

}  // namespace tallowen
