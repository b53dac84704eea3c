// Connection: statements, catalog operations and the batch of appended rows.
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "store/EngineImpl.h"
#include "store/TextRules.h"

namespace yubin::db {

using detail::BoundValue;
using detail::quoteIdentifier;
using detail::StatementPtr;
using detail::TableDef;

namespace {

// Every open connection of the process, so that the exit paths can store pending rows. Never
// destroyed: it must outlive every static connection holder.
struct Registry {
    std::mutex mutex;
    std::vector<Connection::Impl*> open;
};

Registry& registry() {
    static auto* instance = new Registry;
    static std::once_flag exitHook;
    std::call_once(exitHook, [] {
        std::atexit(flushAllConnections);
        std::at_quick_exit(flushAllConnections);
    });
    return *instance;
}

void registerConnection(Connection::Impl* impl) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.open.push_back(impl);
}

void unregisterConnection(Connection::Impl* impl) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.open.erase(std::remove(r.open.begin(), r.open.end(), impl), r.open.end());
}

// The wait for other programs and whom to tell of it.
struct WaitSettings {
    std::mutex mutex;
    std::chrono::milliseconds wait{30000};
    WaitReporter reporter;
    bool reported = false;  // a wait was reported and its end not yet
};

WaitSettings& waitSettings() {
    static auto* instance = new WaitSettings;
    return *instance;
}

// SQLite's busy handler: waits in growing steps up to the lock wait, reporting its start.
int waitForOtherProgram(void*, int attempt) {
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point started;
    const Clock::time_point now = Clock::now();
    if (attempt == 0) started = now;
    WaitSettings& w = waitSettings();
    WaitReporter reporter;
    std::chrono::milliseconds limit;
    {
        std::lock_guard lock(w.mutex);
        limit = w.wait;
        if (now - started >= limit) return 0;
        if (!w.reported && w.reporter) {
            w.reported = true;
            reporter = w.reporter;
        }
    }
    // Told on this thread; it must not use the database.
    if (reporter) reporter(true);
    static constexpr int kSteps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int kLast = static_cast<int>(std::size(kSteps)) - 1;
    const auto step = std::chrono::milliseconds(kSteps[std::min(attempt, kLast)]);
    std::this_thread::sleep_for(
        std::min<Clock::duration>(step, limit - (now - started) + std::chrono::milliseconds(1)));
    return 1;
}

}  // namespace

void setLockWait(std::chrono::milliseconds wait) {
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    w.wait = std::max(wait, std::chrono::milliseconds(0));
}

std::chrono::milliseconds lockWait() {
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    return w.wait;
}

WaitReporter setWaitReporter(WaitReporter reporter) {
    // A wait that failed was told to the reporter that goes now: it hears that it is over.
    detail::endReportedWait();
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    w.reported = false;
    std::swap(w.reporter, reporter);
    return reporter;
}

void flushConnections(bool onlyDue) {
    Registry& r = registry();
    std::optional<YubinError> failure;
    {
        std::lock_guard lock(r.mutex);
        for (Connection::Impl* impl : r.open) {
            std::lock_guard connectionLock(impl->mutex);
            try {
                if (!impl->isOpen()) continue;
                if (onlyDue) {
                    impl->commitBatchIfDue();
                } else {
                    impl->commitBatch();
                }
            } catch (const YubinError& error) {
                if (!failure) failure = error;
            }
        }
    }
    detail::endReportedWait();
    if (failure) throw *failure;
}

void flushAllConnections() {
    try {
        flushConnections(false);
    } catch (const YubinError&) {
        // The exit paths have nobody to tell; the rows already committed stay.
    }
}

namespace detail {

void installBusyHandler(sqlite3* db) { sqlite3_busy_handler(db, waitForOtherProgram, nullptr); }

void endReportedWait() {
    WaitSettings& w = waitSettings();
    WaitReporter reporter;
    {
        std::lock_guard lock(w.mutex);
        if (!w.reported) return;
        w.reported = false;
        reporter = w.reporter;
    }
    if (reporter) reporter(false);
}

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
    if (rc != SQLITE_DONE) throwSqlite(db, rc, "データベースの索引を読めません。");
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

std::string insertSql(const TableDef& table, const std::vector<int>& columns) {
    std::string sql = "INSERT INTO " + quoteIdentifier(table.name);
    if (columns.empty()) return sql + " DEFAULT VALUES";
    sql += " (";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += quoteIdentifier(table.columns[static_cast<size_t>(columns[i])].name);
    }
    sql += ") VALUES (";
    for (size_t i = 0; i < columns.size(); ++i) sql += i > 0 ? ", ?" : "?";
    return sql + ")";
}

