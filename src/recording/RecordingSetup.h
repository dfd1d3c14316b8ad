#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "recording/Profiles.h"

namespace tallowen {

// The sound a recording captures: the sound server's default input, or one input by its
// name there.
struct AudioInput {
  QByteArray device;  // empty: the default input
  bool operator==(const AudioInput&) const = default;
};

// Everything a recording starts from, gathered before it starts. A name that another
// program takes before the file is made moves on to "(2)", "(3)", ...
struct RecordingSetup {
  QString path;
  Profile profile;
  AudioInput input;
  // Where the recording goes, in turn, when it is removed while it records and its own
  // folder cannot be made again: folders of the user's own.
  QStringList rescueFolders;
};

}  // namespace tallowen
