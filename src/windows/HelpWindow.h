// The program's help: the manual manual.html beside the executable or in the installed
// package's documentation folder, shown in a browser window of the program's own. The help
// window is no loaded window: the program does not run on for it.
#pragma once

#include <QString>

class QTextBrowser;

namespace yubin::app {

// The manual's path (ManualFile of the program folder).
QString ManualPath();

// Opens the manual in the help window (one window, raised when it is open already).
// A missing manual is reported with a message box.
void ShowHelp();

// Closes the help window when it is open.
void CloseHelp();

// The help window, or nullptr when it is not open (tests look at it).
QTextBrowser* HelpBrowser();

}  // namespace yubin::app
