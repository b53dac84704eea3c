// Start-up of the windows: the single-instance marker and the main menu.
#pragma once

#include <QString>

namespace yubin::app {

// Makes the application object, runs Main and the event loop; returns the exit code.
int RunWindows(int argc, char** argv);

// The program's start: refuses to run while the single-instance marker lies in the program
// folder (a message box says so); otherwise creates the marker and shows the main menu, not
// modally. Raises the file system's error when the marker cannot be created. Returns false when
// the start was refused.
bool Main();

// The exit code of a start refused because another instance runs (or left its marker).
inline constexpr int kRefusedExitCode = 3;

// Deletes the single-instance marker when it exists; otherwise does nothing. Raises the file
// system's error when the marker exists and cannot be deleted.
void DeleteCheckFile();

// The marker's folder: the program folder while this user may write there and the program is
// not installed (a build tree, a copy in the user's own folder); otherwise the user's runtime
// folder (XDG_RUNTIME_DIR, else /tmp/yubinbox-<uid>, made when missing). The installed program
// never writes into its own folder, also when root runs it.
QString CheckFileFolder();
// The marker's path: its folder, a separator (always added) and "checkfile.txt".
QString CheckFilePath();

// The text of the refusal.
inline const QString kTwiceStartedMessage =
    QStringLiteral("プログラムが二重に起動されています。\n処理を中止します。");

}  // namespace yubin::app
