#pragma once

#include <QString>

namespace tallowen {

// A position cut to whole seconds (59.9 s is 59), split into hours, minutes and seconds.
struct PlayPosParts {
  qint16 PosHours = 0;
  qint16 PosMinutes = 0;
  qint16 PosSeconds = 0;
};

// What is before the start is the start; hours beyond a 16-bit count (some 3.7 years)
// stay at the largest count.
PlayPosParts SplitPlayPos(double PlayPos);

// "hh:mm:ss", each part at least two digits: 3661 s is "01:01:01", 100 hours "100:00:00".
// Hours have three digits at most: a longer time, which only a header that lies can give,
// is "999時間超" (more than 999 hours), and nothing before the start or not a number is
// "00:00:00".
QString PositionText(double seconds);

}  // namespace tallowen
