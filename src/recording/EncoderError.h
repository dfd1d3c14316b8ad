#pragma once

#include <QString>
#include <stdexcept>

namespace tallowen {

// Every encoder operation that fails throws this, with a reason a user can act on.
class EncoderError : public std::runtime_error {
 public:
  explicit EncoderError(const QString& reason) : std::runtime_error(reason.toStdString()), reason_(reason) {}
  const QString& reason() const { return reason_; }

 private:
  QString reason_;
};

}  // namespace tallowen
