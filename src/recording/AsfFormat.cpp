#include "recording/AsfFormat.h"

namespace tallowen::asf {

std::optional<uint64_t> HeaderSize(const uint8_t* top) {
  if (!isGuid(top, kHeaderObject)) return std::nullopt;
  const uint64_t size = le(top + 16, 8);
  if (size < kHeaderObjectSize || size > kMaxHeaderBytes) return std::nullopt;
  return size;
}

std::optional<std::vector<HeaderObject>> HeaderObjects(const uint8_t* header, uint64_t size) {
  const uint64_t count = le(header + 24, 4);
  std::vector<HeaderObject> objects;
  uint64_t at = kHeaderObjectSize;
  for (uint64_t i = 0; i < count; ++i) {
    if (size - at < kObjectHeaderSize) return std::nullopt;
    const uint64_t objectSize = le(header + at + 16, 8);
    if (objectSize < kObjectHeaderSize || objectSize > size - at) return std::nullopt;
    objects.push_back({header + at, at, objectSize});
    at += objectSize;
  }
  return objects;
}

QByteArray Utf16z(const QString& text) {
  QByteArray out;
  for (const QChar c : text) {
    out.append(char(c.unicode() & 0xff));
    out.append(char(c.unicode() >> 8));
  }
  out.append(2, '\0');
  return out;
}

QByteArray MarkerObject(const QList<Mark>& marks) {
  Bytes body;
  body.guid(kMarkerReserved).u32(uint64_t(marks.size())).u16(0).u16(0);  // no name of its own
  for (const Mark& m : marks) {
    const QByteArray name = Utf16z(m.name);
    const int64_t ms = m.ms < 0 ? 0 : m.ms;
    body.u64(m.dataOffset)
        .u64(uint64_t(ms + kPrerollMs) * 10000)
        .u16(uint64_t(4 + 4 + 4 + name.size()))  // send time, flags, name length, name
        .u32(uint64_t(ms + kPrerollMs))
        .u32(0)
        .u32(uint64_t(name.size() / 2))
        .raw(name);
  }
  Bytes object;
  object.object(kMarker, body.data());
  return object.data();
}

QByteArray PaddingObject(uint64_t size) {
  Bytes object;
  const uint64_t fill = size > kObjectHeaderSize ? size - kObjectHeaderSize : 0;
  object.object(kPadding, QByteArray(qsizetype(fill), '\0'));
  return object.data();
}

}  // namespace tallowen::asf
