// The reading commands for other programs and scripts: lookup, search and summary.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace yubin::cli {

// Registers lookup, search and summary on the application; the one that is chosen puts its
// run into `action`, which is called after parsing and gives the exit code.
void AddQueryCommands(CLI::App& app, std::function<int()>& action);

}  // namespace yubin::cli
