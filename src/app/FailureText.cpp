#include "app/FailureText.h"

#include <QDir>

namespace tallowen {

QString FailureLine(const RecordingFailure& failure) {
  const QString subject = QDir::toNativeSeparators(failure.subject);
  QString line;
  switch (failure.cause) {
    case FailureCause::Component:
      line = QStringLiteral("録音部品 (libtallowen_codec.so) を使えません。");
      break;
    case FailureCause::SaveFolder:
      line = QStringLiteral("保存先フォルダー「%1」がなく、作成することもできません。").arg(subject);
      break;
    case FailureCause::SaveFolderWrite:
      line = QStringLiteral("保存先フォルダー「%1」にファイルを作成できません。").arg(subject);
      break;
    case FailureCause::FileExists:
      line = QStringLiteral("録音ファイル「%1」は、ほかのプログラムが先に作成しました。").arg(subject);
      break;
    case FailureCause::NoInput:
      line = subject.isEmpty() ? QStringLiteral("録音デバイスが見つかりません。")
                               : QStringLiteral("録音デバイス「%1」を使えません。").arg(subject);
      break;
    case FailureCause::InputLost:
      line = subject.isEmpty() ? QStringLiteral("録音デバイスが使えなくなりました。")
                               : QStringLiteral("録音デバイス「%1」が使えなくなりました。").arg(subject);
      break;
    case FailureCause::ServerLost:
      line = QStringLiteral("音声サーバーに接続できません。");
      break;
    case FailureCause::Write:
      line = QStringLiteral("録音ファイル「%1」に書き込めません。").arg(subject);
      break;
    case FailureCause::FileLost:
      line = QStringLiteral("録音ファイル「%1」かその保存先フォルダーが、録音中に削除されました。").arg(subject);
      break;
    case FailureCause::Other:
      line = QStringLiteral("録音できません。");
      break;
  }
  if (!failure.detail.isEmpty()) line += QStringLiteral(" (%1)").arg(failure.detail);
  return line;
}

QString InterruptedRecordingsReport(const QList<InterruptedRecording>& found) {
  using State = InterruptedRecording::State;
  QStringList mended, notMended;
  for (const InterruptedRecording& r : found) {
    const QString path = QDir::toNativeSeparators(r.path);
    switch (r.state) {
      case State::Mended:
        mended << path;
        break;
      case State::Sound:
        break;  // complete already: nothing was done, nothing to say
      case State::Missing:
        notMended << QStringLiteral("%1: 見つかりません。次に起動したときにもう一度探します。").arg(path);
        break;
      case State::Replaced:
        notMended << QStringLiteral("%1: 別のファイルに置き換えられていたため、そのままにしました。").arg(path);
        break;
      case State::NotRegularFile:
        notMended << QStringLiteral("%1: 録音ファイルではないものがあるため、そのままにしました。").arg(path);
        break;
      case State::Unreadable:
        notMended << QStringLiteral("%1: 読み書きできません。次に起動したときにもう一度試します。").arg(path);
        break;
      case State::Damaged:
        notMended << QStringLiteral("%1: 途中が壊れているため、そのままにしました。").arg(path);
        break;
      case State::TooManyAttempts:
        notMended << QStringLiteral("%1: 修復を%2回試みましたが、できませんでした。そのままにしてあります。")
                         .arg(path)
                         .arg(r.attempts);
        break;
      case State::UnknownFile:
        notMended << QStringLiteral("%1: 録音したファイルと同じものか確かめられないため、そのままにしました。").arg(path);
        break;
      case State::EntryDamaged:
        notMended << QStringLiteral("録音中の記録の一つが壊れていて読めませんでした。");
        break;
    }
  }
  // A disk left unplugged for months keeps its entries: the notice names the first few and
  // counts the rest, so that it never grows past the screen.
  constexpr int kNamed = 8;
  auto capped = [](QStringList list) {
    if (list.size() > kNamed) {
      const qsizetype rest = list.size() - kNamed;
      list.erase(list.begin() + kNamed, list.end());
      list << QStringLiteral("ほか %1 件").arg(rest);
    }
    return list;
  };
  QStringList lines;
  if (!mended.isEmpty())
    lines << QStringLiteral("前回、録音の途中で終了したため、次の録音ファイルを修復しました。") << capped(mended);
  if (!notMended.isEmpty()) {
    if (!lines.isEmpty()) lines << QString();
    lines << QStringLiteral("前回、録音の途中で終了した次の録音は、修復できませんでした。") << capped(notMended);
  }
  return lines.join(QStringLiteral("\r\n"));
}

}  // namespace tallowen
