// Row sets: lazy reading and changing the current row (the appending: RecordsetAppend.cpp).
#include <algorithm>
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
    std::shared_ptr<const detail::RowSourcePlan> plan =
        c.rowSourcePlan(source, parameters, lock != LockType::ReadOnly);
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
