#pragma once

#include <QMainWindow>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "help/ChmArchive.h"

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

namespace tallowen {

class HelpBook;
class HelpPage;

// The help window: one help file's contents tree and keyword index beside its pages.
// Modeless and on its own. The file is checked and read on a thread of its own while the
// page pane says "読み込み中…"; a file that cannot be read, or is not `expected`, is said so
// in the page pane.
class HelpViewer : public QMainWindow {
  Q_OBJECT
 public:
  HelpViewer(const QString& helpFile, const ExpectedFile& expected, QWidget* parent = nullptr);
  ~HelpViewer() override;

  // The file as given, made absolute: the viewer's identity.
  const QString& helpFile() const { return helpFile_; }
  // Until the file is read or refused.
  bool isLoading() const { return loading_; }
  // Whether the file could be read.
  bool hasBook() const { return book_ != nullptr; }

  // While the file is being read, the latest of these waits for it.
  void showContents();
  void showTopic(int topic);
  // `reference` as a link inside the file names it ("page.html#part").
  void showPage(const QString& reference);
  void showKeyword(const QString& typed);
  // The archive path of the page shown, empty when a notice is shown instead.
  QString currentPage() const;

 private:
  void startLoading(const ExpectedFile& expected);
  void bookLoaded(std::unique_ptr<HelpBook> book, const QString& error);
  // Runs `show` now, or once the file is read.
  void whenLoaded(std::function<void()> show);
  void openPage(const QString& reference);
  void buildContents();
  void buildIndex();
  void selectKeyword(const QString& typed);
  void openKeyword(QListWidgetItem* item);
  void openContentsItem(QTreeWidgetItem* item);
  void followPageInContents(const QUrl& shown);

  QString helpFile_;
  std::unique_ptr<HelpBook> book_;
  bool loading_ = false;
  std::function<void()> pending_;
  std::atomic<bool> stopLoading_{false};
  std::thread loader_;

  QTabWidget* navigation_;
  QTreeWidget* contentsTree_;
  QLineEdit* keywordField_;
  QListWidget* keywordList_;
  HelpPage* page_;
};

}  // namespace tallowen