BoundValue conditionValue(const TableDef& table, int column, const Value& literal) {
    const ColumnDef& def = table.columns[static_cast<size_t>(column)];
    BoundValue v;
    if (def.isText()) {
        if (!literal.isText()) {
            throw YubinError(ErrorCode::TypeMismatch,
                             "列 " + columnLabel(table, column) + " は文字列の列です。数値 " +
                                 literal.toText() + " とは比べられません。");
        }
        v.kind = BoundValue::Text;
        v.text = literal.text();
        return v;
    }
    v.kind = BoundValue::Number;
    if (literal.isNumber()) {
        v.number = literal.number();
    } else if (parseWholeNumber(literal.text(), v.number) != WholeNumber::Ok) {
        throw YubinError(ErrorCode::TypeMismatch, "列 " + columnLabel(table, column) +
                                                      " は数値の列です。値「" + literal.text() +
                                                      "」とは比べられません。");
    }
    return v;
}

std::string translateCondition(const TableDef& table, const sql::Condition& condition,
                               std::vector<BoundValue>& values, std::vector<std::string>& scratch) {
    if (condition.empty()) return {};
    std::string out = " WHERE ";
    scratch.reserve(scratch.size() + condition.size());
    for (size_t i = 0; i < condition.size(); ++i) {
        const sql::Comparison& c = condition[i];
        const int column = table.requireColumn(c.column);
        values.push_back(conditionValue(table, column, c.literal));
        if (i > 0) out += " AND ";
        out += quoteIdentifier(table.columns[static_cast<size_t>(column)].name);
        out += c.notEqual ? " <> ?" : " = ?";
    }
    return out;
}

std::string lookupIndexName(std::string_view table, std::string_view column) {
    // The dot cannot occur in our names, so no two columns share a name.
    return std::string(kReservedPrefix) + "lookup_" + foldName(table) + "." + foldName(column);
}

void bindAll(sqlite3_stmt* statement, const std::vector<BoundValue>& values, int firstIndex) {
    for (size_t i = 0; i < values.size(); ++i) {
        bind(statement, firstIndex + static_cast<int>(i), values[i]);
    }
}

Transaction::Transaction(sqlite3* db) : db_(db) { run(db_, "BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    run(db_, "COMMIT");
    done_ = true;
}

}  // namespace detail

// ---- Connection::Impl ----------------------------------------------------------------------

void Connection::Impl::requireOpen() const {
    if (isOpen()) return;
    if (openFailure) throw *openFailure;  // the cause, not just "closed"
    throw YubinError(ErrorCode::ObjectClosed, "データベースへの接続が開いていません。");
}

std::shared_ptr<const detail::Catalog> Connection::Impl::currentCatalogShared() {
    // While the batch is open this connection holds the write lock: nobody else can have
    // changed the schema, and asking would cost a read of the file per lookup.
    if (inBatch && catalog) return catalog;
    sqlite3_stmt* s = schemaVersionStatement.get();
    long long version = -1;
    {
        detail::StatementReset reset(s);
        const int rc = sqlite3_step(s);
        if (rc != SQLITE_ROW) {
            detail::throwSqlite(db.get(), rc, "データベースの定義を読めません。");
        }
        version = sqlite3_column_int64(s, 0);
    }
    if (!catalog || version != schemaVersion) {
        catalog = detail::loadCatalog(db.get());
        schemaVersion = version;
        idleStatements.clear();
        rowSourcePlans.clear();
    }
    return catalog;
}

const detail::Catalog& Connection::Impl::currentCatalog() { return *currentCatalogShared(); }

StatementPtr Connection::Impl::acquire(const std::string& sql) {
    auto it = idleStatements.find(sql);
    if (it != idleStatements.end() && !it->second.empty()) {
        StatementPtr s = std::move(it->second.back());
        it->second.pop_back();
        return s;
    }
    return detail::prepare(db.get(), sql, true);
}

void Connection::Impl::release(const std::string& sql, StatementPtr statement) {
    if (!statement || !isOpen()) return;
    sqlite3_reset(statement.get());
    sqlite3_clear_bindings(statement.get());
    if (idleStatements.size() > 256) idleStatements.clear();
    auto& list = idleStatements[sql];
    if (list.size() < 4) list.push_back(std::move(statement));
}

