#include "player/frmRecordings.h"

#include <QAction>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QEvent>
#include <QKeyEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSplitter>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/FolderNames.h"
#include "platform/LocaleCodec.h"
#include "platform/Pictures.h"
#include "player/PlayerLog.h"
#include "player/RecordingList.h"
#include "player/RecordingReview.h"
#include "recording/AsfReader.h"
#include "recording/AsfTitle.h"
#include "recording/RecordingJournal.h"
#include "recording/SoundExport.h"
#include "settings/Settings.h"

namespace tallowen {

namespace {

constexpr auto kCrLf = "\r\n";
// How long a delete may be undone.
constexpr int kUndoMs = 10000;

QPushButton* button(const QString& text, const char* name, const QString& description, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  b->setToolTip(description);
  b->setAccessibleDescription(description);
  return b;
}

// The list, telling whether a name is being typed in it.
class ListView : public QTreeView {
 public:
  using QTreeView::QTreeView;
  bool editing() const { return state() == EditingState; }

 protected:
  // Enter plays, whatever the platform's style makes of it.
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !editing() && currentIndex().isValid()) {
      emit activated(currentIndex());
      return;
    }
    QTreeView::keyPressEvent(event);
  }
};

bool samePath(const QString& a, const QString& b) {
  return !a.isEmpty() && !b.isEmpty() && QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

}  // namespace

