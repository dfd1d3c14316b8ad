#pragma once
// The parts of the ASF container that the recorder writes, mends and reads: object GUIDs,
// the fixed layouts, and little-endian fields.

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <optional>
#include <vector>
#include <cstdint>
#include <cstring>

namespace tallowen::asf {

using Guid = std::array<uint8_t, 16>;

// GUIDs as ASF stores them: the first three fields little-endian.
constexpr Guid guid(uint32_t a, uint16_t b, uint16_t c, std::array<uint8_t, 8> d) {
  return {uint8_t(a), uint8_t(a >> 8), uint8_t(a >> 16), uint8_t(a >> 24), uint8_t(b), uint8_t(b >> 8),
          uint8_t(c), uint8_t(c >> 8), d[0],           d[1],           d[2],       d[3],
          d[4],       d[5],           d[6],           d[7]};
}

inline constexpr Guid kHeaderObject =
    guid(0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
inline constexpr Guid kDataObject =
    guid(0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
inline constexpr Guid kFileProperties =
    guid(0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline constexpr Guid kStreamProperties =
    guid(0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline constexpr Guid kHeaderExtension =
    guid(0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline constexpr Guid kHeaderExtensionReserved =
    guid(0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline constexpr Guid kContentDescription =
    guid(0x75B22633, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
inline constexpr Guid kCodecList =
    guid(0x86D15240, 0x311D, 0x11D0, {0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6});
inline constexpr Guid kCodecListReserved =
    guid(0x86D15241, 0x311D, 0x11D0, {0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6});
inline constexpr Guid kMarker =
    guid(0xF487CD01, 0xA951, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline constexpr Guid kMarkerReserved =
    guid(0x4CFEDB20, 0x75F6, 0x11CF, {0x9C, 0x0F, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB});
inline constexpr Guid kPadding =
    guid(0x1806D474, 0xCADF, 0x4509, {0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8});
inline constexpr Guid kAudioMedia =
    guid(0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});
inline constexpr Guid kAudioSpread =
    guid(0xBFC3CD50, 0x618F, 0x11CF, {0x8B, 0xB2, 0x00, 0xAA, 0x00, 0xB4, 0xE2, 0x20});
// The objects that may follow the data: the indexes.
inline constexpr Guid kTrailingObjects[] = {
    guid(0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}),  // simple index
    guid(0xD6E229D3, 0x35DA, 0x11D1, {0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE}),  // index
    guid(0xFEB103F8, 0x12AD, 0x4C64, {0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C}),  // media object index
    guid(0x3CB73FD0, 0x0C4A, 0x4803, {0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C}),  // timecode index
};

inline constexpr uint64_t kObjectHeaderSize = 24;  // GUID and 64-bit size
inline constexpr uint64_t kHeaderObjectSize = 30;  // ... and object count, two reserved bytes
inline constexpr uint64_t kDataObjectSize = 50;    // ... file id, packet count, two reserved bytes
inline constexpr uint64_t kFilePropertiesSize = 104;
// 1970-01-01 in the 100-ns units since 1601 that ASF dates count.
inline constexpr uint64_t kUnixEpochIn1601Units = 116444736000000000ull;
// Offsets inside the File Properties Object.
inline constexpr int kFpFileSize = 40, kFpCreationDate = 48, kFpPackets = 56, kFpPlayDuration = 64, kFpSendDuration = 72,
                     kFpPreroll = 80, kFpFlags = 88, kFpMinPacket = 92, kFpMaxPacket = 96, kFpBitRate = 100;
// Offsets inside the Data Object.
inline constexpr int kDoSize = 16, kDoPackets = 40;
// Where a Stream Properties Object's type-specific data (WAVEFORMATEX for audio) starts.
inline constexpr uint64_t kSpTypeData = 78;
// A Marker Object without markers: GUID, size, reserved GUID, count, reserved, name length.
inline constexpr uint64_t kMarkerObjectSize = 48;

// Players buffer this much before they start; times in packets include it.
inline constexpr int64_t kPrerollMs = 3100;

// What every reader of a header takes at most. A header larger than this is no
// recording's (ours are some ten kilobytes; a music file with its pictures a few
// megabytes), and no player buffers a day: a larger preroll is a damaged header, and
// would overflow once turned into 100-ns units.
inline constexpr uint64_t kMaxHeaderBytes = 16 << 20;
inline constexpr uint64_t kMaxPrerollMs = 24ull * 3600 * 1000;

inline uint64_t le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

inline void putLe(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

inline bool isGuid(const uint8_t* p, const Guid& g) { return std::memcmp(p, g.data(), g.size()) == 0; }

// Appends little-endian fields to a byte array.
class Bytes {
 public:
  Bytes& u8(uint64_t v) { return put(v, 1); }
  Bytes& u16(uint64_t v) { return put(v, 2); }
  Bytes& u32(uint64_t v) { return put(v, 4); }
  Bytes& u64(uint64_t v) { return put(v, 8); }
  Bytes& guid(const Guid& g) {
    data_.append(reinterpret_cast<const char*>(g.data()), qsizetype(g.size()));
    return *this;
  }
  Bytes& raw(const QByteArray& bytes) {
    data_.append(bytes);
    return *this;
  }
  Bytes& zeros(qsizetype n) {
    data_.append(n, '\0');
    return *this;
  }
  // An object: its GUID, then its size once the body is known.
  Bytes& object(const Guid& g, const QByteArray& body) {
    return guid(g).u64(kObjectHeaderSize + uint64_t(body.size())).raw(body);
  }
  const QByteArray& data() const { return data_; }
  qsizetype size() const { return data_.size(); }

 private:
  Bytes& put(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) data_.append(char(uint8_t(v >> (8 * i))));
    return *this;
  }
  QByteArray data_;
};

// The header's size from its first kHeaderObjectSize bytes; nothing when they do not
// begin an ASF header within the limits.
std::optional<uint64_t> HeaderSize(const uint8_t* top);

// One top-level object of a header: where it starts in the header, and its size.
struct HeaderObject {
  const uint8_t* data = nullptr;
  uint64_t at = 0;
  uint64_t size = 0;
  bool is(const Guid& g) const { return isGuid(data, g); }
};
// The objects of a whole header of `size` bytes (HeaderSize's), in order; nothing when one
// of them does not fit. Each size is checked against what is left of the header before it
// is added, so that no sum can overflow.
std::optional<std::vector<HeaderObject>> HeaderObjects(const uint8_t* header, uint64_t size);

// Text as the header keeps it: UTF-16LE with its terminating NUL.
QByteArray Utf16z(const QString& text);

// One index mark: where it is (ms from the start of the sound), its name, and the byte
// offset into the Data Object of the packet that holds that moment.
struct Mark {
  int64_t ms = 0;
  QString name;
  uint64_t dataOffset = 0;
  bool operator==(const Mark&) const = default;
};

// The Marker Object holding these marks.
QByteArray MarkerObject(const QList<Mark>& marks);
// A Padding Object of exactly `size` bytes (at least the 24 of its own header).
QByteArray PaddingObject(uint64_t size);

}  // namespace tallowen::asf
