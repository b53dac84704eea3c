#include "store/NativeSql.h"

#include <mutex>

#include "store/EngineImpl.h"

namespace yubin::db {

struct NativeStatement::Handle {
    detail::StatementPtr statement;
};

namespace {

[[noreturn]] void Fail(Connection::Impl& connection, int rc, const std::string& sql) {
    detail::throwSqlite(connection.db.get(), rc, Message("SQL 文（{1}）を実行できません。", sql));
}

}  // namespace

NativeStatement::NativeStatement(Connection& connection, std::string_view sql)
    : connection_(connection.impl()), handle_(std::make_unique<Handle>()), sql_(sql) {
    std::lock_guard lock(connection_.mutex);
    connection_.requireOpen();
    connection_.commitBatch();
    handle_->statement = detail::prepare(connection_.db.get(), sql);
}

NativeStatement::~NativeStatement() {
    std::lock_guard lock(connection_.mutex);
    handle_.reset();
}

NativeStatement& NativeStatement::bind(int index, std::string_view text) {
    const int rc = sqlite3_bind_text(handle_->statement.get(), index, text.data(),
                                     static_cast<int>(text.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) Fail(connection_, rc, sql_);
    return *this;
}

NativeStatement& NativeStatement::bind(int index, long long number) {
    const int rc = sqlite3_bind_int64(handle_->statement.get(), index, number);
    if (rc != SQLITE_OK) Fail(connection_, rc, sql_);
    return *this;
}

bool NativeStatement::step() {
    std::lock_guard lock(connection_.mutex);
    connection_.requireOpen();
    const int rc = sqlite3_step(handle_->statement.get());
    if (rc == SQLITE_ROW) return true;
    sqlite3_reset(handle_->statement.get());
    if (rc == SQLITE_DONE) return false;
    Fail(connection_, rc, sql_);
}

long long NativeStatement::run() {
    while (step()) {
    }
    std::lock_guard lock(connection_.mutex);
    return sqlite3_changes64(connection_.db.get());
}

int NativeStatement::columnCount() const { return sqlite3_column_count(handle_->statement.get()); }

std::string_view NativeStatement::text(int column) const {
    sqlite3_stmt* s = handle_->statement.get();
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    if (text == nullptr) return {};
    return {text, static_cast<size_t>(sqlite3_column_bytes(s, column))};
}

long long NativeStatement::number(int column) const {
    return sqlite3_column_int64(handle_->statement.get(), column);
}

bool NativeStatement::isNull(int column) const {
    return sqlite3_column_type(handle_->statement.get(), column) == SQLITE_NULL;
}

NativeTransaction::NativeTransaction(Connection& connection, Nesting nesting)
    : connection_(connection.impl()) {
    std::lock_guard lock(connection_.mutex);
    connection_.requireOpen();
    sqlite3* db = connection_.db.get();
    if (connection_.inBatch && sqlite3_get_autocommit(db) == 0) {
        // The batch's rows are committed with this transaction's steps, not before them.
        detail::run(db, detail::kTakeOverBatch);
        connection_.inBatch = false;
        connection_.batchTaken = true;
        tookBatch_ = true;
    } else {
        connection_.commitBatch();
        nested_ = sqlite3_get_autocommit(db) == 0;
        // A transaction that took the batch over is never joined: undone as a whole it would
        // take the batch's rows with it.
        joined_ = nested_ && nesting == Nesting::Joined && !connection_.batchTaken;
        if (!joined_) detail::run(db, nested_ ? detail::kBeginNested : "BEGIN IMMEDIATE");
    }
    ++connection_.openTransactions;
}

NativeTransaction::~NativeTransaction() {
    if (done_) return;
    std::lock_guard lock(connection_.mutex);
    --connection_.openTransactions;
    if (connection_.isOpen()) {
        if (tookBatch_) {
            // The rows appended before it are committed when the batch falls due.
            connection_.undoOverBatch();
        } else {
            sqlite3_exec(connection_.db.get(),
                         nested_ && !joined_ ? detail::kRollbackNested : "ROLLBACK", nullptr,
                         nullptr, nullptr);
        }
        // A schema change undone with it takes the schema version back to a number that the
        // next change reaches again: the catalog read inside is not trusted by that number.
        connection_.invalidateCatalog();
    }
}

void NativeTransaction::commit() {
    std::lock_guard lock(connection_.mutex);
    connection_.requireOpen();
    sqlite3* db = connection_.db.get();
    if (joined_) {
        // Left to the commit of the transaction it joined.
    } else if (!tookBatch_) {
        detail::run(db, nested_ ? detail::kCommitNested : "COMMIT");
    } else {
        // COMMIT ends the savepoint with the batch's transaction. Refused (another program
        // reads), everything stays open: the destructor undoes the steps and the rows wait on.
        const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            const int extended = sqlite3_extended_errcode(db);
            if (sqlite3_get_autocommit(db) == 0) {
                detail::throwSqlite(db, extended, Message("データベースの操作に失敗しました。"));
            }
            done_ = true;
            --connection_.openTransactions;
            connection_.batchTaken = false;
            connection_.invalidateCatalog();
            detail::throwSqlite(
                db, extended,
                Message("追加した行をデータベースに書き込めず、最後の追加分が失われました。"));
        }
        connection_.batchTaken = false;
    }
    done_ = true;
    --connection_.openTransactions;
}

}  // namespace yubin::db
