#include <gtest/gtest.h>
#include <time.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <optional>

#include "player/RecordingReview.h"
#include "player/WaveformView.h"
#include "recording/Loudness.h"
#include "recording/LoudnessCache.h"
#include "support/ScopedEnv.h"
#include "support/Wait.h"
#include "support/Widgets.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// A minute: 20 s loud, the rest silent; marks at 10 s and 30 s.
void showMinute(WaveformView& view) {
  view.setRecording(60000, {{10000, QStringLiteral("はじめ")}, {30000, QStringLiteral("質問")}});
  Loudness l;
  l.levels.assign(3000, 0);
  std::fill(l.levels.begin(), l.levels.begin() + 1000, Loudness::levelOf(0.5f));
  view.setLoudness(l);
}

QString spoken(QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Value); }

// The main thread's own CPU time, which a busy machine cannot stretch the way it stretches
// the time between two timer ticks.
qint64 threadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

// The keys move the position and go from mark to mark, Shift selects, and each place is
// said with its mark and how loud it is there.
TEST(Waveform, KeysMoveSelectAndSayWhereTheyAre) {
  WaveformView view;
  view.resize(600, 120);
  showMinute(view);
  view.show();
  view.setFocus();
  std::vector<qint64> seeks;
  QObject::connect(&view, &WaveformView::seekRequested, [&](qint64 ms) { seeks.push_back(ms); });

  auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(&view, k, m);
    return view.value();
  };
  EXPECT_EQ(key(Qt::Key_End), 60000);
  EXPECT_EQ(key(Qt::Key_Home), 0);
  EXPECT_EQ(key(Qt::Key_PageDown), 10000);
  EXPECT_TRUE(spoken(&view).startsWith(QStringLiteral("00:00:10 / 00:01:00、はじめ、"))) << spoken(&view).toStdString();
  EXPECT_TRUE(spoken(&view).contains(QStringLiteral("-6 dB"))) << spoken(&view).toStdString();
  EXPECT_EQ(key(Qt::Key_PageDown), 30000);
  EXPECT_TRUE(spoken(&view).contains(QStringLiteral("質問、無音"))) << spoken(&view).toStdString();
  EXPECT_EQ(key(Qt::Key_PageDown), 60000) << "after the last mark, the end";
  EXPECT_EQ(key(Qt::Key_PageUp), 30000);
  EXPECT_EQ(key(Qt::Key_PageUp), 10000);
  EXPECT_EQ(key(Qt::Key_PageUp), 0) << "before the first mark, the start";
  const int right = key(Qt::Key_Right);
  EXPECT_GT(right, 0);
  EXPECT_LE(right, 2000) << "a step is a small part of what shows";
  EXPECT_EQ(key(Qt::Key_Left), 0);
  EXPECT_EQ(seeks.size(), 10u) << "every move is a seek";

  key(Qt::Key_Right);
  key(Qt::Key_Right, Qt::ShiftModifier);
  key(Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(view.selectionFrom(), right);
  EXPECT_EQ(view.selectionTo(), 3 * right);
  EXPECT_TRUE(spoken(&view).contains(QStringLiteral("選択 %1 から").arg(right == 1000 ? QStringLiteral("00:00:01") : QString())))
      << spoken(&view).toStdString();
  key(Qt::Key_Escape);
  EXPECT_EQ(view.selectionFrom(), -1);
}

// A click plays from where it lands, a drag selects; Ctrl+wheel and the keys zoom from the
// whole recording down to ten seconds, the wheel alone scrolls.
TEST(Waveform, ThePointerSeeksAndSelectsAndTheZoomStopsAtTenSeconds) {
  WaveformView view;
  view.resize(600, 120);
  showMinute(view);
  view.show();
  std::vector<qint64> seeks;
  QObject::connect(&view, &WaveformView::seekRequested, [&](qint64 ms) { seeks.push_back(ms); });
  QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(150, 60));
  ASSERT_EQ(seeks.size(), 1u);
  EXPECT_NEAR(double(seeks[0]), 15000, 150);
  EXPECT_EQ(view.selectionFrom(), -1);

  QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(300, 60));
  QTest::mouseMove(&view, QPoint(360, 60));
  QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(450, 60));
  EXPECT_NEAR(double(view.selectionFrom()), 30000, 150);
  EXPECT_NEAR(double(view.selectionTo()), 45000, 150);
  EXPECT_EQ(view.value(), view.selectionFrom()) << "ready to play the selection";

  for (int i = 0; i < 10; ++i) QTest::keyClick(&view, Qt::Key_Plus);
  EXPECT_EQ(view.visibleMs(), WaveformView::kNarrowestMs);
  const qint64 from = view.visibleFrom();
  QWheelEvent scroll(QPointF(300, 60), view.mapToGlobal(QPointF(300, 60)), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view, &scroll);
  EXPECT_GT(view.visibleFrom(), from) << "the wheel scrolls on";
  EXPECT_EQ(view.visibleMs(), WaveformView::kNarrowestMs);
  QWheelEvent out(QPointF(300, 60), view.mapToGlobal(QPointF(300, 60)), {}, {0, -120}, Qt::NoButton,
                  Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view, &out);
  EXPECT_EQ(view.visibleMs(), 2 * WaveformView::kNarrowestMs);
  QApplication::sendEvent(&view, &out);
  QApplication::sendEvent(&view, &out);
  QApplication::sendEvent(&view, &out);
  EXPECT_EQ(view.visibleMs(), 60000) << "never wider than the whole";
}

