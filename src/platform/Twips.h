#pragma once
// The windows are laid out in twips, as they were drawn: 15 to a pixel at 96 dpi.

#include <QRect>

namespace tallowen {

constexpr int px(int twips) { return twips / 15; }

inline QRect place(int left, int top, int width, int height) {
  return QRect(px(left), px(top), px(width), px(height));
}

}  // namespace tallowen
