#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "recording/AsfFormat.h"
#include "recording/AsfReader.h"
#include "recording/AsfRepair.h"
#include "recording/AsfTitle.h"
#include "support/AudioCheck.h"
#include "support/Recorder.h"
#include "support/ScopedEnv.h"

using namespace tallowen;
using namespace tallowen::test;
using Result = RetitleOutcome::Result;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

qsizetype headerSize(const QByteArray& asf) {
  return qsizetype(asf::HeaderSize(reinterpret_cast<const uint8_t*>(asf.constData())).value_or(0));
}

// The header's objects by their GUIDs, in order: "description", "marker", "padding", "other".
std::vector<asf::HeaderObject> objectsOf(const QByteArray& asf) {
  const auto* h = reinterpret_cast<const uint8_t*>(asf.constData());
  return asf::HeaderObjects(h, uint64_t(headerSize(asf))).value_or(std::vector<asf::HeaderObject>{});
}

QStringList objectKinds(const QByteArray& asf) {
  QStringList kinds;
  for (const asf::HeaderObject& o : objectsOf(asf))
    kinds << (o.is(asf::kContentDescription) ? QStringLiteral("description")
              : o.is(asf::kMarker)           ? QStringLiteral("marker")
              : o.is(asf::kPadding)          ? QStringLiteral("padding")
                                             : QStringLiteral("other"));
  return kinds;
}

uint64_t paddingSize(const QByteArray& asf) {
  for (const asf::HeaderObject& o : objectsOf(asf))
    if (o.is(asf::kPadding)) return o.size;
  return 0;
}

// A header as another program may write it: file properties, then `objects`, then the
// Data Object's own header.
QByteArray otherProgramsFile(const QList<QByteArray>& objects) {
  asf::Bytes properties;
  properties.zeros(16).u64(0).u64(0).u64(0).u64(0).u64(0).u64(uint64_t(asf::kPrerollMs)).u32(2).u32(500).u32(500).u32(32000);
  asf::Bytes body;
  body.object(asf::kFileProperties, properties.data());
  for (const QByteArray& o : objects) body.raw(o);
  asf::Bytes all;
  all.guid(asf::kHeaderObject)
      .u64(asf::kHeaderObjectSize + uint64_t(body.size()))
      .u32(uint64_t(objects.size() + 1))
      .u8(1)
      .u8(2)
      .raw(body.data());
  all.guid(asf::kDataObject).u64(asf::kDataObjectSize).zeros(16).u64(0).u8(1).u8(1);
  return all.data();
}

// A Content Description Object whose five texts are these bytes, as they stand.
QByteArray description(const QList<QByteArray>& texts) {
  asf::Bytes body;
  for (const QByteArray& t : texts) body.u16(uint64_t(t.size()));
  for (const QByteArray& t : texts) body.raw(t);
  asf::Bytes object;
  object.object(asf::kContentDescription, body.data());
  return object.data();
}

class AsfTitleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    state_.emplace("XDG_STATE_HOME", dir_.filePath(QStringLiteral("state")).toUtf8());
  }
  RetitleOutcome retitle(const QString& path, const QString& title) {
    return RetitleAsfFile(QFile::encodeName(path), title);
  }
  QTemporaryDir dir_;
  std::optional<ScopedEnv> state_;
};