frmRecordings::frmRecordings(const Seams& seams, Settings& settings, std::function<LiveRecording()> recordingNow,
                             QWidget* parent)
    : QDialog(parent), seams_(seams), settings_(settings), recordingNow_(std::move(recordingNow)) {
  setObjectName(QStringLiteral("frmRecordings"));
  setWindowTitle(QStringLiteral("Tallowen - 録音一覧"));
  setWindowIcon(PictureIcon("icon"));
  // A window of its own beside the main window, not a dialog over it.
  setWindowFlags(Qt::Window);
  setAttribute(Qt::WA_QuitOnClose, true);

  list_ = new RecordingList(this);
  view_ = new ListView(this);
  view_->setObjectName(QStringLiteral("recordingList"));
  view_->setModel(list_);
  view_->setRootIsDecorated(false);
  view_->setItemsExpandable(false);
  view_->setUniformRowHeights(true);  // thousands of rows lay out at once
  view_->setAllColumnsShowFocus(true);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  view_->setDragEnabled(true);
  view_->setDragDropMode(QAbstractItemView::DragOnly);  // into a file manager or a mail
  view_->setAccessibleName(QStringLiteral("録音の一覧"));
  view_->setAccessibleDescription(
      QStringLiteral("Enter キーで再生、F2 キーで名前の変更、Delete キーでごみ箱に移動します"));
  // Widths from the widest text each column can hold, not from the rows: measuring
  // thousands of rows each time a header is read would hold the window up.
  QHeaderView* header = view_->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->setSectionResizeMode(RecordingList::Name, QHeaderView::Stretch);
  const QFontMetrics metrics(view_->font());
  const std::pair<RecordingList::Column, QString> widest[] = {
      {RecordingList::Recorded, QStringLiteral("0000/00/00 00:00")},
      {RecordingList::Length, QStringLiteral("000:00:00")},
      {RecordingList::Size, QStringLiteral("000.0 MB")},
      {RecordingList::Marks, QStringLiteral("マーク")},
  };
  const int padding = 2 * view_->style()->pixelMetric(QStyle::PM_HeaderMargin) + 8;
  for (const auto& [column, text] : widest) {
    const QString title = list_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    header->resizeSection(column, std::max(metrics.horizontalAdvance(text), metrics.horizontalAdvance(title)) + padding);
  }

  summaryLabel_ = new QLabel(this);
  summaryLabel_->setObjectName(QStringLiteral("summaryLabel"));
  summaryLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  playButton_ = button(QStringLiteral("再生(&P)"), "playButton", QStringLiteral("選んだ録音を再生します (Enter)"), this);
  renameButton_ =
      button(QStringLiteral("名前の変更(&R)"), "renameButton", QStringLiteral("選んだ録音の名前を変えます (F2)"), this);
  deleteButton_ = button(QStringLiteral("削除(&D)"), "deleteButton",
                         QStringLiteral("選んだ録音をごみ箱に移します (Delete)"), this);
  folderButton_ = button(QStringLiteral("フォルダーを開く(&O)"), "folderButton",
                         QStringLiteral("保存先フォルダーをファイル マネージャーで開きます"), this);
  closeButton_ = button(QStringLiteral("閉じる(&C)"), "closeButton", QStringLiteral("この画面を閉じます (Esc)"), this);

  // Offered for a while after a recording went to the trash, as a desktop's notice is.
  undoBar_ = new QWidget(this);
  undoBar_->setObjectName(QStringLiteral("undoBar"));
  undoText_ = new QLabel(undoBar_);
  undoText_->setObjectName(QStringLiteral("undoText"));
  auto* undoButton = button(QStringLiteral("元に戻す(&U)"), "undoButton",
                            QStringLiteral("ごみ箱に移した録音を元の場所に戻します (Ctrl+Z)"), undoBar_);
  auto* undoRow = new QHBoxLayout(undoBar_);
  undoRow->setContentsMargins(0, 0, 0, 0);
  undoRow->addWidget(undoText_, 1);
  undoRow->addWidget(undoButton);
  undoBar_->hide();
  undoTimer_ = new QTimer(this);
  undoTimer_->setSingleShot(true);
  undoTimer_->setInterval(kUndoMs);
  connect(undoTimer_, &QTimer::timeout, this, &frmRecordings::forgetDelete);
  connect(undoButton, &QPushButton::clicked, this, &frmRecordings::undoDelete);

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {playButton_, renameButton_, deleteButton_, folderButton_}) buttons->addWidget(b);
  buttons->addStretch();
  buttons->addWidget(closeButton_);
  review_ = new RecordingReview(this);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->setChildrenCollapsible(false);
  split->addWidget(view_);
  split->addWidget(review_);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  split->setSizes({260, 220});
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summaryLabel_);
  layout->addWidget(split, 1);
  layout->addWidget(undoBar_);
  layout->addLayout(buttons);
  resize(720, 560);

  auto* renameKey = new QAction(QStringLiteral("名前の変更(&R)"), this);
  renameKey->setShortcut(QKeySequence(Qt::Key_F2));
  auto* deleteKey = new QAction(QStringLiteral("ごみ箱に移す(&D)"), this);
  deleteKey->setShortcut(QKeySequence::Delete);
  auto* refreshKey = new QAction(QStringLiteral("一覧を新しくする(&N)"), this);
  refreshKey->setShortcut(QKeySequence::Refresh);
  undoAction_ = new QAction(QStringLiteral("元に戻す(&U)"), this);
  undoAction_->setShortcut(QKeySequence::Undo);
  undoAction_->setEnabled(false);
  auto* copyKey = new QAction(QStringLiteral("コピー(&C)"), this);
  copyKey->setShortcut(QKeySequence::Copy);
  auto* exportKey = new QAction(QStringLiteral("書き出し(&E)..."), this);
  exportKey->setObjectName(QStringLiteral("exportCommand"));
  exportKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  for (QAction* a : {renameKey, deleteKey, refreshKey, undoAction_, copyKey, exportKey}) {
    a->setShortcutContext(Qt::WindowShortcut);
    addAction(a);
  }
  connect(renameKey, &QAction::triggered, this, &frmRecordings::renameCurrent);
  // (While a name is typed, Delete stays with the name.)
  connect(deleteKey, &QAction::triggered, this, &frmRecordings::deleteCurrent);
  connect(refreshKey, &QAction::triggered, this, &frmRecordings::refresh);
  connect(undoAction_, &QAction::triggered, this, &frmRecordings::undoDelete);
  connect(copyKey, &QAction::triggered, this, &frmRecordings::copyCurrent);
  connect(exportKey, &QAction::triggered, this, &frmRecordings::exportCurrent);
  export_ = new SoundExport(this);
  connect(export_, &SoundExport::finished, this, &frmRecordings::exportEnded);
  buildMenus(renameKey, deleteKey, refreshKey, copyKey, exportKey);

  connect(view_, &QTreeView::activated, this, &frmRecordings::playCurrent);
  connect(playButton_, &QPushButton::clicked, this, &frmRecordings::playCurrent);
  connect(renameButton_, &QPushButton::clicked, this, &frmRecordings::renameCurrent);
  connect(deleteButton_, &QPushButton::clicked, this, &frmRecordings::deleteCurrent);
  connect(folderButton_, &QPushButton::clicked, this, &frmRecordings::openFolder);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::close);
  connect(list_, &RecordingList::renameRequested, this, &frmRecordings::rename);
  connect(list_, &RecordingList::modelReset, this, &frmRecordings::showCount);
  connect(list_, &RecordingList::rowsRemoved, this, &frmRecordings::showCount);
  connect(list_, &RecordingList::modelReset, this, &frmRecordings::updateButtons);
  connect(list_, &RecordingList::rowsRemoved, this, &frmRecordings::updateButtons);

  // The folder is watched rather than looked at on a timer: nothing wakes while it stays
  // as it is, and a recording that ends, or a file copied in, shows by itself.
  watcher_ = new QFileSystemWatcher(this);
  changed_ = new QTimer(this);
  changed_->setSingleShot(true);
  changed_->setInterval(300);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, changed_, qOverload<>(&QTimer::start));
  connect(changed_, &QTimer::timeout, this, [this] {
    // Not under a name being typed: the listing would take the editor away.
    if (static_cast<ListView*>(view_)->editing())
      changed_->start();
    else
      refresh();
  });

  refresh();
  connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this, &frmRecordings::updateButtons);
  connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this, &frmRecordings::reviewCurrent);
  connect(list_, &RecordingList::modelReset, this, &frmRecordings::reviewCurrent);
  connect(list_, &RecordingList::rowsRemoved, this, &frmRecordings::reviewCurrent);
  updateButtons();
  reviewCurrent();
}

