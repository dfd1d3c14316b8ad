#include "player/PositionText.h"

#include <algorithm>
#include <cmath>

namespace tallowen {

namespace {

// The windows are laid out for three digits of hours: the recordings window's length
// column, the player's labels. No ASF file times more than 2^32 ms (1193 hours) anyway.
constexpr double kLongestShown = 999 * 3600.0 + 59 * 60 + 59;

qint16 toInt16(double value) { return qint16(std::clamp(value, 0.0, 32767.0)); }

QString twoDigits(qint16 value) {
  const QString text = QString::number(value);
  return text.size() == 1 ? QLatin1Char('0') + text : text;
}

}  // namespace

PlayPosParts SplitPlayPos(double PlayPos) {
  PlayPos = std::isnan(PlayPos) ? 0 : std::clamp(std::trunc(PlayPos), 0.0, 32767 * 3600.0 + 3599);
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
  // In words, to be as narrow as "000:00:00": ">999:59:59" is wider.
  if (seconds >= kLongestShown + 1) return QStringLiteral("999時間超");
  const PlayPosParts parts = SplitPlayPos(seconds);
  return twoDigits(parts.PosHours) + QLatin1Char(':') + twoDigits(parts.PosMinutes) + QLatin1Char(':') +
         twoDigits(parts.PosSeconds);
}

}  // namespace tallowen
