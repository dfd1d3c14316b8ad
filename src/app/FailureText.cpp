#include "app/FailureText.h"

#include <QDir>

#include "config/EncoderWarning.h"

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
    case FailureCause::InputHeld:
      line = subject.isEmpty() ? QStringLiteral("録音デバイスは、ほかのプログラムが使っています。")
                               : QStringLiteral("録音デバイス「%1」は、ほかのプログラムが使っています。").arg(subject);
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
  return line;
}

QString DetailLine(const RecordingFailure& failure) {
  return failure.detail.isEmpty() ? QString() : QStringLiteral("詳細: %1").arg(failure.detail);
}

QString StartFailureMessage(const RecordingFailure& failure) {
  QStringList lines;
  switch (failure.cause) {
    case FailureCause::Component:
    case FailureCause::Other:  // the encoder's own errors: the module is there but does not work
      lines << EncoderUnavailableMessage();
      break;
    case FailureCause::NoInput:
    case FailureCause::InputLost:
      lines << (failure.subject.isEmpty() ? QStringLiteral("録音デバイス (マイク) が見つかりません。")
                                          : QStringLiteral("録音デバイス「%1」が見つかりません。").arg(failure.subject))
            << QStringLiteral("マイクがつながっているか、サウンドの設定で入力デバイスが無効になっていないかを"
                              "確かめてから、もう一度録音してください。");
      break;
    case FailureCause::ServerLost:
      lines << QStringLiteral("音声サーバー (PipeWire または PulseAudio) が応答しません。")
            << QStringLiteral("音声サーバーが動いているかを確かめてから、もう一度録音してください。");
      break;
    case FailureCause::InputHeld:
      lines << FailureLine(failure)
            << QStringLiteral("そのプログラムを終了するか、その録音や通話を止めてから、もう一度録音してください。");
      break;
    case FailureCause::SaveFolder:
    case FailureCause::SaveFolderWrite:
    case FailureCause::FileExists:
    case FailureCause::Write:
    case FailureCause::FileLost:
      lines << FailureLine(failure)
            << QStringLiteral("設定ボタンで保存場所を確かめ、書き込めるフォルダーを選んでから、もう一度録音してください。");
      break;
  }
  if (failure.cause != FailureCause::Component && failure.cause != FailureCause::Other)
    lines << QStringLiteral("くわしくはヘルプをご覧ください。");
  if (const QString detail = DetailLine(failure); !detail.isEmpty()) lines << detail;
  return lines.join(QStringLiteral("\r\n"));
}

int StartFailureHelpTopic(FailureCause cause) {
  switch (cause) {
    case FailureCause::NoInput:
    case FailureCause::InputLost:
      return kNoInputHelpTopic;
    case FailureCause::ServerLost:
      return kSoundServerHelpTopic;
    case FailureCause::InputHeld:
      return kInputHeldHelpTopic;
    case FailureCause::SaveFolder:
    case FailureCause::SaveFolderWrite:
    case FailureCause::FileExists:
    case FailureCause::Write:
    case FailureCause::FileLost:
      return kSaveFolderHelpTopic;
    case FailureCause::Component:
    case FailureCause::Other:
      break;
  }
  return kEncoderHelpTopic;
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
