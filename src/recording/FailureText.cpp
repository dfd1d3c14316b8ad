#include "recording/FailureText.h"

#include <QDir>

namespace tallowen {

QString EncoderUnavailableMessage() {
  return QStringLiteral(
             "Windows Media Encoderのインストールがまだ終了していません。しばらくおまちください。") +
         QStringLiteral("\r\n") + QStringLiteral("この現象に関する情報がヘルプにありますのでご覧ください。");
}

QString FailureLine(const EncoderError& failure) {
  const QString subject = QDir::toNativeSeparators(failure.subject());
  QString line;
  switch (failure.kind()) {
    case EncoderFailure::Component:
      line = QStringLiteral("録音部品 (libtallowen_codec.so) を使えません。");
      break;
    case EncoderFailure::SaveFolder:
      line = QStringLiteral("保存先フォルダー「%1」がなく、作成することもできません。").arg(subject);
      break;
    case EncoderFailure::SaveFolderWrite:
      line = QStringLiteral("保存先フォルダー「%1」にファイルを作成できません。").arg(subject);
      break;
    case EncoderFailure::FileExists:
      line = QStringLiteral("録音ファイル「%1」は、ほかのプログラムが先に作成しました。").arg(subject);
      break;
    case EncoderFailure::NoInput:
      line = subject.isEmpty() ? QStringLiteral("録音デバイスが見つかりません。")
                               : QStringLiteral("録音デバイス「%1」を使えません。").arg(subject);
      break;
    case EncoderFailure::InputLost:
      line = subject.isEmpty() ? QStringLiteral("録音デバイスが使えなくなりました。")
                               : QStringLiteral("録音デバイス「%1」が使えなくなりました。").arg(subject);
      break;
    case EncoderFailure::NoProfile:
      line = QStringLiteral("録音品質「%1」に合うプロファイルがありません。").arg(subject);
      break;
    case EncoderFailure::Write:
      line = QStringLiteral("録音ファイル「%1」に書き込めません。").arg(subject);
      break;
    case EncoderFailure::FileLost:
      line = QStringLiteral("録音ファイル「%1」かその保存先フォルダーが、録音中に削除されました。").arg(subject);
      break;
    case EncoderFailure::Other:
      line = QStringLiteral("録音できません。");
      break;
  }
  if (!failure.reason().isEmpty()) line += QStringLiteral(" (%1)").arg(failure.reason());
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
