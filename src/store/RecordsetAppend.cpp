// Row sets: appending in batches, with values given for each row or kept from row to row.
#include <algorithm>
#include <bit>
#include <cassert>

#include "store/EngineImpl.h"

namespace yubin::db {

using detail::BoundValue;
using detail::StatementPtr;

void Recordset::addNew(std::span<const std::string> names, std::span<const Value> values) {
    append(names, values, nullptr);
}

void Recordset::addNew(const ColumnList& names, std::span<const Value> values) {
    if (!names) {
        throw YubinError(ErrorCode::InvalidArgument, Message("追加する列の一覧がありません。"));
    }
    append(*names, values, names);
}

void Recordset::Impl::prepareAppendLocked(std::span<const std::string> names,
                                          const Recordset::ColumnList& list) {
    const bool sameList = list && appendStatement && appendList == list;
    if (!sameList && (!appendStatement || !std::equal(names.begin(), names.end(),
                                                      appendNames.begin(), appendNames.end()))) {
        std::vector<int> columns;
        for (const std::string& name : names) {
            const int column = table->requireColumn(name);
            if (std::find(columns.begin(), columns.end(), column) != columns.end()) {
                throw YubinError(ErrorCode::DuplicateFieldName,
                                 Message("テーブル {1} への追加で列 {2} が二度指定されています。",
                                         table->name, name));
            }
            columns.push_back(column);
        }
        std::string sql = detail::insertSql(*table, columns);
        StatementPtr statement = conn->acquire(sql);
        conn->release(appendSql, std::move(appendStatement));
        appendStatement = std::move(statement);
        appendSql = std::move(sql);
        appendColumns = std::move(columns);
        appendNames.assign(names.begin(), names.end());
        appendParameters.assign(appendColumns.size(), Impl::AppendParameter{});
        AppendValuesAccess::values(appendValues).assign(appendColumns.size(), Value());
        AppendValuesAccess::changed(appendValues).assign((appendColumns.size() + 63) / 64, 0);
        for (size_t i = 0; i < appendColumns.size(); ++i) {
            AppendValuesAccess::markChanged(appendValues, i);
        }
        appendLacksKey = table->primaryKeyColumn >= 0 &&
                         std::find(appendColumns.begin(), appendColumns.end(),
                                   table->primaryKeyColumn) == appendColumns.end();
    }
    if (appendList != list) {
        // Another list: the kept values, if any, are no longer the ones of their list.
        if (keptList != list) keptList.reset();
        appendList = list;
    }
}

void Recordset::Impl::refuseRowWithoutKey() const {
    if (!appendLacksKey) return;
    std::string unused;
    detail::bindable(*table, table->primaryKeyColumn, Value(), unused);  // raises
}

void Recordset::Impl::bindAppendParameter(size_t parameter) {
    AppendParameter& p = appendParameters[parameter];
    p.bound = false;
    const BoundValue b =
        detail::bindable(*table, appendColumns[parameter], appendValues[parameter], p.text);
    // SQLite reads the text from our copy until the parameter is bound again: the text given,
    // or the text a number became.
    detail::bind(appendStatement.get(), static_cast<int>(parameter) + 1, b);
    p.bound = true;
}

void Recordset::Impl::stepAppendLocked(bool commitDue) {
    sqlite3_stmt* s = appendStatement.get();
    {
        struct Reset {
            sqlite3_stmt* s;
            ~Reset() { sqlite3_reset(s); }
        } reset{s};
        // The batch reaches the disk within about the delay while rows keep coming.
        if (commitDue) conn->commitBatchIfDue();
        conn->beginBatch();
        const int rc = sqlite3_step(s);
        if (rc != SQLITE_DONE) throw detail::writeError(conn->db.get(), rc, *table);
    }
    rowid = sqlite3_last_insert_rowid(conn->db.get());
    position = Impl::Position::Row;
    loaded = false;
    rowFromCursor = false;
}

void Recordset::append(std::span<const std::string> names, std::span<const Value> values,
                       const ColumnList& list) {
    Impl& m = *impl_;
    m.requireUpdatable();
    if (names.size() != values.size()) {
        throw YubinError(
            ErrorCode::InvalidArgument,
            Message("テーブル {1} への追加: 列名の数（{2}）と値の数（{3}）が違います。",
                    m.table->name, std::to_string(names.size()), std::to_string(values.size())));
    }
    if (m.position == Impl::Position::New || m.hasChanges()) update();

    std::lock_guard guard(m.conn->mutex);
    m.prepareAppendLocked(names, list);
    m.refuseRowWithoutKey();
    // The bindings outlive the reset: a value equal to the one of the row before is neither
    // checked nor bound again (the imports repeat most columns from row to row).
    // The names equal the prepared ones, so there is one parameter per value.
    assert(m.appendParameters.size() == values.size());
    std::vector<Value>& given = AppendValuesAccess::values(m.appendValues);
    for (size_t i = 0; i < values.size(); ++i) {
        Impl::AppendParameter& p = m.appendParameters[i];
        if (p.bound && given[i] == values[i]) continue;
        p.bound = false;
        // Kept values, if they are appended next, bind it again.
        AppendValuesAccess::markChanged(m.appendValues, i);
        given[i] = values[i];
        m.bindAppendParameter(i);
    }
    m.stepAppendLocked(true);
}

AppendValues& Recordset::keepAppendValues(const ColumnList& names) {
    Impl& m = *impl_;
    m.requireUpdatable();
    if (!names) {
        throw YubinError(ErrorCode::InvalidArgument, Message("追加する列の一覧がありません。"));
    }
    std::lock_guard guard(m.conn->mutex);
    m.prepareAppendLocked(*names, names);
    m.keptList = names;
    std::vector<Value>& values = AppendValuesAccess::values(m.appendValues);
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i].isNull()) continue;
        values[i] = Value();
        AppendValuesAccess::markChanged(m.appendValues, i);
    }
    return m.appendValues;
}

void Recordset::appendKept() {
    Impl& m = *impl_;
    m.requireUpdatable();
    if (!m.keptList || m.appendList != m.keptList) {
        throw YubinError(ErrorCode::InvalidArgument,
                         Message("追加する行の値が準備されていません。"));
    }
    if (m.position == Impl::Position::New || m.hasChanges()) update();

    std::lock_guard guard(m.conn->mutex);
    m.refuseRowWithoutKey();
    // In the order of the list, as addNew checks them; a value refused stays pending.
    std::vector<std::uint64_t>& changed = AppendValuesAccess::changed(m.appendValues);
    for (size_t word = 0; word < changed.size(); ++word) {
        std::uint64_t& bits = changed[word];
        while (bits != 0) {
            m.bindAppendParameter(word * 64 + static_cast<size_t>(std::countr_zero(bits)));
            bits &= bits - 1;
        }
    }
    // A due batch is left to the caller's flushDue, which comes between rows (no clock read
    // for every row).
    m.stepAppendLocked(false);
}

}  // namespace yubin::db
