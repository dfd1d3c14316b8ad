#pragma once
// The windows' controls as a test finds them: by the names the program gives them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QObject>
#include <QWidget>

namespace tallowen::test {

template <typename T = QWidget>
T* find(const QObject* root, const char* name) {
  T* found = root ? root->findChild<T*>(QString::fromLatin1(name)) : nullptr;
  if (!found) ADD_FAILURE() << "no control named " << name;
  return found;
}

// A window of the program's own, while it is open.
template <typename T = QWidget>
T* openWindow(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String(name))
      if (auto* t = qobject_cast<T*>(w)) return t;
  return nullptr;
}

}  // namespace tallowen::test
