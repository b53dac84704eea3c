// The options the reading subcommands (summary, lookup, search) share.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/RowOutput.h"

namespace yubin::cli {

// --db: the database file; empty for the settings file's path.
void AddDatabaseOption(CLI::App& command, std::string& database);

// --format FORMAT, one of `allowed`, with the parser's message in Japanese.
void AddFormatOption(CLI::App& command, std::string& format, const char* help,
                     std::vector<std::string> allowed);

// The format a validated --format names.
OutputFormat FormatOf(const std::string& format);

}  // namespace yubin::cli