void Connection::Impl::beginBatch() {
    if (inBatch) return;
    const int rc = sqlite3_step(beginStatement.get());
    sqlite3_reset(beginStatement.get());
    if (rc != SQLITE_DONE) detail::throwSqlite(db.get(), rc, "行の追加を始められません。");
    inBatch = true;
    batchStarted = std::chrono::steady_clock::now();
}

void Connection::Impl::commitBatch() {
    if (!inBatch) return;
    const int rc = sqlite3_step(commitStatement.get());
    sqlite3_reset(commitStatement.get());
    if (rc == SQLITE_DONE) {
        inBatch = false;
        return;
    }
    if (sqlite3_get_autocommit(db.get()) != 0) {
        inBatch = false;  // SQLite has rolled the batch back
        detail::throwSqlite(db.get(), rc,
                            "追加した行をデータベースに書き込めず、最後の追加分が失われました。");
    }
    batchStarted = std::chrono::steady_clock::now();  // still open: tried again
    detail::throwSqlite(db.get(), rc, "追加した行をデータベースに書き込めません。");
}

void Connection::Impl::commitBatchIfDue() {
    if (inBatch && std::chrono::steady_clock::now() - batchStarted >= detail::kFlushDelay) {
        commitBatch();
    }
}

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
    // Not unique: it is no key and refuses nothing. Inside the batch it is stored with the
    // batch's rows.
    const std::string sql = "CREATE INDEX " + quoteIdentifier(index) + " ON " +
                            quoteIdentifier(table.name) + " (" + quoteIdentifier(name) + ")";
    const int rc = sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    if (inBatch && sqlite3_get_autocommit(db.get()) != 0) {
        inBatch = false;  // SQLite has rolled the batch back
        detail::throwSqlite(db.get(), sqlite3_extended_errcode(db.get()),
                            "追加した行をデータベースに書き込めず、最後の追加分が失われました。");
    }
    // Without the index the lookups read the whole table, as they would without it.
}

