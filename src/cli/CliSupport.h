// What the subcommands share: exit codes, messages, the database they work on.
#pragma once

#include <memory>
#include <string>

#include "base/Error.h"
#include "store/Engine.h"

namespace yubin::cli {

// Exit codes; listed in the README and in --help.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;        // an error (number and description printed); for
                                              // lookup and search, a code or word not found
inline constexpr int kExitUsage = 2;          // the arguments are wrong
inline constexpr int kExitRefused = 3;        // not allowed, or the user declined (nothing changed)
inline constexpr int kExitNeedsNational = 4;  // business-office data needs the national data first
inline constexpr int kExitCompactionPending = 5;  // the import is complete; only the compaction
                                                  // waits (another program holds the file)
inline constexpr int kExitAborted = 130;  // an import was aborted; the next run continues it

void PrintError(const YubinError& error);

// The path made absolute and normal; as given when that fails.
std::string Absolute(const std::string& path);

// Text for a terminal: the windows' CR LF line ends become LF.
std::string ForTerminal(std::string text);

// Unless the path names a regular file: FileNotFound when nothing is there; PathFileAccess
// saying what is there instead (a folder, a FIFO, a device) or why it cannot be looked at (a
// name too long, with the system's error number); BadSettingsValue for a path with a NUL.
void RequireExistingFile(const std::string& path);
// FileNotFound unless the database file is there, saying how to make it (createdb, newdb);
// otherwise as RequireExistingFile.
void RequireExistingDatabase(const std::string& path);

// The exit code after everything written to standard output has reached it: a write error
// (a full disk, a closed pipe) is reported and makes a successful run fail.
int FinishStandardOutput(int exitCode);

// The database of a reading command: --db, or else the settings file's path.
std::string DatabaseFromOptionOrSettings(const std::string& option);

// A connection of its own to an existing database file of ours.
std::unique_ptr<db::Connection> Connect(const std::string& path);

}  // namespace yubin::cli
