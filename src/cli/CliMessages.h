// The argument parser in the locale's language: its help layout and its failure messages.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "base/Translation.h"

namespace yubin::cli {

// The line every failure of the arguments ends with.
inline constexpr const char* kSeeHelp = TrMark("使い方は --help で表示されます。");

// The help's labels (Japanese ones; the parser's own are English), its column layout and the
// help flag; call before any subcommand or option is added (they inherit these).
void UseLocalHelp(CLI::App& app);

// The columns `text` (UTF-8) takes on a terminal: two for a wide (Japanese) character.
size_t DisplayWidth(std::string_view text);

// Failure messages in the messages' language for every kind of parse error; call after
// everything is added.
void UseLocalFailureMessages(CLI::App& app);

// What a check of our own (not the parser's) returns when it fails: `message`, which the
// failure then reports as it is (the parser's own checks are reported by their option and value).
std::string OwnCheckFailed(std::string message);

// The word the arguments give where a subcommand belongs, when no subcommand has that name.
std::optional<std::string> UnknownSubcommand(const CLI::App& app, int argc, char** argv);
// The first argument when it is an option (-v) that the program does not know.
std::optional<std::string> UnknownLeadingOption(const CLI::App& app, int argc, char** argv);

// The failure message for a parse error (what UseLocalFailureMessages prints).
std::string FailureMessage(const CLI::Error& error);

}  // namespace yubin::cli