void frmRecordings::buildMenus(QAction* rename, QAction* remove, QAction* refresh, QAction* copy, QAction* exporting) {
  auto* bar = new QMenuBar(this);
  QMenu* file = bar->addMenu(QStringLiteral("ファイル(&F)"));
  file->addAction(QStringLiteral("プレーヤーで再生(&P)"), QKeySequence(Qt::Key_Return), this, &frmRecordings::playCurrent)
      ->setShortcutContext(Qt::WidgetShortcut);  // Enter stays with the list, which plays
  file->addAction(rename);
  file->addAction(remove);
  file->addAction(undoAction_);
  file->addSeparator();
  file->addAction(copy);
  file->addAction(exporting);
  file->addAction(QStringLiteral("フォルダーに表示(&S)"), this, &frmRecordings::showInFolder);
  file->addAction(QStringLiteral("フォルダーを開く(&O)"), this, &frmRecordings::openFolder);
  file->addSeparator();
  file->addAction(refresh);
  file->addSeparator();
  file->addAction(QStringLiteral("閉じる(&C)"), QKeySequence(Qt::Key_Escape), this, &QDialog::close)
      ->setShortcutContext(Qt::WidgetShortcut);  // Esc closes as a dialog does
  bar->addMenu(review_->playMenu());
  bar->addMenu(review_->viewMenu());
  layout()->setMenuBar(bar);
}

void frmRecordings::reviewCurrent() {
  const int row = currentRow();
  if (row < 0) {
    review_->showNothing(list_->rowCount() == 0 ? QStringLiteral("録音はまだありません")
                                                : QStringLiteral("録音が選ばれていません"));
    return;
  }
  const RecordingEntry& entry = list_->entry(row);
  const LiveRecording now = recordingNow_ ? recordingNow_() : LiveRecording{};
  const bool live = samePath(entry.path, now.path) && now.loudness;
  if (entry.path == review_->path() && live == review_->live()) return;
  if (!entry.nameReads || !entry.readable) {
    review_->showNothing(QStringLiteral("「%1」は読めないため、波形を表示できません。").arg(entry.name));
    return;
  }
  review_->showRecording(entry.path, entry.headerValid ? entry.durationMs : 0, live ? now.loudness : nullptr);
}

QString frmRecordings::saveFolder() const {
  // A folder cut when read is not the one chosen: none is listed until one is.
  const StoredSetting folder = settings_.saveFolder();
  return folder.cut ? QString() : folder.value;
}

