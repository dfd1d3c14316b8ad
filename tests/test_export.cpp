#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

#include "player/PlaybackEngine.h"
#include "player/RecordingList.h"
#include "player/RecordingReview.h"
#include "player/frmRecordings.h"
#include "recording/SoundExport.h"
#include "settings/Settings.h"
#include "settings/modINI.h"
#include "support/AudioCheck.h"
#include "support/FakeSeams.h"
#include "support/Wait.h"
#include "support/Widgets.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

class ExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    talk_ = makeWma(folder_->path(), QStringLiteral("talk"), 440, 10, {2000, 6000});
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(QFile::exists(talk_)) << "ffmpeg could not make the recording";
  }

  // Runs the export to its end: whether it completed, and why not.
  std::pair<bool, QString> run(const ExportJob& job, const std::function<void(SoundExport&, int)>& onProgress = {}) {
    SoundExport exporter;
    std::optional<std::pair<bool, QString>> ended;
    QObject::connect(&exporter, &SoundExport::finished, [&](bool done, const QString& why) { ended.emplace(done, why); });
    QObject::connect(&exporter, &SoundExport::progress, [&](int permille) {
      progressed_ = std::max(progressed_, permille);
      if (onProgress) onProgress(exporter, permille);
    });
    EXPECT_TRUE(exporter.start(job));
    EXPECT_FALSE(exporter.start(job)) << "one at a time";
    waitUntil([&] { return ended.has_value(); }, 60000);
    return ended.value_or(std::make_pair(false, QStringLiteral("never ended")));
  }
  ExportJob job(ExportFormat format, const QString& name) const {
    ExportJob j;
    j.source = talk_;
    j.target = dir_.filePath(name);
    j.format = format;
    j.title = QStringLiteral("講義");
    j.began = QStringLiteral("2026-12-11T09:05:00");
    j.chapters = {{2000, QStringLiteral("はじめ")}, {6000, QStringLiteral("質問")}};
    return j;
  }
  // Nothing but what the export was to leave: no partial file under any name.
  QStringList leftIn() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot); }

  static QTemporaryDir* folder_;
  static QString talk_;
  QTemporaryDir dir_;
  int progressed_ = -1;
};
QTemporaryDir* ExportTest::folder_ = nullptr;
QString ExportTest::talk_;

}  // namespace

// Each format is what its name says, as long as the recording, with the marks as chapters
// (WAV has none) and the title, and GStreamer plays it.
TEST_F(ExportTest, EachFormatCarriesTheSoundTheMarksAndTheTitle) {
  const double length = probe(talk_).duration;
  struct Case {
    ExportFormat format;
    const char* file;
    const char* codec;
    bool chapters;
  };
  for (const Case& c : {Case{ExportFormat::Mp3, "talk.mp3", "mp3", true}, Case{ExportFormat::M4a, "talk.m4a", "aac", true},
                        Case{ExportFormat::Opus, "talk.opus", "opus", true}, Case{ExportFormat::Flac, "talk.flac", "flac", true},
                        Case{ExportFormat::Wav, "talk.wav", "pcm_s16le", false}}) {
    SCOPED_TRACE(c.file);
    progressed_ = -1;
    const auto [done, why] = run(job(c.format, QString::fromLatin1(c.file)));
    ASSERT_TRUE(done) << why.toStdString();
    EXPECT_EQ(progressed_, 1000);
    const QString out = dir_.filePath(QString::fromLatin1(c.file));
    const Probe probed = probe(out);
    ASSERT_TRUE(probed.ok);
    EXPECT_EQ(probed.codecName, QString::fromLatin1(c.codec));
    EXPECT_NEAR(probed.duration, length, 0.05);
    EXPECT_NEAR(dominantFrequency(decodeMono(out, 16000), 16000), 440, 10);
    if (c.format != ExportFormat::Wav) {
      EXPECT_EQ(probed.title, QStringLiteral("講義"));
    }
    std::vector<Chapter> chapters = chaptersOf(out);
    if (c.format == ExportFormat::M4a && !chapters.empty()) {
      // Its chapter track begins at the start: the stretch before the first mark is named
      // after the recording.
      EXPECT_EQ(chapters[0].start, 0);
      EXPECT_EQ(chapters[0].title, QStringLiteral("講義"));
      chapters.erase(chapters.begin());
    }
    if (c.chapters) {
      ASSERT_EQ(chapters.size(), 2u);
      EXPECT_NEAR(chapters[0].start, 2.0, 0.05);
      EXPECT_EQ(chapters[0].title, QStringLiteral("はじめ"));
      EXPECT_NEAR(chapters[1].start, 6.0, 0.05);
      EXPECT_EQ(chapters[1].title, QStringLiteral("質問"));
    }

    PlaybackEngine engine;
    engine.load(out, true);
    EXPECT_TRUE(waitUntil([&] { return engine.position() > 300; }, 10000)) << "GStreamer does not play it";
    EXPECT_NEAR(double(engine.duration()), length * 1000, 100);
  }
  EXPECT_EQ(leftIn().size(), 5) << leftIn().join(QLatin1Char(' ')).toStdString();
}

