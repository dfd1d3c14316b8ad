// The real program on small screens and at the desktop scales people use (1, 1.5 and 2):
// every window it opens, message boxes and Qt's own file dialogs included, stands inside
// the screen's work area with the frame the window manager draws around it, and the time
// box shows each of its texts whole.
#include <QImage>
#include <QStandardPaths>

#include "e2e/EndToEnd.h"
#include "support/ScopedEnv.h"

using namespace tallowen;
using namespace tallowen::test;

namespace {

// A screen of the size asked for, with the window manager of the test suite (Openbox)
// when it is installed: where it places windows and the frames it draws are what a
// user's desktop does, and what the program must allow for.
class TestScreen {
 public:
  explicit TestScreen(QSize size) {
    const QString displayFile = folder_.filePath(QStringLiteral("display"));
    xvfb_.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), QStringLiteral("exec Xvfb -displayfd 3 -screen 0 %1x%2x24 -nolisten tcp "
                                                      "-noreset 3>'%3' 2>/dev/null")
                                           .arg(size.width())
                                           .arg(size.height())
                                           .arg(displayFile)});
    waitUntil([&] { return QFileInfo(displayFile).size() > 0; }, 10000);
    QFile file(displayFile);
    if (!file.open(QIODevice::ReadOnly)) return;
    display_ = QByteArray(":") + file.readAll().trimmed();
    env_ = std::make_unique<ScopedEnv>("DISPLAY", display_);
    if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty()) {
      std::printf("no window manager (openbox is not installed): windows without frames\n");
      return;
    }
    openbox_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    openbox_.start(QStringLiteral("openbox"), {});
    managed_ = waitUntil([] { return rootProperty("_NET_SUPPORTING_WM_CHECK").contains(QLatin1String("window id")); },
                         10000);
  }
  ~TestScreen() {
    for (QProcess* p : {&openbox_, &xvfb_}) {
      p->terminate();
      if (!p->waitForFinished(5000)) p->kill();
      p->waitForFinished();
    }
  }
  bool ready() const { return !display_.isEmpty(); }
  bool managed() const { return managed_; }

  // The screen less what panels take, as the window manager tells it.
  static QRect workArea() {
    const QStringList area = rootProperty("_NET_WORKAREA").section(QLatin1Char('='), 1).split(QLatin1Char(','));
    if (area.size() >= 4) return QRect(area[0].toInt(), area[1].toInt(), area[2].toInt(), area[3].toInt());
    const QStringList size = xdotool({QStringLiteral("getdisplaygeometry")}).split(QLatin1Char(' '));
    return size.size() == 2 ? QRect(0, 0, size[0].toInt(), size[1].toInt()) : QRect();
  }

 private:
  static QString rootProperty(const char* name) {
    return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QString::fromLatin1(name)});
  }

  QTemporaryDir folder_;
  QProcess xvfb_, openbox_;
  QByteArray display_;
  std::unique_ptr<ScopedEnv> env_;
  bool managed_ = false;
};

struct Placed {
  QString id, title;
  QRect frame;  // the window with the window manager's frame around it
  bool operator==(const Placed&) const = default;
};