// Drawn in the desktop's colours, a dark scheme as well, with edges on whole pixels at
// scales 1, 1.5 and 2: a column of the loud part is bar or background, nothing between.
TEST(Waveform, FollowsTheColoursAndIsCrispAtEachScale) {
  WaveformView view;
  QPalette dark;
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, QColor(230, 230, 230));
  dark.setColor(QPalette::Highlight, QColor(60, 120, 200));
  view.setPalette(dark);
  view.resize(400, 100);
  showMinute(view);
  for (const double scale : {1.0, 1.5, 2.0}) {
    QImage picture(QSize(int(400 * scale), int(100 * scale)), QImage::Format_RGB32);
    picture.setDevicePixelRatio(scale);
    view.render(&picture);
    const QRgb background = picture.pixel(picture.width() * 9 / 10, picture.height() - 3 * int(scale));
    EXPECT_LT(qGray(background), 60) << "the dark scheme's background at " << scale;
    // Columns of the loud part away from the position's line and the first mark, below
    // the marks' names.
    const int below = int(std::ceil(QFontMetrics(view.font()).height() * scale));
    int bar = 0;
    for (int x = int(picture.width() * 0.2); x < int(picture.width() * 0.3); ++x) {
      int between = 0;
      for (int y = below; y < picture.height(); ++y) {
        const QRgb c = picture.pixel(x, y);
        if (c == background) continue;
        if (qGray(c) > 120)
          ++bar;
        else
          ++between;
      }
      ASSERT_EQ(between, 0) << "a blurred column at x " << x << " at scale " << scale;
    }
    EXPECT_GT(bar, picture.width() * 0.1 * picture.height() * 0.4) << "the loud part is drawn tall";
  }
}

class ReviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    cache_.emplace("XDG_CACHE_HOME", dir_.filePath(QStringLiteral("cache")).toUtf8());
  }
  // A sine tone at an eighth of full scale, as WMA made by ffmpeg; empty when it could not.
  QString sine(const QString& name, int frequency, int seconds) const {
    const QString wma = dir_.filePath(name);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                  QStringLiteral("-i"), QStringLiteral("sine=f=%1:r=44100:d=%2").arg(frequency).arg(seconds),
                  QStringLiteral("-c:a"), QStringLiteral("wmav2"), QStringLiteral("-b:a"), QStringLiteral("64k"), wma});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0 ? wma : QString();
  }

  QTemporaryDir dir_;
  std::optional<ScopedEnv> cache_;
};

