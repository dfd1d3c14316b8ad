#include "recording/AsfReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <climits>

namespace tallowen {

using namespace asf;

namespace {

// The last moment a date is shown for: the windows give a year four digits, in any time
// zone (up to 14 hours ahead of UTC).
constexpr uint64_t kLatestDateIn1601Units =
    kUnixEpochIn1601Units + uint64_t(253402214399) * 10'000'000;  // 9999-12-30 23:59:59 UTC

int boundedInt(uint64_t value) { return int(std::min<uint64_t>(value, INT_MAX)); }

QString utf16(const uint8_t* p, uint64_t bytes) {
  QString text;
  for (uint64_t i = 0; i + 1 < bytes; i += 2) {
    const char16_t c = char16_t(p[i] | (p[i + 1] << 8));
    if (c == 0) break;
    text.append(QChar(c));
  }
  return text;
}

// The markers of a Marker Object's body; nothing when a field runs past its end.
std::optional<QList<Mark>> readMarkers(const uint8_t* p, uint64_t size, int64_t prerollMs) {
  if (size < 24) return std::nullopt;
  const uint64_t count = le(p + 16, 4);
  const uint64_t nameLength = le(p + 22, 2);
  uint64_t at = 24 + nameLength;
  QList<Mark> marks;
  for (uint64_t i = 0; i < count; ++i) {
    if (at > size || size - at < 18) return std::nullopt;
    Mark m;
    m.dataOffset = le(p + at, 8);
    const uint64_t time = le(p + at + 8, 8);
    const uint64_t entry = le(p + at + 16, 2);
    if (entry < 12 || size - at - 18 < entry) return std::nullopt;
    const uint64_t chars = le(p + at + 26, 4);
    if (chars * 2 > entry - 12) return std::nullopt;
    m.ms = std::max<int64_t>(int64_t(time / 10000) - prerollMs, 0);
    m.name = utf16(p + at + 30, chars * 2);
    marks.append(m);
    at += 18 + entry;
  }
  return marks;
}

}  // namespace

std::optional<AsfInfo> ParseAsfHeader(const QByteArray& bytes) {
  const auto* h = reinterpret_cast<const uint8_t*>(bytes.constData());
  const auto length = uint64_t(bytes.size());
  if (length < kHeaderObjectSize) return std::nullopt;
  const std::optional<uint64_t> headerSize = HeaderSize(h);
  if (!headerSize || *headerSize > length) return std::nullopt;
  const std::optional<std::vector<HeaderObject>> objects = HeaderObjects(h, *headerSize);
  if (!objects) return std::nullopt;
  AsfInfo info;
  int64_t prerollMs = 0;
  uint64_t playDuration = 0;
  bool properties = false;
  // Markers come after the file properties they are timed by, but a file of another
  // program may have them before: they are read once the whole header has been seen.
  const uint8_t* marker = nullptr;
  uint64_t markerSize = 0;
  for (const HeaderObject& object : *objects) {
    const uint8_t* o = object.data;
    const uint64_t size = object.size;
    if (object.is(kFileProperties) && size >= kFilePropertiesSize) {
      properties = true;
      playDuration = le(o + kFpPlayDuration, 8);
      // 100-ns units since 1601; what comes before 1970 is no date a recorder writes, and
      // what comes after 9999 is no date at all.
      if (const uint64_t since1601 = le(o + kFpCreationDate, 8);
          since1601 > kUnixEpochIn1601Units && since1601 <= kLatestDateIn1601Units)
        info.created = QDateTime::fromMSecsSinceEpoch(int64_t((since1601 - kUnixEpochIn1601Units) / 10000), Qt::UTC);
      const uint64_t preroll = le(o + kFpPreroll, 8);
      if (preroll > kMaxPrerollMs) return std::nullopt;
      prerollMs = int64_t(preroll);
    } else if (object.is(kStreamProperties) && size >= kSpTypeData + 16 && info.sampleRate == 0 &&
               isGuid(o + kObjectHeaderSize, kAudioMedia)) {
      info.channels = int(le(o + kSpTypeData + 2, 2));
      info.sampleRate = boundedInt(le(o + kSpTypeData + 4, 4));
      info.bitRate = boundedInt(le(o + kSpTypeData + 8, 4) * 8);
    } else if (object.is(kContentDescription) && size >= kObjectHeaderSize + 10) {
      const uint64_t titleBytes = le(o + kObjectHeaderSize, 2);
      uint64_t lengths = 0;
      for (int f = 0; f < 5; ++f) lengths += le(o + kObjectHeaderSize + 2 * f, 2);
      if (kObjectHeaderSize + 10 + lengths <= size) info.title = utf16(o + kObjectHeaderSize + 10, titleBytes);
    } else if (object.is(kMarker)) {
      marker = o + kObjectHeaderSize;
      markerSize = size - kObjectHeaderSize;
    }
  }
  if (!properties) return std::nullopt;
  const int64_t playMs = int64_t(playDuration / 10000);
  info.durationMs = std::max<int64_t>(playMs - prerollMs, 0);
  if (marker) {
    const std::optional<QList<Mark>> marks = readMarkers(marker, markerSize, prerollMs);
    if (!marks) return std::nullopt;
    info.marks = *marks;
  }
  return info;
}

std::optional<AsfInfo> ReadAsfInfo(const QString& path) { return ReadAsfInfo(QFile::encodeName(path)); }

std::optional<AsfInfo> ReadAsfInfo(const QByteArray& nativePath) {
  const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  QByteArray bytes;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    uint8_t top[kHeaderObjectSize];
    if (::pread(fd, top, sizeof top, 0) == ssize_t(sizeof top))
      if (const std::optional<uint64_t> size = HeaderSize(top); size && *size <= uint64_t(st.st_size)) {
        bytes.resize(qsizetype(*size));
        if (::pread(fd, bytes.data(), size_t(*size), 0) != ssize_t(*size)) bytes.clear();
      }
  }
  ::close(fd);
  return bytes.isEmpty() ? std::nullopt : ParseAsfHeader(bytes);
}

}  // namespace tallowen
