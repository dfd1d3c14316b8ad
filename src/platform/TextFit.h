#pragma once

class QWidget;

namespace tallowen {

// The windows are laid out in twips for the fonts they were drawn with. Where this
// machine's fonts need more room (taller lines, wider glyphs), a label wraps and grows,
// a button grows, and whatever stands below moves down with the window's bottom edge:
// the window grows rather than cut a text. Where the fonts fit, nothing moves.
void FitTexts(QWidget* window);

}  // namespace tallowen