void frmRecordings::refresh() {
  const QByteArray kept = currentRow() >= 0 ? list_->entry(currentRow()).nativePath : QByteArray();
  const QString folder = saveFolder();
  if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) watcher_->addPath(folder);
  list_->load(QFileInfo(folder).isDir() ? folder : QString());
  const int row = kept.isEmpty() ? -1 : list_->rowOf(kept);
  if (list_->rowCount() > 0)
    view_->setCurrentIndex(list_->index(row >= 0 ? row : 0, RecordingList::Name));
}

void frmRecordings::showRecording(const QString& path) {
  refresh();
  const int row = list_->rowOf(QFile::encodeName(QFileInfo(path).absoluteFilePath()));
  if (row < 0) return;
  const QModelIndex index = list_->index(row, RecordingList::Name);
  view_->setCurrentIndex(index);
  view_->scrollTo(index);
}

void frmRecordings::showCount() {
  const QString folder = saveFolder();
  QString text;
  if (folder.isEmpty())
    text = QStringLiteral("保存先フォルダーが設定されていません。");
  else if (!QFileInfo(folder).isDir())
    text = QStringLiteral("保存先フォルダー「%1」はまだありません。").arg(folder);
  else
    text = QStringLiteral("%1 (%2 件)").arg(folder).arg(list_->rowCount());
  summaryLabel_->setText(text);
  summaryLabel_->setAccessibleName(text);
}

void frmRecordings::updateButtons() {
  const bool chosen = currentRow() >= 0;
  for (QPushButton* b : {playButton_, renameButton_, deleteButton_}) b->setEnabled(chosen);
  folderButton_->setEnabled(QFileInfo(saveFolder()).isDir());
}

void frmRecordings::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  view_->setFocus();
}

void frmRecordings::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // The settings may have chosen another folder meanwhile.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() &&
      QFileInfo(saveFolder()).absoluteFilePath() != QFileInfo(list_->folder()).absoluteFilePath())
    refresh();
}

int frmRecordings::currentRow() const {
  const QModelIndex i = view_->currentIndex();
  return i.isValid() ? i.row() : -1;
}

void frmRecordings::playCurrent() {
  const int row = currentRow();
  if (row < 0) return;
  const RecordingEntry& entry = list_->entry(row);
  if (!entry.nameReads)
    say(QStringLiteral("「%1」は名前に読み取れない文字があるため、再生できません。F2 キーで名前を変えてから再生してください。")
            .arg(entry.name));
  else if (!entry.readable)
    say(QStringLiteral("「%1」は、読む権限がないため再生できません。").arg(entry.name));
  else
    emit playRequested(entry.path);
}

void frmRecordings::renameCurrent() {
  const int row = currentRow();
  if (row < 0 || busy(row)) return;
  const QModelIndex name = list_->index(row, RecordingList::Name);
  view_->setCurrentIndex(name);
  view_->edit(name);
}

