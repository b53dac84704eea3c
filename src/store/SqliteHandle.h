// Owning handles for SQLite connections and statements, and the translation of SQLite's
// result codes into our errors.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/Error.h"

namespace yubin::db::detail {

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct DatabaseDeleter {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using DatabasePtr = std::unique_ptr<sqlite3, DatabaseDeleter>;

// Resets a statement (and drops its bindings) when the scope ends, however it ends.
class StatementReset {
  public:
    explicit StatementReset(sqlite3_stmt* statement) : statement_(statement) {}
    ~StatementReset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    StatementReset(const StatementReset&) = delete;
    StatementReset& operator=(const StatementReset&) = delete;

  private:
    sqlite3_stmt* statement_;
};

// Sets SQLite up for this process once, before its first use (no memory statistics: they
// cost a global lock on every allocation).
void initializeSqlite();
// The VFS that every connection of the layer opens its database through (JournalVfs.h), or
// null for SQLite's default; initializeSqlite first.
const char* sqliteVfs();

// The page size of the database files we create or compact: 8 KB pages halve the reads and
// writes of an import against SQLite's 4 KB and cost no memory. Files with another page
// size are read as they are and take ours at their next compaction.
inline constexpr int kPageSize = 8192;

// The error for an SQLite result code, described by `what` and SQLite's own message.
YubinError sqliteError(sqlite3* db, int rc, std::string_view what);
YubinError sqliteError(sqlite3* db, int rc, const Message& what);
[[noreturn]] void throwSqlite(sqlite3* db, int rc, std::string_view what);
[[noreturn]] void throwSqlite(sqlite3* db, int rc, const Message& what);

// Prepares one statement; persistent statements are meant for the statement cache.
StatementPtr prepare(sqlite3* db, std::string_view sql, bool persistent = false);
// Runs statements that produce no rows.
void run(sqlite3* db, const char* sql);
// Steps a prepared statement that produces no rows (reset afterwards).
void runPrepared(sqlite3* db, sqlite3_stmt* statement, std::string_view what);

// A transaction begun inside an open one is a savepoint of it.
inline constexpr const char* kBeginNested = "SAVEPOINT yubinbox_nested";
inline constexpr const char* kCommitNested = "RELEASE yubinbox_nested";
inline constexpr const char* kRollbackNested =
    "ROLLBACK TO yubinbox_nested; RELEASE yubinbox_nested";

// An explicit transaction for schema changes: rolled back unless committed. Begun inside an
// open transaction (a NativeTransaction that groups several steps), it is a savepoint of
// that one: its commit releases the savepoint and its rollback undoes only its own changes.
class Transaction {
  public:
    explicit Transaction(sqlite3* db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    sqlite3* db_;
    bool nested_;
    bool done_ = false;
};

// "name" with embedded double quotes doubled: an SQLite identifier.
std::string quoteIdentifier(std::string_view name);

}  // namespace yubin::db::detail