bool Connection::Impl::nameInUse(std::string_view name) {
    if (currentCatalog().findKey(name) != nullptr) return true;
    StatementPtr s =
        detail::prepare(db.get(), "SELECT 1 FROM sqlite_schema WHERE name = ? COLLATE NOCASE");
    sqlite3_bind_text(s.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    return sqlite3_step(s.get()) == SQLITE_ROW;
}

long long Connection::Impl::run(const sql::CreateTable& s) {
    commitBatch();
    detail::checkUserName(s.table, "テーブル名");
    if (currentCatalog().find(s.table) || nameInUse(s.table)) {
        throw YubinError(ErrorCode::TableExists, "テーブル " + s.table + " は既にあります。");
    }
    TableDef def;
    def.name = s.table;
    for (const sql::ColumnSpec& declared : s.columns) {
        detail::checkUserName(declared.name, "列名");
        if (def.findColumn(declared.name) >= 0) {
            throw YubinError(ErrorCode::DuplicateFieldName,
                             "列 " + s.table + "." + declared.name + " が二度定義されています。");
        }
        detail::ColumnDef c;
        c.name = declared.name;
        c.type = declared.type;
        c.size = declared.type == sql::ColumnType::Text ? declared.size : 0;
        def.columns.push_back(std::move(c));
    }
    detail::Transaction tx(db.get());
    detail::run(db.get(), detail::tableDefinition(def, def.name).c_str());
    StatementPtr table =
        detail::prepare(db.get(), "INSERT INTO \"__yubinbox_tables\" (name) VALUES (?)");
    sqlite3_bind_text(table.get(), 1, def.name.c_str(), -1, SQLITE_STATIC);
    detail::runPrepared(db.get(), table.get(), "テーブルの定義を記録できません。");
    StatementPtr column = detail::prepare(
        db.get(),
        "INSERT INTO \"__yubinbox_columns\" (table_name, ordinal, name, type, size, "
        "allow_zero_length) VALUES (?, ?, ?, ?, ?, 0)");
    static const char* const kTypeWords[] = {"Text", "Memo", "Byte", "Long"};
    for (size_t i = 0; i < def.columns.size(); ++i) {
        const detail::ColumnDef& c = def.columns[i];
        sqlite3_bind_text(column.get(), 1, def.name.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int(column.get(), 2, static_cast<int>(i));
        sqlite3_bind_text(column.get(), 3, c.name.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(column.get(), 4, kTypeWords[static_cast<int>(c.type)], -1, SQLITE_STATIC);
        if (c.type == sql::ColumnType::Text) {
            sqlite3_bind_int(column.get(), 5, c.size);
        } else {
            sqlite3_bind_null(column.get(), 5);
        }
        detail::runPrepared(db.get(), column.get(), "列の定義を記録できません。");
    }
    tx.commit();
    invalidateCatalog();
    return 0;
}

namespace {

void recordKey(sqlite3* db, const detail::KeyDef& key) {
    StatementPtr s = detail::prepare(db,
                                     "INSERT INTO \"__yubinbox_keys\" (name, table_name, "
                                     "column_name, kind) VALUES (?, ?, ?, ?)");
    sqlite3_bind_text(s.get(), 1, key.name.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(s.get(), 2, key.table.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(s.get(), 3, key.column.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(s.get(), 4, key.primaryKey ? "primary key" : "index", -1, SQLITE_STATIC);
    detail::runPrepared(db, s.get(), "キーの定義を記録できません。");
}

}  // namespace

long long Connection::Impl::run(const sql::CreateIndex& s) {
    commitBatch();
    const auto table = currentCatalog().require(s.table);
    const int column = table->requireColumn(s.column);
    detail::checkUserName(s.name, "インデックス名");
    if (nameInUse(s.name)) {
        throw YubinError(ErrorCode::IndexExists,
                         "インデックス名 " + s.name + " は既に使われています。");
    }
    detail::KeyDef key{s.name, table->name, table->columns[static_cast<size_t>(column)].name,
                       false};
    detail::Transaction tx(db.get());
    for (const std::string& statement : detail::keyDefinition(key)) {
        detail::run(db.get(), statement.c_str());
    }
    recordKey(db.get(), key);
    retireLookupIndex(key.table, key.column);
    tx.commit();
    invalidateCatalog();
    return 0;
}

void Connection::Impl::dropKey(const detail::KeyDef& key) {
    detail::Transaction tx(db.get());
    detail::run(db.get(), ("DROP INDEX " + quoteIdentifier(key.name)).c_str());
    if (key.primaryKey) {
        for (bool onUpdate : {false, true}) {
            detail::run(db.get(),
                        ("DROP TRIGGER IF EXISTS " +
                         quoteIdentifier(detail::nullGuardTriggerName(key.name, onUpdate)))
                            .c_str());
        }
    }
    StatementPtr s = detail::prepare(db.get(), "DELETE FROM \"__yubinbox_keys\" WHERE name = ?");
    sqlite3_bind_text(s.get(), 1, key.name.c_str(), -1, SQLITE_STATIC);
    detail::runPrepared(db.get(), s.get(), "キーの定義を消せません。");
    tx.commit();
    invalidateCatalog();
}

long long Connection::Impl::run(const sql::DropIndex& s) {
    commitBatch();
    const auto table = currentCatalog().require(s.table);
    const detail::KeyDef* key = currentCatalog().findKey(s.name);
    if (key == nullptr || !detail::namesEqual(key->table, table->name)) {
        throw YubinError(
            ErrorCode::ConstraintNotFound,
            "テーブル " + table->name + " にインデックス " + s.name + " はありません。");
    }
    dropKey(detail::KeyDef(*key));
    return 0;
}

long long Connection::Impl::run(const sql::AddPrimaryKey& s) {
    commitBatch();
    const auto table = currentCatalog().require(s.table);
    const int column = table->requireColumn(s.column);
    detail::checkUserName(s.name, "制約名");
    if (table->primaryKeyColumn >= 0) {
        throw YubinError(ErrorCode::PrimaryKeyExists, "テーブル " + table->name +
                                                          " には既に主キー " +
                                                          table->primaryKeyName + " があります。");
    }
    if (nameInUse(s.name)) {
        throw YubinError(ErrorCode::IndexExists, "制約名 " + s.name + " は既に使われています。");
    }
    const std::string label = detail::columnLabel(*table, column);
    detail::KeyDef key{s.name, table->name, table->columns[static_cast<size_t>(column)].name, true};
    // Whether the column holds Null; through the key's index once it is there, which spares
    // a pass over the table.
    auto holdsNull = [&](bool throughKey) {
        StatementPtr nulls = detail::prepare(
            db.get(), "SELECT 1 FROM " + quoteIdentifier(key.table) +
                          (throughKey ? " INDEXED BY " + quoteIdentifier(key.name) : "") +
                          " WHERE " + quoteIdentifier(key.column) + " IS NULL LIMIT 1");
        const int rc = sqlite3_step(nulls.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            detail::throwSqlite(db.get(), rc, "主キーを作れません。");
        }
        return rc == SQLITE_ROW;
    };
    const auto nullError = [&] {
        return YubinError(
            ErrorCode::IndexNullValue,
            "列 " + label + " に Null の行があるため主キー " + s.name + " を作れません。");
    };
    detail::Transaction tx(db.get());
    try {
        for (const std::string& statement : detail::keyDefinition(key)) {
            detail::run(db.get(), statement.c_str());
        }
    } catch (const YubinError& error) {
        if (error.code() == ErrorCode::DuplicateKey) {
            // Null counts before duplicates, whichever the index met first.
            if (holdsNull(false)) throw nullError();
            throw YubinError(
                ErrorCode::DuplicateKey,
                "列 " + label + " に重複する値があるため主キー " + s.name + " を作れません。");
        }
        throw;
    }
    if (holdsNull(true)) throw nullError();
    recordKey(db.get(), key);
    retireLookupIndex(key.table, key.column);
    tx.commit();
    invalidateCatalog();
    return 0;
}

long long Connection::Impl::run(const sql::DropConstraint& s) {
    commitBatch();
    const auto table = currentCatalog().require(s.table);
    const detail::KeyDef* key = currentCatalog().findKey(s.name);
    if (key == nullptr || !key->primaryKey || !detail::namesEqual(key->table, table->name)) {
        throw YubinError(ErrorCode::ConstraintNotFound,
                         "テーブル " + table->name + " に制約 " + s.name + " はありません。");
    }
    dropKey(detail::KeyDef(*key));
    return 0;
}

// One INSERT, UPDATE or DELETE: bound, stepped once, its statement returned to the cache;
// a refusal is reported in the words of the table's column rules.
long long Connection::Impl::runWrite(const std::string& sql, const std::vector<BoundValue>& values,
                                     const detail::TableDef& table) {
    StatementPtr statement = acquire(sql);
    detail::bindAll(statement.get(), values);
    const int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_DONE) {
        YubinError error = detail::writeError(db.get(), rc, table);
        release(sql, std::move(statement));
        throw error;
    }
    release(sql, std::move(statement));
    return sqlite3_changes64(db.get());
}

long long Connection::Impl::run(const sql::Insert& s) {
    commitBatch();
    const auto table = currentCatalog().require(s.table);
    std::vector<int> columns;
    if (s.columns.empty()) {
        for (size_t i = 0; i < table->columns.size(); ++i) columns.push_back(static_cast<int>(i));
    } else {
        for (const std::string& name : s.columns) {
            const int c = table->requireColumn(name);
            if (std::find(columns.begin(), columns.end(), c) != columns.end()) {
                throw YubinError(
                    ErrorCode::DuplicateFieldName,
                    "INSERT INTO " + table->name + " で列 " + name + " が二度指定されています。");
            }
            columns.push_back(c);
        }
    }
    if (s.values.size() != columns.size()) {
        throw YubinError(ErrorCode::ValueCountMismatch,
                         "INSERT INTO " + table->name + " の値の数（" +
                             std::to_string(s.values.size()) + "）が列の数（" +
                             std::to_string(columns.size()) + "）と合いません。");
    }
    if (table->primaryKeyColumn >= 0 &&
        std::find(columns.begin(), columns.end(), table->primaryKeyColumn) == columns.end()) {
        std::string unused;
        detail::bindable(*table, table->primaryKeyColumn, Value(), unused);  // raises
    }
    std::vector<std::string> scratch(columns.size());
    std::vector<BoundValue> values;
    for (size_t i = 0; i < columns.size(); ++i) {
        values.push_back(detail::bindable(*table, columns[i], s.values[i], scratch[i]));
    }
    const std::string sql = detail::insertSql(*table, columns);
    return runWrite(sql, values, *table);
}

long long Connection::Impl::run(const sql::Update& s) {
    commitBatch();
    const auto table = currentCatalog().require(s.table);
    std::vector<int> columns;
    std::vector<std::string> scratch(s.assignments.size());
    std::vector<BoundValue> values;
    std::string sql = "UPDATE " + quoteIdentifier(table->name) + " SET ";
    for (size_t i = 0; i < s.assignments.size(); ++i) {
        const int c = table->requireColumn(s.assignments[i].column);
        if (std::find(columns.begin(), columns.end(), c) != columns.end()) {
            throw YubinError(ErrorCode::DuplicateFieldName, "UPDATE " + table->name + " で列 " +
                                                                s.assignments[i].column +
                                                                " が二度指定されています。");
        }
        columns.push_back(c);
        values.push_back(detail::bindable(*table, c, s.assignments[i].value, scratch[i]));
        if (i > 0) sql += ", ";
        sql += quoteIdentifier(table->columns[static_cast<size_t>(c)].name) + " = ?";
    }
    std::vector<std::string> whereScratch;
    sql += detail::translateCondition(*table, s.where, values, whereScratch);
    return runWrite(sql, values, *table);
}

long long Connection::Impl::run(const sql::Delete& s) {
    commitBatch();
    const auto table = currentCatalog().require(s.table);
    std::vector<BoundValue> values;
    std::vector<std::string> scratch;
    const std::string sql = "DELETE FROM " + quoteIdentifier(table->name) +
                            detail::translateCondition(*table, s.where, values, scratch);
    return runWrite(sql, values, *table);
}

long long Connection::Impl::run(const sql::Select&) {
    throw YubinError(
        ErrorCode::InvalidArgument,
        "SELECT 文は execute では実行できません。行セット（Recordset）で開いてください。");
}

void Connection::Impl::rebuildTable(const TableDef& current, const TableDef& changed) {
    const std::string rebuilt = std::string(detail::kReservedPrefix) + "rebuild";
    std::string columns;
    for (const detail::ColumnDef& c : current.columns) columns += ", " + quoteIdentifier(c.name);

    const std::vector<detail::KeyDef> keys = currentCatalog().keys;
    // The copied rows may come from any writer: they must pass the new table's checks.
    detail::run(db.get(), "PRAGMA ignore_check_constraints = OFF");
    struct ChecksBackOff {
        sqlite3* db;
        ~ChecksBackOff() {
            sqlite3_exec(db, "PRAGMA ignore_check_constraints = ON", nullptr, nullptr, nullptr);
        }
    } restore{db.get()};
    detail::Transaction tx(db.get());
    {
        StatementPtr clear =
            detail::prepare(db.get(),
                            "UPDATE \"__yubinbox_columns\" SET allow_zero_length = ? "
                            "WHERE table_name = ? AND ordinal = ?");
        for (size_t i = 0; i < changed.columns.size(); ++i) {
            sqlite3_bind_int(clear.get(), 1, changed.columns[i].allowZeroLength ? 1 : 0);
            sqlite3_bind_text(clear.get(), 2, current.name.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_int(clear.get(), 3, static_cast<int>(i));
            detail::runPrepared(db.get(), clear.get(), "列の定義を記録できません。");
        }
    }
    detail::run(db.get(), ("DROP TABLE IF EXISTS " + quoteIdentifier(rebuilt)).c_str());
    detail::run(db.get(), detail::tableDefinition(changed, rebuilt).c_str());
    {
        // Rows keep their rowids, and so their order.
        StatementPtr copy = detail::prepare(
            db.get(), "INSERT INTO " + quoteIdentifier(rebuilt) + " (rowid" + columns +
                          ") SELECT rowid" + columns + " FROM " + quoteIdentifier(current.name));
        const int rc = sqlite3_step(copy.get());
        if (rc != SQLITE_DONE) throw detail::writeError(db.get(), rc, changed);
    }
    detail::run(db.get(), ("DROP TABLE " + quoteIdentifier(current.name)).c_str());
    detail::run(db.get(), ("ALTER TABLE " + quoteIdentifier(rebuilt) + " RENAME TO " +
                           quoteIdentifier(current.name))
                              .c_str());
    for (const detail::KeyDef& key : keys) {
        if (!detail::namesEqual(key.table, current.name)) continue;
        for (const std::string& statement : detail::keyDefinition(key)) {
            detail::run(db.get(), statement.c_str());
        }
    }
    tx.commit();
    invalidateCatalog();
}

// ---- Connection ----------------------------------------------------------------------------

namespace {

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

}  // namespace

Connection::Connection() : impl_(std::make_unique<Impl>()) {}

Connection::~Connection() {
    try {
        close();
    } catch (const YubinError&) {
        // A destructor cannot report; flush() and close() do.
    }
}

void Connection::open(std::string_view connectionString) {
    const ConnectionInfo info = parseConnectionString(connectionString);
    Impl& m = *impl_;
    {
        std::lock_guard lock(m.mutex);
        if (m.isOpen()) {
            throw YubinError(ErrorCode::InvalidArgument, "接続は既に開いています: " + m.path);
        }
    }
    const std::string& path = info.dataSource;
    try {
        detail::checkDatabaseFile(path);
        detail::LockFile lockFile(path, detail::LockFile::Mode::InUse);
        detail::DatabasePtr db = detail::openDatabase(path);
        removeLeftoverLookupIndexes(db.get(), lockFile);
        StatementPtr begin = detail::prepare(db.get(), "BEGIN", true);
        StatementPtr commit = detail::prepare(db.get(), "COMMIT", true);
        StatementPtr version = detail::prepare(db.get(), "PRAGMA schema_version", true);
        std::lock_guard lock(m.mutex);
        m.db = std::move(db);
        m.path = path;
        m.lock = std::move(lockFile);
        m.beginStatement = std::move(begin);
        m.commitStatement = std::move(commit);
        m.schemaVersionStatement = std::move(version);
        m.catalog.reset();
        m.schemaVersion = -1;
        m.inBatch = false;
        m.openFailure.reset();
    } catch (const YubinError& error) {
        std::lock_guard lock(m.mutex);
        m.openFailure = error;
        throw;
    }
    registerConnection(&m);
}

void Connection::close() {
    Impl& m = *impl_;
    unregisterConnection(&m);
    std::unique_lock lock(m.mutex);
    if (!m.isOpen()) return;
    for (Recordset::Impl* r : std::vector<Recordset::Impl*>(m.recordsets)) r->detach();
    m.recordsets.clear();
    std::optional<YubinError> failure;
    try {
        m.commitBatch();
    } catch (const YubinError& error) {
        failure = error;
    }
    if (m.importLocked) {
        // The end of an import, however it ended: the lookup indexes go with it.
        try {
            if (!m.inBatch) detail::dropLookupIndexes(m.db.get());
        } catch (const YubinError&) {
            // Removed by the next connection that opens the file.
        }
    }
    m.idleStatements.clear();
    m.rowSourcePlans.clear();
    m.beginStatement.reset();
    m.commitStatement.reset();
    m.schemaVersionStatement.reset();
    m.db.reset();
    m.lock.release();
    m.importLocked = false;
    m.inBatch = false;
    m.catalog.reset();
    lock.unlock();
    detail::endReportedWait();
    if (failure) throw *failure;
}

bool Connection::isOpen() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->isOpen();
}

const std::string& Connection::path() const { return impl_->path; }

long long Connection::execute(std::string_view sqlText) {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    const sql::Statement statement = sql::parse(sqlText);
    return std::visit([&m](const auto& s) { return m.run(s); }, statement);
}

void Connection::flush() {
    Impl& m = *impl_;
    {
        std::lock_guard lock(m.mutex);
        if (!m.isOpen()) return;
        m.commitBatch();
    }
    detail::endReportedWait();
}

void Connection::flushDue() {
    Impl& m = *impl_;
    {
        std::lock_guard lock(m.mutex);
        if (!m.isOpen()) return;
        m.commitBatchIfDue();
    }
    detail::endReportedWait();
}

void Connection::setAllowZeroLength(std::string_view table, std::string_view column, bool allow) {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    m.commitBatch();
    const auto current = m.currentCatalog().require(table);
    const int c = current->requireColumn(column);
    if (!current->columns[static_cast<size_t>(c)].isText()) {
        throw YubinError(ErrorCode::ItemNotFound,
                         "列 " + detail::columnLabel(*current, c) +
                             " には Jet OLEDB:Allow Zero Length の属性がありません。");
    }
    if (current->columns[static_cast<size_t>(c)].allowZeroLength == allow) return;
    TableDef changed = *current;
    changed.columns[static_cast<size_t>(c)].allowZeroLength = allow;
    m.rebuildTable(*current, changed);
}

bool Connection::allowZeroLength(std::string_view table, std::string_view column) const {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    const auto t = m.currentCatalog().require(table);
    const int c = t->requireColumn(column);
    if (!t->columns[static_cast<size_t>(c)].isText()) {
        throw YubinError(ErrorCode::ItemNotFound,
                         "列 " + detail::columnLabel(*t, c) +
                             " には Jet OLEDB:Allow Zero Length の属性がありません。");
    }
    return t->columns[static_cast<size_t>(c)].allowZeroLength;
}

void Connection::setTableAttributes(std::string_view table, int attributes) {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    m.commitBatch();
    const auto t = m.currentCatalog().require(table);
    if (attributes < 0) {
        throw YubinError(
            ErrorCode::InvalidArgument,
            "テーブル " + t->name + " の属性 " + std::to_string(attributes) + " は使えません。");
    }
    StatementPtr s = detail::prepare(
        m.db.get(), "UPDATE \"__yubinbox_tables\" SET attributes = ? WHERE name = ?");
    sqlite3_bind_int(s.get(), 1, attributes);
    sqlite3_bind_text(s.get(), 2, t->name.c_str(), -1, SQLITE_STATIC);
    detail::runPrepared(m.db.get(), s.get(), "テーブル " + t->name + " の属性を変えられません。");
}

int Connection::tableAttributes(std::string_view table) const {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    const auto t = m.currentCatalog().require(table);
    StatementPtr s =
        detail::prepare(m.db.get(), "SELECT attributes FROM \"__yubinbox_tables\" WHERE name = ?");
    sqlite3_bind_text(s.get(), 1, t->name.c_str(), -1, SQLITE_STATIC);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW) detail::throwSqlite(m.db.get(), rc, "テーブルの属性を読めません。");
    return sqlite3_column_int(s.get(), 0);
}

std::vector<TableInfo> Connection::tables(bool includeHidden) const {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    StatementPtr s = detail::prepare(
        m.db.get(), "SELECT name, attributes FROM \"__yubinbox_tables\" ORDER BY rowid");
    std::vector<TableInfo> out;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        TableInfo info;
        info.name = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
        info.hidden = (sqlite3_column_int(s.get(), 1) & 1) != 0;
        if (includeHidden || !info.hidden) out.push_back(std::move(info));
    }
    if (rc != SQLITE_DONE) detail::throwSqlite(m.db.get(), rc, "テーブルの一覧を読めません。");
    return out;
}

std::vector<std::string> Connection::columnNames(std::string_view table) const {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    std::vector<std::string> out;
    for (const detail::ColumnDef& c : m.currentCatalog().require(table)->columns) {
        out.push_back(c.name);
    }
    return out;
}

std::vector<ColumnInfo> Connection::columns(std::string_view table) const {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    std::vector<ColumnInfo> out;
    for (const detail::ColumnDef& c : m.currentCatalog().require(table)->columns) {
        ColumnKind kind = ColumnKind::Text;
        switch (c.type) {
            case sql::ColumnType::Text: kind = ColumnKind::Text; break;
            case sql::ColumnType::Memo: kind = ColumnKind::Memo; break;
            case sql::ColumnType::Byte: kind = ColumnKind::Byte; break;
            case sql::ColumnType::Long: kind = ColumnKind::Long; break;
        }
        out.push_back(ColumnInfo{c.name, kind, c.size});
    }
    return out;
}

std::vector<KeyInfo> Connection::keys() const {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    std::vector<KeyInfo> out;
    for (const detail::KeyDef& k : m.currentCatalog().keys) {
        out.push_back(KeyInfo{k.name, k.table, k.column, k.primaryKey});
    }
    return out;
}

void Connection::lockImport() {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    if (m.importLocked) return;
    if (!m.lock.tryLockImport()) {
        throw YubinError(ErrorCode::LockedByOtherUser,
                         "データベース " + m.path + " は他のユーザーが取込中です。");
    }
    m.importLocked = true;
    m.rowSourcePlans.clear();  // planned again, now with their lookup indexes
}

void Connection::unlockImport() {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    if (!m.importLocked) return;
    // The lookup indexes belong to the import; the batch is stored first, and a failure of
    // that commit is the caller's to report.
    m.commitBatch();
    detail::dropLookupIndexes(m.db.get());
    m.invalidateCatalog();
    m.lock.unlockImport();
    m.importLocked = false;
}

}  // namespace yubin::db
