// Row sets: lazy reading, appending in batches, changing the current row.
#include <algorithm>
#include <bit>
#include <cassert>

#include "store/EngineImpl.h"
#include "store/TextRules.h"

namespace yubin::db {

using detail::BoundValue;
using detail::quoteIdentifier;
using detail::StatementPtr;
using detail::TableDef;

namespace {

// Reads one result column into a value, reusing its text buffer.
void readColumn(Value& target, sqlite3_stmt* s, int i) {
    switch (sqlite3_column_type(s, i)) {
        case SQLITE_NULL:
            target = Value();
            break;
        case SQLITE_INTEGER:
            target = Value(static_cast<long long>(sqlite3_column_int64(s, i)));
            break;
        default: {
            // Text, and whatever another writer may have left (kept as its text).
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
            const int bytes = sqlite3_column_bytes(s, i);
            target.assignText(
                std::string_view(text != nullptr ? text : "", static_cast<size_t>(bytes)));
            break;
        }
    }
}

// A statement borrowed from the connection's cache for one call.
class Borrowed {
  public:
    Borrowed(Connection::Impl& conn, std::string sql)
        : conn_(conn), sql_(std::move(sql)), statement_(conn.acquire(sql_)) {}
    ~Borrowed() { conn_.release(sql_, std::move(statement_)); }
    Borrowed(const Borrowed&) = delete;
    Borrowed& operator=(const Borrowed&) = delete;
    sqlite3_stmt* get() const { return statement_.get(); }

  private:
    Connection::Impl& conn_;
    std::string sql_;
    StatementPtr statement_;
};

}  // namespace

// ---- Recordset::Impl -----------------------------------------------------------------------

void Recordset::Impl::requireOpen() const {
    if (conn == nullptr)
        throw YubinError(ErrorCode::ObjectClosed, Message("行セットが開いていません。"));
}

void Recordset::Impl::requireUpdatable() const {
    requireOpen();
    if (!updatable) {
        throw YubinError(ErrorCode::ReadOnly,
                         Message("行セット（{1}）は読み取り専用です。", selectSql()));
    }
}

bool Recordset::Impl::hasChanges() const {
    return std::any_of(fields.begin(), fields.end(),
                       [](const Field& f) { return FieldAccess::changed(f); });
}

void Recordset::Impl::fetchLocked() {
    assert(select != nullptr && position == Position::Cursor);
    const int rc = sqlite3_step(select.get());
    fetched = true;
    if (rc == SQLITE_ROW) {
        cursorOnRow = true;
        const int offset = hasRowid ? 1 : 0;
        if (hasRowid) rowid = sqlite3_column_int64(select.get(), 0);
        for (size_t i = 0; i < fields.size(); ++i) {
            readColumn(FieldAccess::value(fields[i]), select.get(), static_cast<int>(i) + offset);
            FieldAccess::clearChanged(fields[i]);
        }
        return;
    }
    cursorOnRow = false;
    if (rc != SQLITE_DONE) {
        detail::throwSqlite(conn->db.get(), rc,
                            Message("行セット（{1}）を読めません。", selectSql()));
    }
}

void Recordset::Impl::loadRowLocked() {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < plan->columns.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += quoteIdentifier(table->columns[static_cast<size_t>(fieldColumn(i))].name);
    }
    sql += " FROM " + quoteIdentifier(table->name) + " WHERE rowid = ?";
    Borrowed s(*conn, sql);
    sqlite3_bind_int64(s.get(), 1, rowid);
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) {
        throw YubinError(ErrorCode::NoCurrentRecord,
                         Message("テーブル {1} の現在の行は削除されています。", table->name));
    }
    if (rc != SQLITE_ROW) {
        detail::throwSqlite(conn->db.get(), rc,
                            Message("テーブル {1} の行を読めません。", table->name));
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        readColumn(FieldAccess::value(fields[i]), s.get(), static_cast<int>(i));
        FieldAccess::clearChanged(fields[i]);
    }
    loaded = true;
}

void Recordset::Impl::ensureCurrent() {
    requireOpen();
    switch (position) {
        case Position::New:
            return;
        case Position::Cursor:
            if (!fetched) {
                std::lock_guard lock(conn->mutex);
                fetchLocked();
            }
            if (!cursorOnRow) {
                throw YubinError(ErrorCode::NoCurrentRecord,
                                 Message("現在の行がありません（行セットの終わりです）。"));
            }
            return;
        case Position::Row:
            if (!loaded) {
                std::lock_guard lock(conn->mutex);
                loadRowLocked();
            }
            return;
    }
}

