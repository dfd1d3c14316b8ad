#include "platform/TextFit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace tallowen {

namespace {

// Whether one line of text, placed in a box `height` high as a label places it, has all
// its ink inside the box. Fonts for Japanese carry tall ascents that their glyphs do not
// use, so the ink decides, not the line's nominal height.
bool inkFits(const QFontMetrics& metrics, const QString& text, Qt::Alignment alignment, int height) {
  const int line = metrics.height();
  const int top = alignment & Qt::AlignTop ? 0 : alignment & Qt::AlignBottom ? height - line : (height - line) / 2;
  const QRect ink = metrics.tightBoundingRect(text).translated(0, top + metrics.ascent());
  return ink.top() >= 0 && ink.bottom() < height;
}

// Pixels the widget's text needs beyond what it has, after a single-line label that is
// too narrow has been set to wrap.
int missingHeight(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (label->text().isEmpty() || label->textFormat() == Qt::RichText) return 0;
    const QFontMetrics metrics = label->fontMetrics();
    const QRect room = label->contentsRect();
    if (!label->wordWrap() && metrics.horizontalAdvance(label->text()) > room.width())
      label->setWordWrap(true);
    if (label->wordWrap()) {
      const QRect needed =
          metrics.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, label->text());
      return std::max(0, needed.height() - room.height());
    }
    int height = room.height();
    while (!inkFits(metrics, label->text(), label->alignment(), height) && height < room.height() + 200) ++height;
    return height - room.height();
  }
  if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    if (button->text().isEmpty()) return 0;
    // A button centres its text's ink between the pixels of its frame.
    const int ink = button->fontMetrics().tightBoundingRect(button->text()).height();
    return std::max(0, ink - (button->height() - 2));
  }
  return 0;
}

// A button's text wider than the button: the button grows to the right.
void widenButton(QWidget* w) {
  auto* button = qobject_cast<QAbstractButton*>(w);
  if (!button || button->text().isEmpty()) return;
  const int needed = button->fontMetrics().horizontalAdvance(QString(button->text()).remove(QLatin1Char('&'))) + 8;
  if (needed > button->width()) button->resize(needed, button->height());
}

// Lays out the children of one container; returns how much taller the container grew.
int fitChildren(QWidget* container) {
  struct Item {
    QWidget* widget;
    QRect was;
    int grow;
  };
  std::vector<Item> items;
  for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->isWindow()) continue;
    widenButton(child);
    int grow = missingHeight(child);
    // Children of a plain container, such as a central widget, are laid out in it first.
    if (!child->layout() && !qobject_cast<QLabel*>(child) && !qobject_cast<QAbstractButton*>(child) &&
        !child->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty())
      grow += fitChildren(child);
    items.push_back({child, child->geometry(), grow});
  }
  // Rows are the runs of children whose heights overlap; a row grows by its tallest need,
  // and every row below moves down by what the rows above it grew.
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.was.top() < b.was.top(); });
  int moved = 0;
  for (size_t i = 0; i < items.size();) {
    int rowBottom = items[i].was.bottom();
    int rowGrow = 0;
    size_t j = i;
    for (; j < items.size() && items[j].was.top() <= rowBottom; ++j) {
      rowBottom = std::max(rowBottom, items[j].was.bottom());
      rowGrow = std::max(rowGrow, items[j].grow);
    }
    for (size_t k = i; k < j; ++k) {
      Item& item = items[k];
      if (moved == 0 && item.grow == 0) continue;
      item.widget->setGeometry(item.was.left(), item.was.top() + moved, item.widget->width(),
                               item.was.height() + item.grow);
    }
    moved += rowGrow;
    i = j;
  }
  if (moved > 0) {
    if (container->minimumHeight() == container->maximumHeight())
      container->setFixedHeight(container->height() + moved);
    else
      container->resize(container->width(), container->height() + moved);
  }
  return moved;
}

}  // namespace

void FitTexts(QWidget* window) { fitChildren(window); }

}  // namespace tallowen
