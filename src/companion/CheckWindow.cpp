#include "companion/CheckWindow.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "companion/CompanionLog.h"
#include "companion/Report.h"
#include "platform/Pictures.h"
#include "platform/ToolWindow.h"

namespace tallowen {

namespace {

// The objectName stem of each check's labels ("audioInputState", ...).
QString stem(Check check) {
  switch (check) {
    case Check::Encoder:
      return QStringLiteral("encoder");
    case Check::AudioInput:
      return QStringLiteral("audioInput");
    case Check::SaveFolder:
      return QStringLiteral("saveFolder");
  }
  return {};
}

QLabel* wrapping(QWidget* parent, const QString& name) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setWordWrap(true);
  // Paths and commands may be copied from it.
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

constexpr int kWidth = 520;
const QColor kWaiting(0x60, 0x60, 0x60);
const QColor kPassed(0x00, 0x70, 0x00);
const QColor kFailed(0xC0, 0x00, 0x00);

}  // namespace

CheckWindow::CheckWindow(std::vector<CheckStep> steps, QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      steps_(std::move(steps)) {
  setObjectName(QStringLiteral("checkWindow"));
  setWindowTitle(QStringLiteral("Tallowen 録音の確認"));
  setAccessibleName(windowTitle());
  setWindowIcon(PictureIcon("icon"));

  auto* layout = new QVBoxLayout(this);
  summaryLabel_ = wrapping(this, QStringLiteral("summaryLabel"));
  summaryLabel_->setText(QStringLiteral("このパソコンで Tallowen が録音できるかを確かめています…"));
  summaryLabel_->setAccessibleName(summaryLabel_->text());
  QFont heading = summaryLabel_->font();
  heading.setBold(true);
  summaryLabel_->setFont(heading);
  layout->addWidget(summaryLabel_);

  // The findings scroll on a screen too small for them all.
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("findings"));
  scroll_->setAccessibleName(QStringLiteral("確認の結果"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  content_ = new QWidget(scroll_);
  content_->setAutoFillBackground(false);
  scroll_->viewport()->setAutoFillBackground(false);
  auto* grid = new QGridLayout(content_);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setColumnStretch(1, 1);
  grid->setVerticalSpacing(4);
  int line = 0;
  for (const CheckStep& step : steps_) {
    const QString name = CheckName(step.check);
    auto* title = new QLabel(name, content_);
    title->setObjectName(stem(step.check) + QStringLiteral("Name"));
    title->setFont(heading);
    auto* state = new QLabel(content_);
    state->setObjectName(stem(step.check) + QStringLiteral("State"));
    state->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QLabel* result = wrapping(content_, stem(step.check) + QStringLiteral("Result"));
    QLabel* fix = wrapping(content_, stem(step.check) + QStringLiteral("Fix"));
    fix->hide();
    if (line > 0) grid->setRowMinimumHeight(line++, 8);
    grid->addWidget(title, line, 0, 1, 2);
    grid->addWidget(state, line++, 2);
    grid->addWidget(result, line++, 0, 1, 3);
    grid->addWidget(fix, line++, 0, 1, 3);
    rows_.push_back({state, result, fix});
    setState(rows_.size() - 1, QStringLiteral("待機中"), kWaiting);
  }
  grid->setRowStretch(line, 1);
  scroll_->setWidget(content_);
  layout->addWidget(scroll_, 1);

  closeButton_ = new QPushButton(QStringLiteral("閉じる(&C)"), this);
  closeButton_->setObjectName(QStringLiteral("closeButton"));
  closeButton_->setAccessibleName(QStringLiteral("閉じる"));
  closeButton_->setAccessibleDescription(QStringLiteral("確認を終えて、このウィンドウを閉じます。"));
  closeButton_->setDefault(true);
  connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);
  layout->addWidget(closeButton_, 0, Qt::AlignRight);
  // The one control that acts: the keyboard rests on it from the start.
  closeButton_->setFocus();
}

CheckWindow::~CheckWindow() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

void CheckWindow::start() {
  if (worker_.joinable() || steps_.empty()) return;
  worker_ = std::thread([this] {
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      if (stop_) {
        qCDebug(lcCompanion) << "window closed: checks left unrun from" << CheckName(steps_[i].check);
        return;
      }
      QMetaObject::invokeMethod(
          this, [this, i] { stepStarted(i); }, Qt::QueuedConnection);
      const Finding finding = steps_[i].run();
      // Queued to this window: dropped with it if it goes first.
      QMetaObject::invokeMethod(
          this, [this, i, finding] { stepFinished(i, finding); }, Qt::QueuedConnection);
    }
  });
}

void CheckWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  fitToScreen();
  placeOnScreen();
  // Started from the main window's offer, the check comes to the front and takes the keyboard.
  activateWindow();
  raise();
}

