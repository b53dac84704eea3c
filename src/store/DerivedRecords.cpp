#include "store/DerivedRecords.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "store/EngineImpl.h"

namespace yubin::db {

using detail::prepare;
using detail::quoteIdentifier;
using detail::StatementPtr;

namespace {

constexpr std::string_view kPrefix = "__yubinbox_derived_";

// The three statements that can change the source table, each of which removes the records.
constexpr const char* kGuardedStatements[] = {"insert", "update", "delete"};

// Records stored by one statement: for records of some tens of bytes, a statement's own work
// is about half of what one record costs alone.
constexpr std::size_t kRecordsPerInsert = 64;

std::string TableName(std::string_view name) { return std::string(kPrefix) + std::string(name); }

std::string GuardName(const std::string& table, const char* statement) {
    return table + "_" + statement;
}

std::vector<std::string> Names(sqlite3* db, const char* type, std::string_view prefix) {
    StatementPtr list =
        prepare(db, "SELECT name FROM sqlite_schema WHERE type = ? AND substr(name, 1, ?) = ?");
    sqlite3_bind_text(list.get(), 1, type, -1, SQLITE_STATIC);
    sqlite3_bind_int(list.get(), 2, static_cast<int>(prefix.size()));
    sqlite3_bind_text(list.get(), 3, prefix.data(), static_cast<int>(prefix.size()), SQLITE_STATIC);
    std::vector<std::string> names;
    int rc;
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    }
    if (rc != SQLITE_DONE) detail::throwSqlite(db, rc, Message("データベースの一覧を読めません。"));
    return names;
}

void DropTable(sqlite3* db, const std::string& table) {
    for (const char* statement : kGuardedStatements) {
        detail::run(
            db, ("DROP TRIGGER IF EXISTS " + quoteIdentifier(GuardName(table, statement))).c_str());
    }
    detail::run(db, ("DROP TABLE IF EXISTS " + quoteIdentifier(table)).c_str());
}

}  // namespace

namespace detail {

void dropDerivedRecords(sqlite3* db) {
    const std::vector<std::string> tables = Names(db, "table", kPrefix);
    if (tables.empty()) return;
    Transaction tx(db);
    for (const std::string& table : tables) DropTable(db, table);
    tx.commit();
}

}  // namespace detail

void DerivedRecords::removeAll(Connection& connection) {
    Connection::Impl& m = connection.impl();
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    m.commitBatch();
    detail::dropDerivedRecords(m.db.get());
}

void DerivedRecords::store(Connection& connection, std::string_view name,
                           std::string_view sourceTable, const Producer& next) {
    Connection::Impl& m = connection.impl();
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    m.commitBatch();
    const std::shared_ptr<const detail::TableDef> source = m.currentCatalog().require(sourceTable);
    sqlite3* db = m.db.get();
    const std::string table = TableName(name);
    {
        detail::Transaction tx(db);
        DropTable(db, table);
        detail::run(db, ("CREATE TABLE " + quoteIdentifier(table) +
                         " (key INTEGER PRIMARY KEY, data BLOB NOT NULL)")
                            .c_str());
        // The records go in kRecordsPerInsert to a statement, the last few one by one.
        std::string values = "(?, ?)";
        for (std::size_t i = 1; i < kRecordsPerInsert; ++i) values += ", (?, ?)";
        const std::string insert = "INSERT INTO " + quoteIdentifier(table) + " VALUES ";
        StatementPtr insertMany = prepare(db, insert + values);
        StatementPtr insertOne = prepare(db, insert + "(?, ?)");
        std::vector<long long> keys;
        std::vector<std::size_t> ends;  // of each record's data in `bytes`
        std::string bytes;              // a blob however empty: never a null pointer
        const auto put = [&](sqlite3_stmt* statement, std::size_t first, std::size_t count) {
            detail::StatementReset reset(statement);
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t begin = first + i == 0 ? 0 : ends[first + i - 1];
                const int at = static_cast<int>(2 * i);
                sqlite3_bind_int64(statement, at + 1, keys[first + i]);
                sqlite3_bind_blob(statement, at + 2, bytes.data() + begin,
                                  static_cast<int>(ends[first + i] - begin), SQLITE_STATIC);
            }
            detail::runPrepared(db, statement, "派生データを書き込めません。");
        };
        for (bool more = true; more;) {
            keys.clear();
            ends.clear();
            bytes.clear();
            long long key = 0;
            std::string_view data;
            while (keys.size() < kRecordsPerInsert && (more = next(key, data))) {
                keys.push_back(key);
                bytes.append(data);
                ends.push_back(bytes.size());
            }
            if (keys.size() == kRecordsPerInsert) {
                put(insertMany.get(), 0, keys.size());
            } else {
                for (std::size_t i = 0; i < keys.size(); ++i) put(insertOne.get(), i, 1);
            }
        }
        // The guards: whatever program changes the source table removes the records with it.
        for (const char* statement : kGuardedStatements) {
            detail::run(db, ("CREATE TRIGGER " + quoteIdentifier(GuardName(table, statement)) +
                             " AFTER " + statement + " ON " + quoteIdentifier(source->name) +
                             " BEGIN DELETE FROM " + quoteIdentifier(table) + "; END")
                                .c_str());
        }
        tx.commit();
    }
    m.invalidateCatalog();
}

