#pragma once
// Whether this machine can record: the checks WMEDist runs in place of installing the encoder.

#include <QString>
#include <functional>
#include <vector>

namespace tallowen {

enum class Check { Encoder, AudioInput, SaveFolder };

struct Finding {
  Check check;
  bool ok = false;
  QString text;  // what was found
  QString fix;   // how to put it right; empty when ok
};

struct FolderState {
  QString path;
  bool exists = false;          // something is there, a folder or not
  bool parentIsFolder = false;  // the folder it would be created in
  bool writable = false;        // a file can be created in it, or in its parent while it is missing
};

struct CheckInputs {
  QString ffmpegMissing;  // what recording lacks from FFmpeg, in words
  bool hasAudioInput = false;
  QString audioInputName;
  FolderState saveFolder;
};

// What each check found, worded.
Finding EncoderFinding(const QString& ffmpegMissing);
Finding AudioInputFinding(bool present, const QString& name);
Finding SaveFolderFinding(const FolderState& folder);
// One finding per check, in the order encoder, audio input, save folder.
std::vector<Finding> CheckRecording(const CheckInputs& inputs);
int CountProblems(const std::vector<Finding>& findings);
// The check's name as the report heads it ("既定の録音デバイス").
QString CheckName(Check check);

// Looks at the folder on disk; writability is tried for real, since root ignores permission bits.
FolderState ProbeFolder(const QString& path);
// The stored save folder, or the one the settings dialog proposes when none is stored.
QString SaveFolderPath();

// One check as it is run for real: which it is, and the work, which may take seconds
// and touches no window.
struct CheckStep {
  Check check;
  std::function<Finding()> run;
};
// The real checks, in order: the linked FFmpeg, the default audio input (which may take up
// to 3 s to answer) and the save folder, as stored now.
std::vector<CheckStep> RecordingChecks();

}  // namespace tallowen
