#pragma once
// A field of /proc/self/status in kB (VmRSS:, VmHWM:), -1 when it cannot be read.

#include <QFile>

inline long statusKb(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(field)) return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
  return -1;
}
