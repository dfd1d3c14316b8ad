#pragma once

#include <QByteArray>
#include <QString>

namespace tallowen {

// Converts between QString and 8-bit text in a named code set (the "ANSI"
// code page of the Windows program). Conversions never fail: characters the
// code set lacks become '?', undecodable bytes become U+FFFD.
class LocaleCodec {
 public:
  // An iconv code set name ("SHIFT_JIS", "UTF-8", ...). A name iconv
  // does not know is replaced by UTF-8.
  explicit LocaleCodec(QByteArray codeset);

  // Code set of the current LC_CTYPE locale; plain ASCII (the C locale)
  // is taken as UTF-8, as Qt does.
  static LocaleCodec system();

  const QByteArray& codeset() const { return codeset_; }

  QByteArray fromUnicode(const QString& text) const;
  QString toUnicode(const QByteArray& bytes) const;

  // At most maxBytes bytes of `bytes`, never ending inside a multi-byte
  // character.
  QByteArray truncateBytes(const QByteArray& bytes, int maxBytes) const;

 private:
  QByteArray codeset_;
};

}  // namespace tallowen
