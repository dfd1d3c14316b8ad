#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class QMimeData;

namespace tallowen {

// Files as the desktop passes them on: a list of URIs, and what a file manager pastes as a
// copy of them.
QMimeData* FilesAsMimeData(const QStringList& paths);

// One recording of the save folder, as the list shows it.
struct RecordingEntry {
  QByteArray nativePath;  // as the file system spells it: what every change of the file goes by
  // The same as Qt names files; for a name that does not read (nameReads), the shown
  // spelling, which names no file.
  QString path;
  QString name;            // as the list shows it, with what does not read as \xHH
  bool nameReads = true;   // the name reads in the encoding file names are taken in
  bool readable = true;    // this user may read the file
  qint64 size = 0;
  QDateTime modified;
  // From the header, once read: when it began, how long it is, its marks.
  bool headerRead = false;
  bool headerValid = false;
  QDateTime created;
  qint64 durationMs = 0;
  int marks = 0;
};

// The recordings of a folder, newest first. The folder's listing is quick; the headers
// (length, marks, start) are read on a thread of their own and come in batches, so that a
// folder of thousands of recordings opens at once and fills in while the window responds.
class RecordingList : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { Name, Recorded, Length, Size, Marks, ColumnCount };

  explicit RecordingList(QObject* parent = nullptr);
  ~RecordingList() override;

  // Lists `folder` again. Headers of files unchanged since the last look are not read again.
  void load(const QString& folder);
  const QString& folder() const { return folder_; }
  const RecordingEntry& entry(int row) const { return entries_[row]; }
  int rowOf(const QByteArray& nativePath) const;
  // All headers read.
  bool complete() const { return pending_ == 0; }

  // The file of `row` is now at `nativePath` (renamed), or gone (removed).
  void renamed(int row, const QByteArray& nativePath);
  void removed(int row);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // A row dragged out is its file, for a file manager or a mail program.
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  // The user typed a new name for the file of `row`; the list itself renames nothing.
  void renameRequested(int row, const QString& name);
  void headersRead();

 private:
  void stopReading();
  void headersArrived(quint64 generation, const QList<RecordingEntry>& batch);

  QString folder_;
  QList<RecordingEntry> entries_;
  int pending_ = 0;
  int readFrom_ = 0;  // where the next header read is looked for
  quint64 generation_ = 0;  // a batch of an earlier listing is dropped
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::thread reader_;
};

// Sizes as people read them: "980 KB", "12.3 MB", "1.2 GB".
QString SizeText(qint64 bytes);

}  // namespace tallowen
