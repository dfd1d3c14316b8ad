#pragma once

#include <QColor>

namespace tallowen {

// `over` laid on `under` at `amount` (0 to 1), as one opaque colour: a waveform is a
// thousand thin rectangles, and the painter fills opaque ones some fifty times faster than
// ones it has to blend.
inline QColor Mixed(const QColor& over, const QColor& under, double amount) {
  auto mix = [amount](int a, int b) { return int(a * amount + b * (1 - amount) + 0.5); };
  return QColor(mix(over.red(), under.red()), mix(over.green(), under.green()), mix(over.blue(), under.blue()));
}

}  // namespace tallowen
