#include "recording/AsfRepair.h"

#include "recording/AsfFormat.h"
#include "recording/FileAt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tallowen {

namespace {

using namespace asf;

constexpr uint64_t kMinPacketBytes = 20, kMaxPacketBytes = 1 << 20;
// Real files end in one index object or a few; more is not an index.
constexpr int kMaxTrailingObjects = 64;
constexpr int64_t kReadChunk = 256 * 1024;

// Reads the fields of a data packet of `size` bytes of which only `available` are at
// hand. A read past the packet's end, or a field that cannot be, marks it bad; a read
// past what is at hand marks it torn. Either way the reader takes nothing more.
class PacketReader {
 public:
  enum class Verdict { Whole, Torn, Bad };

  PacketReader(const uint8_t* data, int available, int size) : p_(data), available_(available), size_(size) {}
  bool ok() const { return verdict_ == Verdict::Whole; }
  Verdict verdict() const { return verdict_; }
  int pos() const { return pos_; }
  void fail() {
    if (ok()) verdict_ = Verdict::Bad;
  }
  // Whether the next `bytes` are at hand; they are known to lie inside the packet.
  bool have(int64_t bytes) {
    if (ok() && pos_ + bytes > available_) verdict_ = Verdict::Torn;
    return ok();
  }
  uint32_t take(int bytes) {
    if (!ok()) return 0;
    if (pos_ + bytes > size_) {
      verdict_ = Verdict::Bad;
      return 0;
    }
    if (!have(bytes)) return 0;
    const auto v = uint32_t(le(p_ + pos_, bytes));
    pos_ += bytes;
    return v;
  }
  // A field whose width is given by a two-bit length type: none, byte, word, dword.
  uint32_t takeTyped(uint32_t type) {
    static constexpr int widths[] = {0, 1, 2, 4};
    return take(widths[type & 3]);
  }
  void skip(int64_t bytes) {
    if (!ok()) return;
    if (bytes < 0 || pos_ + bytes > size_) {
      verdict_ = Verdict::Bad;
      return;
    }
    if (have(bytes)) pos_ += int(bytes);
  }

 private:
  const uint8_t* p_;
  int available_;
  int size_;
  int pos_ = 0;
  Verdict verdict_ = Verdict::Whole;
};

struct PacketScan {
  PacketReader::Verdict verdict = PacketReader::Verdict::Bad;
  int64_t latest = -1;    // latest presentation time (ms, preroll included), -1 when none is given
  int lengthFlagsAt = 0;  // error correction flags and data come before
  int properties = -1;    // the property flags byte, when it was at hand
};

// Reads a packet's parsing information and payload headers. One muxer begins every packet
// with the same error correction data and property flags.
PacketScan scanPacket(const uint8_t* data, int available, int size) {
  PacketScan out;
  PacketReader r(data, available, size);
  uint32_t flags = r.take(1);
  if (r.ok() && (flags & 0x80)) {  // error correction data first
    if (flags & 0x60) r.fail();
    r.skip(flags & 0x0f);
    out.lengthFlagsAt = r.pos();
    flags = r.take(1);
    if (flags & 0x80) r.fail();
  }
  const bool multiple = flags & 0x01;
  const uint32_t properties = r.take(1);
  if (r.ok()) out.properties = int(properties);
  if (((properties >> 6) & 3) != 1) r.fail();  // stream numbers are one byte
  const uint32_t packetLength = r.takeTyped(flags >> 5);
  r.takeTyped(flags >> 1);  // sequence
  const uint32_t padding = r.takeTyped(flags >> 3);
  r.take(4);  // send time
  r.take(2);  // duration
  if (packetLength > uint32_t(size) || padding > uint32_t(size)) r.fail();
  const int64_t end = packetLength ? int64_t(packetLength) : int64_t(size);

  int payloads = 1;
  uint32_t lengthType = 0;
  if (multiple) {
    const uint32_t payloadFlags = r.take(1);
    payloads = int(payloadFlags & 0x3f);
    lengthType = payloadFlags >> 6;
    if (payloads == 0) r.fail();
  }
  for (int i = 0; i < payloads && r.ok(); ++i) {
    if ((r.take(1) & 0x7f) == 0) r.fail();  // stream number 0 does not exist
    r.takeTyped(properties >> 4);           // media object number
    const uint32_t offset = r.takeTyped(properties >> 2);
    const uint32_t replicated = r.takeTyped(properties);
    int64_t time = -1;
    int64_t delta = 0;
    if (replicated == 1) {  // compressed payload: the offset field holds the time
      time = offset;
      delta = r.take(1);
    } else if (replicated >= 8) {
      r.take(4);  // media object size
      time = r.take(4);
      r.skip(int64_t(replicated) - 8);
    } else {
      r.skip(replicated);
    }
    const int64_t length = multiple ? int64_t(r.takeTyped(lengthType)) : end - r.pos() - int64_t(padding);
    if (!r.ok()) break;
    if (length < 0 || r.pos() + length > end) r.fail();
    if (!r.have(length)) break;
    if (replicated == 1) {
      // Sub-payloads, each a size byte and its data, one time delta apart.
      int64_t subs = 0;
      for (int64_t at = 0; at < length; ++subs) at += 1 + data[r.pos() + at];
      if (subs > 0) time += delta * (subs - 1);
    }
    r.skip(length);
    out.latest = std::max(out.latest, time);
  }
  if (r.pos() + (multiple ? int64_t(padding) : 0) > end) r.fail();
  out.verdict = r.verdict();
  // Every payload there, but not the padding after it.
  if (out.verdict == PacketReader::Verdict::Whole && available < size)
    out.verdict = PacketReader::Verdict::Torn;
  return out;
}

// Samples per WMA frame, as its decoder derives them from the sample rate; 0 for a codec
// whose frames we do not know.
int64_t wmaFrameSamples(uint32_t formatTag, uint32_t sampleRate) {
  if (formatTag != 0x160 && formatTag != 0x161) return 0;
  if (sampleRate <= 16000) return 512;
  if (sampleRate <= 22050 || (sampleRate <= 32000 && formatTag == 0x160)) return 1024;
  return 2048;
}

AsfRepairOutcome failed(const QString& name, AsfRepairOutcome::Problem problem, const QString& why) {
  AsfRepairOutcome out;
  out.result = AsfRepairOutcome::Result::Failed;
  out.problem = problem;
  out.error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(name), why);
  return out;
}