void frmRecordings::say(const QString& text) {
  seams_.prompter->message(this, text, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
}

bool frmRecordings::busy(int row) {
  // Recorded by this program, or by another copy of it: their journal entries tell.
  const RecordingEntry& entry = list_->entry(row);
  if (!samePath(entry.path, recordingNow_ ? recordingNow_().path : QString()) && !BeingRecorded(entry.nativePath))
    return false;
  say(QStringLiteral("録音中のファイルは、録音が終わるまで名前の変更も削除もできません。"));
  return true;
}

void frmRecordings::gone(const QString& name) {
  say(QStringLiteral("「%1」はもうありません。一覧を新しくします。").arg(name));
  // Not at once: this may be in the middle of the list taking a typed name.
  QMetaObject::invokeMethod(this, &frmRecordings::refresh, Qt::QueuedConnection);
}

void frmRecordings::rename(int row, const QString& typed) {
  if (busy(row)) return;
  const RecordingEntry entry = list_->entry(row);
  QString name = typed.trimmed();
  if (name.isEmpty()) return;
  // A line break (pasted), a tab and the like: setting.ini, where the latest recording's
  // path is kept, ends a value at a line break, and the list could not show the name.
  if (std::any_of(name.begin(), name.end(), [](QChar c) { return c.category() == QChar::Other_Control; })) {
    say(QStringLiteral("名前に改行やタブなどの制御文字は使えません。"));
    return;
  }
  if (!name.endsWith(QStringLiteral(".wma"), Qt::CaseInsensitive)) name += QStringLiteral(".wma");
  if (name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) {
    say(QStringLiteral("名前に「/」は使えません。また、「.」で始まる名前は隠しファイルになるため使えません。"));
    return;
  }
  const QByteArray from = entry.nativePath;
  const QByteArray to = from.left(from.lastIndexOf('/') + 1) + QFile::encodeName(name);
  const QString toPath = QFile::decodeName(to);
  // Any recording may become the latest one's name in setting.ini: only a path that is
  // read back from there as it is.
  switch (ValueStoreProblem(toPath)) {
    case StoreProblem::None:
      break;
    case StoreProblem::LineBreak:
      say(QStringLiteral("名前に改行やタブなどの制御文字は使えません。"));
      return;
    case StoreProblem::NotInCodePage:
      say(QStringLiteral("「%1」には、設定ファイルの文字コード (%2) にない文字があるため、この名前は使えません。")
              .arg(name, QString::fromLatin1(LocaleCodec::system().codeset())));
      return;
    case StoreProblem::TooLong:
      say(QStringLiteral("名前が長すぎます。もっと短い名前を付けてください。"));
      return;
  }
  const RenameResult result = RenameWithoutReplacing(from, to);
  switch (result.outcome) {
    case RenameResult::Outcome::Renamed:
      break;
    case RenameResult::Outcome::Taken:
      say(QStringLiteral("「%1」という名前のファイルがすでにあります。別の名前を付けてください。").arg(name));
      return;
    case RenameResult::Outcome::Gone:
      gone(entry.name);
      return;
    case RenameResult::Outcome::Failed: {
      QString text = QStringLiteral("名前を変更できませんでした。") + QString::fromLatin1(kCrLf) + qt_error_string(result.error);
      if (!result.leftAt.isEmpty())
        text += QString::fromLatin1(kCrLf) +
                QStringLiteral("ファイルは「%1」にあります。").arg(QDir::toNativeSeparators(QFile::decodeName(result.leftAt)));
      qCWarning(lcPlayer) << "not renamed:" << from << "to" << to << qt_error_string(result.error) << result.leftAt;
      say(text);
      QMetaObject::invokeMethod(this, &frmRecordings::refresh, Qt::QueuedConnection);
      return;
    }
  }
  qCInfo(lcPlayer) << "renamed" << from << "to" << to;
  // Other players show the title the file keeps: it follows the name where the header has
  // room for it, and is left as it was where it has none.
  const RetitleOutcome retitled = RetitleAsfFile(to, name);
  if (retitled.result == RetitleOutcome::Result::Retitled)
    qCInfo(lcPlayer) << "its title is now" << name;
  else if (retitled.result != RetitleOutcome::Result::Unchanged)
    qCWarning(lcPlayer) << "the title in" << to << "was left as it was:" << retitled.error;
  // The play button plays the latest recording under its new name.
  if (entry.nameReads && samePath(settings_.lastRecording(), entry.path)) settings_.setLastRecording(toPath);
  list_->renamed(row, to);
}

void frmRecordings::deleteCurrent() {
  int row = currentRow();
  if (row < 0 || busy(row)) return;
  const RecordingEntry entry = list_->entry(row);
  if (!entry.nameReads) {
    // The trash takes a file by a name it can write down, and this one has none.
    say(QStringLiteral("「%1」は名前に読み取れない文字があるため、このままではごみ箱に移せません。"
                       "F2 キーで名前を変えてから削除してください。")
            .arg(entry.name));
    return;
  }
  if (!NameTaken(entry.nativePath)) {
    gone(entry.name);
    return;
  }
  if (seams_.prompter->message(this, QStringLiteral("「%1」をごみ箱に移しますか?").arg(entry.name),
                               Prompter::Icon::Question, Prompter::Buttons::YesNo) != Prompter::Answer::Yes)
    return;
  // The list may have been read again while the question waited.
  row = list_->rowOf(entry.nativePath);
  if (row >= 0 && busy(row)) return;
  // Into the desktop's trash, where it can be put back from: never removed for good. Qt
  // makes the trash folder, but not the data folder it lives in, which a new account may lack.
  QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
  QString inTrash;
  if (!QFile::moveToTrash(entry.path, &inTrash)) {
    if (!NameTaken(entry.nativePath))
      gone(entry.name);
    else
      say(QStringLiteral("「%1」をごみ箱に移せませんでした。ファイルはそのまま残っています。").arg(entry.name));
    return;
  }
  qCInfo(lcPlayer) << "moved to the trash:" << entry.path;
  trashed_ = {entry.path, inTrash};
  undoText_->setText(QStringLiteral("「%1」をごみ箱に移しました。").arg(entry.name));
  undoBar_->setAccessibleName(undoText_->text());
  undoBar_->show();
  undoAction_->setEnabled(!inTrash.isEmpty());
  undoTimer_->start();
  list_->removed(row);
  if (list_->rowCount() > 0)
    view_->setCurrentIndex(list_->index(std::clamp(row, 0, list_->rowCount() - 1), RecordingList::Name));
}

void frmRecordings::forgetDelete() {
  undoTimer_->stop();
  undoBar_->hide();
  undoAction_->setEnabled(false);
  trashed_ = {};
}

void frmRecordings::undoDelete() {
  const Trashed back = trashed_;
  forgetDelete();
  if (back.inTrash.isEmpty()) return;
  const QString name = QFileInfo(back.original).fileName();
  // Never over a file that took its name meanwhile.
  if (QFileInfo(back.original).exists() || QFileInfo(back.original).isSymLink()) {
    say(QStringLiteral("「%1」という名前のファイルがもうあるため、元に戻せません。録音はごみ箱に残っています。").arg(name));
    return;
  }
  if (!QFile::rename(back.inTrash, back.original)) {
    say(QStringLiteral("「%1」を元に戻せませんでした。録音はごみ箱に残っています。").arg(name));
    return;
  }
  // What the trash kept of it, so that it does not list a file it no longer holds.
  const QFileInfo trashed(back.inTrash);
  QFile::remove(trashed.dir().absoluteFilePath(QStringLiteral("../info/%1.trashinfo").arg(trashed.fileName())));
  qCInfo(lcPlayer) << "put back from the trash:" << back.original;
  showRecording(back.original);
}

void frmRecordings::copyCurrent() {
  const int row = currentRow();
  if (row < 0) return;
  if (QMimeData* data = list_->mimeData({list_->index(row, RecordingList::Name)}))
    QGuiApplication::clipboard()->setMimeData(data);
}

void frmRecordings::showInFolder() {
  const int row = currentRow();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (row < 0 || !list_->entry(row).nameReads || !bus.isConnected()) return openFolder();
  // The desktop's file managers answer this; without one, the folder opens as before.
  QDBusMessage call =
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
                                     QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(list_->entry(row).path).toString()} << QString();
  auto* reply = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
  connect(reply, &QDBusPendingCallWatcher::finished, this, [this, reply] {
    reply->deleteLater();
    if (reply->isError()) {
      qCInfo(lcPlayer) << "no file manager showed the file:" << reply->error().message();
      openFolder();
    }
  });
}

