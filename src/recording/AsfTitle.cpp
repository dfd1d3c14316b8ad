#include "recording/AsfTitle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QList>
#include <cstring>
#include <optional>

#include "recording/AsfFormat.h"
#include "recording/AsfReader.h"
#include "recording/FileAt.h"

namespace tallowen {

using namespace asf;

namespace {

using Result = RetitleOutcome::Result;

RetitleOutcome outcome(Result result, const QString& error = QString()) { return {result, error}; }
RetitleOutcome io(int error) { return outcome(Result::Io, QString::fromLocal8Bit(std::strerror(error))); }

// The five texts of a Content Description Object's body, as stored (title, author,
// copyright, description, rating); nothing when their lengths run past the object.
std::optional<QList<QByteArray>> texts(const HeaderObject& object) {
  constexpr uint64_t kLengths = 10;
  if (object.size < kObjectHeaderSize + kLengths) return std::nullopt;
  const uint8_t* lengths = object.data + kObjectHeaderSize;
  uint64_t at = kObjectHeaderSize + kLengths;
  QList<QByteArray> found;
  for (int i = 0; i < 5; ++i) {
    const uint64_t length = le(lengths + 2 * i, 2);
    if (length > object.size - at) return std::nullopt;
    found << QByteArray(reinterpret_cast<const char*>(object.data + at), qsizetype(length));
    at += length;
  }
  return found;
}

QByteArray contentDescription(const QList<QByteArray>& fields) {
  Bytes body;
  for (const QByteArray& f : fields) body.u16(uint64_t(f.size()));
  for (const QByteArray& f : fields) body.raw(f);
  Bytes object;
  object.object(kContentDescription, body.data());
  return object.data();
}

}  // namespace

RetitleOutcome RetitleAsfDescriptor(int fd, const QString& title) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return io(errno);
  if (!S_ISREG(st.st_mode)) return outcome(Result::Damaged, QStringLiteral("not a regular file"));
  uint8_t top[kHeaderObjectSize];
  if (const int e = ReadAt(fd, top, sizeof top, 0); e != 0)
    return e < 0 ? outcome(Result::Damaged, QStringLiteral("not an ASF file")) : io(e);
  const std::optional<uint64_t> size = HeaderSize(top);
  if (!size || *size > uint64_t(st.st_size)) return outcome(Result::Damaged, QStringLiteral("not an ASF file"));
  QByteArray header(qsizetype(*size), Qt::Uninitialized);
  if (const int e = ReadAt(fd, header.data(), header.size(), 0); e != 0)
    return e < 0 ? outcome(Result::Damaged, QStringLiteral("the header is cut short")) : io(e);
  const auto* h = reinterpret_cast<const uint8_t*>(header.constData());
  const std::optional<std::vector<HeaderObject>> objects = HeaderObjects(h, *size);
  if (!objects) return outcome(Result::Damaged, QStringLiteral("the header is damaged"));

  // The description to change, and the padding after it that gives or takes the room.
  std::optional<size_t> description, padding;
  for (size_t i = 0; i < objects->size() && !description; ++i)
    if ((*objects)[i].is(kContentDescription)) description = i;
  for (size_t i = description.value_or(0); i < objects->size() && !padding; ++i)
    if ((*objects)[i].is(kPadding)) padding = i;
  QList<QByteArray> fields(5);
  if (description) {
    const std::optional<QList<QByteArray>> stored = texts((*objects)[*description]);
    if (!stored) return outcome(Result::Damaged, QStringLiteral("its texts run past their object"));
    fields = *stored;
  }
  const QByteArray wanted = Utf16z(title);
  if (description && fields[0] == wanted) return outcome(Result::Unchanged);
  if (!padding) return outcome(Result::NoRoom, QStringLiteral("the header has no padding"));
  if (wanted.size() > 0xffff) return outcome(Result::NoRoom, QStringLiteral("the title is longer than a text may be"));
  fields[0] = wanted;

  // From the description (or where it goes) to the end of the padding: the new
  // description, what stood between as it was, and what is left as padding.
  const HeaderObject& pad = (*objects)[*padding];
  const uint64_t from = description ? (*objects)[*description].at : pad.at;
  const uint64_t to = pad.at + pad.size;
  const QByteArray described = contentDescription(fields);
  const QByteArray between =
      description ? header.mid(qsizetype((*objects)[*description].at + (*objects)[*description].size),
                               qsizetype(pad.at - ((*objects)[*description].at + (*objects)[*description].size)))
                  : QByteArray();
  const auto used = uint64_t(described.size() + between.size());
  if (used + kObjectHeaderSize > to - from)
    return outcome(Result::NoRoom, QStringLiteral("%1 bytes of padding are too few for a title of %2 bytes")
                                       .arg(pad.size)
                                       .arg(wanted.size()));
  const QByteArray span = described + between + PaddingObject(to - from - used);

  QByteArray changed = header;
  changed.replace(qsizetype(from), span.size(), span);
  if (!description) putLe(reinterpret_cast<uint8_t*>(changed.data()) + 24, objects->size() + 1, 4);
  // Read back as every reader will before a byte is written.
  const std::optional<AsfInfo> reads = ParseAsfHeader(changed);
  if (!reads || reads->title != title || uint64_t(changed.size()) != *size)
    return outcome(Result::Damaged, QStringLiteral("the new header would not read"));

  const uint64_t first = description ? from : 24;  // the object count, for a description put in
  if (const int e = WriteAt(fd, changed.constData() + first, int64_t(to - first), int64_t(first)); e != 0)
    return io(e);
  if (::fsync(fd) != 0) return io(errno);
  return outcome(Result::Retitled);
}

RetitleOutcome RetitleAsfFile(const QByteArray& nativePath, const QString& title) {
  const int fd = ::open(nativePath.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return io(errno);
  const RetitleOutcome out = RetitleAsfDescriptor(fd, title);
  ::close(fd);
  return out;
}

}  // namespace tallowen
