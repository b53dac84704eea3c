// A hidden entry for benchmarks and screenshots: `yubinbox import-window --db FILE
// [--ken-all FILE] [--jigyosyo FILE] [--pause SECONDS] [--screenshots FOLDER]` opens the real
// import window on the database, chooses the files as the chooser would, clicks 実行 and then
// 終了 (the marker cleared, the database compacted), and so ends the program. With
// --screenshots it saves the window as PNG files: opened, files chosen, running, after the run.
// Message boxes get their default answers (No to replacing newer data); a run that does not
// finish prints the boxes' texts and ends with exit code 1. It is not listed in the command
// line's help.
#pragma once

namespace yubin::app {

inline constexpr const char* kImportWindowCommand = "import-window";

// argv[1] is kImportWindowCommand. Returns the exit code (2 for wrong arguments).
int RunImportWindow(int argc, char** argv);

}  // namespace yubin::app