void Recordset::Impl::releaseStatements(bool finalize) {
    if (finalize || conn == nullptr || !plan) {
        select.reset();
        appendStatement.reset();
    } else {
        conn->release(plan->sql, std::move(select));
        conn->release(appendSql, std::move(appendStatement));
    }
    plan.reset();
    appendNames.clear();
    appendList.reset();
    appendColumns.clear();
    appendParameters.clear();
    keptList.reset();
    appendSql.clear();
}

void Recordset::Impl::detach() {
    releaseStatements(true);
    conn = nullptr;
}

// ---- Field ---------------------------------------------------------------------------------

const Value& Field::value() const {
    if (owner_ != nullptr) owner_->impl_->ensureCurrent();
    return value_;
}

void Field::setValue(Value value) {
    if (owner_ != nullptr) {
        Recordset::Impl& m = *owner_->impl_;
        m.requireUpdatable();
        m.ensureCurrent();
    }
    value_ = std::move(value);
    changed_ = true;
}

// ---- Recordset -----------------------------------------------------------------------------

Recordset::Recordset() : impl_(std::make_unique<Impl>()) {}

Recordset::~Recordset() { close(); }

void Recordset::open(std::string_view source, Connection& connection, CursorType cursor,
                     LockType lock) {
    // Every cursor kind reads lazily from the live table; they differ only in what they allow
    // (a read-only lock refuses changes).
    (void)cursor;
    close();
    Impl& m = *impl_;
    Connection::Impl& c = connection.impl();
    std::lock_guard guard(c.mutex);
    c.requireOpen();

    std::vector<Value>& parameters = c.parameterScratch;
    std::shared_ptr<const detail::RowSourcePlan> plan = c.rowSourcePlan(source, parameters);
    StatementPtr statement = c.acquire(plan->sql);
    for (size_t i = 0; i < parameters.size(); ++i) {
        // The literals are reused by the next row set; SQLite keeps its own copies.
        const BoundValue v =
            detail::conditionValue(*plan->table, plan->parameters[i].column, parameters[i]);
        if (v.kind == BoundValue::Text) {
            sqlite3_bind_text(statement.get(), static_cast<int>(i) + 1, v.text.data(),
                              static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
        } else {
            detail::bind(statement.get(), static_cast<int>(i) + 1, v);
        }
    }

    m.conn = &c;
    m.table = plan->table;
    m.updatable = !plan->aggregate && lock != LockType::ReadOnly;
    m.hasRowid = !plan->aggregate;
    m.fields = std::vector<Field>(plan->names.size());
    for (size_t i = 0; i < plan->names.size(); ++i) {
        FieldAccess::setName(m.fields[i], plan->names[i], this);
    }
    m.plan = std::move(plan);
    m.select = std::move(statement);
    m.position = Impl::Position::Cursor;
    m.fetched = false;
    m.cursorOnRow = false;
    m.rowFromCursor = false;
    m.loaded = false;
    c.recordsets.push_back(&m);
}

void Recordset::close() {
    Impl& m = *impl_;
    if (m.conn == nullptr) return;
    std::lock_guard guard(m.conn->mutex);
    m.releaseStatements(false);
    auto& list = m.conn->recordsets;
    list.erase(std::remove(list.begin(), list.end(), &m), list.end());
    m.conn = nullptr;
}

bool Recordset::isOpen() const { return impl_->conn != nullptr; }

bool Recordset::eof() {
    Impl& m = *impl_;
    m.requireOpen();
    if (m.position != Impl::Position::Cursor) return false;
    if (!m.fetched) {
        std::lock_guard guard(m.conn->mutex);
        m.fetchLocked();
    }
    return !m.cursorOnRow;
}

void Recordset::moveNext() {
    Impl& m = *impl_;
    m.requireOpen();
    if (m.position == Impl::Position::New || m.hasChanges()) update();
    std::lock_guard guard(m.conn->mutex);
    if (m.position == Impl::Position::Row) {
        m.position = Impl::Position::Cursor;
        if (m.rowFromCursor) {
            m.fetchLocked();
        } else {
            // An appended row comes after every row of the set.
            m.fetched = true;
            m.cursorOnRow = false;
        }
        return;
    }
    if (!m.fetched) m.fetchLocked();
    if (!m.cursorOnRow) {
        throw YubinError(ErrorCode::NoCurrentRecord,
                         Message("行セットの終わりより先へは進めません。"));
    }
    m.fetchLocked();
}

int Recordset::fieldCount() const {
    impl_->requireOpen();
    return static_cast<int>(impl_->fields.size());
}

Field& Recordset::field(int index) {
    Impl& m = *impl_;
    m.requireOpen();
    if (index < 0 || index >= static_cast<int>(m.fields.size())) {
        throw YubinError(
            ErrorCode::ItemNotFound,
            Message("行セットに {1} 番のフィールドはありません。", std::to_string(index)));
    }
    return m.fields[static_cast<size_t>(index)];
}

Field& Recordset::field(std::string_view name) {
    Impl& m = *impl_;
    m.requireOpen();
    for (Field& f : m.fields) {
        if (detail::namesEqual(f.Name(), name)) return f;
    }
    throw YubinError(
        ErrorCode::ItemNotFound,
        Message("行セット（{1}）にフィールド {2} はありません。", m.table->name, name));
}

long long Recordset::rowid() {
    Impl& m = *impl_;
    m.requireOpen();
    if (m.position == Impl::Position::Row) return m.rowid;
    if (m.position == Impl::Position::Cursor && m.hasRowid && !eof()) return m.rowid;
    throw YubinError(ErrorCode::NoCurrentRecord, Message("行セットに現在の行がありません。"));
}

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
    if (m.appendLacksKey) {
        std::string unused;
        detail::bindable(*m.table, m.table->primaryKeyColumn, Value(), unused);  // raises
    }
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
    if (m.appendLacksKey) {
        std::string unused;
        detail::bindable(*m.table, m.table->primaryKeyColumn, Value(), unused);  // raises
    }
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

void Recordset::addNew() {
    Impl& m = *impl_;
    m.requireUpdatable();
    if (m.position == Impl::Position::New || m.hasChanges()) update();
    m.position = Impl::Position::New;
    for (Field& f : m.fields) {
        FieldAccess::set(f, Value());
        FieldAccess::clearChanged(f);
    }
}

void Recordset::update() {
    Impl& m = *impl_;
    m.requireUpdatable();
    const TableDef& table = *m.table;
    std::vector<int> columns;
    std::vector<const Value*> changed;
    for (size_t i = 0; i < m.fields.size(); ++i) {
        if (!FieldAccess::changed(m.fields[i])) continue;
        columns.push_back(m.fieldColumn(i));
        changed.push_back(&FieldAccess::value(m.fields[i]));
    }
    std::vector<std::string> scratch(columns.size());

    if (m.position == Impl::Position::New) {
        if (table.primaryKeyColumn >= 0 &&
            std::find(columns.begin(), columns.end(), table.primaryKeyColumn) == columns.end()) {
            std::string unused;
            detail::bindable(table, table.primaryKeyColumn, Value(), unused);  // raises
        }
        std::lock_guard guard(m.conn->mutex);
        Borrowed s(*m.conn, detail::insertSql(table, columns));
        {
            detail::StatementReset reset(s.get());
            for (size_t i = 0; i < columns.size(); ++i) {
                detail::bind(s.get(), static_cast<int>(i) + 1,
                             detail::bindable(table, columns[i], *changed[i], scratch[i]));
            }
            m.conn->commitBatchIfDue();
            m.conn->beginBatch();
            const int rc = sqlite3_step(s.get());
            if (rc != SQLITE_DONE) throw detail::writeError(m.conn->db.get(), rc, table);
        }
        m.rowid = sqlite3_last_insert_rowid(m.conn->db.get());
        m.position = Impl::Position::Row;
        m.rowFromCursor = false;
        m.loaded = false;
        for (Field& f : m.fields) FieldAccess::clearChanged(f);
        return;
    }
    if (columns.empty()) return;  // nothing changed: nothing to store

    std::string sql = "UPDATE " + quoteIdentifier(table.name) + " SET ";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += quoteIdentifier(table.columns[static_cast<size_t>(columns[i])].name) + " = ?";
    }
    sql += " WHERE rowid = ?";
    std::lock_guard guard(m.conn->mutex);
    m.conn->commitBatch();
    Borrowed s(*m.conn, sql);
    {
        detail::StatementReset reset(s.get());
        for (size_t i = 0; i < columns.size(); ++i) {
            detail::bind(s.get(), static_cast<int>(i) + 1,
                         detail::bindable(table, columns[i], *changed[i], scratch[i]));
        }
        sqlite3_bind_int64(s.get(), static_cast<int>(columns.size()) + 1, m.rowid);
        const int rc = sqlite3_step(s.get());
        if (rc != SQLITE_DONE) throw detail::writeError(m.conn->db.get(), rc, table);
    }
    if (sqlite3_changes64(m.conn->db.get()) == 0) {
        throw YubinError(ErrorCode::NoCurrentRecord,
                         Message("テーブル {1} の現在の行は削除されています。", table.name));
    }
    if (m.position == Impl::Position::Cursor) m.rowFromCursor = true;
    m.position = Impl::Position::Row;
    m.loaded = false;
    for (Field& f : m.fields) FieldAccess::clearChanged(f);
}

}  // namespace yubin::db
