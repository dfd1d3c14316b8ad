// The marks of a recording in the real program's player: where ⏮, ⏭ and a click on a
// mark's tick go, as the program notes each seek.
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRgb>
#include <chrono>

#include "e2e/EndToEnd.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// A minute of a tone with marks at `marksMs`, made by ffmpeg, which writes chapters as
// an ASF file's markers.
QString minuteWithMarks(const QString& folder, const QList<int>& marksMs) {
  const QString wma = folder + QStringLiteral("/marked.wma");
  const QString chapters = folder + QStringLiteral("/chapters.txt");
  QFile meta(chapters);
  if (!meta.open(QIODevice::WriteOnly)) return QString();
  meta.write(";FFMETADATA1\n");
  for (const int ms : marksMs)
    meta.write(QStringLiteral("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\n").arg(ms).arg(ms + 1).toUtf8());
  meta.close();
  run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                 QStringLiteral("-i"), QStringLiteral("sine=frequency=440:duration=60"), QStringLiteral("-i"),
                                 chapters, QStringLiteral("-map"), QStringLiteral("0"), QStringLiteral("-map_chapters"),
                                 QStringLiteral("1"), QStringLiteral("-c:a"), QStringLiteral("wmav2"), QStringLiteral("-b:a"),
                                 QStringLiteral("32k"), wma});
  return QFileInfo::exists(wma) ? wma : QString();
}

// Where the player was sent, in milliseconds, by each "player-seek" note after `after`.
QList<qint64> seeksAfter(const Trace& trace, qint64 after) {
  QList<qint64> targets;
  QFile f(trace.path());
  if (!f.open(QIODevice::ReadOnly)) return targets;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() == 3 && fields[1] == "player-seek" && fields[0].toLongLong() > after) targets << fields[2].toLongLong();
  }
  return targets;
}

qint64 now() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

// The player's window drawn as it is on the screen.
QImage pictureOf(const QString& window) {
  QProcess p;
  p.start(QStringLiteral("import"), {QStringLiteral("-window"), window, QStringLiteral("png:-")});
  p.waitForFinished(10000);
  return QImage::fromData(p.readAllStandardOutput(), "PNG");
}

// The seek bar stands at the player control's top left (8, 8 in the window) and is 17
// pixels high; a mark's tick is a black line down from its top edge. The x of each tick,
// left to right.
QList<int> ticksIn(const QImage& window) {
  QList<int> ticks;
  constexpr int kTop = 8;
  for (int x = 8; x < window.width() - 60; ++x) {
    const QRgb c = window.pixel(x, kTop + 1);
    if (qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60 && (ticks.isEmpty() || ticks.last() < x - 1)) ticks << x;
  }
  return ticks;
}

TEST_F(EndToEndLive, ThePlayersSkipsAndTheTicksLandOnTheMarks) {
  const QString marked = minuteWithMarks(work_.path(), {20800, 41300});
  ASSERT_FALSE(marked.isEmpty()) << "ffmpeg could not make the recording";
  store(QStringLiteral("LastRecorded"), QStringLiteral("FileName"), marked);
  const QString window = startWithChoicesMade();
  ASSERT_FALSE(window.isEmpty()) << "the main window did not come up";
  clickButton(window, 88);  // play the latest recording
  const QString player = findWindow(QStringLiteral("Tallowen - 再生"));
  ASSERT_FALSE(player.isEmpty()) << "the player did not come up";
  ASSERT_GT(trace_.waitFor("player-length"), 0) << "the recording did not load";
  keys(player, {QStringLiteral("k")});  // paused, so that each skip starts where the last one went

  // The transport row stands 19 pixels below the bar: ⏮ is the third button, ⏭ the sixth.
  const auto click = [&](int x, int y) {
    const qint64 before = now();
    clickIn(player, x, y);
    QList<qint64> seeks;
    waitUntil([&] { return !(seeks = seeksAfter(trace_, before)).isEmpty(); }, 3000);
    return seeks.isEmpty() ? -1 : seeks.last();
  };
  const int row = 8 + 19 + 11, previous = 69, next = 135;
  const qint64 first = click(next, row), second = click(next, row), last = click(next, row);
  EXPECT_EQ(first, 20800) << "⏭ from the start goes to the first mark";
  EXPECT_EQ(second, 41300);
  EXPECT_NEAR(double(last), 60000, 200) << "⏭ after the last mark goes to the end";
  EXPECT_EQ(click(previous, row), 41300);
  EXPECT_EQ(click(previous, row), 20800);
  EXPECT_EQ(click(previous, row), 0) << "⏮ before the first mark goes to the start";

  // A click on a tick lands on its mark, not on the second under the pointer.
  const QList<int> ticks = ticksIn(pictureOf(player));
  ASSERT_EQ(ticks.size(), 2) << "the marks are not drawn on the seek bar";
  EXPECT_EQ(click(ticks[1], 8 + 8), 41300);
  EXPECT_EQ(click(ticks[0], 8 + 8), 20800);
}

}  // namespace