// The program's windows that are on the screen, each with its frame: the window the
// window manager put it in, or itself where there is none.
QList<Placed> windowsOf(qint64 pid, bool managed) {
  QStringList shown;
  for (const QString& id : xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                    QString::number(pid)})
                               .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    shown << QStringLiteral("0x%1").arg(id.toULongLong(), 0, 16);
  QProcess tree;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  tree.setProcessEnvironment(env);
  tree.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
  tree.waitForFinished(10000);
  // "     0x400007 (has no name): ()  1266x761+4+19  +4+19", nested three spaces a level.
  static const QRegularExpression line(
      QStringLiteral("^( *)(0x[0-9a-f]+) (\"(.*)\"|\\(has no name\\)): .*  (\\d+)x(\\d+)\\+(-?\\d+)\\+(-?\\d+)  "));
  QList<Placed> placed;
  int topIndent = -1;
  QRect topFrame;
  for (const QString& text : QString::fromUtf8(tree.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    const QRegularExpressionMatch m = line.match(text);
    if (!m.hasMatch()) continue;
    const int indent = int(m.capturedLength(1));
    if (topIndent < 0) topIndent = indent;
    if (indent == topIndent) {
      topFrame = QRect(m.captured(7).toInt(), m.captured(8).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    }
    // A window of the program in no frame but its own under a window manager is a menu, a
    // tooltip or a combo box's list: Qt places those itself, on the screen.
    if (shown.contains(m.captured(2)) && (indent > topIndent) == managed)
      placed.push_back({m.captured(2), m.captured(4), topFrame});
  }
  return placed;
}

class ScreenLive : public EndToEndLive {
 protected:
  // Starts the program at a desktop scale; its first window, the first start's offer, is
  // checked like every other before it is answered. The main window's id.
  QString startAt(double scale) {
    scale_ = scale;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), work_.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), work_.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("TALLOWEN_TRACE"), trace_.path());
    QFile::remove(work_.filePath(QStringLiteral("config/Tallowen/started")));
    program_.setProcessEnvironment(env);
    program_.setProcessChannelMode(QProcess::ForwardedChannels);
    const QString offer = opened("the first start's offer", [&] {
      program_.start(app_ + QStringLiteral("/tallowen"));
      program_.waitForStarted();
    });
    if (offer.isEmpty()) return QString();
    // A slow start (the sanitizers) may map the offer before it takes keys: ask again.
    for (int attempt = 0; attempt < 10; ++attempt) {
      press(offer, {QStringLiteral("Escape")});
      QString main;
      waitUntil(
          [&] {
            for (const Placed& w : windowsOf(program_.processId(), managed_))
              if (w.title == QLatin1String("Tallowen") && w.id != offer) main = w.id;
            return !main.isEmpty();
          },
          2000);
      if (!main.isEmpty()) {
        expectAllInside("the main window");
        return main;
      }
    }
    return QString();
  }

  // Does what opens windows, then waits for `count` more windows of the program, and for
  // every one of them to stand still where it ends up; each must then be inside the work
  // area. The last new window's id.
  template <typename Action>
  QString opened(const char* what, Action action, int count = 1) {
    QStringList before;
    for (const Placed& w : windowsOf(program_.processId(), managed_)) before << w.id;
    action();
    QStringList added;
    waitUntil(
        [&] {
          for (const Placed& w : windowsOf(program_.processId(), managed_))
            if (!before.contains(w.id) && !added.contains(w.id)) added << w.id;
          return added.size() >= count;
        },
        15000);
    EXPECT_EQ(added.size(), count) << what << " did not open at scale " << scale_;
    if (added.isEmpty()) return QString();
    expectAllInside(what);
    return added.last();
  }

  void expectAllInside(const char* what) {
    const QRect area = TestScreen::workArea();
    QList<Placed> seen;
    QElapsedTimer still;
    still.start();
    // A window the window manager moves, or the program moves once it knows the frame,
    // is judged where it stays.
    waitUntil(
        [&] {
          const QList<Placed> now = windowsOf(program_.processId(), managed_);
          if (now != seen) {
            seen = now;
            still.restart();
          }
          return still.elapsed() > 250 &&
                 std::all_of(seen.begin(), seen.end(), [&](const Placed& w) { return area.contains(w.frame); });
        },
        5000);
    for (const Placed& w : seen) {
      // A program started again may get the ids of the one before.
      const QString key = QStringLiteral("%1 %2").arg(scale_).arg(w.id);
      if (!reported_.contains(key)) {
        reported_ << key;
        std::printf("scale %g: \"%s\" %dx%d at %d,%d with its frame, in a work area of %dx%d\n", scale_,
                    qPrintable(w.title), w.frame.width(), w.frame.height(), w.frame.x(), w.frame.y(), area.width(),
                    area.height());
      }
      EXPECT_TRUE(area.contains(w.frame))
          << "with " << what << " open at scale " << scale_ << ", \"" << w.title.toStdString() << "\" stands at "
          << w.frame.x() << "," << w.frame.y() << " " << w.frame.width() << "x" << w.frame.height()
          << " with its frame, out of the work area " << area.width() << "x" << area.height();
    }
  }

  // Waits until the window is gone from the screen.
  void closed(const QString& id) {
    EXPECT_TRUE(waitUntil(
        [&] {
          const QList<Placed> now = windowsOf(program_.processId(), managed_);
          return std::none_of(now.begin(), now.end(), [&](const Placed& w) { return w.id == id; });
        },
        10000));
  }

  // Clicks a point of the window given in the program's own pixels.
  void clickAt(const QString& window, int x, int y) {
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(std::lround(x * scale_)),
             QString::number(std::lround(y * scale_)), QStringLiteral("click"), QStringLiteral("1")});
  }
  // The main window's buttons stand in one row 19 pixels above its bottom edge.
  void clickMainButton(const QString& main, int x) {
    clickAt(main, x, int(std::lround(geometryOf(main).height() / scale_)) - 19);
  }
  // Keys to the window, as the window manager hands them over when it is active.
  void press(const QString& window, const QStringList& keyNames) {
    if (managed_) xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    xdotool(QStringList{QStringLiteral("key")} + keyNames);
    runFor(100);
  }

  // Every window the program opens from the main window, one after the other.
  void openEveryWindow(const QString& main) {
    const QString settings = opened("the settings dialog", [&] { clickMainButton(main, 132); });
    ASSERT_FALSE(settings.isEmpty());
    const QString folders = opened("the folder dialog", [&] { clickAt(settings, 444, 32); });  // 参照
    if (!folders.isEmpty()) {
      press(folders, {QStringLiteral("Escape")});
      closed(folders);
    }
    clickAt(settings, 112, 100);  // キャンセル
    closed(settings);

    const QString player = opened("the player", [&] { clickMainButton(main, 88); });
    ASSERT_FALSE(player.isEmpty());
    const QString files = opened("the open-file dialog", [&] { clickAt(player, 80, 64); });  // ほかのファイルを再生
    if (!files.isEmpty()) {
      press(files, {QStringLiteral("Escape")});
      closed(files);
    }

    // From the menus, all three at once.
    opened(
        "the recordings window, the About box and the help window",
        [&] {
          const std::pair<const char*, const char*> items[] = {{"alt+f", "r"}, {"alt+h", "a"}, {"alt+h", "c"}};
          for (const auto& [menuKey, itemKey] : items) {
            press(main, {QString::fromLatin1(menuKey)});
            press(main, {QString::fromLatin1(itemKey)});
          }
        },
        3);
  }

  // A recording the player and the recordings window find.
  void storeARecording() {
    QDir().mkpath(saveFolder_);
    const QString recording = saveFolder_ + QStringLiteral("/2024-05-01_10-00.wma");
    ASSERT_TRUE(QFile::copy(QStringLiteral(TALLOWEN_SAMPLE_WMA), recording));
    store(QStringLiteral("SaveTo"), QStringLiteral("Path"), saveFolder_);
    store(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("FM ラジオ"));
    store(QStringLiteral("LastRecorded"), QStringLiteral("FileName"), recording);
  }

  void endProgram() {
    program_.terminate();
    program_.waitForFinished(10000);
  }

  double scale_ = 1;
  QStringList reported_;  // windows whose place is printed
  bool managed_ = false;  // a window manager runs on the test screen
};

