#include "player/RecordingList.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <algorithm>
#include <vector>

#include "player/PositionText.h"
#include "recording/AsfReader.h"

namespace tallowen {

namespace {

// Headers come over in batches of this many: few hops to the window's thread, and the
// first rows fill in at once.
constexpr int kBatch = 64;

QString key(const RecordingEntry& e) { return e.path + QLatin1Char('\n') + QString::number(e.size); }

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
  QHash<QString, RecordingEntry> known;
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
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.wma"), QStringLiteral("*.WMA")},
                                                           QDir::Files | QDir::Readable, QDir::Unsorted);
    std::vector<std::pair<qint64, qsizetype>> newestFirst;
    newestFirst.reserve(files.size());
    for (qsizetype i = 0; i < files.size(); ++i)
      newestFirst.emplace_back(-files[i].lastModified().toMSecsSinceEpoch(), i);
    std::sort(newestFirst.begin(), newestFirst.end());
    entries_.reserve(files.size());
    for (const auto& [negativeMs, i] : newestFirst) {
      RecordingEntry e;
      e.path = files[i].absoluteFilePath();
      e.size = files[i].size();
      e.modified = files[i].lastModified();
      entries_ << e;
    }
    for (RecordingEntry& e : entries_) {
      const auto found = known.constFind(key(e));
      if (found != known.constEnd() && found->modified == e.modified) {
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
      if (const std::optional<AsfInfo> info = ReadAsfInfo(e.path)) {
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
      if (entries_[at].path == read.path) row = at;
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

int RecordingList::rowOf(const QString& path) const {
  for (int row = 0; row < entries_.size(); ++row)
    if (entries_[row].path == path) return row;
  return -1;
}

void RecordingList::renamed(int row, const QString& path) {
  if (row < 0 || row >= entries_.size()) return;
  entries_[row].path = path;
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
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::AccessibleTextRole) return {};
  const QString unknown = e.headerRead ? QStringLiteral("不明") : QStringLiteral("…");
  switch (index.column()) {
    case Name:
      return QFileInfo(e.path).fileName();
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
  return f;
}

bool RecordingList::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || index.column() != Name || index.row() >= entries_.size()) return false;
  const QString name = value.toString();
  if (name != QFileInfo(entries_[index.row()].path).fileName()) emit renameRequested(index.row(), name);
  return false;
}

}  // namespace tallowen
