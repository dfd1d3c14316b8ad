#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

#include "recording/AsfFormat.h"

namespace tallowen {

// What a recording's header tells without decoding a sample: for lists of recordings and
// for the player's marks.
struct AsfInfo {
  int64_t durationMs = 0;  // as the header gives it; 0 for a recording cut short and not mended
  int sampleRate = 0;
  int channels = 0;
  int bitRate = 0;
  QString title;
  QDateTime created;       // when the recording began, as its header says; invalid when it says nothing
  QList<asf::Mark> marks;  // in the order of the header
};

// Reads the header of the file at `path` (never more than its header, never blocking on a
// pipe); nothing when it is not an ASF file or its header is damaged.
std::optional<AsfInfo> ReadAsfInfo(const QString& path);
// The same for a path as the file system spells it, which may not read as a QString.
std::optional<AsfInfo> ReadAsfInfo(const QByteArray& nativePath);
// The same from a header's bytes, for a file read elsewhere.
std::optional<AsfInfo> ParseAsfHeader(const QByteArray& header);

}  // namespace tallowen
