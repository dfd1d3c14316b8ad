#include "recording/Codec.h"

#include <dlfcn.h>

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <mutex>

#include "platform/ApplicationFolder.h"
#include "recording/RecordingFailure.h"

namespace tallowen {

namespace {

const char kModuleFile[] = "libtallowen_codec.so";

std::mutex loadLock;
Codec* loaded = nullptr;

// In the program's own folder, where the build and the install put it, and nowhere else:
// a folder compiled in from the build could be anybody's by the time the program runs.
QStringList candidates() {
  const QString file = CodecModulePath();
  if (file.isEmpty()) return {};
  return {file};
}

}  // namespace

Codec& LoadCodecFrom(const QStringList& files) {
  QStringList failures;
  for (const QString& file : files) {
    if (!QFileInfo::exists(file)) continue;
    void* module = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      failures << QString::fromLocal8Bit(dlerror());
      continue;
    }
    using Entry = Codec* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(module, TALLOWEN_CODEC_ENTRY));
    if (!entry) {
      failures
          << QStringLiteral("%1 is of another version of the program.").arg(QDir::toNativeSeparators(file));
      dlclose(module);
      continue;
    }
    return *entry();  // stays loaded for the life of the process
  }
  if (failures.isEmpty())
    failures << QStringLiteral("%1 is missing beside the program.").arg(QLatin1String(kModuleFile));
  throw RecordingError(
      FailureCause::Component, QString(),
      QStringLiteral("The recording component cannot be loaded: %1").arg(failures.join(QLatin1Char(' '))));
}

Codec& LoadedCodec() {
  std::lock_guard<std::mutex> lock(loadLock);
  if (!loaded) loaded = &LoadCodecFrom(candidates());  // a failure is tried again at the next use
  return *loaded;
}

void CheckCodecModule() {
  {
    std::lock_guard<std::mutex> lock(loadLock);
    if (loaded) return;
  }
  for (const QString& file : candidates())
    if (QFileInfo(file).isFile()) return;
  throw RecordingError(FailureCause::Component, QString(),
                     QStringLiteral("The recording component cannot be loaded: %1 is missing beside the program.")
                         .arg(QLatin1String(kModuleFile)));
}

}  // namespace tallowen
