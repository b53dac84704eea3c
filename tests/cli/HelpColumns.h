// The help texts' layout as a person reads it in a terminal.
#pragma once

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/CliMessages.h"

namespace yubin::test {

// The terminal columns where the help's descriptions start.
inline std::set<size_t> DescriptionColumns(const std::string& help) {
    std::istringstream lines(help);
    std::string line;
    std::set<size_t> columns;
    const std::regex entry(R"(^(  \S.*?\S)  +(\S.*)$)");
    while (std::getline(lines, line)) {
        std::smatch match;
        if (!std::regex_match(line, match, entry)) continue;
        columns.insert(cli::DisplayWidth(line.substr(0, match.position(2))));
    }
    return columns;
}

}  // namespace yubin::test
