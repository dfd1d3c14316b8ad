#pragma once
// Whether this machine can record: the checks WMEDist runs in place of installing the encoder.

#include <QString>
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

// One finding per check, in the order encoder, audio input, save folder.
std::vector<Finding> CheckRecording(const CheckInputs& inputs);
int CountProblems(const std::vector<Finding>& findings);

// Looks at the folder on disk; writability is tried for real, since root ignores permission bits.
FolderState ProbeFolder(const QString& path);
// The stored save folder, or the one the settings dialog proposes when none is stored.
QString SaveFolderPath();
// The real inputs: the linked FFmpeg, the default audio input and the save folder.
CheckInputs GatherInputs();

}  // namespace tallowen
