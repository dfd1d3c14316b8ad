#include "player/RecordingList.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <vector>

#include "platform/FolderNames.h"
#include "player/PositionText.h"
#include "recording/AsfReader.h"

namespace tallowen {

namespace {

// Headers come over in batches of this many: few hops to the window's thread, and the
// first rows fill in at once.
constexpr int kBatch = 64;

QByteArray key(const RecordingEntry& e) { return e.nativePath + '\n' + QByteArray::number(e.size); }

// The names that go with the file system's spelling.
void nameFromPath(RecordingEntry& e) {
  const QByteArray native = e.nativePath.mid(e.nativePath.lastIndexOf('/') + 1);
  e.nameReads = NameDecodes(native);
  e.name = ShownName(native);
  e.path = e.nameReads ? QFile::decodeName(e.nativePath)
                       : QFile::decodeName(e.nativePath.left(e.nativePath.size() - native.size())) + e.name;
}

// The folder's recordings, unsorted, as the file system has them. Not QDir's listing: it
// leaves out a name that does not read in the locale's encoding (one copied from a disk
// of another system) and, asked for readable files, a file this user may not read; both
// are recordings all the same, and the list shows them.
QList<RecordingEntry> recordingsIn(const QString& folder) {
  QList<RecordingEntry> found;
  QByteArray base = QFile::encodeName(QFileInfo(folder).absoluteFilePath());
  if (!base.endsWith('/')) base += '/';
  DIR* dir = ::opendir(base.constData());
  if (!dir) return found;
  const int at = ::dirfd(dir);
  while (const dirent* d = ::readdir(dir)) {
    const QByteArray native(d->d_name);
    // Hidden names are not listed, as a file manager does not show them.
    if (native.startsWith('.') || native.size() < 5 || native.right(4).toLower() != ".wma") continue;
    struct stat st;
    // Through a link: one that leads to a recording lists it; one that leads nowhere is no recording.
    if (::fstatat(at, d->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    RecordingEntry e;
    e.nativePath = base + native;
    nameFromPath(e);
    e.readable = ::faccessat(at, d->d_name, R_OK, AT_EACCESS) == 0;
    e.size = st.st_size;
    e.modified = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
    found << e;
  }
  ::closedir(dir);
  return found;
}

}  // namespace

QString SizeText(qint64 bytes) {
  constexpr double kKilo = 1024.0;
  if (bytes < kKilo * kKilo) return QStringLiteral("%1 KB").arg(std::max<qint64>(1, (bytes + 1023) / 1024));
  if (bytes < kKilo * kKilo * kKilo) return QStringLiteral("%1 MB").arg(bytes / kKilo / kKilo, 0, 'f', 1);
  return QStringLiteral("%1 GB").arg(bytes / kKilo / kKilo / kKilo, 0, 'f', 1);
}

RecordingList::RecordingList(QObject* parent) : QAbstractTableModel(parent) {}

RecordingList::~RecordingList() { stopReading(); }

void RecordingList::stopReading() {
  if (cancel_) cancel_->store(true);
  if (reader_.joinable()) reader_.join();
  cancel_.reset();
}

void RecordingList::load(const QString& folder) {
  stopReading();
  // What was read before stays, for files that have not changed since.
  QHash<QByteArray, RecordingEntry> known;
  if (folder == folder_)
    for (const RecordingEntry& e : std::as_const(entries_))
      if (e.headerRead) known.insert(key(e), e);

  beginResetModel();
  folder_ = folder;
  entries_.clear();
  ++generation_;
  readFrom_ = 0;
  QList<RecordingEntry> toRead;
  if (!folder.isEmpty()) {
    // Sorted here, each file's time read once: QDir's own sort by time reads it at every
    // comparison, which takes half a second for a folder of 5000.
    const QList<RecordingEntry> files = recordingsIn(folder);
    std::vector<std::pair<qint64, qsizetype>> newestFirst;
    newestFirst.reserve(files.size());
    for (qsizetype i = 0; i < files.size(); ++i)
      newestFirst.emplace_back(-files[i].modified.toMSecsSinceEpoch(), i);
    std::sort(newestFirst.begin(), newestFirst.end());
    entries_.reserve(files.size());
    for (const auto& [negativeMs, i] : newestFirst) entries_ << files[i];
    for (RecordingEntry& e : entries_) {
      const auto found = known.constFind(key(e));
      if (found != known.constEnd() && found->modified == e.modified && found->readable == e.readable) {
        e = *found;
      } else {
        toRead << e;
      }
    }
  }
  pending_ = int(toRead.size());
  endResetModel();
  if (toRead.isEmpty()) {
    emit headersRead();
    return;
  }

  cancel_ = std::make_shared<std::atomic<bool>>(false);
  reader_ = std::thread([this, toRead, cancel = cancel_, generation = generation_]() mutable {
    QList<RecordingEntry> batch;
    auto send = [&] {
      QMetaObject::invokeMethod(
          this, [this, generation, batch] { headersArrived(generation, batch); }, Qt::QueuedConnection);
      batch.clear();
    };
    for (RecordingEntry& e : toRead) {
      if (cancel->load()) return;
      e.headerRead = true;
      if (const std::optional<AsfInfo> info = e.readable ? ReadAsfInfo(e.nativePath) : std::nullopt) {
        e.headerValid = true;
        e.created = info->created;
        e.durationMs = info->durationMs;
        e.marks = int(info->marks.size());
      }
      batch << e;
      if (batch.size() == kBatch) send();
    }
    if (!batch.isEmpty()) send();
  });
}

void RecordingList::headersArrived(quint64 generation, const QList<RecordingEntry>& batch) {
  if (generation != generation_) return;
  // Rows keep their order, and so does the batch: each is looked for from the last found on.
  for (const RecordingEntry& read : batch) {
    --pending_;
    int row = -1;
    for (int i = 0; i < entries_.size() && row < 0; ++i) {
      const int at = (readFrom_ + i) % int(entries_.size());
      if (entries_[at].nativePath == read.nativePath) row = at;
    }
    if (row < 0) continue;
    readFrom_ = row;
    RecordingEntry& e = entries_[row];
    e.headerRead = true;
    e.headerValid = read.headerValid;
    e.created = read.created;
    e.durationMs = read.durationMs;
    e.marks = read.marks;
    emit dataChanged(index(row, Recorded), index(row, Marks));
  }
  if (pending_ <= 0) {
    pending_ = 0;
    emit headersRead();
  }
}

int RecordingList::rowOf(const QByteArray& nativePath) const {
  for (int row = 0; row < entries_.size(); ++row)
    if (entries_[row].nativePath == nativePath) return row;
  return -1;
}

void RecordingList::renamed(int row, const QByteArray& nativePath) {
  if (row < 0 || row >= entries_.size()) return;
  entries_[row].nativePath = nativePath;
  nameFromPath(entries_[row]);
  emit dataChanged(index(row, Name), index(row, Name));
}

void RecordingList::removed(int row) {
  if (row < 0 || row >= entries_.size()) return;
  beginRemoveRows({}, row, row);
  entries_.removeAt(row);
  endRemoveRows();
}

int RecordingList::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(entries_.size()); }

int RecordingList::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant RecordingList::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= entries_.size()) return {};
  const RecordingEntry& e = entries_[index.row()];
  if (role == Qt::TextAlignmentRole && index.column() != Name)
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole) {
    if (!e.nameReads)
      return QStringLiteral("名前に読み取れない文字があるため、その部分を \\x と 16 進数 2 桁で示しています。"
                            "再生や削除の前に、F2 キーで名前を変えてください。");
    if (!e.readable) return QStringLiteral("このファイルを読む権限がありません。");
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::AccessibleTextRole) return {};
  const QString unknown = !e.readable   ? QStringLiteral("読めません")
                          : e.headerRead ? QStringLiteral("不明")
                                         : QStringLiteral("…");
  switch (index.column()) {
    case Name:
      return e.name;
    case Recorded: {
      // The header's own date when it has one; a copied file keeps it, its file date not.
      const QDateTime when = e.created.isValid() ? e.created.toLocalTime() : e.modified;
      return when.toString(QStringLiteral("yyyy/MM/dd HH:mm"));
    }
    case Length:
      // A recording still running, or cut short and not yet mended, has no length yet.
      if (!e.headerValid || e.durationMs <= 0) return unknown;
      return PositionText(double((e.durationMs + 500) / 1000));  // to the nearest second
    case Size:
      return SizeText(e.size);
    case Marks:
      return e.headerValid ? QVariant(QString::number(e.marks)) : QVariant(unknown);
  }
  return {};
}

