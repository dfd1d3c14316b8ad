#pragma once

#include <QSlider>
#include <functional>

namespace tallowen {

// A slider whose value a screen reader hears in words ("00:01:05 / 00:03:00", "50 %")
// rather than as a bare number, and which may keep the arrow keys for itself when the
// window uses them for something else.
class SpokenSlider : public QSlider {
  Q_OBJECT
 public:
  explicit SpokenSlider(QWidget* parent = nullptr);

  void setValueText(std::function<QString(int value)> words) { words_ = std::move(words); }
  QString valueText() const;

  // The unit a screen reader hears the value in (a percent, seconds), and back: an
  // assistive tool reads and sets the number in it, and never the slider's own steps.
  void setValueUnit(std::function<double(int value)> toUnit, std::function<int(double inUnit)> fromUnit);
  double inUnit(int value) const { return toUnit_ ? toUnit_(value) : value; }
  int fromUnit(double inUnit) const;

  // With the focus here, the arrow, page and Home/End keys move this slider instead of
  // doing what the window's shortcuts do with them.
  void setKeepsNavigationKeys(bool keeps) { keepsNavigationKeys_ = keeps; }

  // A value chosen by the user through an assistive tool, as if dragged there.
  void chooseValue(int value);

 signals:
  void valueChosen(int value);

 protected:
  bool event(QEvent* event) override;

 private:
  std::function<QString(int)> words_;
  std::function<double(int)> toUnit_;
  std::function<int(double)> fromUnit_;
  bool keepsNavigationKeys_ = false;
};

}  // namespace tallowen
