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

}  // namespace tallowen
