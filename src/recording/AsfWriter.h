#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

#include "recording/AsfFormat.h"
#include "recording/Codec.h"

namespace tallowen {

class OutputFile;

// Writes a recording as ASF, the container every WMA player reads: the header, then data
// packets of one size, each holding as many whole encoded blocks as fit. The header keeps
// room for index marks, so that a mark goes into the file the moment it is set and the
// recording is never moved to make room.
class AsfWriter final : public BlockSink {
 public:
  // The room kept in the header for the Marker Object and the padding after it.
  static constexpr int kMarkRoom = 8192;

  struct Texts {
    QString title;
    QString author;
  };

  // Writes the header; throws RecordingError.
  AsfWriter(OutputFile& file, const WmaFormat& format, const Texts& texts);

  // One encoded block; blocks come in order, one a frame. Throws RecordingError.
  void take(const EncodedBlock& block) override;
  // Notes a mark at `ms` of the sound in the header at once; false when the room kept for
  // marks is full. Throws RecordingError when the header cannot be written.
  bool addMark(int64_t ms, const QString& name);
  const QList<asf::Mark>& marks() const { return marks_; }
  // Writes the packet being filled as it stands, padded, so that a sync takes its sound
  // to the disk too; the packet is written again, whole, when it fills. Throws.
  void writeOpenPacket();
  // The packet being filled, then the header's sizes, counts and durations; throws.
  void finish();

  // Sound written so far, in milliseconds.
  int64_t soundMs() const;
  // The packets' size for a bit rate.
  static int PacketSizeFor(int bitRate);

 private:
  QByteArray header();
  QByteArray markRoom() const;
  QByteArray openPacket() const;
  void flushPacket();

  OutputFile& file_;
  WmaFormat format_;
  Texts texts_;
  int packetSize_;
  int64_t headerSize_ = 0;  // where the Data Object starts
  int64_t markRoomAt_ = 0;
  QByteArray payloads_;  // of the packet being filled
  int payloadCount_ = 0;
  int64_t packetFirstMs_ = 0;
  int64_t packetLastMs_ = 0;
  int64_t packets_ = 0;
  int64_t firstPts_ = 0;
  bool anyBlock_ = false;
  int64_t endMs_ = 0;  // where the sound written so far ends
  uint8_t objectNumber_ = 0;
  QList<asf::Mark> marks_;
};

}  // namespace tallowen
