// The headless command line: `yubinbox SUBCOMMAND ...`.
#pragma once

#include <string>

namespace yubin::cli {

// Parses the arguments, runs the subcommand and returns the process's exit code. Its messages
// speak the language of the locale (UseLocaleLanguage).
int RunCommandLine(int argc, char** argv);

// The messages from here on in the language the locale variables choose (base/Translation.h).
void UseLocaleLanguage();

// What a start without a display says: the windows cannot open, the subcommands can be used.
const char* NoDisplayMessage();
// What a start says when the windows module cannot be loaded.
std::string WindowsModuleMissingMessage(const std::string& module, const std::string& reason);

}  // namespace yubin::cli
