#pragma once

#include <QAccessibleTextInterface>
#include <QString>

class QComboBox;
class QLabel;

namespace tallowen {

// What a control shows, as a screen reader reads it through the text interface: read
// only, with no caret and no selection. `shownText()` is asked each time, so the text is
// never stale.
class ReadOnlyText : public QAccessibleTextInterface {
 public:
  virtual QString shownText() const = 0;

  void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QString text(int startOffset, int endOffset) const override;
  int characterCount() const override { return int(shownText().size()); }
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* startOffset, int* endOffset) const override;
};

// A screen reader hears the control's purpose as its name and what it shows as its text
// and value: "経過時間" and "00:01:05", "録音品質" and "FM ラジオ". Qt alone gives a
// named label its name and nothing of its text, and on Linux names a combo box by its text.
void NameByPurpose(QLabel* label, const QString& purpose);
void NameByPurpose(QComboBox* box, const QString& purpose);

}  // namespace tallowen
