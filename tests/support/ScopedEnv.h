#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace tallowen::test {

// Sets an environment variable for as long as it lives, then puts back what was there:
// the test executable's own private folders stay in force after each test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QByteArray& value)
      : name_(name), was_(qgetenv(name)), wasSet_(qEnvironmentVariableIsSet(name)) {
    qputenv(name, value);
  }
  ~ScopedEnv() {
    if (wasSet_)
      qputenv(name_, was_);
    else
      qunsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  QByteArray was_;
  bool wasSet_;
};

}  // namespace tallowen::test
