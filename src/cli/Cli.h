// The headless command line: `yubinbox SUBCOMMAND ...`.
#pragma once

namespace yubin::cli {

// Parses the arguments, runs the subcommand and returns the process's exit code.
int RunCommandLine(int argc, char** argv);

}  // namespace yubin::cli
