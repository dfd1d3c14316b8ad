#pragma once
// What a screen reader is told by the real program, over AT-SPI: each control's name,
// description and text, and where it is on the screen, so that a test reads what the user
// hears and clicks where a control stands. The program runs on a session bus of the test's
// own (tests/e2e/screen_reader.py reads it).
#include <signal.h>

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <functional>
#include <optional>
#include <vector>

#include "support/Screen.h"
#include "support/Wait.h"

namespace tallowen::test {

struct Accessible {
  QString role, name, description, text;
  QString window;  // the name of the window it stands in
  QRect extents;   // on the screen
  bool selected = false;
  bool focused = false;
  QPoint centre() const { return extents.center(); }
};

class ScreenReader {
 public:
  ScreenReader() {
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--fork"),
                                               QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
    if (!bus.waitForFinished(10000) || bus.exitCode() != 0) return;
    const QStringList lines = QString::fromUtf8(bus.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (lines.size() < 2) return;
    address_ = lines[0].trimmed();
    busPid_ = lines[1].trimmed().toLongLong();
  }
  ~ScreenReader() {
    // The bus of our own, and with it the accessibility bus it started.
    if (busPid_ > 0) ::kill(pid_t(busPid_), SIGTERM);
  }
  ScreenReader(const ScreenReader&) = delete;
  ScreenReader& operator=(const ScreenReader&) = delete;

  bool available() const { return busPid_ > 0 && QFileInfo::exists(QStringLiteral(E2E_SCREEN_READER)); }

  // What the program needs to be heard: the bus, and Qt's bridge on without a desktop asking.
  QHash<QString, QString> environment() const {
    return {{QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_},
            {QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1")}};
  }

  // Every control of the program `pid` that is on screen now.
  std::vector<Accessible> controls(qint64 pid) const {
    QProcess reader;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    reader.setProcessEnvironment(env);
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(E2E_SCREEN_READER), QString::number(pid)});
    std::vector<Accessible> found;
    if (!reader.waitForFinished(20000)) {
      reader.kill();
      reader.waitForFinished();
      return found;
    }
    for (const QByteArray& line : reader.readAllStandardOutput().split('\n')) {
      const QJsonObject o = QJsonDocument::fromJson(line).object();
      if (o.isEmpty()) continue;
      const QJsonArray e = o.value(QStringLiteral("extents")).toArray();
      found.push_back({o.value(QStringLiteral("role")).toString(), o.value(QStringLiteral("name")).toString(),
                       o.value(QStringLiteral("description")).toString(), o.value(QStringLiteral("text")).toString(),
                       o.value(QStringLiteral("window")).toString(),
                       QRect(e.at(0).toInt(), e.at(1).toInt(), e.at(2).toInt(), e.at(3).toInt()),
                       o.value(QStringLiteral("selected")).toBool(), o.value(QStringLiteral("focused")).toBool()});
    }
    return found;
  }

  // What is on screen, a line a control: for the message of a test that did not find one.
  QString listing(qint64 pid) const {
    QStringList lines;
    for (const Accessible& a : controls(pid))
      lines << QStringLiteral("%1 \"%2\" in \"%3\" at %4,%5 %6x%7")
                   .arg(a.role, a.name.left(40), a.window)
                   .arg(a.extents.x())
                   .arg(a.extents.y())
                   .arg(a.extents.width())
                   .arg(a.extents.height());
    return lines.join(QLatin1Char('\n'));
  }

  // The first control on screen that `wanted` takes, once there is one.
  std::optional<Accessible> waitFor(qint64 pid, const std::function<bool(const Accessible&)>& wanted,
                                    int timeoutMs = 10000) const {
    std::optional<Accessible> found;
    waitUntil(
        [&] {
          for (const Accessible& a : controls(pid))
            if (wanted(a)) {
              found = a;
              return true;
            }
          return false;
        },
        timeoutMs);
    return found;
  }

 private:
  QString address_;
  qint64 busPid_ = 0;
};

// A click of the mouse on the middle of a control, where the screen reader says it is.
inline void clickOn(const Accessible& control) {
  xdotool({QStringLiteral("mousemove"), QString::number(control.centre().x()), QString::number(control.centre().y()),
           QStringLiteral("click"), QStringLiteral("1")});
  runFor(200);
}

}  // namespace tallowen::test
