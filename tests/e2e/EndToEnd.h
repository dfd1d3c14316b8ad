#pragma once
// The real program on the test screen, recording from the test sound server: what a user
// does, with the mouse and the keyboard, and what ends up on disk. The fixture and the
// helpers every end-to-end test file shares.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>

#include "settings/ProfileFile.h"
#include "settings/modINI.h"
#include "support/AudioCheck.h"
#include "support/MicFeeder.h"
#include "support/Screen.h"
#include "support/Wait.h"

namespace tallowen::test {


inline QString run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(10000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

inline QRect geometryOf(const QString& id) {
  const QString text = xdotool({QStringLiteral("getwindowgeometry"), id});
  const auto m = QRegularExpression(QStringLiteral("Position: (-?\\d+),(-?\\d+).*Geometry: (\\d+)x(\\d+)"),
                                    QRegularExpression::DotMatchesEverythingOption)
                     .match(text);
  return m.hasMatch() ? QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                              m.captured(4).toInt())
                      : QRect();
}

// A visible window with this exact title and, when given, this width.
inline QString findWindow(const QString& title, int width = 0, int timeoutMs = 15000) {
  QString found;
  waitUntil(
      [&] {
        const QStringList ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')})
                                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& id : ids) {
          const QRect g = geometryOf(id);
          if (!g.isValid() || (width && g.width() != width) || (!width && g.width() == 175)) continue;
          found = id;
          return true;
        }
        return false;
      },
      timeoutMs);
  return found;
}

inline void clickIn(const QString& window, int x, int y) {
  xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x), QString::number(y),
           QStringLiteral("click"), QStringLiteral("1")});
  runFor(200);
}

// The main window's buttons stand in one row 19 pixels above its bottom edge.
inline void clickButton(const QString& mainWindow, int x) { clickIn(mainWindow, x, geometryOf(mainWindow).height() - 19); }

// There is no window manager on the test screen: focus is given by hand.
inline void keys(const QString& window, const QStringList& keyNames) {
  xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
  xdotool(QStringList{QStringLiteral("key")} + keyNames);
  runFor(200);
}

inline void screenshot(const QString& window, const QString& name) {
  const QString folder = qEnvironmentVariable("TALLOWEN_SCREENSHOTS");
  if (folder.isEmpty()) return;
  runFor(300);  // let the window repaint
  run(QStringLiteral("import"), {QStringLiteral("-window"), window, folder + QLatin1Char('/') + name});
}

// The moments the program notes when TALLOWEN_TRACE names a file: "record-click",
// "first-sample", "paused", "stop-click", "file-closed", "player-length", on the machine's
// steady clock.
class Trace {
 public:
  explicit Trace(const QString& path) : path_(path) {}
  const QString& path() const { return path_; }
  // Nanoseconds of the latest note of that moment, or -1.
  qint64 latest(const char* moment) const {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    qint64 at = -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
      const QList<QByteArray> fields = line.split(' ');
      if (fields.size() == 2 && fields[1] == moment) at = fields[0].toLongLong();
    }
    return at;
  }
  // Waits until the program notes the moment after `after`; its time, or -1.
  qint64 waitFor(const char* moment, qint64 after = 0, int timeoutMs = 15000) const {
    qint64 at = -1;
    waitUntil([&] { return (at = latest(moment)) > after; }, timeoutMs);
    return at > after ? at : -1;
  }

 private:
  QString path_;
};

