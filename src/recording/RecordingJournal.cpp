#include "recording/RecordingJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <string_view>
#include <type_traits>
#include <utility>

#include "recording/AsfRepair.h"
#include "recording/RecordingLog.h"

namespace tallowen {

namespace {

const QString kEntrySuffix = QStringLiteral(".entry");
const QString kLockSuffix = QStringLiteral(".lock");
constexpr std::string_view kMagic = "Tallowen recording journal 2\n";
constexpr qint64 kMaxEntryBytes = 64 * 1024;
constexpr std::chrono::milliseconds kSyncNoteInterval{30'000};

QString entriesFolder() { return RecordingJournalFolder() + QStringLiteral("/recordings"); }

// Decimal digits, an optional minus for signed fields; nullopt on anything else or overflow.
template <typename T>
std::optional<T> parseNumber(std::string_view text) {
  if (text.empty() || text.front() == '+' || (text.front() == '-' && !std::is_signed_v<T>))
    return std::nullopt;
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool unreservedByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
         c == '_' || c == '~' || c == '-';
}

// A path as the file system spells it: UTF-8, every byte that is not plain ASCII as %XX,
// so that no name can break a line.
QByteArray encodePath(const QString& path) {
  static constexpr char hex[] = "0123456789ABCDEF";
  QByteArray out;
  for (const char c : path.toUtf8()) {
    if (unreservedByte(c)) {
      out += c;
    } else {
      out += '%';
      out += hex[uint8_t(c) >> 4];
      out += hex[uint8_t(c) & 15];
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// An absolute path in valid UTF-8 without a NUL, or nullopt.
std::optional<QString> checkedPath(const QByteArray& bytes) {
  if (!bytes.startsWith('/') || bytes.contains('\0')) return std::nullopt;
  QString path = QString::fromUtf8(bytes);
  if (path.toUtf8() != bytes) return std::nullopt;  // not valid UTF-8
  return path;
}

// The bytes behind %XX escapes; nullopt for anything that is not encoded so.
std::optional<QByteArray> percentDecode(std::string_view text) {
  QByteArray bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      const int high = i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
      if (high < 0 || low < 0) return std::nullopt;
      bytes += char(high * 16 + low);
      i += 2;
    } else if (unreservedByte(text[i])) {
      bytes += text[i];
    } else {
      return std::nullopt;
    }
  }
  return bytes;
}

std::optional<QString> decodePath(std::string_view text) {
  const std::optional<QByteArray> bytes = percentDecode(text);
  return bytes ? checkedPath(*bytes) : std::nullopt;
}

// Any text, encoded like a path but with no need to be one.
QByteArray encodeText(const QString& text) { return text.isEmpty() ? QByteArray("%") : encodePath(text); }

std::optional<QString> decodeText(std::string_view text) {
  if (text == "%") return QString();
  const std::optional<QByteArray> bytes = percentDecode(text);
  if (!bytes || bytes->contains('\0')) return std::nullopt;
  const QString decoded = QString::fromUtf8(*bytes);
  if (decoded.toUtf8() != *bytes) return std::nullopt;  // not valid UTF-8
  return decoded;
}

// "<ms> <data offset> <name>": one mark, appended in the order the lines come.
constexpr int kMaxMarks = 1000;
bool parseMark(std::string_view value, QList<asf::Mark>& marks) {
  const size_t first = value.find(' ');
  const size_t second = first == std::string_view::npos ? first : value.find(' ', first + 1);
  if (second == std::string_view::npos || marks.size() >= kMaxMarks) return false;
  const auto ms = parseNumber<int64_t>(value.substr(0, first));
  const auto offset = parseNumber<uint64_t>(value.substr(first + 1, second - first - 1));
  const auto name = decodeText(value.substr(second + 1));
  if (!ms || *ms < 0 || !offset || !name) return false;
  marks.append(asf::Mark{*ms, *name, *offset});
  return true;
}

std::optional<JournalNote::Identity> identityOf(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::nullopt;
  JournalNote::Identity id;
  id.device = uint64_t(st.st_dev);
  id.inode = uint64_t(st.st_ino);
  struct statx sx;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    id.born = int64_t(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
  return id;
}

// Where a new note is written before it takes the entry's name.
QByteArray pendingNameOf(const QString& entryPath) { return QFile::encodeName(entryPath) + ".new"; }

// Replaces the entry whole: a crash, a power cut or a full disk leaves the old note or the
// new, never a part and never an empty file. Each write is checked as it is made, and the
// note reaches the disk before it takes the entry's name: a buffered writer would find a
// full disk only as it closed, after its empty file had replaced the entry.
bool writeNote(const QString& entryPath, const JournalNote& note) {
  const QByteArray bytes = FormatJournalNote(note);
  const QByteArray pending = pendingNameOf(entryPath);
  // One writer per entry: the program that holds its lock.
  const int fd = ::open(pending.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool written = true;
  for (qsizetype done = 0; written && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    done += std::max<ssize_t>(n, 0);
  }
  written = written && ::fdatasync(fd) == 0;
  written = ::close(fd) == 0 && written;
  written = written && ::rename(pending.constData(), QFile::encodeName(entryPath).constData()) == 0;
  if (!written) ::unlink(pending.constData());
  return written;
}

}  // namespace

QString RecordingJournalFolder() {
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  // The XDG rules ignore a relative path here.
  if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
  return base + QStringLiteral("/Tallowen");
}

std::optional<JournalNote> ParseJournalNote(QByteArrayView bytes) {
  if (bytes.size() > kMaxEntryBytes) return std::nullopt;
  std::string_view text(bytes.data(), size_t(bytes.size()));
  if (!text.starts_with(kMagic)) return std::nullopt;
  text.remove_prefix(kMagic.size());

  JournalNote note;
  std::optional<QString> path;
  std::optional<uint64_t> device, inode;
  std::optional<int64_t> born, synced;
  std::optional<int> attempts;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    if (newline == std::string_view::npos) return std::nullopt;  // a line cut short
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline + 1);
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, space), value = line.substr(space + 1);
    // Each field once; a field this version does not know is for a later one.
    auto take = [&](auto& field, auto parsed) {
      if (field || !parsed) return false;
      field = parsed;
      return true;
    };
    bool good = true;
    if (key == "path")
      good = take(path, decodePath(value));
    else if (key == "device")
      good = take(device, parseNumber<uint64_t>(value));
    else if (key == "inode")
      good = take(inode, parseNumber<uint64_t>(value));
    else if (key == "born")
      good = take(born, parseNumber<int64_t>(value));
    else if (key == "synced")
      good = take(synced, parseNumber<int64_t>(value));
    else if (key == "attempts")
      good = take(attempts, parseNumber<int>(value));
    else if (key == "mark")
      good = parseMark(value, note.marks);
    if (!good) return std::nullopt;
  }
  if (!path || !synced || *synced < 0 || !attempts || *attempts < 0 ||
      device.has_value() != inode.has_value() || (born && !device))
    return std::nullopt;
  note.path = *path;
  if (device) note.identity = JournalNote::Identity{*device, *inode, born};
  note.syncedSize = *synced;
  note.attempts = *attempts;
  return note;
}

QByteArray FormatJournalNote(const JournalNote& note) {
  QByteArray out(kMagic.data(), qsizetype(kMagic.size()));
  out += "path " + encodePath(note.path) + '\n';
  if (note.identity) {
    out += "device " + QByteArray::number(note.identity->device) + '\n';
    out += "inode " + QByteArray::number(note.identity->inode) + '\n';
    if (note.identity->born) out += "born " + QByteArray::number(*note.identity->born) + '\n';
  }
  out += "synced " + QByteArray::number(note.syncedSize) + '\n';
  out += "attempts " + QByteArray::number(note.attempts) + '\n';
  for (const asf::Mark& m : note.marks)
    out += "mark " + QByteArray::number(m.ms) + ' ' + QByteArray::number(m.dataOffset) + ' ' +
           encodeText(m.name) + '\n';
  return out;
}

RecordingJournalEntry::RecordingJournalEntry(const QString& recordingPath, int fd) {
  note_.path = QFileInfo(recordingPath).absoluteFilePath();
  note_.identity = identityOf(fd);
  const QString folder = entriesFolder();
  failedAtStart_ = true;
  if (!note_.identity || !QDir().mkpath(folder)) {
    qCWarning(lcRepair) << "the journal cannot note" << note_.path << "in" << folder;
    return;
  }
  const QString base = folder + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
  // The lock comes first: an entry is never seen without the program that holds it.
  lock_ = std::make_unique<QLockFile>(base + kLockSuffix);
  lock_->setStaleLockTime(0);
  if (lock_->tryLock(0) && writeNote(base + kEntrySuffix, note_)) {
    entryPath_ = base + kEntrySuffix;
    failedAtStart_ = false;
    return;
  }
  qCWarning(lcRepair) << "the journal cannot note" << note_.path << "in" << folder;
  lock_.reset();
}

RecordingJournalEntry::~RecordingJournalEntry() = default;  // an unfinished entry stays

void RecordingJournalEntry::rewrite(const char* what) {
  // When this fails, what the entry noted before still holds.
  if (writeNote(entryPath_, note_)) {
    failedInARow_ = 0;
    return;
  }
  ++failedInARow_;
  qCWarning(lcRepair) << "the journal did not take the" << what << "of" << note_.path << "(" << failedInARow_
                      << "in a row)";
}

void RecordingJournalEntry::noteSynced(int64_t size) {
  if (entryPath_.isEmpty() || size == note_.syncedSize) return;
  if (sinceSyncNoted_.isValid() && sinceSyncNoted_.elapsed() < kSyncNoteInterval.count()) return;
  sinceSyncNoted_.start();
  note_.syncedSize = size;
  rewrite("synced size");
}

void RecordingJournalEntry::noteMarks(const QList<asf::Mark>& marks) {
  if (entryPath_.isEmpty() || marks == note_.marks) return;
  note_.marks = marks;
  rewrite("marks");
}

void RecordingJournalEntry::notePath(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (entryPath_.isEmpty() || absolute == note_.path) return;
  note_.path = absolute;
  rewrite("new place");
}

void RecordingJournalEntry::markCompleted() {
  if (!entryPath_.isEmpty()) {
    QFile::remove(entryPath_);
    QFile::remove(QFile::decodeName(pendingNameOf(entryPath_)));
  }
  entryPath_.clear();
  lock_.reset();  // removes the lock file
}

namespace {

using State = InterruptedRecording::State;

// A descriptor that is closed however the look at an entry ends.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// What a failure to look at or open the recording says of it.
void noteOpenFailure(int error, InterruptedRecording& found) {
  found.state = error == ENOENT || error == ENOTDIR                   ? State::Missing
                : error == ELOOP || error == EISDIR || error == ENXIO ? State::NotRegularFile
                                                                      : State::Unreadable;
  found.detail = qt_error_string(error);
}

// Opens the recording only if it is still the file the note names, without following a
// link or waiting on a pipe. On failure `found` tells why not.
int openRecording(const JournalNote& note, InterruptedRecording& found) {
  struct stat st;
  if (::lstat(QFile::encodeName(note.path).constData(), &st) != 0) {
    noteOpenFailure(errno, found);
    return -1;
  }
  // A pipe or a device is not even opened.
  if (!S_ISREG(st.st_mode)) {
    found.state = State::NotRegularFile;
    return -1;
  }
  const int fd = OpenRecordingToMend(note.path);
  if (fd < 0) {
    noteOpenFailure(errno, found);
    return -1;
  }
  // What was opened decides, not what the name showed a moment before.
  Descriptor opened(fd);
  const std::optional<JournalNote::Identity> id = identityOf(fd);
  if (!id || ::fstat(fd, &st) != 0) {
    found.state = State::Unreadable;
    found.detail = qt_error_string(errno);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    found.state = State::NotRegularFile;
    return -1;
  }
  const JournalNote::Identity& noted = *note.identity;
  if (id->device != noted.device || id->inode != noted.inode ||
      (id->born && noted.born && id->born != noted.born)) {
    found.state = State::Replaced;
    return -1;
  }
  return opened.release();
}

// Looks at one entry whose program is gone; `kept` says whether the entry stays.
InterruptedRecording lookAt(const QString& entryPath, RepairProgress* progress) {
  InterruptedRecording found;
  QFile entry(entryPath);
  std::optional<JournalNote> note;
  if (entry.open(QIODevice::ReadOnly)) note = ParseJournalNote(entry.read(kMaxEntryBytes + 1));
  entry.close();
  if (!note) {
    found.state = State::EntryDamaged;  // it will not read better at a later start
    return found;
  }
  found.path = note->path;
  found.attempts = note->attempts;
  if (!note->identity) {
    found.state = State::UnknownFile;
    return found;
  }
  const Descriptor fd(openRecording(*note, found));
  if (fd.get() < 0) {
    found.kept = found.state == State::Missing || found.state == State::Unreadable;
    return found;
  }
  found.kept = true;
  if (note->attempts >= kMaxRepairAttempts) {
    found.state = State::TooManyAttempts;
    return found;
  }
  // Counted before the try: a repair that crashes the program is not begun forever.
  ++note->attempts;
  if (!writeNote(entryPath, *note)) {
    found.state = State::Unreadable;
    found.detail = QStringLiteral("the journal cannot be written");
    return found;
  }
  found.attempts = note->attempts;
  if (progress) progress->mending(note->path);
  const AsfRepairOutcome outcome = RepairAsfDescriptor(fd.get(), note->path, note->syncedSize, note->marks);
  qCInfo(lcRepair) << note->path << "mended:" << int(outcome.result) << outcome.error;
  found.detail = outcome.error;
  found.durationMs = outcome.durationMs;
  switch (outcome.result) {
    case AsfRepairOutcome::Result::Sound:
      found.state = State::Sound;
      found.kept = false;
      break;
    case AsfRepairOutcome::Result::Repaired:
      found.state = State::Mended;
      found.kept = false;
      break;
    case AsfRepairOutcome::Result::Failed:
      found.state = outcome.problem == AsfRepairOutcome::Problem::Io ? State::Unreadable : State::Damaged;
      break;
  }
  return found;
}

}  // namespace

QList<InterruptedRecording> RepairInterruptedRecordings(RepairProgress* progress) {
  QList<InterruptedRecording> found;
  const QDir folder(entriesFolder());
  const QStringList entries = folder.entryList({QLatin1Char('*') + kEntrySuffix}, QDir::Files, QDir::Name);
  for (const QString& name : entries) {
    const QString entryPath = folder.filePath(name);
    const QString base = entryPath.left(entryPath.lastIndexOf(QLatin1Char('.')));
    QLockFile lock(base + kLockSuffix);
    // Held by a running program: that recording is still going.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) continue;
    const InterruptedRecording recording = lookAt(entryPath, progress);
    if (!recording.kept) QFile::remove(entryPath);
    // A note a crash left half made never took the entry's name.
    QFile::remove(QFile::decodeName(pendingNameOf(entryPath)));
    found << recording;
  }
  return found;
}

bool BeingRecorded(const JournalNote::Identity& file) {
  const QDir folder(entriesFolder());
  const QStringList entries = folder.entryList({QLatin1Char('*') + kEntrySuffix}, QDir::Files, QDir::Name);
  for (const QString& name : entries) {
    const QString entryPath = folder.filePath(name);
    QFile entry(entryPath);
    if (!entry.open(QIODevice::ReadOnly)) continue;
    const std::optional<JournalNote> note = ParseJournalNote(entry.read(kMaxEntryBytes + 1));
    if (!note || !note->identity) continue;
    const JournalNote::Identity& noted = *note->identity;
    if (noted.device != file.device || noted.inode != file.inode || (noted.born && file.born && noted.born != file.born))
      continue;
    // A running program holds its entries' locks; one that can be taken was left by a
    // program that died, and is let go of at once.
    QLockFile lock(entryPath.left(entryPath.size() - kEntrySuffix.size()) + kLockSuffix);
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) return true;
  }
  return false;
}

bool BeingRecorded(const QByteArray& nativePath) {
  struct stat st;
  if (::lstat(nativePath.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  JournalNote::Identity file{uint64_t(st.st_dev), uint64_t(st.st_ino), std::nullopt};
  struct statx sx;
  if (::statx(AT_FDCWD, nativePath.constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0 &&
      (sx.stx_mask & STATX_BTIME) && sx.stx_ino == st.st_ino)
    file.born = int64_t(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
  return BeingRecorded(file);
}

}  // namespace tallowen
