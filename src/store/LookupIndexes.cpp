// The lookup indexes: made while an import holds the database, gone with the import.
#include "store/EngineImpl.h"
#include "store/TextRules.h"

namespace yubin::db {

using detail::quoteIdentifier;
using detail::StatementPtr;
using detail::TableDef;

namespace detail {

std::vector<std::string> lookupIndexNames(sqlite3* db) {
    std::vector<std::string> names;
    StatementPtr list = prepare(db,
                                "SELECT name FROM sqlite_schema WHERE type = 'index' AND "
                                "substr(name, 1, ?) = ?");
    const std::string prefix = std::string(kReservedPrefix) + "lookup_";
    sqlite3_bind_int(list.get(), 1, static_cast<int>(prefix.size()));
    sqlite3_bind_text(list.get(), 2, prefix.c_str(), -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(list.get())) == SQLITE_ROW) {
        names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
    }
    if (rc != SQLITE_DONE) throwSqlite(db, rc, Message("データベースの索引を読めません。"));
    return names;
}

void dropLookupIndexes(sqlite3* db) {
    const std::vector<std::string> names = lookupIndexNames(db);
    if (names.empty()) return;
    Transaction tx(db);
    for (const std::string& name : names) {
        run(db, ("DROP INDEX IF EXISTS " + quoteIdentifier(name)).c_str());
    }
    tx.commit();
}

void keepJournalFile(sqlite3* db, bool keep) {
    // SQLite changes the mode outside a transaction only; refused, the mode stays as it is.
    (void)sqlite3_exec(db, keep ? "PRAGMA journal_mode = PERSIST" : "PRAGMA journal_mode = DELETE",
                       nullptr, nullptr, nullptr);
}

std::string lookupIndexName(std::string_view table, std::string_view column) {
    // The dot cannot occur in our names, so no two columns share a name.
    return std::string(kReservedPrefix) + "lookup_" + foldName(table) + "." + foldName(column);
}

// Lookup indexes are made only while an import holds the database: when none holds it now,
// any that are there were left by a process that died importing. A file we may not write
// keeps them (they refuse nothing and do no harm).
void removeLeftoverLookupIndexes(sqlite3* db, detail::LockFile& lock) {
    if (detail::lookupIndexNames(db).empty()) return;
    try {
        if (!lock.tryLockImport()) return;  // an import runs: they are its own
    } catch (const YubinError&) {
        return;  // no lock file to ask: leave them
    }
    try {
        detail::dropLookupIndexes(db);
    } catch (const YubinError&) {
    }
    lock.unlockImport();
}

}  // namespace detail

void Connection::Impl::retireLookupIndex(const std::string& table, const std::string& column) {
    // Made by this connection or by an import that was cut short.
    detail::run(db.get(),
                ("DROP INDEX IF EXISTS " + quoteIdentifier(detail::lookupIndexName(table, column)))
                    .c_str());
}

void Connection::Impl::provideLookupIndex(const detail::Catalog& current, const TableDef& table,
                                          int column) {
    if (!importLocked) return;
    const std::string& name = table.columns[static_cast<size_t>(column)].name;
    for (const detail::KeyDef& key : current.keys) {
        if (detail::namesEqual(key.table, table.name) && detail::namesEqual(key.column, name)) {
            return;
        }
    }
    const std::string index = detail::lookupIndexName(table.name, name);
    {
        StatementPtr exists = detail::prepare(
            db.get(), "SELECT 1 FROM sqlite_schema WHERE type = 'index' AND name = ?");
        sqlite3_bind_text(exists.get(), 1, index.c_str(), -1, SQLITE_STATIC);
        if (sqlite3_step(exists.get()) == SQLITE_ROW) return;
    }
    // Not unique: it is no key and refuses nothing. It is stored with the batch's rows, or with
    // the transaction open: outside both it begins the batch, so that it costs no commit of its
    // own (the import's next step commits, or takes over, the batch).
    const bool rowsWaiting = inBatch;
    if (sqlite3_get_autocommit(db.get()) != 0) {
        try {
            beginBatch();
        } catch (const YubinError&) {
            return;  // no index, as below
        }
    }
    const std::string sql = "CREATE INDEX " + quoteIdentifier(index) + " ON " +
                            quoteIdentifier(table.name) + " (" + quoteIdentifier(name) + ")";
    const int rc = sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    if (inBatch && sqlite3_get_autocommit(db.get()) != 0) {
        inBatch = false;           // SQLite has rolled the batch back
        if (!rowsWaiting) return;  // it held only the index: nothing was lost
        detail::throwSqlite(
            db.get(), sqlite3_extended_errcode(db.get()),
            Message("追加した行をデータベースに書き込めず、最後の追加分が失われました。"));
    }
    // Without the index the lookups read the whole table, as they would without it.
}

}  // namespace yubin::db
