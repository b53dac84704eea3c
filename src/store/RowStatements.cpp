// The statements that change rows (INSERT, UPDATE, DELETE) and the WHERE conditions they
// share with the row sets.
#include <algorithm>
#include <cassert>

#include "store/EngineImpl.h"
#include "store/TextRules.h"

namespace yubin::db {

using detail::BoundValue;
using detail::quoteIdentifier;
using detail::StatementPtr;
using detail::TableDef;

namespace detail {

std::string insertSql(const TableDef& table, const std::vector<int>& columns) {
    std::string sql = "INSERT INTO " + quoteIdentifier(table.name);
    assert(std::all_of(columns.begin(), columns.end(), [&](int c) {
        return c >= 0 && static_cast<size_t>(c) < table.columns.size();
    }));
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
    assert(column >= 0 && static_cast<size_t>(column) < table.columns.size());
    const ColumnDef& def = table.columns[static_cast<size_t>(column)];
    BoundValue v;
    if (def.isText()) {
        if (!literal.isText()) {
            throw YubinError(ErrorCode::TypeMismatch,
                             Message("列 {1} は文字列の列です。数値 {2} とは比べられません。",
                                     columnLabel(table, column), literal.toText()));
        }
        v.kind = BoundValue::Text;
        v.text = literal.text();
        return v;
    }
    v.kind = BoundValue::Number;
    if (literal.isNumber()) {
        v.number = literal.number();
    } else if (parseWholeNumber(literal.text(), v.number) != WholeNumber::Ok) {
        throw YubinError(ErrorCode::TypeMismatch,
                         Message("列 {1} は数値の列です。値「{2}」とは比べられません。",
                                 columnLabel(table, column), literal.text()));
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

void bindAll(sqlite3_stmt* statement, const std::vector<BoundValue>& values, int firstIndex) {
    for (size_t i = 0; i < values.size(); ++i) {
        bind(statement, firstIndex + static_cast<int>(i), values[i]);
    }
}

}  // namespace detail

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
                throw YubinError(ErrorCode::DuplicateFieldName,
                                 Message("INSERT INTO {1} で列 {2} が二度指定されています。",
                                         table->name, name));
            }
            columns.push_back(c);
        }
    }
    if (s.values.size() != columns.size()) {
        throw YubinError(
            ErrorCode::ValueCountMismatch,
            Message("INSERT INTO {1} の値の数（{2}）が列の数（{3}）と合いません。", table->name,
                    std::to_string(s.values.size()), std::to_string(columns.size())));
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
            throw YubinError(ErrorCode::DuplicateFieldName,
                             Message("UPDATE {1} で列 {2} が二度指定されています。", table->name,
                                     s.assignments[i].column));
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
    if (s.where.empty()) {
        // SQLite empties a table by clearing its pages, which writes and commits (with every
        // sync of a commit) also when there is no row: the deletion of the resume marker at
        // every exit. An empty table is left as it is, as if the deletion came just before
        // whatever another program writes next.
        const std::string anyRow = "SELECT 1 FROM " + quoteIdentifier(table->name) + " LIMIT 1";
        StatementPtr any = acquire(anyRow);
        const int rc = sqlite3_step(any.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            YubinError error = detail::writeError(db.get(), rc, *table);
            release(anyRow, std::move(any));
            throw error;
        }
        release(anyRow, std::move(any));
        if (rc == SQLITE_DONE) return 0;
    }
    std::vector<BoundValue> values;
    std::vector<std::string> scratch;
    const std::string sql = "DELETE FROM " + quoteIdentifier(table->name) +
                            detail::translateCondition(*table, s.where, values, scratch);
    return runWrite(sql, values, *table);
}

long long Connection::Impl::run(const sql::Select&) {
    throw YubinError(
        ErrorCode::InvalidArgument,
        Message("SELECT 文は execute では実行できません。行セット（Recordset）で開いてください。"));
}

}  // namespace yubin::db
