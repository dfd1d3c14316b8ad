#include "platform/LocaleCodec.h"

#include <utility>

// Conversions go through glibc's iconv. Another platform supplies its own
// version of this file (Windows: MultiByteToWideChar on the ANSI code page).
#if defined(Q_OS_LINUX)

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>

namespace tallowen {
namespace {

constexpr char kUtf8[] = "UTF-8";
constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `in` from `pos` on, appending to `out`. Returns 0 when all
  // input was taken, else the errno that stopped it with `pos` at the
  // offending sequence.
  int run(const QByteArray& in, qsizetype& pos, QByteArray& out) {
    // iconv's prototype is not const-correct; it never writes the input.
    char* ip = const_cast<char*>(in.constData()) + pos;
    size_t il = size_t(in.size() - pos);
    for (;;) {
      char buf[4096];
      char* op = buf;
      size_t ol = sizeof buf;
      const size_t r = iconv(cd_, &ip, &il, &op, &ol);
      const int err = errno;
      out.append(buf, op - buf);
      pos = ip - in.constData();
      if (r != size_t(-1)) return 0;
      if (err != E2BIG) return err;
    }
  }

  // Ends a stateful encoding (e.g. ISO-2022-JP) back in its initial shift state.
  void finish(QByteArray& out) {
    char buf[64];
    char* op = buf;
    size_t ol = sizeof buf;
    iconv(cd_, nullptr, nullptr, &op, &ol);
    out.append(buf, op - buf);
  }

 private:
  iconv_t cd_;
};

qsizetype utf8CharLength(const QByteArray& s, qsizetype pos) {
  const auto lead = static_cast<unsigned char>(s.at(pos));
  const qsizetype len = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return qMin(len, s.size() - pos);
}

// Decodes to UTF-8. *completeEnd receives the offset where an unfinished
// multi-byte character at the very end starts (or the input size).
QByteArray decode(const QByteArray& codeset, const QByteArray& in, qsizetype* completeEnd) {
  *completeEnd = in.size();
  Iconv cv(kUtf8, codeset.constData());
  if (!cv.ok()) return in;
  QByteArray out;
  out.reserve(in.size());
  qsizetype pos = 0;
  while (pos < in.size()) {
    const int err = cv.run(in, pos, out);
    if (err == 0) break;
    out.append(kReplacementUtf8);
    if (err != EILSEQ) {  // EINVAL: the input stops mid-character
      *completeEnd = pos;
      break;
    }
    ++pos;
  }
  return out;
}

}  // namespace

LocaleCodec::LocaleCodec(QByteArray codeset) : codeset_(std::move(codeset)) {
  // An unknown name would make every conversion fail; UTF-8 is the least
  // surprising stand-in. (iconv reads "" as "the locale's", so rule it out.)
  if (codeset_.isEmpty() || !Iconv(kUtf8, codeset_.constData()).ok()) codeset_ = kUtf8;
}

LocaleCodec LocaleCodec::system() {
  QByteArray name = nl_langinfo(CODESET);
  // The C/POSIX locale reports plain ASCII; Qt reads file names and
  // text as UTF-8 there, and so do we.
  if (name.isEmpty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII") name = kUtf8;
  // Files from the Windows program are in its code page 932, which glibc's
  // plain SHIFT_JIS does not match: it reads the byte of "\" as the yen sign
  // and lacks the NEC and IBM extensions.
  const QByteArray upper = name.toUpper();
  if (upper == "SHIFT_JIS" || upper == "SJIS" || upper == "SHIFT-JIS") name = "CP932";
  return LocaleCodec(name);
}

QByteArray LocaleCodec::fromUnicode(const QString& text) const {
  const QByteArray utf8 = text.toUtf8();
  Iconv cv(codeset_.constData(), kUtf8);
  if (!cv.ok()) return utf8;
  QByteArray out;
  out.reserve(utf8.size());
  const QByteArray question("?");
  qsizetype pos = 0;
  while (pos < utf8.size()) {
    const int err = cv.run(utf8, pos, out);
    if (err == 0) break;
    // Through iconv, so a stateful code set gets its shift sequence.
    qsizetype qpos = 0;
    cv.run(question, qpos, out);
    if (err != EILSEQ) break;
    pos += utf8CharLength(utf8, pos);
  }
  cv.finish(out);
  return out;
}

QString LocaleCodec::toUnicode(const QByteArray& bytes) const {
  qsizetype completeEnd = 0;
  return QString::fromUtf8(decode(codeset_, bytes, &completeEnd));
}

QByteArray LocaleCodec::truncateBytes(const QByteArray& bytes, int maxBytes) const {
  if (maxBytes <= 0) return {};
  if (bytes.size() <= maxBytes) return bytes;
  // Decoding from the start is the only reliable way to find character
  // boundaries: Shift-JIS trail bytes look like lead bytes or ASCII.
  const QByteArray head = bytes.left(maxBytes);
  qsizetype completeEnd = 0;
  decode(codeset_, head, &completeEnd);
  return head.left(completeEnd);
}

}  // namespace tallowen

#else
#error "LocaleCodec.cpp is Linux-only; provide this platform's own converter"
#endif
