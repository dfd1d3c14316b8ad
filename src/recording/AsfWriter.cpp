#include "recording/AsfWriter.h"

#include <QDateTime>
#include <algorithm>

#include "recording/OutputFile.h"
#include "recording/RecordingFailure.h"

namespace tallowen {

using namespace asf;

namespace {

// Error correction data, then the length types: several payloads, a padding length of a
// byte or a word, no packet length and no sequence.
constexpr uint8_t kErrorCorrection[] = {0x82, 0x00, 0x00};
constexpr uint8_t kMultiplePayloads = 0x01, kPaddingByte = 0x08, kPaddingWord = 0x10;
// Property flags: replicated data length a byte, offset into the media object a dword,
// media object number a byte, stream number a byte.
constexpr uint8_t kPropertyFlags = 0x5D;
constexpr uint8_t kPayloadLengthWord = 0x80;
constexpr int kPacketHeaderMin = 3 + 1 + 1 + 4 + 2 + 1;  // without the padding length
constexpr int kPayloadHeader = 1 + 1 + 4 + 1 + 8 + 2;
constexpr int kMaxPayloads = 63;
constexpr int kStreamNumber = 1;

// 100-ns units since 1601, as Windows counts a file's date.
uint64_t fileTime(const QDateTime& t) { return uint64_t(t.toMSecsSinceEpoch()) * 10000 + kUnixEpochIn1601Units; }

}  // namespace

int AsfWriter::PacketSizeFor(int bitRate) {
  // At most half a second of sound (FFmpeg's 3200 bytes at the higher bit rates): a
  // packet that is not full is written again at every sync, and a smaller one wastes less.
  return std::clamp(bitRate / 16, 500, 3200);
}

AsfWriter::AsfWriter(OutputFile& file, const WmaFormat& format, const Texts& texts)
    : file_(file), format_(format), texts_(texts), packetSize_(PacketSizeFor(format.bitRate)) {
  if (format_.blockAlign <= 0 || format_.frameSamples <= 0 || format_.sampleRate <= 0 ||
      kPacketHeaderMin + 2 + kPayloadHeader + format_.blockAlign > packetSize_)
    throw RecordingError(QStringLiteral("The encoder's blocks do not fit the file's packets."));
  const QByteArray bytes = header();
  file_.append(bytes);
}

QByteArray AsfWriter::markRoom() const {
  const QByteArray marker = MarkerObject(marks_);
  return marker + PaddingObject(uint64_t(kMarkRoom - marker.size()));
}

QByteArray AsfWriter::header() {
  Bytes fileProperties;
  fileProperties.zeros(16)  // file id
      .u64(0)               // file size, set at the end
      .u64(fileTime(QDateTime::currentDateTimeUtc()))
      .u64(0)  // packets
      .u64(0)  // play duration
      .u64(0)  // send duration
      .u64(uint64_t(kPrerollMs))
      .u32(2)  // seekable
      .u32(uint64_t(packetSize_))
      .u32(uint64_t(packetSize_))
      .u32(uint64_t(format_.bitRate));

  Bytes extension;
  extension.guid(kHeaderExtensionReserved).u16(6).u32(0);

  Bytes wave;  // WAVEFORMATEX
  wave.u16(format_.formatTag)
      .u16(uint64_t(format_.channels))
      .u32(uint64_t(format_.sampleRate))
      .u32(uint64_t(format_.bitRate / 8))
      .u16(uint64_t(format_.blockAlign))
      .u16(16)
      .u16(uint64_t(format_.extradata.size()))
      .raw(format_.extradata);
  Bytes spread;  // audio spread: one span of one block, a byte of silence
  spread.u8(1).u16(uint64_t(format_.blockAlign)).u16(uint64_t(format_.blockAlign)).u16(1).u8(0);
  Bytes stream;
  stream.guid(kAudioMedia)
      .guid(kAudioSpread)
      .u64(0)  // time offset
      .u32(uint64_t(wave.size()))
      .u32(uint64_t(spread.size()))
      .u16(kStreamNumber)
      .u32(0)
      .raw(wave.data())
      .raw(spread.data());

  const QByteArray codecName = Utf16z(format_.codecName);
  Bytes codecs;
  codecs.guid(kCodecListReserved)
      .u32(1)
      .u16(2)  // audio
      .u16(uint64_t(codecName.size() / 2))
      .raw(codecName)
      .u16(0)  // no description
      .u16(2)
      .u16(format_.formatTag);

  // Title, author, copyright, description, rating.
  const QByteArray texts[] = {Utf16z(texts_.title), Utf16z(texts_.author), QByteArray(), QByteArray(),
                              QByteArray()};
  Bytes content;
  for (const QByteArray& t : texts) content.u16(uint64_t(t.size()));
  for (const QByteArray& t : texts) content.raw(t);

  Bytes objects;
  objects.object(kFileProperties, fileProperties.data())
      .object(kHeaderExtension, extension.data())
      .object(kStreamProperties, stream.data())
      .object(kCodecList, codecs.data())
      .object(kContentDescription, content.data());
  markRoomAt_ = int64_t(kHeaderObjectSize) + objects.size();
  objects.raw(markRoom());  // the Marker Object and the Padding Object after it

  Bytes all;
  all.guid(kHeaderObject).u64(kHeaderObjectSize + uint64_t(objects.size())).u32(7).u8(1).u8(2).raw(objects.data());
  // The Data Object's own header: its size and packet count are set at the end.
  all.guid(kDataObject).u64(kDataObjectSize).zeros(16).u64(0).u8(1).u8(1);
  headerSize_ = int64_t(kHeaderObjectSize) + objects.size();
  return all.data();
}

void AsfWriter::take(const EncodedBlock& block) {
  if (block.size <= 0) return;
  if (block.size > format_.blockAlign)
    throw RecordingError(QStringLiteral("An encoded block is larger than the format says."));
  if (!anyBlock_) {
    anyBlock_ = true;
    firstPts_ = block.pts;
  }
  // The first block is the decoder's warm-up, one frame before the sound.
  const int64_t samples = block.pts - firstPts_ - format_.frameSamples;
  const int64_t ms = samples * 1000 / format_.sampleRate;
  // A block lasts its frame, in the millisecond steps the header counts in.
  const int64_t frameMs =
      (int64_t(format_.frameSamples) * 2000 + format_.sampleRate) / (2 * int64_t(format_.sampleRate));
  endMs_ = std::max(endMs_, ms + frameMs);

  const int needed = kPayloadHeader + block.size;
  const int paddingField = 2;  // the most a padding length can take
  if (payloadCount_ > 0 &&
      (kPacketHeaderMin + paddingField + payloads_.size() + needed > packetSize_ || payloadCount_ == kMaxPayloads))
    flushPacket();
  if (payloadCount_ == 0) packetFirstMs_ = ms;
  packetLastMs_ = ms;
  Bytes payload;
  payload.u8(kStreamNumber)
      .u8(objectNumber_++)
      .u32(0)  // offset into the media object: blocks are never split
      .u8(8)
      .u32(uint64_t(block.size))
      .u32(uint64_t(ms + kPrerollMs))
      .u16(uint64_t(block.size))
      .raw(QByteArray(reinterpret_cast<const char*>(block.data), block.size));
  payloads_ += payload.data();
  ++payloadCount_;
}

QByteArray AsfWriter::openPacket() const {
  int padding = packetSize_ - kPacketHeaderMin - int(payloads_.size());
  uint8_t lengthTypes = kMultiplePayloads;
  int paddingField = 0;
  if (padding > 0) {
    // The padding length field takes its room from the padding itself.
    paddingField = padding - 1 < 256 ? 1 : 2;
    lengthTypes |= paddingField == 1 ? kPaddingByte : kPaddingWord;
    padding -= paddingField;
  }
  Bytes packet;
  packet.raw(QByteArray(reinterpret_cast<const char*>(kErrorCorrection), sizeof kErrorCorrection))
      .u8(lengthTypes)
      .u8(kPropertyFlags);
  if (paddingField > 0) paddingField == 1 ? packet.u8(uint64_t(padding)) : packet.u16(uint64_t(padding));
  packet.u32(uint64_t(std::max<int64_t>(packetFirstMs_, 0)))
      .u16(uint64_t(std::clamp<int64_t>(packetLastMs_ - std::max<int64_t>(packetFirstMs_, 0), 0, 0xffff)))
      .u8(kPayloadLengthWord | uint64_t(payloadCount_))
      .raw(payloads_)
      .zeros(padding);
  return packet.data();
}

void AsfWriter::flushPacket() {
  if (payloadCount_ == 0) return;
  // Appended where writeOpenPacket() may have put the same packet with fewer blocks.
  file_.append(openPacket());
  ++packets_;
  payloads_.clear();
  payloadCount_ = 0;
}

void AsfWriter::writeOpenPacket() {
  if (payloadCount_ == 0) return;
  // In the place the packet will have when full: the file's end does not move, so the
  // full packet is appended over it.
  file_.writeAt(file_.size(), openPacket());
}

bool AsfWriter::addMark(int64_t ms, const QString& name) {
  QList<Mark> marks = marks_;
  Mark mark{std::max<int64_t>(ms, 0), name, uint64_t(packets_) * uint64_t(packetSize_)};
  const auto at = std::upper_bound(marks.begin(), marks.end(), mark.ms,
                                   [](int64_t ms, const Mark& m) { return ms < m.ms; });
  marks.insert(at, mark);
  if (uint64_t(MarkerObject(marks).size()) + kObjectHeaderSize > uint64_t(kMarkRoom)) return false;
  marks_ = marks;
  file_.writeAt(markRoomAt_, markRoom());
  return true;
}

void AsfWriter::finish() {
  flushPacket();
  const int64_t fileSize = file_.size();
  uint8_t fp[kFpSendDuration + 8 - kFpFileSize];
  putLe(fp, uint64_t(fileSize), 8);
  putLe(fp + (kFpPackets - kFpFileSize), uint64_t(packets_), 8);
  putLe(fp + (kFpPlayDuration - kFpFileSize), uint64_t(endMs_ + kPrerollMs) * 10000, 8);
  putLe(fp + (kFpSendDuration - kFpFileSize), uint64_t(endMs_) * 10000, 8);
  // The creation date, between the size and the packet count, stays as written.
  file_.writeAt(kHeaderObjectSize + kFpFileSize, QByteArray(reinterpret_cast<const char*>(fp), 8));
  file_.writeAt(kHeaderObjectSize + kFpPackets,
                QByteArray(reinterpret_cast<const char*>(fp + (kFpPackets - kFpFileSize)), 24));
  uint8_t data[8];
  putLe(data, kDataObjectSize + uint64_t(packets_) * uint64_t(packetSize_), 8);
  file_.writeAt(headerSize_ + kDoSize, QByteArray(reinterpret_cast<const char*>(data), 8));
  putLe(data, uint64_t(packets_), 8);
  file_.writeAt(headerSize_ + kDoPackets, QByteArray(reinterpret_cast<const char*>(data), 8));
}

int64_t AsfWriter::soundMs() const { return endMs_; }

}  // namespace tallowen