QVariant RecordingList::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const names[] = {"名前", "録音日時", "長さ", "大きさ", "マーク"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf8(names[section]) : QVariant();
}

Qt::ItemFlags RecordingList::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == Name) f |= Qt::ItemIsEditable;
  // A file whose name does not read cannot be named in a URI for another program.
  if (index.isValid() && index.row() < entries_.size() && entries_[index.row()].nameReads) f |= Qt::ItemIsDragEnabled;
  return f;
}

QStringList RecordingList::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* RecordingList::mimeData(const QModelIndexList& indexes) const {
  QStringList paths;
  for (const QModelIndex& index : indexes)
    if (index.isValid() && index.row() < entries_.size() && entries_[index.row()].nameReads &&
        !paths.contains(entries_[index.row()].path))
      paths << entries_[index.row()].path;
  return paths.isEmpty() ? nullptr : FilesAsMimeData(paths);
}

QMimeData* FilesAsMimeData(const QStringList& paths) {
  QList<QUrl> urls;
  QByteArray copied("copy");
  for (const QString& path : paths) {
    urls << QUrl::fromLocalFile(path);
    copied += '\n' + urls.last().toEncoded();
  }
  auto* data = new QMimeData;  // the drag or the clipboard takes it
  data->setUrls(urls);
  // GNOME's Files and Nautilus-like managers paste this as a copy; the rest go by the URIs.
  data->setData(QStringLiteral("x-special/gnome-copied-files"), copied);
  return data;
}

bool RecordingList::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || index.column() != Name || index.row() >= entries_.size()) return false;
  const QString name = value.toString();
  if (name != entries_[index.row()].name) emit renameRequested(index.row(), name);
  return false;
}

}  // namespace tallowen