inline double secondsBetween(qint64 from, qint64 to) { return double(to - from) / 1e9; }

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MicFeeder::available() || qEnvironmentVariableIsEmpty("DISPLAY"))
      GTEST_SKIP() << "needs the test command's screen and sound server";
    mic_ = std::make_unique<MicFeeder>(440);
    saveFolder_ = work_.filePath(QStringLiteral("rec"));
    // An installed program runs where it was installed; a built one from a copy of its own.
    const QString installed = qEnvironmentVariable("TALLOWEN_E2E_INSTALLED");
    if (installed.isEmpty()) {
      app_ = work_.filePath(QStringLiteral("app"));
      QDir().mkpath(app_);
      ASSERT_TRUE(QFile::copy(QStringLiteral(TALLOWEN_EXE), app_ + QStringLiteral("/tallowen")));
      ASSERT_TRUE(QFile::copy(QStringLiteral(TALLOWEN_CODEC), app_ + QStringLiteral("/libtallowen_codec.so")));
      ASSERT_TRUE(QFile::copy(QStringLiteral(TALLOWEN_HELP), app_ + QStringLiteral("/TallowenHelp.chm")));
    } else {
      app_ = QFileInfo(installed).absolutePath();
    }
    // Wherever the program itself keeps its settings: an installed one always with the user.
    const SettingsPlaces places{installed.isEmpty() ? app_ : QString(),
                                work_.filePath(QStringLiteral("config/Tallowen")), QString()};
    ini_ = SettingsFilePathFor(places, FolderWritable);
  }
  void TearDown() override {
    program_.terminate();
    program_.waitForFinished();
  }

  void store(const QString& section, const QString& key, const QString& value) {
    QDir().mkpath(QFileInfo(ini_).absolutePath());
    WriteProfileString(ini_, section, key, value, utf8_);
  }
  QString stored(const QString& section, const QString& key) { return ReadProfileString(ini_, section, key, utf8_); }

  // Starts the program and answers No to the first-start offer; the main window's id. Or
  // leaves the offer for the test to answer: its id.
  QString startProgram(bool answerTheOffer = true) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), work_.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), work_.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("TALLOWEN_TRACE"), trace_.path());
    for (auto it = extraEnvironment_.cbegin(); it != extraEnvironment_.cend(); ++it) env.insert(it.key(), it.value());
    program_.setProcessEnvironment(env);
    program_.setProcessChannelMode(QProcess::ForwardedChannels);  // its complaints show in the log
    // Under a loaded machine the first window has been seen not to come up once in a few
    // dozen starts; what the screen held is logged, and the program started once more.
    for (int start = 0; start < 2; ++start) {
      program_.start(app_ + QStringLiteral("/tallowen"));
      if (!program_.waitForStarted()) return QString();
      const QString offer = findWindow(QStringLiteral("Tallowen"));
      if (offer.isEmpty()) {
        std::cerr << "no first-start offer; the program is "
                  << (program_.state() == QProcess::Running ? "running" : "gone") << "; windows:\n";
        for (const QString& id : xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral(".")})
                                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
          std::cerr << "  " << xdotool({QStringLiteral("getwindowname"), id}).toStdString() << " "
                    << xdotool({QStringLiteral("getwindowgeometry"), id}).simplified().toStdString() << "\n";
        // A program that could not reach the screen: what the screen's server said, and who
        // holds it.
        std::cerr << "clients of the screen:\n"
                  << run(QStringLiteral("xlsclients"), {QStringLiteral("-l")}).toStdString() << "\nits log:\n"
                  << run(QStringLiteral("tail"), {QStringLiteral("-n"), QStringLiteral("20"),
                                                  qEnvironmentVariable("TEST_ENV_DIR") + QStringLiteral("/xvfb.log")})
                         .toStdString()
                  << "\n";
        program_.kill();
        program_.waitForFinished();
        QFile::remove(work_.filePath(QStringLiteral("config/Tallowen/started")));  // offer it again
        continue;
      }
      screenshot(offer, QStringLiteral("install-offer.png"));
      if (!answerTheOffer) return offer;
      // A slow start (the sanitizers) may map the offer before it takes keys: ask again.
      for (int attempt = 0; attempt < 10; ++attempt) {
        keys(offer, {QStringLiteral("Escape")});
        const QString window = findWindow(QStringLiteral("Tallowen"), 175, 2000);
        if (!window.isEmpty()) return window;
      }
      return QString();
    }
    return QString();
  }

  // The program started with a save folder and a quality chosen; its main window's id.
  QString startWithChoicesMade() {
    QDir().mkpath(saveFolder_);
    store(QStringLiteral("SaveTo"), QStringLiteral("Path"), saveFolder_);
    store(QStringLiteral("Profile"), QStringLiteral("Prof"), QStringLiteral("FM ラジオ"));
    return startProgram();
  }

  // The program started with its choices made, and recording: its window, and the trace's
  // moment of the first sample (0 when either did not come).
  struct Recording {
    QString window;
    qint64 first = 0;
  };
  Recording startRecording() {
    Recording r{startWithChoicesMade()};
    if (r.window.isEmpty()) {
      ADD_FAILURE() << "the main window did not come up";
      return r;
    }
    clickButton(r.window, 24);  // record
    r.first = trace_.waitFor("first-sample");
    return r;
  }

  // `seconds` as the program's own notes measure the span between the first sample and
  // the end of capture.
  void expectRecordedTone(const QString& path, double seconds) {
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\Q%1\\E/\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d\\.wma$").arg(saveFolder_))
                    .match(path)
                    .hasMatch())
        << path.toStdString();
    const Probe probed = probe(path);
    ASSERT_TRUE(probed.ok);
    EXPECT_EQ(probed.codecName, QStringLiteral("wmav2"));
    // Capture takes whole buffers of the sound server (50 ms) on either side, and the
    // file starts with a silent frame before zero.
    EXPECT_NEAR(probed.duration, seconds + 0.046, 0.15);
    std::printf("recorded %.3f s between the first sample and the end of capture; the file holds %.3f s\n", seconds,
                probed.duration);
    EXPECT_NEAR(dominantFrequency(decodeMono(path, 16000), 16000), 440, 10);
  }

  QTemporaryDir work_;
  QString app_, saveFolder_, ini_;
  const LocaleCodec utf8_{"UTF-8"};
  Trace trace_{work_.filePath(QStringLiteral("trace.txt"))};
  std::unique_ptr<MicFeeder> mic_;  // sounds all through the test, as a microphone would
  QProcess program_;
  QHash<QString, QString> extraEnvironment_;  // for the program, over the test's own
};

// The end-to-end suites run against the clock.
class EndToEndLive : public EndToEnd {};

}  // namespace tallowen::test