// What the time box shows, seen in a picture of the main window: the rows and columns
// inside its frame, the text's ink in them, and the level bar along its bottom.
struct TimeBoxPicture {
  bool found = false;
  QRect inside;    // within the frame
  int meterTop = -1;  // the first row of the level bar, or -1 without one
  QRect ink;       // of the text
};

bool isDark(QRgb c) { return qGray(c) < 90 && std::abs(qRed(c) - qGreen(c)) < 40 && std::abs(qGreen(c) - qBlue(c)) < 40; }
// The level bar's greens and reds, never the text's greys.
bool isMeter(QRgb c) { return qGreen(c) > qRed(c) + 40 || qRed(c) > qGreen(c) + 80; }

TimeBoxPicture readTimeBox(const QImage& image, double scale) {
  TimeBoxPicture box;
  // The box's frame: the only lines of dark pixels about as long as the box is wide, its
  // top and its bottom edge; its sides are the dark columns between them.
  const int left = int(std::lround(8 * scale)), width = int(std::lround(97 * scale));
  auto darkRow = [&](int y) {
    int n = 0;
    for (int x = left; x < left + width && x < image.width(); ++x) n += isDark(image.pixel(x, y));
    return n > width * 8 / 10;
  };
  int top = 0;
  while (top < image.height() && !darkRow(top)) ++top;
  while (top + 1 < image.height() && darkRow(top + 1)) ++top;
  int bottom = top + 1;
  while (bottom < image.height() && !darkRow(bottom)) ++bottom;
  if (bottom >= image.height() || bottom - top < 5 * scale) return box;
  auto darkColumn = [&](int x) {
    int n = 0;
    for (int y = top; y <= bottom; ++y) n += isDark(image.pixel(x, y));
    return n > (bottom - top) * 8 / 10;
  };
  int x0 = std::max(0, left - int(3 * scale)), x1 = std::min(image.width() - 1, left + width + int(3 * scale));
  while (x0 < x1 && !darkColumn(x0)) ++x0;
  while (x0 < x1 && darkColumn(x0 + 1)) ++x0;
  while (x1 > x0 && !darkColumn(x1)) --x1;
  while (x1 > x0 && darkColumn(x1 - 1)) --x1;
  box.inside = QRect(QPoint(x0 + 1, top + 1), QPoint(x1 - 1, bottom - 1));
  box.found = box.inside.width() > 20 * scale && box.inside.height() > 5 * scale;
  if (!box.found) return box;
  for (int y = box.inside.top(); y <= box.inside.bottom() && box.meterTop < 0; ++y)
    for (int x = box.inside.left(); x <= box.inside.right(); ++x)
      if (isMeter(image.pixel(x, y))) {
        box.meterTop = y;
        break;
      }
  const QRgb background = image.pixel(box.inside.right() - 1, box.inside.top() + 1);
  for (int y = box.inside.top(); y <= box.inside.bottom(); ++y)
    for (int x = box.inside.left(); x <= box.inside.right(); ++x) {
      const QRgb c = image.pixel(x, y);
      if (!isMeter(c) && qGray(c) < qGray(background) * 6 / 10) box.ink |= QRect(x, y, 1, 1);
    }
  return box;
}

