#pragma once

#include <QString>
#include <QtGlobal>

class QWidget;

namespace tallowen {

// Opens the program's help file at its table of contents; returns the help window's handle,
// 0 when none could be shown. Never waits for the help window. A file that is not the help
// file this build compiled is said to be damaged and left unread.
quintptr ShowHelpContents(QWidget* owner, const QString& helpFile);
// Opens the help file at the page its context table maps the topic number to.
quintptr ShowHelpTopic(QWidget* owner, const QString& helpFile, int topic);

}  // namespace tallowen
