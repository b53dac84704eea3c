// Publishing the database to PostgreSQL from the command line: `yubinbox publish` and the tail
// of `yubinbox import --publish`.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "base/Error.h"

namespace yubin::cli {

// Exit codes of a publish that could not begin (nothing changed on the server); listed with the
// others in the README and in --help.
inline constexpr int kExitLoginRefused = 10;  // the server refused the login
inline constexpr int kExitUnreachable = 11;   // no server answered
inline constexpr int kExitNoRights = 12;      // the role may not create or replace the schema

struct PublishTarget {
    std::string conninfo;  // libpq's; empty: the PG* environment variables alone
    std::string schema;
    std::vector<std::string> readerRoles;
};

// --schema and --reader-role, for `publish` and `import --publish`.
void AddPublishTargetOptions(CLI::App& command, PublishTarget& target);

// Publishes the database file; prints the tables and their rows, or the error. Returns the
// exit code.
int PublishDatabase(const std::string& database, const PublishTarget& target);

// The exit code of a publishing error.
int PublishExitCode(const YubinError& error);

}  // namespace yubin::cli
