#pragma once

#include <QMainWindow>
#include <memory>

class QAction;
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
// Modeless and on its own; a file that cannot be read, or is not the file whose SHA-256 is
// `sha256`, is said so in the page pane.
class HelpViewer : public QMainWindow {
  Q_OBJECT
 public:
  HelpViewer(const QString& helpFile, const QByteArray& sha256, QWidget* parent = nullptr);
  ~HelpViewer() override;

  // The file as given, made absolute: the viewer's identity.
  const QString& helpFile() const { return helpFile_; }
  // Whether the file could be read.
  bool hasBook() const { return book_ != nullptr; }
  const HelpBook* book() const { return book_.get(); }

  void showContents();
  void showTopic(int topic);
  // `reference` as a link inside the file names it ("page.html#part").
  void showPage(const QString& reference);
  // The archive path of the page shown, empty when a notice is shown instead.
  QString currentPage() const;
  void showKeyword(const QString& typed);

  QTabWidget* navigation() const { return navigation_; }
  QTreeWidget* contentsTree() const { return contentsTree_; }
  QLineEdit* keywordField() const { return keywordField_; }
  QListWidget* keywordList() const { return keywordList_; }
  HelpPage* page() const { return page_; }
  QAction* backAction() const { return back_; }
  QAction* forwardAction() const { return forward_; }

 private:
  void buildContents();
  void buildIndex();
  void selectKeyword(const QString& typed);
  void openKeyword(QListWidgetItem* item);
  void openContentsItem(QTreeWidgetItem* item);
  void followPageInContents(const QUrl& shown);

  QString helpFile_;
  std::unique_ptr<HelpBook> book_;
  QTabWidget* navigation_;
  QTreeWidget* contentsTree_;
  QLineEdit* keywordField_;
  QListWidget* keywordList_;
  HelpPage* page_;
  QAction* back_;
  QAction* forward_;
};

}  // namespace tallowen
