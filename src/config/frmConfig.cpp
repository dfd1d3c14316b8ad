#include "config/frmConfig.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>

#include "config/EncoderWarning.h"
#include "platform/AccessibleText.h"
#include "platform/ApplicationFolder.h"
#include "platform/LocaleCodec.h"
#include "platform/Pictures.h"
#include "platform/TextFit.h"
#include "platform/ToolWindow.h"
#include "platform/Twips.h"
#include "recording/Codec.h"
#include "recording/Profiles.h"
#include "recording/RecordingFailure.h"
#include "settings/ProfileFile.h"
#include "settings/SettingsLog.h"
#include "settings/Settings.h"
#include "settings/modINI.h"

namespace tallowen {

namespace {

// The folder browser opens on the desktop; without a desktop folder, in the home folder
// rather than wherever the program was started from.
QString browseStart() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  return !desktop.isEmpty() && QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
}

}  // namespace

frmConfig::frmConfig(const Seams& seams, Settings& settings, QWidget* parent)
    : QDialog(parent), seams_(seams), settings_(settings) {
  setObjectName(QStringLiteral("frmConfig"));
  setWindowTitle(QStringLiteral("Tallowen - 設定変更"));
  setWindowIcon(PictureIcon("icon"));
  MakeToolWindow(this);
  setFixedSize(px(7200), px(1785));

  folderLabel_ = new QLabel(QStringLiteral("保存場所"), this);
  folderLabel_->setGeometry(place(120, 120, 1335, 255));
  folderEdit_ = new QLineEdit(this);
  folderEdit_->setGeometry(place(120, 360, 6015, 270));
  folderEdit_->setAccessibleName(QStringLiteral("保存場所"));
  folderEdit_->setAccessibleDescription(QStringLiteral("録音ファイルを保存するフォルダー"));
  folderLabel_->setBuddy(folderEdit_);
  browseButton_ = new QPushButton(QStringLiteral("参照"), this);
  browseButton_->setGeometry(place(6240, 360, 855, 255));
  browseButton_->setAccessibleName(QStringLiteral("保存場所を参照"));
  browseButton_->setAccessibleDescription(QStringLiteral("フォルダーを選ぶ画面を開きます"));
  qualityLabel_ = new QLabel(QStringLiteral("録音品質"), this);
  qualityLabel_->setGeometry(place(120, 720, 1935, 255));
  qualityBox_ = new QComboBox(this);
  qualityBox_->setGeometry(place(120, 960, 6975, 300));
  qualityBox_->setEditable(true);
  qualityBox_->setInsertPolicy(QComboBox::NoInsert);  // typed text is taken as it is, not listed
  NameByPurpose(qualityBox_, QStringLiteral("録音品質"));
  qualityBox_->lineEdit()->setAccessibleName(QStringLiteral("録音品質"));
  qualityBox_->lineEdit()->installEventFilter(this);
  qualityLabel_->setBuddy(qualityBox_);
  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setGeometry(place(120, 1320, 975, 375));
  okButton_->setAccessibleName(QStringLiteral("OK"));
  okButton_->setAccessibleDescription(QStringLiteral("設定を保存して閉じます"));
  cancelButton_ = new QPushButton(QStringLiteral("キャンセル"), this);
  cancelButton_->setGeometry(place(1200, 1320, 975, 375));
  cancelButton_->setAccessibleName(QStringLiteral("キャンセル"));
  cancelButton_->setAccessibleDescription(QStringLiteral("設定を変えずに閉じます"));
  const std::pair<QWidget*, const char*> names[] = {
      {folderLabel_, "Label1"}, {folderEdit_, "Text1"},  {browseButton_, "Command2"}, {qualityLabel_, "Label2"},
      {qualityBox_, "Combo1"},  {okButton_, "Command1"}, {cancelButton_, "Command3"}};
  for (const auto& [widget, name] : names) widget->setObjectName(QString::fromLatin1(name));
  // Neither OK nor Cancel is the default or the cancel button.
  for (QPushButton* button : {okButton_, browseButton_, cancelButton_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  setTabOrder(folderEdit_, qualityBox_);
  setTabOrder(qualityBox_, okButton_);
  setTabOrder(okButton_, browseButton_);
  setTabOrder(browseButton_, cancelButton_);

  connect(okButton_, &QPushButton::clicked, this, &frmConfig::confirm);
  connect(browseButton_, &QPushButton::clicked, this, &frmConfig::browse);
  connect(cancelButton_, &QPushButton::clicked, this, &QWidget::close);
  FitTexts(this);
  load();
  folderEdit_->setFocus(Qt::OtherFocusReason);
}

bool frmConfig::isListed(const QString& profileName) {
  for (const char* word : {"Video", "video", "ビデオ", "Screen capture"})
    if (profileName.contains(QString::fromUtf8(word), Qt::CaseSensitive)) return false;
  return true;
}

QString frmConfig::folderToStore(const QString& typed) {
  // The root is nothing but its separator, and stays as it is: Windows kept "C:" for a
  // drive's root, which still named it; an empty text here would not.
  if (typed == QLatin1String("/")) return typed;
  return typed.endsWith(QLatin1Char('/')) ? typed.chopped(1) : typed;
}

void frmConfig::load() {
  const QString profile = settings_.quality();
  // A folder cut when read is not the one chosen, and its cut end may name another folder
  // that exists (its parent): as when none is stored, the default is proposed.
  const StoredSetting folder = settings_.saveFolder();
  qualityBox_->setEditText(profile);
  folderEdit_->setText(folder.value.isEmpty() || folder.cut ? DefaultSaveFolder() : folder.value);
  try {
    // The qualities come from the profile list; what can fail is the recording module.
    CheckCodecModule();
    const ProfileCollection profiles;
    for (int i = 0; i < profiles.count(); ++i) {
      const QString name = profiles.item(i).name;
      if (isListed(name)) qualityBox_->addItem(name);
    }
  } catch (const RecordingError& e) {
    qCWarning(lcSettings) << "the qualities cannot be listed:" << e.detail();
    seams_.prompter->message(this, EncoderUnavailableMessage(), Prompter::Icon::Exclamation,
                             Prompter::Buttons::Ok);
    seams_.help->showTopic(this, HelpFilePath(), kEncoderHelpTopic);
  }
  // The combo box takes the first item added to an empty list as its text; the stored
  // name stays, listed or not. With none stored, speech is proposed: OK records with it.
  qualityBox_->setCurrentIndex(profile.isEmpty() ? qualityBox_->findText(ProfileCollection().forSpeech().name) : -1);
  if (!profile.isEmpty()) qualityBox_->setEditText(profile);
}

bool frmConfig::eventFilter(QObject* watched, QEvent* event) {
  // A click on the box's text opens its list, as a click on its arrow does; the text can
  // still be typed into from the keyboard. The list opens as the button comes up: opened
  // at the press, it would take that release as a click beside it, and close.
  const QEvent::Type type = event->type();
  if (watched == qualityBox_->lineEdit() &&
      (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick || type == QEvent::MouseButtonRelease) &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    qualityBox_->setFocus(Qt::MouseFocusReason);
    if (type == QEvent::MouseButtonRelease) qualityBox_->showPopup();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

QString frmConfig::storeProblem(const QString& what, const QString& value) const {
  switch (ValueStoreProblem(value)) {
    case StoreProblem::None:
      return QString();
    case StoreProblem::TooLong:
      return QStringLiteral("%1が長すぎて、設定ファイルに保存すると読み返せません (保存できるのは %2 バイトまでです)。")
          .arg(what)
          .arg(kMaxProfileValueBytes - 1);
    case StoreProblem::LineBreak:
      return QStringLiteral("%1に改行が含まれているため、設定ファイルに保存できません。").arg(what);
    case StoreProblem::NotInCodePage:
      return QStringLiteral("%1に、設定ファイルの文字コード (%2) で表せない文字が含まれているため、保存できません。")
          .arg(what, QString::fromLatin1(LocaleCodec::system().codeset()));
  }
  return QString();
}

void frmConfig::confirm() {
  const QString typed = folderEdit_->text();
  const QString folder = folderToStore(typed);
  // A folder is kept only as it reads back: one cut short or broken at a line would send
  // the recordings to a folder nobody chose.
  QString problem = storeProblem(QStringLiteral("保存場所のパス"), folder);
  if (problem.isEmpty()) problem = storeProblem(QStringLiteral("録音品質"), qualityBox_->currentText());
  if (!problem.isEmpty()) {
    seams_.prompter->message(this, problem + QStringLiteral("\r\n別のフォルダーを選んでください。"),
                             Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
    folderEdit_->setFocus(Qt::OtherFocusReason);
    return;
  }
  settings_.setSaveFolder(folder);
  settings_.setQuality(qualityBox_->currentText());
  // One level only, and no word if it fails: the next recording start tells the user.
  if (!typed.isEmpty() && !QDir().mkdir(typed) && !QFileInfo(typed).isDir())
    qCWarning(lcSettings) << "the save folder was not made:" << typed;
  close();
}

void frmConfig::browse() {
  const QString folder = seams_.prompter->chooseFolder(this, QStringLiteral("フォルダを指定"), browseStart());
  if (!folder.isEmpty()) folderEdit_->setText(folder);
}

void frmConfig::keyPressEvent(QKeyEvent* event) {
  // Enter and Esc press neither OK nor Cancel. Enter on a button presses that button
  // before it comes here (platform/StandardKeys.h).
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace tallowen
