// The argument parser in Japanese: its help layout and its failure messages.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace yubin::cli {

// Japanese labels for the help and the help flag; call before any subcommand or option is
// added (they inherit these).
void UseJapaneseHelp(CLI::App& app);

// The columns `text` (UTF-8) takes on a terminal: two for a wide (Japanese) character.
size_t DisplayWidth(std::string_view text);

// Japanese failure messages for every kind of parse error; call after everything is added.
void UseJapaneseFailureMessages(CLI::App& app);

// The word the arguments give where a subcommand belongs, when no subcommand has that name.
std::optional<std::string> UnknownSubcommand(const CLI::App& app, int argc, char** argv);
// The first argument when it is an option (-v) that the program does not know.
std::optional<std::string> UnknownLeadingOption(const CLI::App& app, int argc, char** argv);

// The failure message for a parse error (what UseJapaneseFailureMessages prints).
std::string JapaneseFailureMessage(const CLI::Error& error);

}  // namespace yubin::cli