struct DerivedRecords::Statement {
    StatementPtr read;
};

DerivedRecords::DerivedRecords(Connection& connection, std::string_view name)
    : connection_(connection.impl()),
      table_(TableName(name)),
      statement_(std::make_unique<Statement>()) {
    std::lock_guard lock(connection_.mutex);
    connection_.requireOpen();
    sqlite3* db = connection_.db.get();
    const std::vector<std::string> guards = Names(db, "trigger", table_ + "_");
    for (const char* statement : kGuardedStatements) {
        if (std::find(guards.begin(), guards.end(), GuardName(table_, statement)) == guards.end()) {
            return;
        }
    }
    try {
        statement_->read =
            prepare(db, "SELECT data FROM " + quoteIdentifier(table_) + " WHERE key = ?");
    } catch (const YubinError&) {
        return;  // the guards without their table: nothing to read
    }
    present_ = true;
}

DerivedRecords::~DerivedRecords() {
    std::lock_guard lock(connection_.mutex);
    statement_.reset();
}

std::optional<std::string> DerivedRecords::read(long long key) {
    if (!present_) return std::nullopt;
    std::lock_guard lock(connection_.mutex);
    sqlite3_stmt* s = statement_->read.get();
    detail::StatementReset reset(s);
    sqlite3_bind_int64(s, 1, key);
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) {
        detail::throwSqlite(connection_.db.get(), rc, Message("派生データを読めません。"));
    }
    const auto* data = static_cast<const char*>(sqlite3_column_blob(s, 0));
    return std::string(data == nullptr ? "" : data,
                       static_cast<size_t>(sqlite3_column_bytes(s, 0)));
}

std::vector<std::pair<long long, std::string>> DerivedRecords::readAll() {
    std::vector<std::pair<long long, std::string>> records;
    if (!present_) return records;
    std::lock_guard lock(connection_.mutex);
    sqlite3* db = connection_.db.get();
    StatementPtr all =
        prepare(db, "SELECT key, data FROM " + quoteIdentifier(table_) + " ORDER BY key");
    int rc;
    while ((rc = sqlite3_step(all.get())) == SQLITE_ROW) {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(all.get(), 1));
        records.emplace_back(sqlite3_column_int64(all.get(), 0),
                             std::string(data == nullptr ? "" : data,
                                         static_cast<size_t>(sqlite3_column_bytes(all.get(), 1))));
    }
    if (rc != SQLITE_DONE) detail::throwSqlite(db, rc, Message("派生データを読めません。"));
    return records;
}

}  // namespace yubin::db
