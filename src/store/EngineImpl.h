// The insides of Connection and Recordset, shared by their translation units.
#pragma once

#include <cassert>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/Catalog.h"
#include "store/Engine.h"
#include "store/JetSql.h"
#include "store/LockFile.h"
#include "store/SqliteHandle.h"

namespace yubin::db {

namespace detail {

// How long appended rows may wait in the open batch before they are committed (by the next
// append, flushDue or any other statement).
inline constexpr auto kFlushDelay = std::chrono::milliseconds(150);

// Waits for other programs' locks up to the lock wait, telling the wait reporter (see
// setLockWait), and calls the progress tick during long statements (see setProgressTick);
// installed on every SQLite connection of the layer.
void installWaitHandlers(sqlite3* db);
// Tells the wait reporter that a reported wait has ended.
void endReportedWait();
// A batch of some connection falls due at `due` (flushConnections skips its pass before the
// earliest such moment).
void noteBatchDue(std::chrono::steady_clock::time_point due);

// The open connections of the process, whose batches flushConnections and the exit paths
// store: registered by a successful open, unregistered by close.
void registerConnection(Connection::Impl* impl);
void unregisterConnection(Connection::Impl* impl);

// While an import holds the database its connection keeps the rollback journal file from one
// commit to the next, its header zeroed (PERSIST: no other program takes a zeroed journal for
// one to play back). An import commits some twenty times, and a journal made anew each time
// costs the file system an allocation, an unlink and a sync of the folder: about 4 % of a
// monthly refresh. Back in the usual mode the journal file is deleted, unless another
// connection holds the database then (it is removed by a later commit). Best effort: the mode
// changes speed only, never what a commit guarantees.
void keepJournalFile(sqlite3* db, bool keep);

// The lookup indexes of the layer, removed when no import holds the database.
std::vector<std::string> lookupIndexNames(sqlite3* db);
void dropLookupIndexes(sqlite3* db);
// Removes the lookup indexes a process that died importing left behind, when no import holds
// the database now (asked through `lock`); a file we may not write keeps them.
void removeLeftoverLookupIndexes(sqlite3* db, LockFile& lock);

// The savepoint of a NativeTransaction begun over the batch of appended rows, and its undoing,
// which leaves the rows in the batch.
inline constexpr const char* kTakeOverBatch = "SAVEPOINT yubinbox_batch";
inline constexpr const char* kUndoOverBatch = "ROLLBACK TO yubinbox_batch; RELEASE yubinbox_batch";

// " WHERE "a" = ?n AND ..." for the condition (empty without one); the literals are checked
// against the column types and appended to `values` in parameter order.
std::string translateCondition(const TableDef& table, const sql::Condition& condition,
                               std::vector<BoundValue>& values, std::vector<std::string>& scratch);
// One literal of a condition as it is compared with the column: text for a text column, a
// whole number for a number column (TypeMismatch otherwise). The value must outlive the result.
BoundValue conditionValue(const TableDef& table, int column, const Value& literal);

// The index that serves lookups on a column that no key or index covers
// (Connection::Impl::provideLookupIndex).
std::string lookupIndexName(std::string_view table, std::string_view column);

// A row-set source prepared once per shape of its text (sql::literalShape): the table, the
// fields and the SQLite text, with one parameter per comparison of the condition.
struct RowSourcePlan {
    std::shared_ptr<const TableDef> table;
    bool aggregate = false;
    std::vector<int> columns;        // the table column of each field (plain selects)
    std::vector<std::string> names;  // the field names
    std::string sql;
    // Each parameter's value: the given text literal of the source, or a number literal that
    // belongs to the shape.
    struct Parameter {
        int column = 0;
        int textLiteral = -1;
        Value number;
    };
    std::vector<Parameter> parameters;
    // The columns the rows are looked up by (compared for equality), and whether their
    // lookup indexes were asked for (Connection::Impl::provideLookupIndexes).
    std::vector<int> lookupColumns;
    mutable bool lookupIndexesProvided = false;
};
// INSERT INTO "t" ("a", ...) VALUES (?, ...) for the given table columns.
std::string insertSql(const TableDef& table, const std::vector<int>& columns);
void bindAll(sqlite3_stmt* statement, const std::vector<BoundValue>& values, int firstIndex = 1);

}  // namespace detail

struct Connection::Impl {
    // Guards everything below (the exit paths flush every connection of the process).
    std::mutex mutex;
    detail::DatabasePtr db;
    std::string path;
    detail::LockFile lock;
    bool importLocked = false;

