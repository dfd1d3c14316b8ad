// Linked into the test and benchmark programs that record: they do not stand beside the
// recording module, which the program itself loads only from its own folder. The module
// the build made, or the one TALLOWEN_TEST_CODEC names; only these programs read that.
#include <QString>

#include "recording/Codec.h"

namespace {

const bool located = [] {
  const QString named = qEnvironmentVariable("TALLOWEN_TEST_CODEC");
  tallowen::SetCodecModuleForTesting(named.isEmpty() ? QStringLiteral(TALLOWEN_BUILT_CODEC) : named);
  return true;
}();

}  // namespace
