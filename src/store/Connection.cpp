// Connection: opening and closing, the catalog in use, the statement cache, the batch of
// appended rows and the public interface.
#include <algorithm>
#include <cassert>

#include "store/DerivedRecords.h"
#include "store/EngineImpl.h"
#include "store/TextRules.h"

namespace yubin::db {

using detail::StatementPtr;
using detail::TableDef;

// ---- Connection::Impl ----------------------------------------------------------------------

void Connection::Impl::requireOpen() const {
    if (isOpen()) return;
    if (openFailure) throw *openFailure;  // the cause, not just "closed"
    throw YubinError(ErrorCode::ObjectClosed, Message("データベースへの接続が開いていません。"));
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
            detail::throwSqlite(db.get(), rc, Message("データベースの定義を読めません。"));
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
    assert(isOpen());
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
    // Only statements of this connection's database come back: a close detaches the row sets
    // (their statements are finalized, never released) before the database goes.
    assert(sqlite3_db_handle(statement.get()) == db.get());
    sqlite3_reset(statement.get());
    sqlite3_clear_bindings(statement.get());
    if (idleStatements.size() > 256) idleStatements.clear();
    auto& list = idleStatements[sql];
    if (list.size() < 4) list.push_back(std::move(statement));
}

void Connection::Impl::beginBatch() {
    assert(isOpen());
    if (inBatch) return;
    // Inside a transaction the caller opened, the rows are part of it.
    if (openTransactions > 0) return;
    const int rc = sqlite3_step(beginStatement.get());
    sqlite3_reset(beginStatement.get());
    if (rc != SQLITE_DONE) detail::throwSqlite(db.get(), rc, Message("行の追加を始められません。"));
    inBatch = true;
    restartBatchClock();
}

void Connection::Impl::restartBatchClock() {
    batchStarted = std::chrono::steady_clock::now();
    detail::noteBatchDue(batchDue());
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
        detail::throwSqlite(
            db.get(), rc,
            Message("追加した行をデータベースに書き込めず、最後の追加分が失われました。"));
    }
    restartBatchClock();  // still open: tried again
    detail::throwSqlite(db.get(), rc, Message("追加した行をデータベースに書き込めません。"));
}

void Connection::Impl::undoOverBatch() {
    batchTaken = false;
    sqlite3_exec(db.get(), detail::kUndoOverBatch, nullptr, nullptr, nullptr);
    inBatch = sqlite3_get_autocommit(db.get()) == 0;
}

void Connection::Impl::commitBatchIfDue() {
    if (inBatch && std::chrono::steady_clock::now() >= batchDue()) {
        commitBatch();
    }
}

// ---- Connection ----------------------------------------------------------------------------

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
            throw YubinError(ErrorCode::InvalidArgument,
                             Message("接続は既に開いています: {1}", m.path));
        }
    }
    const std::string& path = info.dataSource;
    try {
        detail::checkDatabaseFile(path);
        detail::LockFile lockFile(path, detail::LockFile::Mode::InUse);
        detail::DatabasePtr db = detail::openDatabase(path);
        detail::removeLeftoverLookupIndexes(db.get(), lockFile);
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
        m.batchTaken = false;
        m.openFailure.reset();
    } catch (const YubinError& error) {
        std::lock_guard lock(m.mutex);
        m.openFailure = error;
        throw;
    }
    detail::registerConnection(&m);
}

void Connection::close() {
    Impl& m = *impl_;
    detail::unregisterConnection(&m);
    std::unique_lock lock(m.mutex);
    if (!m.isOpen()) return;
    for (Recordset::Impl* r : std::vector<Recordset::Impl*>(m.recordsets)) r->detach();
    m.recordsets.clear();
    // A transaction over the batch is still open: its steps go, the rows are stored.
    if (m.batchTaken) m.undoOverBatch();
    std::optional<YubinError> failure;
    try {
        m.commitBatch();
    } catch (const YubinError& error) {
        failure = error;
    }
    if (m.importLocked) {
        // The end of an import, however it ended: the lookup indexes go with it.
        detail::keepJournalFile(m.db.get(), false);
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

bool Connection::inTransaction() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->isOpen() && impl_->openTransactions > 0;
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
                         Message("列 {1} には Jet OLEDB:Allow Zero Length の属性がありません。",
                                 detail::columnLabel(*current, c)));
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
                         Message("列 {1} には Jet OLEDB:Allow Zero Length の属性がありません。",
                                 detail::columnLabel(*t, c)));
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
            Message("テーブル {1} の属性 {2} は使えません。", t->name, std::to_string(attributes)));
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
    if (rc != SQLITE_ROW)
        detail::throwSqlite(m.db.get(), rc, Message("テーブルの属性を読めません。"));
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
    if (rc != SQLITE_DONE)
        detail::throwSqlite(m.db.get(), rc, Message("テーブルの一覧を読めません。"));
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
            case sql::ColumnType::Text:
                kind = ColumnKind::Text;
                break;
            case sql::ColumnType::Memo:
                kind = ColumnKind::Memo;
                break;
            case sql::ColumnType::Byte:
                kind = ColumnKind::Byte;
                break;
            case sql::ColumnType::Long:
                kind = ColumnKind::Long;
                break;
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

void Connection::lockImport(DerivedRecordsOnLock derived) {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    if (m.importLocked) return;
    if (!m.lock.tryLockImport()) {
        throw YubinError(ErrorCode::LockedByOtherUser,
                         Message("データベース {1} は他のユーザーが取込中です。", m.path));
    }
    m.importLocked = true;
    // What readers derived from the tables the import is about to change goes first.
    m.commitBatch();
    if (derived == DerivedRecordsOnLock::Remove) detail::dropDerivedRecords(m.db.get());
    detail::keepJournalFile(m.db.get(), true);
    m.invalidateCatalog();  // planned again, now with their lookup indexes
}

void Connection::unlockImport() {
    Impl& m = *impl_;
    std::lock_guard lock(m.mutex);
    if (!m.importLocked) return;
    // The lookup indexes belong to the import; the batch is stored first, and a failure of
    // that commit is the caller's to report.
    m.commitBatch();
    detail::keepJournalFile(m.db.get(), false);
    detail::dropLookupIndexes(m.db.get());
    m.invalidateCatalog();
    m.lock.unlockImport();
    m.importLocked = false;
}

}  // namespace yubin::db
