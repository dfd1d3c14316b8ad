#include "player/PositionText.h"

#include <cmath>
#include <stdexcept>

namespace tallowen {

namespace {

qint16 toInt16(double value) {
  if (!(value >= -32768 && value <= 32767)) throw std::overflow_error("position out of range");
  return qint16(value);
}

QString twoDigits(qint16 value) {
  const QString text = QString::number(value);
  return text.size() == 1 ? QLatin1Char('0') + text : text;
}

}  // namespace

PlayPosParts SplitPlayPos(double PlayPos) {
  PlayPos = std::trunc(PlayPos);
  PlayPosParts parts;
  if (PlayPos >= 3600) {
    parts.PosHours = toInt16(std::floor(PlayPos / 3600));
    parts.PosMinutes = toInt16(std::floor((PlayPos - 3600.0 * parts.PosHours) / 60));
    parts.PosSeconds = toInt16(PlayPos - 3600.0 * parts.PosHours - 60.0 * parts.PosMinutes);
  } else if (PlayPos >= 60) {
    parts.PosMinutes = toInt16(std::floor(PlayPos / 60));
    parts.PosSeconds = toInt16(PlayPos - 60.0 * parts.PosMinutes);
  } else {
    parts.PosSeconds = toInt16(PlayPos);
  }
  return parts;
}

QString PositionText(double seconds) {
  const PlayPosParts parts = SplitPlayPos(seconds);
  return twoDigits(parts.PosHours) + QLatin1Char(':') + twoDigits(parts.PosMinutes) + QLatin1Char(':') +
         twoDigits(parts.PosSeconds);
}

}  // namespace tallowen
