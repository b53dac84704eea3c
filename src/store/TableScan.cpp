#include "store/TableScan.h"

#include <mutex>

#include "store/EngineImpl.h"
#include "store/TextRules.h"

namespace yubin::db {

struct TableScan::Statements {
    detail::StatementPtr scan;   // rowid, then the named columns
    detail::StatementPtr range;  // the same for a range of rowids, made at its first use
    sqlite3_stmt* current = nullptr;
    detail::StatementPtr whole;  // every column of one rowid
    std::string scanSql;
    std::string order;  // the ORDER BY of the reversed scan
    std::string wholeSql;
};

namespace {

// The stored spelling of a name from a list, matched without regard to ASCII letter case.
std::string StoredName(const std::vector<std::string>& names, std::string_view name) {
    for (const std::string& stored : names) {
        if (detail::namesEqual(stored, name)) return stored;
    }
    return {};
}

}  // namespace

TableScan::TableScan(Connection& connection, std::string_view table,
                     std::vector<std::string> columns, Order order)
    : connection_(connection.impl()),
      tableColumns_(connection.columnNames(table)),
      statements_(std::make_unique<Statements>()) {
    std::vector<std::string> tableNames;
    for (const TableInfo& info : connection.tables(true)) tableNames.push_back(info.name);
    const std::string from = " FROM " + detail::quoteIdentifier(StoredName(tableNames, table));

    std::string& scan = statements_->scanSql;
    scan = "SELECT rowid";
    for (const std::string& column : columns) {
        const std::string stored = StoredName(tableColumns_, column);
        if (stored.empty()) {
            throw YubinError(ErrorCode::ItemNotFound,
                             Message("テーブル {1} に列 {2} はありません。", table, column));
        }
        scan += ", " + detail::quoteIdentifier(stored);
    }
    scan += from;
    // Storage order is rowid order: the reversed scan reads the table's tree backwards.
    if (order == Order::Reversed) statements_->order = " ORDER BY rowid DESC";
    std::string& whole = statements_->wholeSql;
    whole = "SELECT ";
    for (size_t i = 0; i < tableColumns_.size(); ++i) {
        whole += (i > 0 ? ", " : "") + detail::quoteIdentifier(tableColumns_[i]);
    }
    whole += from + " WHERE rowid = ?";

    std::lock_guard lock(connection_.mutex);
    connection_.requireOpen();
    statements_->scan = detail::prepare(connection_.db.get(), scan + statements_->order);
    statements_->current = statements_->scan.get();
    statements_->whole = detail::prepare(connection_.db.get(), whole);
}

TableScan::~TableScan() {
    std::lock_guard lock(connection_.mutex);
    statements_.reset();
}

bool TableScan::next() {
    std::lock_guard lock(connection_.mutex);
    const int rc = sqlite3_step(statements_->current);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    detail::throwSqlite(connection_.db.get(), rc,
                        Message("行セット（{1}）を読めません。", statements_->scanSql));
}

void TableScan::restrict(long long first, long long last) {
    std::lock_guard lock(connection_.mutex);
    Statements& s = *statements_;
    if (!s.range) {
        s.range = detail::prepare(connection_.db.get(),
                                  s.scanSql + " WHERE rowid BETWEEN ? AND ?" + s.order);
    }
    sqlite3_reset(s.current);
    sqlite3_reset(s.range.get());
    sqlite3_bind_int64(s.range.get(), 1, first);
    sqlite3_bind_int64(s.range.get(), 2, last);
    s.current = s.range.get();
}

long long TableScan::rowid() const { return sqlite3_column_int64(statements_->current, 0); }

std::string_view TableScan::text(int column) const {
    sqlite3_stmt* s = statements_->current;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column + 1));
    if (text == nullptr) return {};
    return {text, static_cast<size_t>(sqlite3_column_bytes(s, column + 1))};
}

bool TableScan::isNull(int column) const {
    return sqlite3_column_type(statements_->current, column + 1) == SQLITE_NULL;
}

long long TableScan::number(int column) const {
    return sqlite3_column_int64(statements_->current, column + 1);
}

std::vector<Value> TableScan::wholeRow() {
    std::lock_guard lock(connection_.mutex);
    sqlite3_stmt* s = statements_->whole.get();
    detail::StatementReset reset(s);
    sqlite3_bind_int64(s, 1, sqlite3_column_int64(statements_->current, 0));
    const int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW) {
        detail::throwSqlite(connection_.db.get(), rc,
                            Message("行セット（{1}）を読めません。", statements_->wholeSql));
    }
    std::vector<Value> row;
    row.reserve(tableColumns_.size());
    for (int i = 0; i < static_cast<int>(tableColumns_.size()); ++i) {
        switch (sqlite3_column_type(s, i)) {
            case SQLITE_NULL:
                row.emplace_back();
                break;
            case SQLITE_INTEGER:
                row.emplace_back(static_cast<long long>(sqlite3_column_int64(s, i)));
                break;
            default:
                row.emplace_back(
                    std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(s, i)),
                                     static_cast<size_t>(sqlite3_column_bytes(s, i))));
        }
    }
    return row;
}

}  // namespace yubin::db