// A stretch goes out as itself: its length, its own sound, the marks inside it moved to
// its start.
TEST_F(ExportTest, AStretchGoesOutWithTheMarksInsideIt) {
  ExportJob stretch = job(ExportFormat::Opus, QStringLiteral("part.opus"));
  stretch.fromMs = 3000;
  stretch.toMs = 8000;
  const auto [done, why] = run(stretch);
  ASSERT_TRUE(done) << why.toStdString();
  const QString out = dir_.filePath(QStringLiteral("part.opus"));
  EXPECT_NEAR(probe(out).duration, 5.0, 0.05);
  const std::vector<Chapter> chapters = chaptersOf(out);
  ASSERT_EQ(chapters.size(), 1u);
  EXPECT_NEAR(chapters[0].start, 3.0, 0.05);
  EXPECT_EQ(chapters[0].title, QStringLiteral("質問"));
}

// Cancelled or failed, an export leaves nothing behind.
TEST_F(ExportTest, ACancelledOrFailedExportLeavesNothing) {
  const QString longer = makeWma(dir_.path(), QStringLiteral("long"), 440, 240);
  ExportJob cancelled = job(ExportFormat::Flac, QStringLiteral("long.flac"));
  cancelled.source = longer;
  cancelled.chapters.clear();
  const auto [done, why] = run(cancelled, [](SoundExport& e, int permille) {
    if (permille > 0) e.cancel();
  });
  EXPECT_FALSE(done);
  EXPECT_TRUE(why.isEmpty()) << why.toStdString();
  EXPECT_LT(progressed_, 1000);
  EXPECT_EQ(leftIn(), QStringList{QStringLiteral("long.wma")});

  const QString text = dir_.filePath(QStringLiteral("notes.wma"));
  {
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a sound");
  }
  ExportJob failing = job(ExportFormat::Mp3, QStringLiteral("notes.mp3"));
  failing.source = text;
  const auto [failed, said] = run(failing);
  EXPECT_FALSE(failed);
  EXPECT_FALSE(said.isEmpty());
  EXPECT_EQ(leftIn().size(), 2) << leftIn().join(QLatin1Char(' ')).toStdString();
}

// From the recordings window: Ctrl+E, the save dialog's kind, and the selection of the
// waveform when there is one.
TEST_F(ExportTest, TheRecordingsWindowExportsTheSelectionInTheChosenFormat) {
  QStandardPaths::setTestModeEnabled(true);
  QDir().mkpath(dir_.filePath(QStringLiteral("rec")));
  const QString recording = dir_.filePath(QStringLiteral("rec/talk.wma"));
  ASSERT_TRUE(QFile::copy(talk_, recording));
  WriteSetting(kSaveFolderSetting, dir_.filePath(QStringLiteral("rec")));
  FakeSystem sys;
  frmRecordings window(sys.seams(), sys.settings, [] { return LiveRecording{}; });
  window.show();
  ASSERT_TRUE(waitUntil([&] { return window.list().complete() && window.review().path() == recording; }, 10000));
  ASSERT_TRUE(waitUntil([&] { return window.review().waveform().loudness().lengthMs() > 9000; }, 10000));
  window.review().waveform().setSelection(1000, 4000);
  sys.prompter.saveAnswer = dir_.filePath(QStringLiteral("answer"));  // the suffix goes on by itself
  sys.prompter.saveFilter = 1;  // M4A
  QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
  ASSERT_EQ(sys.prompter.saveRequests.size(), 1u);
  EXPECT_EQ(QFileInfo(sys.prompter.saveRequests[0].suggested).fileName(), QStringLiteral("talk_00-00-01-00-00-04.mp3"));
  EXPECT_EQ(sys.prompter.saveRequests[0].filters.size(), 5);
  ASSERT_TRUE(waitUntil([&] { return !sys.prompter.notices.empty() || !sys.prompter.messages.empty(); }, 30000));
  ASSERT_EQ(sys.prompter.notices.size(), 1u) << (sys.prompter.messages.empty() ? "" : sys.prompter.messages[0].text.toStdString());
  const QString out = dir_.filePath(QStringLiteral("answer.m4a"));
  EXPECT_TRUE(sys.prompter.notices[0].text.contains(QStringLiteral("answer.m4a")));
  EXPECT_EQ(probe(out).codecName, QStringLiteral("aac"));
  EXPECT_NEAR(probe(out).duration, 3.0, 0.05);
  QFile::remove(SettingsFilePath());
}
