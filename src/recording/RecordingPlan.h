#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

#include "recording/Profiles.h"
#include "recording/RecordingSetup.h"

namespace tallowen {

// What the settings make of the next recording, worked out at every start.
struct RecordingPlan {
  QString qualityText;             // as stored
  std::optional<Profile> profile;  // the first profile whose name holds it
  QString folder;                  // as stored
  bool folderCut = false;          // stored longer than a value reads back: nobody chose what reads

  // A quality names a profile: none is stored, or text no profile's name holds (typed in
  // the dialog, or a name of the Windows encoder) is not a choice.
  bool qualityChosen() const { return !qualityText.isEmpty() && profile.has_value(); }
  // A folder was chosen and reads back whole. An empty one is never the root folder.
  bool folderChosen() const { return !folder.isEmpty() && !folderCut; }
};
// The plan for what is stored: the quality's text, and the folder as it reads back (`cut`
// when it was stored longer than that).
RecordingPlan PlanRecording(const QString& qualityText, const QString& folder, bool folderCut,
                            const ProfileCollection& profiles = ProfileCollection());

// The recording of `profile` begun at `now` in `folder`, from the default input.
RecordingSetup SetupFor(const QString& folder, const Profile& profile, const QDateTime& now);

// Roughly how many seconds the disk that holds (or will hold) `folder` takes at `bitRate`;
// nothing when it cannot be told.
std::optional<qint64> SecondsOfRoom(const QString& folder, int bitRate);

}  // namespace tallowen