void CheckWindow::closeEvent(QCloseEvent* event) {
  // Whoever closes the window wants no more checks: the one running is the last.
  stop_ = true;
  QDialog::closeEvent(event);
}

void CheckWindow::done(int result) {
  stop_ = true;  // Esc
  QDialog::done(result);
}

void CheckWindow::fitToScreen() {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  const QRect area = s->availableGeometry();
  // The frame is the window manager's once it has framed the window; before, a guess.
  QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                 frameGeometry().right() - geometry().right(),
                 frameGeometry().bottom() - geometry().bottom());
  if (frame.isNull()) frame = QMargins(4, 32, 4, 4);
  // Wide enough for a line of each finding, narrow enough for any screen.
  const int width = qMin(kWidth, area.width() - frame.left() - frame.right());
  const QMargins margins = layout()->contentsMargins();
  const int inner = width - margins.left() - margins.right();
  const int spacing = layout()->spacing();
  const int wanted = margins.top() + summaryLabel_->heightForWidth(inner) + spacing +
                     content_->heightForWidth(inner) + spacing + closeButton_->sizeHint().height() +
                     margins.bottom();
  const int room = area.height() - frame.top() - frame.bottom();
  resize(width, qMin(wanted, room));
  // Only findings that scroll are worth a stop of the keyboard's, where the arrow keys scroll them.
  scroll_->setFocusPolicy(wanted > room ? Qt::StrongFocus : Qt::NoFocus);
}

void CheckWindow::placeOnScreen() {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  // The middle of the screen, or its top left where the window is bigger than it.
  const QSize outer = frameGeometry().size();
  FitOnScreen(this, s->availableGeometry().center() - QPoint(outer.width() / 2, outer.height() / 2));
}

void CheckWindow::setState(std::size_t index, const QString& state, const QColor& colour) {
  QLabel* label = rows_[index].state;
  label->setText(state);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, colour);
  label->setPalette(p);
  label->setAccessibleName(QStringLiteral("%1: %2").arg(CheckName(steps_[index].check), state));
}

void CheckWindow::stepStarted(std::size_t index) {
  setState(index, QStringLiteral("確認中…"), palette().color(QPalette::WindowText));
}

void CheckWindow::stepFinished(std::size_t index, const Finding& finding) {
  const Row& row = rows_[index];
  const QString name = CheckName(steps_[index].check);
  setState(index, finding.ok ? QStringLiteral("OK") : QStringLiteral("問題あり"),
           finding.ok ? kPassed : kFailed);
  row.result->setText(finding.text);
  row.result->setAccessibleName(QStringLiteral("%1の結果: %2").arg(name, finding.text));
  if (!finding.ok && !finding.fix.isEmpty()) {
    row.fix->setText(QStringLiteral("対処: %1").arg(finding.fix));
    row.fix->setAccessibleName(QStringLiteral("%1の対処: %2").arg(name, finding.fix));
    row.fix->show();
  }
  findings_.push_back(finding);
  emit checked(finding);
  if (!isDone()) {
    fitToScreen();
    return;
  }

  if (worker_.joinable()) worker_.join();  // it has nothing left to do
  summaryLabel_->setText(Summary(findings_));
  summaryLabel_->setAccessibleName(summaryLabel_->text());
  QPalette p = summaryLabel_->palette();
  p.setColor(QPalette::WindowText, CountProblems(findings_) == 0 ? kPassed : kFailed);
  summaryLabel_->setPalette(p);
  // The texts that came in want room, which may take the window off the screen.
  fitToScreen();
  if (const QScreen* s = screen(); s && !s->availableGeometry().contains(frameGeometry())) placeOnScreen();
  closeButton_->setFocus();
  emit allChecked();
}

}  // namespace tallowen
