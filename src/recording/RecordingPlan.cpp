#include "recording/RecordingPlan.h"

#include <QDir>
#include <QStandardPaths>
#include <QStorageInfo>
#include <algorithm>

#include "recording/RecordingName.h"

namespace tallowen {

RecordingPlan PlanRecording(const QString& qualityText, const QString& folder, bool folderCut,
                            const ProfileCollection& profiles) {
  RecordingPlan plan;
  plan.qualityText = qualityText;
  if (!plan.qualityText.isEmpty())
    if (const Profile* p = profiles.matching(plan.qualityText)) plan.profile = *p;
  plan.folder = folder;
  plan.folderCut = folderCut;
  return plan;
}

RecordingSetup SetupFor(const QString& folder, const Profile& profile, const QDateTime& now) {
  // The separator goes in even after a folder that ends with one; the root alone is its
  // own separator.
  const QString base = folder == QLatin1String("/") ? folder : folder + QLatin1Char('/');
  // A removed recording whose folder cannot be made again is kept where the user finds
  // their own files.
  QStringList rescue;
  for (const auto location : {QStandardPaths::MusicLocation, QStandardPaths::GenericDataLocation})
    if (const QString place = QStandardPaths::writableLocation(location); !place.isEmpty())
      rescue << place + QStringLiteral("/Tallowen");
  return RecordingSetup{base + RecordingFileName(now), profile, AudioInput{}, rescue};
}

std::optional<qint64> SecondsOfRoom(const QString& folder, int bitRate) {
  if (bitRate <= 0 || folder.isEmpty()) return std::nullopt;
  // A folder not made yet: the disk it will be on.
  QDir existing(folder);
  while (!existing.exists() && !existing.isRoot() && existing.cdUp()) {
  }
  const QStorageInfo storage(existing.absolutePath());
  if (!storage.isValid()) return std::nullopt;
  // The bit rate, and what the container adds: a header to every encoded block.
  const double bytesPerSecond = bitRate / 8.0 * 1.2;
  return qint64(double(std::max<qint64>(storage.bytesAvailable(), 0)) / bytesPerSecond);
}

}  // namespace tallowen
