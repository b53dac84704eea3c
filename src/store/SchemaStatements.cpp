// The statements that change the schema: tables, keys and indexes, and the rebuild of a table
// whose column rules change.
#include <cassert>

#include "store/EngineImpl.h"
#include "store/TextRules.h"

namespace yubin::db {

using detail::quoteIdentifier;
using detail::StatementPtr;
using detail::TableDef;

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
        throw YubinError(ErrorCode::TableExists, Message("テーブル {1} は既にあります。", s.table));
    }
    TableDef def;
    def.name = s.table;
    for (const sql::ColumnSpec& declared : s.columns) {
        detail::checkUserName(declared.name, "列名");
        if (def.findColumn(declared.name) >= 0) {
            throw YubinError(
                ErrorCode::DuplicateFieldName,
                Message("列 {1}.{2} が二度定義されています。", s.table, declared.name));
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
                         Message("インデックス名 {1} は既に使われています。", s.name));
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
            Message("テーブル {1} にインデックス {2} はありません。", table->name, s.name));
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
        throw YubinError(ErrorCode::PrimaryKeyExists,
                         Message("テーブル {1} には既に主キー {2} があります。", table->name,
                                 table->primaryKeyName));
    }
    if (nameInUse(s.name)) {
        throw YubinError(ErrorCode::IndexExists,
                         Message("制約名 {1} は既に使われています。", s.name));
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
            detail::throwSqlite(db.get(), rc, Message("主キーを作れません。"));
        }
        return rc == SQLITE_ROW;
    };
    const auto nullError = [&] {
        return YubinError(
            ErrorCode::IndexNullValue,
            Message("列 {1} に Null の行があるため主キー {2} を作れません。", label, s.name));
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
                Message("列 {1} に重複する値があるため主キー {2} を作れません。", label, s.name));
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
                         Message("テーブル {1} に制約 {2} はありません。", table->name, s.name));
    }
    dropKey(detail::KeyDef(*key));
    return 0;
}

void Connection::Impl::rebuildTable(const TableDef& current, const TableDef& changed) {
    // Only the columns' properties change: the copy below reads and writes the same columns.
    assert(changed.columns.size() == current.columns.size());
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

}  // namespace yubin::db
