#include "companion/RecordingCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>

#include "recording/Codec.h"
#include "recording/PulseSource.h"
#include "recording/RecordingFailure.h"
#include "settings/modINI.h"

namespace tallowen {

namespace {

bool canCreateFileIn(const QString& folder) {
  QTemporaryFile probe(folder + QStringLiteral("/.tallowen-check-XXXXXX"));
  return probe.open();  // the file goes again with `probe`
}

}  // namespace

Finding EncoderFinding(const QString& missing) {
  if (missing.isEmpty())
    return {Check::Encoder, true, QStringLiteral("WMA エンコーダー (FFmpeg の wmav2) を使えます。"), {}};
  return {Check::Encoder, false, QStringLiteral("FFmpeg に録音に必要な部品がありません: %1").arg(missing),
          QStringLiteral("Debian の libavcodec59 パッケージをインストールしてください"
                         " (sudo apt install libavcodec59)。")};
}

Finding AudioInputFinding(bool present, const QString& name) {
  if (present) return {Check::AudioInput, true, QStringLiteral("録音デバイス: %1").arg(name), {}};
  return {Check::AudioInput, false, QStringLiteral("録音デバイスが見つかりません。"),
          QStringLiteral("マイクを接続し、ミュートになっていないか確かめてください。サウンドサーバー"
                         " (PulseAudio または PipeWire) が動いているかも確かめ、pavucontrol の"
                         "「入力デバイス」タブで入力を確認してください。")};
}

Finding SaveFolderFinding(const FolderState& f) {
  const QString parent = QFileInfo(f.path).absolutePath();
  if (f.exists && f.writable)
    return {Check::SaveFolder, true, QStringLiteral("保存先フォルダー: %1").arg(f.path), {}};
  if (f.exists)
    return {
        Check::SaveFolder, false, QStringLiteral("保存先フォルダー「%1」に書き込めません。").arg(f.path),
        QStringLiteral("設定ダイアログで別のフォルダーを選ぶか、フォルダーのアクセス権を直してください。")};
  // A missing folder is no problem while it can still be made: the settings dialog creates it.
  if (f.parentIsFolder && f.writable)
    return {Check::SaveFolder,
            true,
            QStringLiteral(
                "保存先フォルダー「%1」はまだありません。設定ダイアログで設定を確定すると作成されます。")
                .arg(f.path),
            {}};
  if (f.parentIsFolder)
    return {Check::SaveFolder, false,
            QStringLiteral("保存先フォルダー「%1」がなく、「%2」に書き込めないため作成もできません。")
                .arg(f.path, parent),
            QStringLiteral("設定ダイアログで別のフォルダーを選ぶか、「%1」のアクセス権を直してください。")
                .arg(parent)};
  return {
      Check::SaveFolder, false,
      QStringLiteral("保存先フォルダー「%1」も、その親フォルダー「%2」もありません。").arg(f.path, parent),
      QStringLiteral("フォルダーを作成するか、設定ダイアログで別のフォルダーを選んでください。")};
}

std::vector<Finding> CheckRecording(const CheckInputs& inputs) {
  return {EncoderFinding(inputs.ffmpegMissing),
          AudioInputFinding(inputs.hasAudioInput, inputs.audioInputName),
          SaveFolderFinding(inputs.saveFolder)};
}

QString CheckName(Check check) {
  switch (check) {
    case Check::Encoder:
      return QStringLiteral("WMA エンコーダー");
    case Check::AudioInput:
      return QStringLiteral("既定の録音デバイス");
    case Check::SaveFolder:
      return QStringLiteral("保存先フォルダー");
  }
  return {};
}

int CountProblems(const std::vector<Finding>& findings) {
  return int(std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return !f.ok; }));
}

FolderState ProbeFolder(const QString& path) {
  FolderState state;
  state.path = path;
  const QFileInfo info(QDir::cleanPath(path));
  state.exists = info.exists();
  const QFileInfo parent(info.absolutePath());
  state.parentIsFolder = parent.isDir();
  if (state.exists)
    state.writable = info.isDir() && canCreateFileIn(info.absoluteFilePath());
  else
    state.writable = state.parentIsFolder && canCreateFileIn(parent.absoluteFilePath());
  return state;
}

QString SaveFolderPath() {
  const QString stored = ReadSetting(kSaveFolderSetting);
  return stored.isEmpty() ? DefaultSaveFolder() : stored;
}

std::vector<CheckStep> RecordingChecks() {
  // Read here, on the caller's thread: the settings file is the program's, not the check's.
  const QString folder = SaveFolderPath();
  return {
      {Check::Encoder,
       [] {
         QString missing;
         try {
           missing = LoadedCodec().missingComponents();
         } catch (const RecordingError& e) {
           missing = e.detail();
         }
         return EncoderFinding(missing);
       }},
      {Check::AudioInput,
       [] {
         const PulseSources::DefaultInput input = PulseSources::defaultInput();
         return AudioInputFinding(input.problem.isEmpty(), input.description);
       }},
      {Check::SaveFolder, [folder] { return SaveFolderFinding(ProbeFolder(folder)); }},
  };
}

}  // namespace tallowen