// A recording of ours, with a mark: longer titles, shorter ones, odd and even lengths and
// a character outside the basic plane. The sound, the header's size and the marks stay;
// every reader sees the new title; the room for marks is still whole after the marker.
TEST_F(AsfTitleTest, ARecordingTakesAnyTitleThatFitsAndKeepsItsSoundAndMarks) {
  const QString tone = dir_.filePath(QStringLiteral("tone.wav"));
  writeToneWav(tone, 440, 20, 44100, 1);  // long enough to take a mark on the way
  const QString path = dir_.filePath(QStringLiteral("2002-04-03_09-05.wma"));
  {
    Recorder recorder(tone, FileSources::Pace::AsFastAsPossible, false);
    ASSERT_TRUE(recorder.start(path, 1));
    recorder.session.addMark(QStringLiteral("マーク 1"));
    ASSERT_TRUE(recorder.finished(60000).complete);
  }
  const QByteArray before = readAll(path);
  const qsizetype header = headerSize(before);
  ASSERT_GT(header, 0);
  const std::optional<AsfInfo> was = ReadAsfInfo(path);
  ASSERT_TRUE(was);
  ASSERT_EQ(was->title, QStringLiteral("2002-04-03_09-05.wma"));
  ASSERT_EQ(was->marks.size(), 1);

  for (const QString& title : {QStringLiteral("2002年4月3日 第3回 打ち合わせ (営業部と開発部).wma"),
                               QStringLiteral("a.wma"), QStringLiteral("会議.wma"), QStringLiteral("録音 😀.wma"),
                               QStringLiteral("2002-04-03_09-05.wma")}) {
    SCOPED_TRACE(title.toStdString());
    EXPECT_EQ(retitle(path, title).result, Result::Retitled);
    const QByteArray after = readAll(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(headerSize(after), header) << "the header keeps its size";
    EXPECT_EQ(after.mid(header), before.mid(header)) << "not a byte of the sound changed";
    const std::optional<AsfInfo> now = ReadAsfInfo(path);
    ASSERT_TRUE(now);
    EXPECT_EQ(now->title, title);
    EXPECT_EQ(now->marks, was->marks);
    EXPECT_EQ(now->durationMs, was->durationMs);
    EXPECT_EQ(probe(path).title, title) << "as FFmpeg reads it";
    EXPECT_EQ(objectKinds(after), objectKinds(before)) << "the padding still follows the marker";
    EXPECT_EQ(RepairAsfFile(path).result, AsfRepairOutcome::Result::Sound);
  }
  EXPECT_EQ(readAll(path), before) << "the first title back, the first header back";
  EXPECT_EQ(retitle(path, QStringLiteral("2002-04-03_09-05.wma")).result, Result::Unchanged);
}

// The padding is the room: a title that takes all of it but the padding's own header fits;
// a character more leaves the file byte for byte as it was.
TEST_F(AsfTitleTest, ATitleFillsThePaddingToItsLastByteAndOneCharacterMoreIsRefused) {
  const QByteArray file = otherProgramsFile(
      {description({asf::Utf16z(QStringLiteral("old")), asf::Utf16z(QStringLiteral("someone")), {}, {}, {}}),
       asf::PaddingObject(24 + 40)});
  const QString path = dir_.filePath(QStringLiteral("full.wma"));
  writeAll(path, file);
  // "old" and its NUL are 8 bytes; 40 more bytes of room are 20 characters.
  const QString fits = QStringLiteral("old") + QString(20, QLatin1Char('x'));
  ASSERT_EQ(retitle(path, fits).result, Result::Retitled);
  const QByteArray full = readAll(path);
  EXPECT_EQ(paddingSize(full), 24u) << "nothing left but the padding's own header";
  EXPECT_EQ(ReadAsfInfo(path)->title, fits);
  const RetitleOutcome more = retitle(path, fits + QLatin1Char('x'));
  EXPECT_EQ(more.result, Result::NoRoom);
  EXPECT_FALSE(more.error.isEmpty());
  EXPECT_EQ(readAll(path), full) << "left as it was";
}

// Files of other programs: texts of odd lengths are kept as they are; a header without a
// description gets one; one without padding, or whose texts run past their object, is
// left alone.
TEST_F(AsfTitleTest, OtherProgramsHeadersAreChangedOnlyWhereTheyReadAndHaveRoom) {
  const QString path = dir_.filePath(QStringLiteral("other.wma"));
  const QByteArray oddAuthor("\x41\x00\x42", 3);  // three bytes: half a character too many
  writeAll(path, otherProgramsFile({description({QByteArray("\x61\x00\x62", 3), oddAuthor, {}, QByteArray("d\0", 2), {}}),
                                    asf::PaddingObject(301)}));
  ASSERT_EQ(retitle(path, QStringLiteral("新しい名前.wma")).result, Result::Retitled);
  QByteArray after = readAll(path);
  EXPECT_EQ(ReadAsfInfo(path)->title, QStringLiteral("新しい名前.wma"));
  EXPECT_TRUE(after.contains(description({asf::Utf16z(QStringLiteral("新しい名前.wma")), oddAuthor, {}, QByteArray("d\0", 2), {}})))
      << "the other texts as they were";
  EXPECT_EQ(paddingSize(after), 301u - (20u - 3u)) << "the title grew from 3 bytes to 20";

  writeAll(path, otherProgramsFile({asf::PaddingObject(200)}));
  ASSERT_EQ(retitle(path, QStringLiteral("題名.wma")).result, Result::Retitled);
  after = readAll(path);
  EXPECT_EQ(objectKinds(after), (QStringList{"other", "description", "padding"}));
  EXPECT_EQ(ReadAsfInfo(path)->title, QStringLiteral("題名.wma"));
  EXPECT_EQ(headerSize(after), headerSize(otherProgramsFile({asf::PaddingObject(200)})));

  const std::pair<const char*, QByteArray> refused[] = {
      {"no padding", otherProgramsFile({description({asf::Utf16z(QStringLiteral("old")), {}, {}, {}, {}})})},
      {"texts that run past their object",
       [] {
         QByteArray d = description({asf::Utf16z(QStringLiteral("old")), {}, {}, {}, {}});
         asf::putLe(reinterpret_cast<uint8_t*>(d.data()) + 24 + 2, 500, 2);  // the author's length
         return otherProgramsFile({d, asf::PaddingObject(200)});
       }()},
      {"no ASF at all", QByteArray(4096, 'x')},
  };
  for (const auto& [what, bytes] : refused) {
    SCOPED_TRACE(what);
    writeAll(path, bytes);
    const RetitleOutcome out = retitle(path, QStringLiteral("新しい名前.wma"));
    EXPECT_NE(out.result, Result::Retitled);
    EXPECT_EQ(readAll(path), bytes) << "left byte for byte";
  }
  EXPECT_EQ(retitle(dir_.filePath(QStringLiteral("gone.wma")), QStringLiteral("x")).result, Result::Io);
}

}  // namespace