QImage pictureOf(const QString& window) {
  QProcess p;
  p.start(QStringLiteral("import"), {QStringLiteral("-window"), window, QStringLiteral("png:-")});
  p.waitForFinished(10000);
  return QImage::fromData(p.readAllStandardOutput(), "PNG").convertToFormat(QImage::Format_RGB32);
}

// The text is whole when its ink keeps clear of the frame and of the level bar: a text
// cut by either has its ink up to the edge it is cut at.
void expectWholeText(const QString& window, double scale, const char* state, std::vector<QImage>* seen = nullptr) {
  const QImage image = pictureOf(window);
  ASSERT_FALSE(image.isNull());
  const TimeBoxPicture box = readTimeBox(image, scale);
  ASSERT_TRUE(box.found) << "no time box in the picture while " << state;
  const int roomBottom = box.meterTop >= 0 ? box.meterTop - 1 : box.inside.bottom();
  ASSERT_FALSE(box.ink.isEmpty()) << "no text in the time box while " << state;
  EXPECT_GT(box.ink.top(), box.inside.top()) << state << " at scale " << scale << ": cut at the top";
  EXPECT_LT(box.ink.bottom(), roomBottom)
      << state << " at scale " << scale << ": ink down to row " << box.ink.bottom() << " of the box's "
      << box.inside.top() << ".." << box.inside.bottom() << (box.meterTop >= 0 ? ", where the level bar starts at " : "")
      << (box.meterTop >= 0 ? std::to_string(box.meterTop) : std::string());
  EXPECT_GT(box.ink.left(), box.inside.left()) << state << " at scale " << scale << ": cut at the left";
  EXPECT_LT(box.ink.right(), box.inside.right()) << state << " at scale " << scale << ": cut at the right";
  // Still a size to read at a glance.
  EXPECT_GE(box.ink.height(), 7 * scale) << state << " at scale " << scale;
  if (seen) seen->push_back(image.copy(box.inside));
}

