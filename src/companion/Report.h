#pragma once
// WMEDist's command line, and where and how it reports the findings.

#include <QString>
#include <QStringList>

#include "companion/RecordingCheck.h"

namespace tallowen {

struct CompanionOptions {
  bool help = false;  // /?
};

// Windows-style switches, any case. The old installer's (/Q:A for quiet, /R:N for no
// restart) are taken and change nothing: the main window's first-start offer still passes
// them, and the user who said yes there wants to see the answer.
CompanionOptions ParseArguments(const QStringList& arguments);
QString Usage();

struct ReportWays {
  bool print = false;  // the report's lines on stdout
  bool show = false;   // the check in a window of its own
};
// A terminal gets the lines; a desktop gets the window; both get both. With neither (a
// pipe and no screen) the lines are all there is.
ReportWays ChooseReportWays(bool stdoutIsTerminal, bool hasDisplay);

// One line for stdout.
QString FindingLine(const Finding& finding);
// The report's heading, once every check is done.
QString Summary(const std::vector<Finding>& findings);

}  // namespace tallowen