    std::shared_ptr<const detail::Catalog> catalog;
    long long schemaVersion = -1;
    detail::StatementPtr schemaVersionStatement;

    // Prepared statements not in use, by their SQLite text.
    std::unordered_map<std::string, std::vector<detail::StatementPtr>> idleStatements;

    // Row-set sources by the shape of their text, for the catalog in use (emptied with it).
    std::unordered_map<std::string, std::shared_ptr<const detail::RowSourcePlan>> rowSourcePlans;
    std::string shapeScratch;
    std::vector<std::string> literalScratch;
    std::vector<Value> parameterScratch;

    // The batch of appended rows: one open transaction, committed on the caller's thread by
    // the first append or flushDue that finds it older than kFlushDelay, or before any
    // statement that is not an append or a read. A failed commit is raised there.
    bool inBatch = false;
    // NativeTransactions open on the connection: appended rows join the outermost instead of
    // beginning a batch.
    int openTransactions = 0;
    // The outermost one took the batch over: the rows lie under its savepoint
    // (detail::kTakeOverBatch), and a close that finds it open stores them without its steps.
    bool batchTaken = false;
    // Undoes the steps of the transaction that took the batch over; its rows wait in the batch
    // again (unless an error of SQLite's own has undone the whole transaction).
    void undoOverBatch();
    std::chrono::steady_clock::time_point batchStarted;
    detail::StatementPtr beginStatement;
    detail::StatementPtr commitStatement;

    // Why the last open failed: raised by every use until the connection opens.
    std::optional<YubinError> openFailure;

    std::vector<Recordset::Impl*> recordsets;

    bool isOpen() const { return db != nullptr; }
    void requireOpen() const;
    const detail::Catalog& currentCatalog();
    std::shared_ptr<const detail::Catalog> currentCatalogShared();
    void invalidateCatalog() {
        catalog.reset();
        rowSourcePlans.clear();
    }

    // The plan of a row-set source, and the values of its parameters in `parameters`.
    // `lookups`: the rows are looked up to be changed (provideLookupIndexes).
    std::shared_ptr<const detail::RowSourcePlan> rowSourcePlan(std::string_view source,
                                                               std::vector<Value>& parameters,
                                                               bool lookups);
    // While this connection holds the database for an import, a row set that looks rows up by
    // a column that no key or index covers gives the column a lookup index: a plain index under
    // a reserved name, listed nowhere, refusing nothing. The imports look the masters up while
    // the masters' keys are dropped; without it every lookup reads the whole table. Lookups
    // work without it (when it cannot be made), only slower.
    void provideLookupIndex(const detail::Catalog& current, const detail::TableDef& table,
                            int column);
    // The lookup indexes of a plan's lookup columns, asked for once per plan. Only row sets that
    // may change their rows ask: the imports look the masters up that way, again and again; a
    // read-only row set reads once, and an index made for it costs more than the read it spares.
    void provideLookupIndexes(const detail::Catalog& current, const detail::RowSourcePlan& plan);
    // Inside a schema transaction: the lookup index goes when a key or index takes its place.
    void retireLookupIndex(const std::string& table, const std::string& column);

    long long runWrite(const std::string& sql, const std::vector<detail::BoundValue>& values,
                       const detail::TableDef& table);
    detail::StatementPtr acquire(const std::string& sql);
    void release(const std::string& sql, detail::StatementPtr statement);

    void beginBatch();
    void commitBatch();
    // Commits the batch when it is older than kFlushDelay.
    void commitBatchIfDue();
    // The batch's age counted from now; the moment it falls due told to flushConnections.
    void restartBatchClock();
    std::chrono::steady_clock::time_point batchDue() const {
        return batchStarted + detail::kFlushDelay;
    }

    // The statement handlers of execute().
    long long run(const sql::CreateTable& s);
    long long run(const sql::CreateIndex& s);
    long long run(const sql::DropIndex& s);
    long long run(const sql::AddPrimaryKey& s);
    long long run(const sql::DropConstraint& s);
    long long run(const sql::Insert& s);
    long long run(const sql::Update& s);
    long long run(const sql::Delete& s);
    long long run(const sql::Select& s);

    bool nameInUse(std::string_view name);
    void dropKey(const detail::KeyDef& key);
    void rebuildTable(const detail::TableDef& current, const detail::TableDef& changed);
};

struct Recordset::Impl {
    enum class Position { Cursor, Row, New };

