#pragma once
// WMEDist's command line and how it reports the findings.

#include <QString>
#include <QStringList>
#include <vector>

#include "companion/RecordingCheck.h"

class QMessageBox;

namespace tallowen {

struct CompanionOptions {
  bool quiet = false;  // /Q, /Q:A, ...: show a window only when something is wrong
  bool help = false;   // /?
};

// Windows-style switches, any case; the ones the old installer took but we need not are ignored.
CompanionOptions ParseArguments(const QStringList& arguments);
QString Usage();

// One line for stdout.
QString FindingLine(const Finding& finding);
// Caption, icon, text and button of the report window.
void FillReport(QMessageBox& box, const std::vector<Finding>& findings);

}  // namespace tallowen
