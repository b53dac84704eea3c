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

NativeTransaction::NativeTransaction(Connection& connection) : connection_(connection.impl()) {
    std::lock_guard lock(connection_.mutex);
    connection_.requireOpen();
    connection_.commitBatch();
    nested_ = sqlite3_get_autocommit(connection_.db.get()) == 0;
    detail::run(connection_.db.get(), nested_ ? detail::kBeginNested : "BEGIN IMMEDIATE");
    ++connection_.openTransactions;
}

NativeTransaction::~NativeTransaction() {
    if (done_) return;
    std::lock_guard lock(connection_.mutex);
    --connection_.openTransactions;
    if (connection_.isOpen()) {
        sqlite3_exec(connection_.db.get(), nested_ ? detail::kRollbackNested : "ROLLBACK", nullptr,
                     nullptr, nullptr);
        // A schema change undone with it takes the schema version back to a number that the
        // next change reaches again: the catalog read inside is not trusted by that number.
        connection_.invalidateCatalog();
    }
}

void NativeTransaction::commit() {
    std::lock_guard lock(connection_.mutex);
    connection_.requireOpen();
    detail::run(connection_.db.get(), nested_ ? detail::kCommitNested : "COMMIT");
    done_ = true;
    --connection_.openTransactions;
}

}  // namespace yubin::db