constexpr double kScales[] = {1, 1.5, 2};

// On the smallest screen still sold: the windows, and the time box in each state of a
// recording (its time, a mark's number, the pause's word) above the level bar.
TEST_F(ScreenLive, EveryWindowFitsA1024x768ScreenAndTheTimeBoxShowsItsTextsWhole) {
  TestScreen screen(QSize(1024, 768));
  ASSERT_TRUE(screen.ready()) << "the test screen did not start";
  managed_ = screen.managed();
  storeARecording();
  for (const double scale : kScales) {
    const QString main = startAt(scale);
    ASSERT_FALSE(main.isEmpty()) << "the main window did not come up at scale " << scale;

    clickMainButton(main, 24);  // record
    const qint64 first = trace_.waitFor("first-sample");
    ASSERT_GT(first, 0) << "no sound reached the recording at scale " << scale;
    runFor(1200);
    const QString tag = scale == 1 ? QString() : QStringLiteral("-scale%1").arg(scale);
    expectWholeText(main, scale, "recording");
    screenshot(main, QStringLiteral("recording%1.png").arg(tag));
    // Paused, the box shows the time and "一時停止中" in turn, half a second each.
    press(main, {QStringLiteral("p")});
    ASSERT_GT(trace_.waitFor("paused", first), 0);
    std::vector<QImage> paused;
    auto distinct = [&] {
      return std::count_if(paused.begin(), paused.end(), [&](const QImage& p) { return p != paused.front(); });
    };
    for (QDeadlineTimer seeing(4000); !seeing.hasExpired() && (paused.size() < 2 || distinct() == 0);) {
      expectWholeText(main, scale, "paused", &paused);
      runFor(150);
    }
    EXPECT_GT(distinct(), 0) << "the pause's word and the time in turn";
    screenshot(main, QStringLiteral("paused%1.png").arg(tag));
    // A mark's number, for a second in place of both.
    press(main, {QStringLiteral("m"), QStringLiteral("m")});
    expectWholeText(main, scale, "showing the second mark");
    screenshot(main, QStringLiteral("mark%1.png").arg(tag));
    press(main, {QStringLiteral("s")});
    ASSERT_GT(trace_.waitFor("file-closed", first), 0);

    openEveryWindow(main);
    endProgram();
  }
}

TEST_F(ScreenLive, EveryWindowFitsA1280x800Screen) {
  TestScreen screen(QSize(1280, 800));
  ASSERT_TRUE(screen.ready()) << "the test screen did not start";
  managed_ = screen.managed();
  storeARecording();
  for (const double scale : kScales) {
    const QString main = startAt(scale);
    ASSERT_FALSE(main.isEmpty()) << "the main window did not come up at scale " << scale;
    openEveryWindow(main);
    endProgram();
  }
}

}  // namespace
