#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace tallowen::test {

// Runs the event loop until `done` holds or the time is up; returns whether it held.
template <typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = 10000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

// Runs the event loop for `ms` while `holds` stays true; false as soon as it fails. For
// what must not change: a paused player, a file that stays as it was.
template <typename Predicate>
bool staysTrue(Predicate holds, int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    if (!holds()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return holds();
}

// Runs the event loop for a while, as a user's pause would.
inline void runFor(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

}  // namespace tallowen::test
