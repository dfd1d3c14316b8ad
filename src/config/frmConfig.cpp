#include "config/frmConfig.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>

#include "platform/Twips.h"
#include "recording/Encoder.h"
#include "recording/EncoderFactory.h"
#include "recording/FailureText.h"
#include "settings/modINI.h"
#include "platform/ApplicationFolder.h"
#include "platform/Pictures.h"
#include "platform/TextFit.h"
#include "platform/ToolWindow.h"

namespace tallowen {

namespace {

// The folder browser opens on the desktop, as it always did; without a desktop folder, in
// the home folder rather than wherever the program was started from.
QString browseStart() {
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  return !desktop.isEmpty() && QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
}

}  // namespace

frmConfig::frmConfig(const Seams& seams, QWidget* parent) : QDialog(parent), seams_(seams) {
  setObjectName(QStringLiteral("frmConfig"));
  setWindowTitle(QStringLiteral("Tallowen - 設定変更"));
  setWindowIcon(PictureIcon("icon"));
  MakeToolWindow(this);
  setFixedSize(px(7200), px(1785));

  Label1 = new QLabel(QStringLiteral("保存場所"), this);
  Label1->setGeometry(place(120, 120, 1335, 255));
  Text1 = new QLineEdit(this);
  Text1->setGeometry(place(120, 360, 6015, 270));
  Command2 = new QPushButton(QStringLiteral("参照"), this);
  Command2->setGeometry(place(6240, 360, 855, 255));
  Label2 = new QLabel(QStringLiteral("録音品質"), this);
  Label2->setGeometry(place(120, 720, 1935, 255));
  Combo1 = new QComboBox(this);
  Combo1->setGeometry(place(120, 960, 6975, 300));
  Combo1->setEditable(true);
  Combo1->setInsertPolicy(QComboBox::NoInsert);  // typed text is taken as it is, not listed
  Command1 = new QPushButton(QStringLiteral("OK"), this);
  Command1->setGeometry(place(120, 1320, 975, 375));
  Command3 = new QPushButton(QStringLiteral("キャンセル"), this);
  Command3->setGeometry(place(1200, 1320, 975, 375));
  const std::pair<QWidget*, const char*> names[] = {
      {Label1, "Label1"}, {Text1, "Text1"},       {Command2, "Command2"}, {Label2, "Label2"},
      {Combo1, "Combo1"}, {Command1, "Command1"}, {Command3, "Command3"}};
  for (const auto& [widget, name] : names) widget->setObjectName(QString::fromLatin1(name));
  // Neither OK nor Cancel is the default or the cancel button.
  for (QPushButton* button : {Command1, Command2, Command3}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  setTabOrder(Text1, Combo1);
  setTabOrder(Combo1, Command1);
  setTabOrder(Command1, Command2);
  setTabOrder(Command2, Command3);

  connect(Command1, &QPushButton::clicked, this, &frmConfig::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &frmConfig::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &frmConfig::Command3_Click);
  FitTexts(this);
  Form_Load();
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

void frmConfig::Form_Load() {
  const QString profile = ReadSetting(kQualitySetting);
  const QString folder = ReadSetting(kSaveFolderSetting);
  Combo1->setEditText(profile);
  Text1->setText(folder.isEmpty() ? DefaultSaveFolder() : folder);
  try {
    std::unique_ptr<Encoder> encoder = seams_.encoders->create();
    ProfileCollection& profiles = encoder->profileCollection();
    for (int i = 0; i < profiles.count(); ++i) {
      const QString name = profiles.item(i).name;
      if (isListed(name)) Combo1->addItem(name);
    }
  } catch (const EncoderError&) {
    seams_.prompter->message(this, EncoderUnavailableMessage(), Prompter::Icon::Exclamation,
                             Prompter::Buttons::Ok);
    seams_.help->showTopic(this, HelpFilePath(), kEncoderHelpTopic);
  }
  // The combo box takes the first item added to an empty list as its text; the stored
  // name stays, listed or not.
  Combo1->setCurrentIndex(-1);
  Combo1->setEditText(profile);
}

void frmConfig::Command1_Click() {
  const QString typed = Text1->text();
  WriteSetting(kSaveFolderSetting, folderToStore(typed));
  WriteSetting(kQualitySetting, Combo1->currentText());
  // One level only, and no word if it fails: the next recording start tells the user.
  if (!typed.isEmpty()) QDir().mkdir(typed);
  close();
}

void frmConfig::Command2_Click() {
  const QString folder = BrowseForFolder();
  if (!folder.isEmpty()) Text1->setText(folder);
}

QString frmConfig::BrowseForFolder() {
  return seams_.prompter->chooseFolder(this, QStringLiteral("フォルダを指定"), browseStart());
}

void frmConfig::Command3_Click() { close(); }

void frmConfig::keyPressEvent(QKeyEvent* event) {
  // Enter and Esc press neither OK nor Cancel.
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace tallowen