// A file not made here is decoded while the window goes on: its thread never holds for
// 16 ms, the waveform fills in, and the next time the file is chosen it is there at once.
TEST_F(ReviewTest, AForeignFilesWaveformIsMadeWithoutHoldingTheWindow) {
  const QString wma = sine(QStringLiteral("foreign.wma"), 500, 1200);
  ASSERT_FALSE(wma.isEmpty());

  RecordingReview review;
  review.resize(700, 200);
  review.show();
  WaveformView& wave = review.waveform();
  EXPECT_EQ(wave.accessibleName(), QStringLiteral("波形"));

  qint64 worstNs = 0, lastCpu = threadCpuNs();
  QTimer watch;
  watch.setInterval(1);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const qint64 cpu = threadCpuNs();
    worstNs = std::max(worstNs, cpu - lastCpu);
    lastCpu = cpu;
  });
  watch.start();
  QElapsedTimer took;
  took.start();
  review.showRecording(wma, 1200000, nullptr);
  lastCpu = threadCpuNs();
  const bool made = waitUntil([&] { return wave.loudness().lengthMs() >= 1199000 && !spoken(&wave).contains(QStringLiteral("作っています")); }, 60000);
  watch.stop();
  ASSERT_TRUE(made) << spoken(&wave).toStdString();
  std::printf("20 minutes decoded in %lld ms; the window's thread held for %.1f ms at most\n", took.elapsed(),
              worstNs / 1e6);
  EXPECT_LT(worstNs, 16'000'000);
  EXPECT_GE(wave.loudness().peakOver(600000, 600100), Loudness::levelOf(0.1f)) << "the tone (at an eighth of full scale) is there in the middle";
  EXPECT_TRUE(LoudnessCache().load(wma));

  // Chosen again, it comes from the cache: told apart from a decode by a level changed there.
  Loudness known = wave.loudness();
  known.levels.at(0) = 7;
  ASSERT_TRUE(LoudnessCache().store(wma, known));
  review.showNothing(QStringLiteral("録音が選ばれていません"));
  EXPECT_EQ(wave.lengthMs(), 0);
  review.showRecording(wma, 1200000, nullptr);
  EXPECT_TRUE(waitUntil([&] { return !wave.loudness().levels.empty() && wave.loudness().levels[0] == 7; }, 5000));
}

// A recording still being recorded grows on screen from its meter, and waits to be played.
TEST_F(ReviewTest, ARecordingInProgressGrowsAndIsNotPlayedYet) {
  auto meter = std::make_shared<LoudnessMeter>();
  meter->start(44100, 1);
  std::vector<float> second(44100, 0.25f);
  meter->feed(second.data(), 44100);
  RecordingReview review;
  review.show();
  review.showRecording(dir_.filePath(QStringLiteral("now.wma")), 0, meter);
  EXPECT_EQ(review.waveform().lengthMs(), 1000);
  EXPECT_FALSE(find<QToolButton>(&review, "reviewPlayButton")->isEnabled());
  EXPECT_TRUE(find<QLabel>(&review, "reviewPosition")->text().startsWith(QStringLiteral("録音中 00:00:01")));
  meter->feed(second.data(), 44100);
  meter->feed(second.data(), 44100);
  EXPECT_TRUE(waitUntil([&] { return review.waveform().lengthMs() == 3000; }, 3000));
  EXPECT_TRUE(find<QLabel>(&review, "reviewPosition")->text().startsWith(QStringLiteral("録音中 00:00:03")));
}

// The window plays the selection itself and stops at its end, at the speed chosen, with
// the keys of its menu.
TEST_F(ReviewTest, TheSelectionPlaysAndStopsAtItsEnd) {
  const QString wma = sine(QStringLiteral("talk.wma"), 440, 8);
  ASSERT_FALSE(wma.isEmpty());
  QWidget window;
  auto* review = new RecordingReview(&window);
  window.resize(600, 200);
  window.show();
  review->showRecording(wma, 8000, nullptr);
  WaveformView& wave = review->waveform();
  ASSERT_TRUE(waitUntil([&] { return wave.loudness().lengthMs() > 7000; }, 10000));
  auto* play = find<QToolButton>(review, "reviewPlayButton");
  EXPECT_TRUE(play->isEnabled());
  EXPECT_EQ(play->accessibleName(), QStringLiteral("波形の位置から再生"));

  wave.setSelection(2000, 3500);
  QTest::keyClick(&window, Qt::Key_BracketRight, Qt::ControlModifier);  // faster
  EXPECT_EQ(find<QToolButton>(review, "reviewSpeedButton")->text(), QStringLiteral("1.25 倍"));
  QTest::keyClick(&window, Qt::Key_Space, Qt::ControlModifier);
  ASSERT_TRUE(waitUntil([&] { return play->accessibleName() == QStringLiteral("一時停止"); }, 10000)) << "it does not play";
  EXPECT_TRUE(waitUntil([&] { return wave.value() > 2200; }, 5000)) << "it plays from the selection's start";
  ASSERT_TRUE(waitUntil([&] { return play->accessibleName() == QStringLiteral("波形の位置から再生"); }, 10000))
      << "it went on past the selection";
  EXPECT_EQ(wave.value(), 3500);
  EXPECT_TRUE(find<QLabel>(review, "reviewPosition")->text().startsWith(QStringLiteral("00:00:03 / 00:00:08")));
}