// One file being looked at: its descriptor and length, and its name for messages.
class Mender {
 public:
  Mender(int fd, const QString& name, int64_t length) : fd_(fd), name_(name), length_(length) {}

  AsfRepairOutcome damaged(const QString& why) const {
    return failed(name_, AsfRepairOutcome::Problem::Damaged, why);
  }
  AsfRepairOutcome io(int error) const {
    return failed(name_, AsfRepairOutcome::Problem::Io,
                  error < 0 ? QStringLiteral("the file ended while it was read") : qt_error_string(error));
  }

  // Whether [from, length) holds nothing but whole index objects; an errno when it
  // cannot be read.
  int onlyIndexesFrom(int64_t from, bool* only) const {
    *only = false;
    for (int objects = 0; from < length_; ++objects) {
      uint8_t head[kObjectHeaderSize];
      if (objects == kMaxTrailingObjects || length_ - from < int64_t(kObjectHeaderSize)) return 0;
      if (const int e = ReadAt(fd_, head, sizeof head, from); e != 0) return e;
      bool known = false;
      for (const Guid& g : kTrailingObjects) known = known || isGuid(head, g);
      const uint64_t size = le(head + 16, 8);
      if (!known || size < kObjectHeaderSize || size > uint64_t(length_ - from)) return 0;
      from += int64_t(size);
    }
    *only = true;
    return 0;
  }

  // Where the bytes of [from, length) that are not zero end; `from` when all are zero.
  int contentEnd(int64_t from, int64_t* end) const {
    std::vector<uint8_t> chunk;
    int64_t at = length_;
    while (at > from) {
      const int64_t n = std::min(kReadChunk, at - from);
      chunk.resize(size_t(n));
      if (const int e = ReadAt(fd_, chunk.data(), n, at - n); e != 0) return e;
      for (int64_t i = n; i > 0; --i)
        if (chunk[size_t(i - 1)] != 0) {
          *end = at - n + i;
          return 0;
        }
      at -= n;
    }
    *end = from;
    return 0;
  }

  int fd() const { return fd_; }
  int64_t length() const { return length_; }

 private:
  int fd_;
  QString name_;
  int64_t length_;
};

}  // namespace

