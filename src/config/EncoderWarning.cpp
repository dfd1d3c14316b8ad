#include "config/EncoderWarning.h"

namespace tallowen {

QString EncoderUnavailableMessage() {
  return QStringLiteral(
             "Windows Media Encoderのインストールがまだ終了していません。しばらくおまちください。") +
         QStringLiteral("\r\n") + QStringLiteral("この現象に関する情報がヘルプにありますのでご覧ください。");
}

}  // namespace tallowen