namespace {

const QStringList& exportFilters() {
  // In the order of ExportFormat.
  static const QStringList filters{QStringLiteral("MP3 (*.mp3)"), QStringLiteral("M4A (AAC) (*.m4a)"),
                                   QStringLiteral("Opus (*.opus)"), QStringLiteral("FLAC (*.flac)"),
                                   QStringLiteral("WAV (*.wav)")};
  return filters;
}

QString stretchText(qint64 ms) {
  return QTime::fromMSecsSinceStartOfDay(0).addMSecs(int(ms % 86400000)).toString(QStringLiteral("HH-mm-ss"));
}

}  // namespace

void frmRecordings::exportCurrent() {
  const int row = currentRow();
  if (row < 0) return;
  const RecordingEntry entry = list_->entry(row);
  if (busy(row)) return;
  if (!entry.nameReads) {
    say(QStringLiteral("「%1」は名前に読み取れない文字があるため、書き出せません。F2 キーで名前を変えてください。").arg(entry.name));
    return;
  }
  if (export_->running()) {
    say(QStringLiteral("ほかの録音を書き出しています。終わってからもう一度選んでください。"));
    return;
  }
  // The stretch selected in its waveform, or the whole recording.
  const WaveformView& wave = review_->waveform();
  const bool stretch = samePath(review_->path(), entry.path) && wave.selectionFrom() >= 0;
  const QFileInfo file(entry.path);
  QString base = file.completeBaseName();
  if (stretch) base += QStringLiteral("_%1-%2").arg(stretchText(wave.selectionFrom()), stretchText(wave.selectionTo()));
  int chosen = exportFilter_;
  const auto format = [](int index) { return ExportFormat(std::clamp(index, 0, int(ExportFormat::Wav))); };
  QString target = seams_.prompter->chooseSaveFile(
      this, QStringLiteral("書き出し"), file.dir().filePath(base + QLatin1Char('.') + SoundExport::suffixOf(format(chosen))),
      exportFilters(), &chosen);
  if (target.isEmpty()) return;
  exportFilter_ = chosen;
  const QString suffix = SoundExport::suffixOf(format(chosen));
  if (QFileInfo(target).suffix().compare(suffix, Qt::CaseInsensitive) != 0) target += QLatin1Char('.') + suffix;

  ExportJob job;
  job.source = entry.path;
  job.target = target;
  job.format = format(chosen);
  if (stretch) {
    job.fromMs = wave.selectionFrom();
    job.toMs = wave.selectionTo();
  }
  const std::optional<AsfInfo> info = ReadAsfInfo(entry.path);
  job.title = info && !info->title.isEmpty() ? info->title : file.completeBaseName();
  if (info && info->created.isValid()) job.began = info->created.toString(Qt::ISODate);
  if (info)
    for (const asf::Mark& mark : info->marks) job.chapters.push_back({mark.ms, mark.name});
  if (!export_->start(job)) return;
  exportTarget_ = target;
  // Beside the window, not over it: the window goes on while the file is written.
  exportProgress_ = new QProgressDialog(QStringLiteral("「%1」を書き出しています…").arg(QFileInfo(target).fileName()),
                                        QStringLiteral("キャンセル"), 0, 1000, this);
  exportProgress_->setObjectName(QStringLiteral("exportProgress"));
  exportProgress_->setWindowTitle(QStringLiteral("Tallowen - 書き出し"));
  exportProgress_->setWindowModality(Qt::NonModal);
  exportProgress_->setAutoClose(false);
  exportProgress_->setAutoReset(false);
  exportProgress_->setMinimumDuration(300);
  connect(export_, &SoundExport::progress, exportProgress_, &QProgressDialog::setValue);
  connect(exportProgress_, &QProgressDialog::canceled, export_, &SoundExport::cancel);
  qCInfo(lcPlayer) << "exporting" << entry.path << "to" << target;
}

void frmRecordings::exportEnded(bool done, const QString& why) {
  if (exportProgress_) {
    exportProgress_->disconnect(this);
    exportProgress_->deleteLater();
    exportProgress_ = nullptr;
  }
  const QString name = QFileInfo(exportTarget_).fileName();
  if (done) {
    qCInfo(lcPlayer) << "exported" << exportTarget_;
    seams_.prompter->notice(this, QStringLiteral("「%1」に書き出しました。").arg(QDir::toNativeSeparators(exportTarget_)),
                            Prompter::Icon::Information);
  } else if (!why.isEmpty()) {
    qCWarning(lcPlayer) << "the export failed:" << why;
    say(QStringLiteral("「%1」に書き出せませんでした。ファイルは作られていません。").arg(name) + QString::fromLatin1(kCrLf) + why);
  }
}

void frmRecordings::openFolder() {
  const QString folder = saveFolder();
  if (seams_.launcher->start(QStringLiteral("xdg-open"), {folder})) return;
  seams_.prompter->message(this, QStringLiteral("ファイル マネージャーを起動できませんでした。") +
                                     QString::fromLatin1(kCrLf) + folder,
                           Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
}

}  // namespace tallowen