AsfRepairOutcome RepairAsfDescriptor(int fd, const QString& name, int64_t keepAtLeast, const QList<Mark>& marks) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return failed(name, AsfRepairOutcome::Problem::Io, qt_error_string(errno));
  if (!S_ISREG(st.st_mode))
    return failed(name, AsfRepairOutcome::Problem::Io, QStringLiteral("not a regular file"));
  const Mender m(fd, name, int64_t(st.st_size));
  const auto fileLength = uint64_t(st.st_size);

  uint8_t top[kHeaderObjectSize];
  if (const int e = ReadAt(fd, top, sizeof top, 0); e != 0)
    return e < 0 ? m.damaged(QStringLiteral("not an ASF file")) : m.io(e);
  if (!isGuid(top, kHeaderObject)) return m.damaged(QStringLiteral("not an ASF file"));
  const std::optional<uint64_t> headerSizeRead = HeaderSize(top);
  if (!headerSizeRead || *headerSizeRead + kDataObjectSize > fileLength)
    return m.damaged(QStringLiteral("the header is damaged"));
  const uint64_t headerSize = *headerSizeRead;
  QByteArray header(qsizetype(headerSize + kDataObjectSize), Qt::Uninitialized);
  if (const int e = ReadAt(fd, header.data(), header.size(), 0); e != 0) return m.io(e);
  auto* h = reinterpret_cast<uint8_t*>(header.data());

  const std::optional<std::vector<HeaderObject>> objects = HeaderObjects(h, headerSize);
  if (!objects) return m.damaged(QStringLiteral("the header is damaged"));
  uint64_t filePropertiesAt = 0;
  uint64_t markRoomAt = 0, markRoomSize = 0;  // a Marker Object and the padding after it
  uint32_t formatTag = 0, sampleRate = 0;
  for (const HeaderObject& object : *objects) {
    if (object.is(kFileProperties) && object.size >= kFilePropertiesSize) filePropertiesAt = object.at;
    // The first audio stream's format tells how long its frames last.
    if (object.is(kStreamProperties) && object.size >= kSpTypeData + 8 && formatTag == 0) {
      formatTag = uint32_t(le(object.data + kSpTypeData, 2));
      sampleRate = uint32_t(le(object.data + kSpTypeData + 4, 4));
    }
    if (object.is(kMarker)) {
      markRoomAt = object.at;
      markRoomSize = object.size;
    } else if (object.is(kPadding) && markRoomAt != 0 && markRoomAt + markRoomSize == object.at) {
      markRoomSize += object.size;
    }
  }
  uint8_t* data = h + headerSize;
  if (filePropertiesAt == 0 || !isGuid(data, kDataObject))
    return m.damaged(QStringLiteral("the file lacks its file properties or its data"));
  uint8_t* fp = h + filePropertiesAt;
  const uint64_t packetSize = le(fp + kFpMinPacket, 4);
  if (packetSize < kMinPacketBytes || packetSize != le(fp + kFpMaxPacket, 4) || packetSize > kMaxPacketBytes)
    return m.damaged(QStringLiteral("its packets vary in size"));
  const uint64_t preroll = le(fp + kFpPreroll, 8);
  if (preroll > kMaxPrerollMs) return m.damaged(QStringLiteral("the header is damaged"));
  const uint64_t dataStart = headerSize + kDataObjectSize;

  // Sound: the header's counts agree with each other and with the file, and whatever
  // follows the packets is an index. The count is bounded first, so the product is too.
  const uint64_t statedPackets = le(fp + kFpPackets, 8);
  const uint64_t statedDataSize = le(data + kDoSize, 8);
  const uint64_t playDuration = le(fp + kFpPlayDuration, 8);
  if (le(fp + kFpFileSize, 8) == fileLength && le(data + kDoPackets, 8) == statedPackets &&
      statedPackets <= (fileLength - dataStart) / packetSize &&
      statedDataSize == kDataObjectSize + statedPackets * packetSize &&
      (statedPackets == 0 || playDuration >= preroll * 10000)) {
    bool onlyIndexes = false;
    if (const int e = m.onlyIndexesFrom(int64_t(headerSize + statedDataSize), &onlyIndexes); e != 0)
      return m.io(e);
    if (onlyIndexes) {
      AsfRepairOutcome out;
      out.result = AsfRepairOutcome::Result::Sound;
      out.packets = int64_t(statedPackets);
      out.durationMs = int64_t(playDuration / 10000) - int64_t(preroll);
      return out;
    }
  }

  // Count the whole, well-formed packets from the start of the data.
  const auto packetBytes = int64_t(packetSize);
  const int64_t batch = std::max<int64_t>(1, kReadChunk / packetBytes) * packetBytes;
  std::vector<uint8_t> buffer;
  std::array<uint8_t, 16> firstLead{};  // how the first whole packet begins
  PacketScan first;
  int64_t packets = 0;
  int64_t latest = -1;
  int64_t dataEnd = int64_t(dataStart);
  for (bool more = true; more;) {
    const int64_t n = std::min(batch, (m.length() - dataEnd) / packetBytes * packetBytes);
    if (n == 0) break;
    buffer.resize(size_t(n));
    if (const int e = ReadAt(fd, buffer.data(), n, dataEnd); e != 0) return m.io(e);
    for (int64_t p = 0; p < n; p += packetBytes) {
      const PacketScan scan = scanPacket(buffer.data() + p, int(packetBytes), int(packetBytes));
      if (scan.verdict != PacketReader::Verdict::Whole) {
        more = false;
        break;
      }
      if (packets == 0) {
        first = scan;
        std::memcpy(firstLead.data(), buffer.data(), std::min<size_t>(firstLead.size(), size_t(packetBytes)));
      }
      latest = std::max(latest, scan.latest);
      ++packets;
      dataEnd += packetBytes;
    }
  }

  // What follows may be cut only when it holds no sound: zeros a power cut left, or a
  // last packet that the crash tore, begun like the whole ones before it.
  int64_t newLength = m.length();
  if (dataEnd < m.length()) {
    bool onlyIndexes = false;
    if (const int e = m.onlyIndexesFrom(dataEnd, &onlyIndexes); e != 0) return m.io(e);
    int64_t content = m.length();
    if (!onlyIndexes)
      if (const int e = m.contentEnd(dataEnd, &content); e != 0) return m.io(e);
    if (onlyIndexes) {
      newLength = m.length();
    } else if (content == dataEnd) {
      newLength = dataEnd;
    } else if (content - dataEnd < packetBytes) {
      std::vector<uint8_t> torn(size_t(content - dataEnd));
      if (const int e = ReadAt(fd, torn.data(), int64_t(torn.size()), dataEnd); e != 0) return m.io(e);
      const PacketScan scan = scanPacket(torn.data(), int(torn.size()), int(packetBytes));
      const size_t lead = std::min(torn.size(), size_t(first.lengthFlagsAt));
      const bool likeTheOthers =
          packets == 0 || (std::memcmp(torn.data(), firstLead.data(), lead) == 0 &&
                           (scan.properties < 0 || scan.properties == first.properties));
      if (scan.verdict != PacketReader::Verdict::Torn || !likeTheOthers)
        return m.damaged(QStringLiteral("data that is no packet follows the packets"));
      newLength = dataEnd;
    } else {
      return m.damaged(QStringLiteral("a damaged packet lies before the end of the data"));
    }
  }
  if (newLength < m.length() && newLength < keepAtLeast)
    return m.damaged(QStringLiteral("it would lose data that was already on the disk"));

  // The last frame lasts as long as each frame does, in the muxer's millisecond steps.
  const int64_t frame = wmaFrameSamples(formatTag, sampleRate);
  const int64_t frameMs =
      frame > 0 && sampleRate > 0 ? (frame * 2000 + sampleRate) / (2 * int64_t(sampleRate)) : 0;
  const auto prerollMs = int64_t(preroll);
  const int64_t playMs = latest >= 0 ? std::max(latest + frameMs, prerollMs) : prerollMs;

  putLe(fp + kFpFileSize, uint64_t(newLength), 8);
  putLe(fp + kFpPackets, uint64_t(packets), 8);
  putLe(fp + kFpPlayDuration, uint64_t(playMs) * 10000, 8);
  putLe(fp + kFpSendDuration, uint64_t(playMs - prerollMs) * 10000, 8);
  putLe(data + kDoSize, kDataObjectSize + uint64_t(packets) * packetSize, 8);
  putLe(data + kDoPackets, uint64_t(packets), 8);
  // The marks the journal kept go into the room the header has for them.
  if (!marks.isEmpty() && markRoomAt != 0) {
    const QByteArray marker = MarkerObject(marks);
    if (uint64_t(marker.size()) + kObjectHeaderSize <= markRoomSize) {
      const QByteArray room = marker + PaddingObject(markRoomSize - uint64_t(marker.size()));
      std::memcpy(h + markRoomAt, room.constData(), size_t(room.size()));
    }
  }

  // A torn packet goes first, so that the header never counts bytes the file lacks.
  if (newLength < m.length() && ::ftruncate(fd, off_t(newLength)) != 0) return m.io(errno);
  if (const int e = WriteAt(fd, header.constData(), header.size(), 0); e != 0) return m.io(e);
  if (::fsync(fd) != 0) return m.io(errno);

  AsfRepairOutcome out;
  out.result = AsfRepairOutcome::Result::Repaired;
  out.packets = packets;
  out.durationMs = playMs - prerollMs;
  out.droppedBytes = m.length() - newLength;
  return out;
}

int OpenRecordingToMend(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  const int fd = ::open(name.constData(), O_RDWR | kFlags);
  if (fd >= 0 || (errno != EACCES && errno != EROFS && errno != EPERM && errno != EISDIR)) return fd;
  return ::open(name.constData(), O_RDONLY | kFlags);
}

AsfRepairOutcome RepairAsfFile(const QString& path) {
  const int fd = OpenRecordingToMend(path);
  if (fd < 0) return failed(path, AsfRepairOutcome::Problem::Io, qt_error_string(errno));
  const AsfRepairOutcome out = RepairAsfDescriptor(fd, path);
  ::close(fd);
  return out;
}

}  // namespace tallowen
