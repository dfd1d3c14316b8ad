#include "recording/AsfRepair.h"

#include <QDir>
#include <QFile>
#include <array>
#include <cstring>
#include <optional>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tallowen {

namespace {

using Guid = std::array<uint8_t, 16>;

// GUIDs as ASF stores them: the first three fields little-endian.
constexpr Guid guid(uint32_t a, uint16_t b, uint16_t c, std::array<uint8_t, 8> d) {
  return {uint8_t(a),
          uint8_t(a >> 8),
          uint8_t(a >> 16),
          uint8_t(a >> 24),
          uint8_t(b),
          uint8_t(b >> 8),
          uint8_t(c),
          uint8_t(c >> 8),
          d[0],
          d[1],
          d[2],
          d[3],
          d[4],
          d[5],
          d[6],
          d[7]};
}

constexpr Guid kHeaderObject =
    guid(0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
constexpr Guid kDataObject =
    guid(0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
constexpr Guid kFileProperties =
    guid(0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
constexpr Guid kStreamProperties =
    guid(0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
// The objects that may follow the data: the indexes.
constexpr Guid kTrailingObjects[] = {
    guid(0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}),  // simple index
    guid(0xD6E229D3, 0x35DA, 0x11D1, {0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE}),  // index
    guid(0xFEB103F8, 0x12AD, 0x4C64, {0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C}),  // media object index
    guid(0x3CB73FD0, 0x0C4A, 0x4803, {0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C}),  // timecode index
};

constexpr int kObjectHeaderSize = 24;  // GUID and 64-bit size
constexpr int kHeaderObjectSize = 30;  // ... and object count, two reserved bytes
constexpr int kDataObjectSize = 50;    // ... file id, packet count, two reserved bytes
constexpr int kFilePropertiesSize = 104;
// Offsets inside the File Properties Object.
constexpr int kFpFileSize = 40, kFpPackets = 56, kFpPlayDuration = 64, kFpSendDuration = 72, kFpPreroll = 80,
              kFpMinPacket = 92, kFpMaxPacket = 96;
// Offsets inside the Data Object.
constexpr int kDoSize = 16, kDoPackets = 40;
// Where a Stream Properties Object's type-specific data (WAVEFORMATEX for audio) starts.
constexpr int kSpTypeData = 78;
constexpr int64_t kMaxHeaderBytes = 16 << 20;

uint64_t le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void putLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool isGuid(const uint8_t* p, const Guid& g) { return std::memcmp(p, g.data(), g.size()) == 0; }

// Reads the fields of a data packet; any read past its end marks it damaged.
class PacketReader {
 public:
  PacketReader(const uint8_t* data, int size) : p_(data), size_(size) {}
  bool ok() const { return ok_; }
  int pos() const { return pos_; }
  uint32_t take(int bytes) {
    if (!ok_ || pos_ + bytes > size_) {
      ok_ = false;
      return 0;
    }
    const auto v = uint32_t(le(p_ + pos_, bytes));
    pos_ += bytes;
    return v;
  }
  // A field whose width is given by a two-bit length type: none, byte, word, dword.
  uint32_t takeTyped(int type) {
    static constexpr int widths[] = {0, 1, 2, 4};
    return take(widths[type & 3]);
  }
  void skip(int64_t bytes) {
    if (bytes < 0 || pos_ + bytes > size_) ok_ = false;
    if (ok_) pos_ += int(bytes);
  }

 private:
  const uint8_t* p_;
  int size_;
  int pos_ = 0;
  bool ok_ = true;
};

// The latest presentation time (ms, preroll included) of the packet's payloads, -1 when
// none carries one, or nullopt when the packet is damaged (torn, zeroed, not a packet).
std::optional<int64_t> latestPresentationTime(const uint8_t* data, int size) {
  PacketReader r(data, size);
  uint32_t flags = r.take(1);
  if (flags & 0x80) {  // error correction data first
    if (flags & 0x60) return std::nullopt;
    r.skip(flags & 0x0f);
    flags = r.take(1);
    if (flags & 0x80) return std::nullopt;
  }
  const bool multiple = flags & 0x01;
  const uint32_t properties = r.take(1);
  if (((properties >> 6) & 3) != 1) return std::nullopt;  // stream numbers are one byte
  const uint32_t packetLength = r.takeTyped(flags >> 5);
  r.takeTyped(flags >> 1);  // sequence
  const uint32_t padding = r.takeTyped(flags >> 3);
  r.take(4);  // send time
  r.take(2);  // duration
  if (!r.ok() || packetLength > uint32_t(size) || padding > uint32_t(size)) return std::nullopt;
  const int end = packetLength ? int(packetLength) : size;

  int payloads = 1;
  int lengthType = 0;
  if (multiple) {
    const uint32_t payloadFlags = r.take(1);
    payloads = int(payloadFlags & 0x3f);
    lengthType = int(payloadFlags >> 6);
    if (payloads == 0) return std::nullopt;
  }
  int64_t latest = -1;
  for (int i = 0; i < payloads; ++i) {
    if ((r.take(1) & 0x7f) == 0) return std::nullopt;  // stream number 0 does not exist
    r.takeTyped(properties >> 4);                      // media object number
    const uint32_t offset = r.takeTyped(properties >> 2);
    const uint32_t replicated = r.takeTyped(properties);
    int64_t time = -1;
    int delta = 0;
    if (replicated == 1) {  // compressed payload: the offset field holds the time
      time = offset;
      delta = int(r.take(1));
    } else if (replicated >= 8) {
      r.take(4);  // media object size
      time = r.take(4);
      r.skip(int64_t(replicated) - 8);
    } else {
      r.skip(replicated);
    }
    const int64_t length = multiple ? int64_t(r.takeTyped(lengthType)) : int64_t(end) - r.pos() - padding;
    if (!r.ok() || length < 0 || r.pos() + length > end) return std::nullopt;
    if (replicated == 1) {
      // Sub-payloads, each a size byte and its data, one time delta apart.
      int subs = 0;
      for (int64_t at = 0; at < length; ++subs) at += 1 + data[r.pos() + at];
      if (subs > 0) time += int64_t(delta) * (subs - 1);
    }
    r.skip(length);
    latest = std::max(latest, time);
  }
  if (!r.ok() || r.pos() + (multiple ? int(padding) : 0) > end) return std::nullopt;
  return latest;
}

// Samples per WMA frame, as its decoder derives them from the sample rate; 0 for a codec
// whose frames we do not know.
int wmaFrameSamples(int formatTag, int sampleRate) {
  if (formatTag != 0x160 && formatTag != 0x161) return 0;
  if (sampleRate <= 16000) return 512;
  if (sampleRate <= 22050 || (sampleRate <= 32000 && formatTag == 0x160)) return 1024;
  return 2048;
}

// Whether [from, to) of the file holds nothing but whole index objects.
bool onlyIndexesBetween(QFile& file, int64_t from, int64_t to) {
  while (from < to) {
    uint8_t head[kObjectHeaderSize];
    if (!file.seek(from) || file.read(reinterpret_cast<char*>(head), sizeof head) != sizeof head)
      return false;
    bool known = false;
    for (const Guid& g : kTrailingObjects) known = known || isGuid(head, g);
    const uint64_t size = le(head + 16, 8);
    if (!known || size < kObjectHeaderSize || size > uint64_t(to - from)) return false;
    from += int64_t(size);
  }
  return true;
}

bool syncToDisk(QFile& file) {
  if (!file.flush()) return false;
#ifdef Q_OS_WIN
  return _commit(file.handle()) == 0;
#else
  return ::fsync(file.handle()) == 0;
#endif
}

AsfRepairOutcome failed(const QString& path, const QString& why) {
  AsfRepairOutcome out;
  out.result = AsfRepairOutcome::Result::Failed;
  out.error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
  return out;
}

}  // namespace

AsfRepairOutcome RepairAsfFile(const QString& path) {
  // Read-only until we know there is something to mend: a sound file keeps even its
  // modification time.
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return failed(path, file.errorString());
  const int64_t fileLength = file.size();

  QByteArray header = file.read(kHeaderObjectSize);
  if (header.size() != kHeaderObjectSize ||
      !isGuid(reinterpret_cast<const uint8_t*>(header.constData()), kHeaderObject))
    return failed(path, QStringLiteral("not an ASF file"));
  const auto headerSize = int64_t(le(reinterpret_cast<const uint8_t*>(header.constData()) + 16, 8));
  if (headerSize < kHeaderObjectSize || headerSize > kMaxHeaderBytes ||
      headerSize + kDataObjectSize > fileLength)
    return failed(path, QStringLiteral("the header is damaged"));
  header += file.read(headerSize - kHeaderObjectSize + kDataObjectSize);
  if (header.size() != headerSize + kDataObjectSize) return failed(path, file.errorString());
  auto* h = reinterpret_cast<uint8_t*>(header.data());

  int filePropertiesAt = -1;
  int formatTag = 0, sampleRate = 0;
  const auto objectCount = uint32_t(le(h + 24, 4));
  int64_t at = kHeaderObjectSize;
  for (uint32_t i = 0; i < objectCount; ++i) {
    if (at + kObjectHeaderSize > headerSize) return failed(path, QStringLiteral("the header is damaged"));
    const auto size = int64_t(le(h + at + 16, 8));
    if (size < kObjectHeaderSize || at + size > headerSize)
      return failed(path, QStringLiteral("the header is damaged"));
    if (isGuid(h + at, kFileProperties) && size >= kFilePropertiesSize) filePropertiesAt = int(at);
    // The first audio stream's format tells how long its frames last.
    if (isGuid(h + at, kStreamProperties) && size >= kSpTypeData + 8 && formatTag == 0) {
      formatTag = int(le(h + at + kSpTypeData, 2));
      sampleRate = int(le(h + at + kSpTypeData + 4, 4));
    }
    at += size;
  }
  uint8_t* data = h + headerSize;
  if (filePropertiesAt < 0 || !isGuid(data, kDataObject))
    return failed(path, QStringLiteral("the file lacks its file properties or its data"));
  uint8_t* fp = h + filePropertiesAt;
  const auto packetSize = int64_t(le(fp + kFpMinPacket, 4));
  if (packetSize < 20 || packetSize != int64_t(le(fp + kFpMaxPacket, 4)) || packetSize > (1 << 20))
    return failed(path, QStringLiteral("its packets vary in size"));
  const auto preroll = int64_t(le(fp + kFpPreroll, 8));
  const int64_t dataStart = headerSize + kDataObjectSize;

  // Sound: the header's counts agree with each other and with the file, and whatever
  // follows the packets is an index.
  const auto statedPackets = int64_t(le(fp + kFpPackets, 8));
  const auto statedDataSize = int64_t(le(data + kDoSize, 8));
  if (int64_t(le(fp + kFpFileSize, 8)) == fileLength && int64_t(le(data + kDoPackets, 8)) == statedPackets &&
      statedPackets >= 0 && statedPackets <= fileLength / packetSize &&
      statedDataSize == kDataObjectSize + statedPackets * packetSize &&
      headerSize + statedDataSize <= fileLength &&
      (statedPackets == 0 || int64_t(le(fp + kFpPlayDuration, 8)) > preroll * 10000) &&
      onlyIndexesBetween(file, headerSize + statedDataSize, fileLength)) {
    AsfRepairOutcome out;
    out.result = AsfRepairOutcome::Result::Sound;
    out.packets = statedPackets;
    out.durationMs = int64_t(le(fp + kFpPlayDuration, 8)) / 10000 - preroll;
    return out;
  }

  // Count the whole, well-formed packets; the first that is not ends the data.
  int64_t packets = 0;
  int64_t latest = -1;
  if (!file.seek(dataStart)) return failed(path, file.errorString());
  QByteArray packet(int(packetSize), Qt::Uninitialized);
  for (;;) {
    if (file.read(packet.data(), packetSize) != packetSize) break;
    const std::optional<int64_t> time =
        latestPresentationTime(reinterpret_cast<const uint8_t*>(packet.constData()), int(packetSize));
    if (!time) break;
    latest = std::max(latest, *time);
    ++packets;
  }
  const int64_t dataEnd = dataStart + packets * packetSize;
  const int64_t newLength = onlyIndexesBetween(file, dataEnd, fileLength) ? fileLength : dataEnd;

  // The last frame lasts as long as each frame does, in the muxer's millisecond steps.
  const int frame = wmaFrameSamples(formatTag, sampleRate);
  const int64_t frameMs =
      frame > 0 && sampleRate > 0 ? (int64_t(frame) * 2000 + sampleRate) / (2 * sampleRate) : 0;
  const int64_t playMs = latest >= 0 ? std::max(latest + frameMs, preroll) : preroll;

  putLe64(fp + kFpFileSize, uint64_t(newLength));
  putLe64(fp + kFpPackets, uint64_t(packets));
  putLe64(fp + kFpPlayDuration, uint64_t(playMs) * 10000);
  putLe64(fp + kFpSendDuration, uint64_t(playMs - preroll) * 10000);
  putLe64(data + kDoSize, uint64_t(kDataObjectSize + packets * packetSize));
  putLe64(data + kDoPackets, uint64_t(packets));

  file.close();
  if (!file.open(QIODevice::ReadWrite)) return failed(path, file.errorString());
  // A torn packet goes first, so that the header never counts bytes the file lacks.
  if (newLength < fileLength && !file.resize(newLength)) return failed(path, file.errorString());
  if (!file.seek(0) || file.write(header) != header.size() || !syncToDisk(file))
    return failed(path, file.errorString());

  AsfRepairOutcome out;
  out.result = AsfRepairOutcome::Result::Repaired;
  out.packets = packets;
  out.durationMs = playMs - preroll;
  out.droppedBytes = fileLength - newLength;
  return out;
}

}  // namespace tallowen
