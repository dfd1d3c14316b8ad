#pragma once

#include <QDateTime>
#include <QString>

namespace tallowen {

// "yyyy-mm-dd_hh-mm.wma" for the local date and minute of the start.
QString RecordingFileName(const QDateTime& start);

// The folder, the separator and the name ("/name" in the root folder "/"). A name taken already becomes
// "yyyy-mm-dd_hh-mm(2).wma", "(3)", ...: an earlier recording of the same minute stays. Anything
// at a name takes it: a file, a folder, a link wherever it leads.
QString RecordingPath(const QString& folder, const QString& fileName);

// Elapsed time as "hh:mm:ss" of a day: whole days are dropped.
QString ElapsedText(qint64 elapsedMs);

}  // namespace tallowen