    Connection::Impl* conn = nullptr;  // null when closed
    bool updatable = false;
    bool hasRowid = false;
    std::shared_ptr<const detail::RowSourcePlan> plan;
    std::shared_ptr<const detail::TableDef> table;
    std::vector<Field> fields;

    detail::StatementPtr select;

    const std::string& selectSql() const { return plan->sql; }
    // The table column of a field; only row sets of plain selects (the updatable ones) have
    // table columns.
    int fieldColumn(size_t field) const {
        assert(!plan->aggregate && field < plan->columns.size());
        return plan->columns[field];
    }

    // Where the row set stands: on the read cursor's row (fetched lazily), on a row known by
    // its rowid (appended or updated; its values loaded lazily), or on a new row being built.
    Position position = Position::Cursor;
    bool fetched = false;
    bool cursorOnRow = false;
    bool rowFromCursor = false;
    bool loaded = false;
    long long rowid = 0;

    // The prepared INSERT of the last name list given to addNew (and that list when it came as
    // a ColumnList, which never changes).
    std::vector<std::string> appendNames;
    Recordset::ColumnList appendList;
    std::vector<int> appendColumns;
    std::string appendSql;
    detail::StatementPtr appendStatement;
    // The value of each parameter of the append statement, whose text SQLite reads until it
    // is bound again: a copy of the one given for the last row (or the kept value, set by the
    // caller), so the caller may change its own values. Never resized while bindings point
    // into it.
    AppendValues appendValues;
    struct AppendParameter {
        bool bound = false;
        std::string text;  // a number's text, for a text column
    };
    std::vector<AppendParameter> appendParameters;
    // The list the values are kept for (Recordset::keepAppendValues), while it is the
    // prepared one.
    Recordset::ColumnList keptList;
    // Whether a row appended without the table's primary key column is refused before it
    // reaches the table (the key's Null check), for the prepared list.
    bool appendLacksKey = false;

    // Resolves `names` into the prepared INSERT unless it is the one prepared (`list`: by
    // identity, when given). Caller holds the connection's lock.
    void prepareAppendLocked(std::span<const std::string> names, const Recordset::ColumnList& list);
    // Raises the key's Null error when the prepared list lacks the primary key column.
    void refuseRowWithoutKey() const;
    // Checks and binds the value of one parameter.
    void bindAppendParameter(size_t parameter);
    // Steps the bound INSERT in the batch and makes its row the current one; `commitDue`: the
    // batch is first stored when it has fallen due.
    void stepAppendLocked(bool commitDue);

    void requireOpen() const;
    void requireUpdatable() const;
    void ensureCurrent();
    bool hasChanges() const;
    void fetchLocked();
    void loadRowLocked();
    // Returns the statements to the connection's cache (or drops them when it closes).
    void releaseStatements(bool finalize);
    void detach();
};

struct AppendValuesAccess {
    static std::vector<Value>& values(AppendValues& values) { return values.values_; }
    static std::vector<std::uint64_t>& changed(AppendValues& values) { return values.changed_; }
    static void markChanged(AppendValues& values, size_t position) { values.markChanged(position); }
};

struct FieldAccess {
    static void set(Field& field, const Value& value) { field.value_ = value; }
    static void setName(Field& field, std::string name, Recordset* owner) {
        field.name_ = std::move(name);
        field.owner_ = owner;
    }
    static Value& value(Field& field) { return field.value_; }
    static bool changed(const Field& field) { return field.changed_; }
    static void clearChanged(Field& field) { field.changed_ = false; }
};

}  // namespace yubin::db

namespace yubin::db::detail {

// The folder of a path ("." for a bare name).
std::string parentFolder(const std::string& path);
// fsync of a file, or of a folder (`folder`: its entries, best effort); FileSystemError when a
// file cannot be written to the disk.
void syncPath(const std::string& path, bool folder);
// Raises DatabaseNotFound, CannotOpenDatabase or NotOurDatabase unless the path names a
// readable SQLite file.
void checkDatabaseFile(const std::string& path);
// Opens an SQLite connection on a file that checkDatabaseFile accepted and that has our
// bookkeeping (NotOurDatabase otherwise); rolls back a journal a crash left behind.
DatabasePtr openDatabase(const std::string& path);

}  // namespace yubin::db::detail
