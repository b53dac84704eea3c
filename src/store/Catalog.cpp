#include "store/Catalog.h"

#include <limits>
#include <unordered_map>

#include "base/Text.h"
#include "store/SqliteHandle.h"
#include "store/TextRules.h"

namespace yubin::db::detail {

int TableDef::findColumn(std::string_view columnName) const {
    for (size_t i = 0; i < columns.size(); ++i) {
        if (namesEqual(columns[i].name, columnName)) return static_cast<int>(i);
    }
    return -1;
}

int TableDef::requireColumn(std::string_view columnName) const {
    const int index = findColumn(columnName);
    if (index < 0) {
        throw YubinError(ErrorCode::ItemNotFound,
                         Message("列 {1}.{2} が見つかりません。", name, columnName));
    }
    return index;
}

std::shared_ptr<const TableDef> Catalog::find(std::string_view table) const {
    for (const auto& t : tables) {
        if (namesEqual(t->name, table)) return t;
    }
    return nullptr;
}

std::shared_ptr<const TableDef> Catalog::require(std::string_view table) const {
    auto t = find(table);
    if (!t) {
        throw YubinError(ErrorCode::TableNotFound,
                         Message("テーブル {1} が見つかりません。", table));
    }
    return t;
}

const KeyDef* Catalog::findKey(std::string_view keyName) const {
    for (const KeyDef& k : keys) {
        if (namesEqual(k.name, keyName)) return &k;
    }
    return nullptr;
}

const char* bookkeepingSchema() {
    return R"(CREATE TABLE "__yubinbox_info"(
  key TEXT PRIMARY KEY NOT NULL,
  value TEXT);
CREATE TABLE "__yubinbox_tables"(
  name TEXT PRIMARY KEY NOT NULL COLLATE NOCASE,
  attributes INTEGER NOT NULL DEFAULT 0);
CREATE TABLE "__yubinbox_columns"(
  table_name TEXT NOT NULL COLLATE NOCASE,
  ordinal INTEGER NOT NULL,
  name TEXT NOT NULL,
  type TEXT NOT NULL CHECK (type IN ('Text', 'Memo', 'Byte', 'Long')),
  size INTEGER,
  allow_zero_length INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (table_name, ordinal));
CREATE TABLE "__yubinbox_keys"(
  name TEXT PRIMARY KEY NOT NULL COLLATE NOCASE,
  table_name TEXT NOT NULL COLLATE NOCASE,
  column_name TEXT NOT NULL,
  kind TEXT NOT NULL CHECK (kind IN ('index', 'primary key')));
INSERT INTO "__yubinbox_info" VALUES ('format', '1');
)";
}

bool hasBookkeeping(sqlite3* db) {
    StatementPtr s = prepare(db,
                             "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name IN "
                             "('__yubinbox_info', '__yubinbox_tables', '__yubinbox_columns', "
                             "'__yubinbox_keys')");
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW)
        throwSqlite(db, sqlite3_extended_errcode(db), Message("データベースを読めません。"));
    if (sqlite3_column_int(s.get(), 0) != 4) return false;
    StatementPtr info = prepare(db, "SELECT value FROM \"__yubinbox_info\" WHERE key = 'format'");
    if (sqlite3_step(info.get()) != SQLITE_ROW) return false;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0));
    return text != nullptr && std::string_view(text) == std::to_string(kFormatVersion);
}

namespace {

std::string columnText(sqlite3_stmt* s, int i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return text != nullptr ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, i)))
                           : std::string();
}

sql::ColumnType typeFromWord(std::string_view word) {
    if (word == "Memo") return sql::ColumnType::Memo;
    if (word == "Byte") return sql::ColumnType::Byte;
    if (word == "Long") return sql::ColumnType::Long;
    return sql::ColumnType::Text;
}

}  // namespace

std::shared_ptr<const Catalog> loadCatalog(sqlite3* db) {
    auto catalog = std::make_shared<Catalog>();
    std::vector<std::shared_ptr<TableDef>> tables;
    std::unordered_map<std::string, TableDef*> byName;
    {
        StatementPtr s = prepare(db, "SELECT name FROM \"__yubinbox_tables\" ORDER BY rowid");
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            auto t = std::make_shared<TableDef>();
            t->name = columnText(s.get(), 0);
            byName[foldName(t->name)] = t.get();
            tables.push_back(std::move(t));
        }
        if (rc != SQLITE_DONE) throwSqlite(db, rc, Message("テーブルの一覧を読めません。"));
    }
    {
        StatementPtr s = prepare(db,
                                 "SELECT table_name, name, type, size, allow_zero_length FROM "
                                 "\"__yubinbox_columns\" ORDER BY table_name, ordinal");
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            auto it = byName.find(foldName(columnText(s.get(), 0)));
            if (it == byName.end()) continue;
            ColumnDef c;
            c.name = columnText(s.get(), 1);
            c.type = typeFromWord(columnText(s.get(), 2));
            c.size = sqlite3_column_int(s.get(), 3);
            c.allowZeroLength = sqlite3_column_int(s.get(), 4) != 0;
            it->second->columns.push_back(std::move(c));
        }
        if (rc != SQLITE_DONE) throwSqlite(db, rc, Message("列の一覧を読めません。"));
    }
    {
        StatementPtr s = prepare(db,
                                 "SELECT name, table_name, column_name, kind FROM "
                                 "\"__yubinbox_keys\" ORDER BY rowid");
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            KeyDef k;
            k.name = columnText(s.get(), 0);
            k.table = columnText(s.get(), 1);
            k.column = columnText(s.get(), 2);
            k.primaryKey = columnText(s.get(), 3) == "primary key";
            auto it = byName.find(foldName(k.table));
            if (it != byName.end()) {
                k.table = it->second->name;
                if (k.primaryKey) {
                    it->second->primaryKeyColumn = it->second->findColumn(k.column);
                    it->second->primaryKeyName = k.name;
                }
            }
            catalog->keys.push_back(std::move(k));
        }
        if (rc != SQLITE_DONE) throwSqlite(db, rc, Message("キーの一覧を読めません。"));
    }
    for (auto& t : tables) catalog->tables.push_back(std::move(t));
    return catalog;
}

namespace {

std::string typeLabel(const ColumnDef& c) {
    switch (c.type) {
        case sql::ColumnType::Text:
            return "Text(" + std::to_string(c.size) + ")";
        case sql::ColumnType::Memo:
            return "Memo";
        case sql::ColumnType::Byte:
            return "Byte";
        case sql::ColumnType::Long:
            return "Long";
    }
    return {};
}

constexpr std::string_view kNotEmptyRule = "not empty";

// The CHECK constraints avoid function calls where a comparison serves, since they run for
// every row written: in SQLite's order of values text sorts below every blob (x''), and a
// column of INTEGER affinity keeps a text only when it is not a number, which the range
// refuses. Null passes every constraint.
std::string columnDefinition(const ColumnDef& c) {
    const std::string q = quoteIdentifier(c.name);
    std::string out = q;
    out += c.isText() ? " TEXT" : " INTEGER";
    out += " CONSTRAINT " + quoteIdentifier(c.name + ": " + typeLabel(c)) + " CHECK (";
    switch (c.type) {
        case sql::ColumnType::Text:
            out += q + " < x'' AND length(" + q + ") <= " + std::to_string(c.size);
            break;
        case sql::ColumnType::Memo:
            out += q + " < x''";
            break;
        case sql::ColumnType::Byte:
            out += q + " BETWEEN 0 AND 255 AND CAST(" + q + " AS INTEGER) = " + q;
            break;
        case sql::ColumnType::Long:
            out += q + " BETWEEN -2147483648 AND 2147483647 AND CAST(" + q + " AS INTEGER) = " + q;
            break;
    }
    out += ")";
    if (c.isText() && !c.allowZeroLength) {
        out += " CONSTRAINT " + quoteIdentifier(c.name + ": " + std::string(kNotEmptyRule)) +
               " CHECK (" + q + " <> '')";
    }
    return out;
}

std::string nullGuardMessage(const KeyDef& key) {
    return "列 " + key.table + "." + key.column + " は主キー " + key.name +
           " の列なので Null は入れられません。";
}

}  // namespace

std::string tableDefinition(const TableDef& table, std::string_view sqliteName) {
    std::string out = "CREATE TABLE " + quoteIdentifier(sqliteName) + " (\n  ";
    for (size_t i = 0; i < table.columns.size(); ++i) {
        if (i > 0) out += ",\n  ";
        out += columnDefinition(table.columns[i]);
    }
    out += "\n)";
    return out;
}

std::string nullGuardTriggerName(std::string_view keyName, bool onUpdate) {
    return std::string(kReservedPrefix) + "pk_" + std::string(keyName) +
           (onUpdate ? "_update" : "_insert");
}

std::vector<std::string> keyDefinition(const KeyDef& key) {
    std::vector<std::string> out;
    const std::string table = quoteIdentifier(key.table);
    const std::string column = quoteIdentifier(key.column);
    out.push_back(std::string(key.primaryKey ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                  quoteIdentifier(key.name) + " ON " + table + " (" + column + ")");
    if (key.primaryKey) {
        const std::string raise = " IS NULL BEGIN SELECT RAISE(ABORT, " +
                                  QuoteSqlLiteral(nullGuardMessage(key)) + "); END";
        out.push_back("CREATE TRIGGER " + quoteIdentifier(nullGuardTriggerName(key.name, false)) +
                      " BEFORE INSERT ON " + table + " WHEN NEW." + column + raise);
        out.push_back("CREATE TRIGGER " + quoteIdentifier(nullGuardTriggerName(key.name, true)) +
                      " BEFORE UPDATE OF " + column + " ON " + table + " WHEN NEW." + column +
                      raise);
    }
    return out;
}

void checkUserName(std::string_view name, std::string_view what) {
    auto startsWith = [&](std::string_view prefix) {
        return name.size() >= prefix.size() && namesEqual(name.substr(0, prefix.size()), prefix);
    };
    if (startsWith(kReservedPrefix) || startsWith("sqlite_")) {
        throw YubinError(
            ErrorCode::InvalidArgument,
            Message("{1} {2} は使えません（{3} と sqlite_ で始まる名前は予約済みです）。", what,
                    name, kReservedPrefix));
    }
    if (namesEqual(name, "rowid") || namesEqual(name, "_rowid_") || namesEqual(name, "oid")) {
        throw YubinError(ErrorCode::InvalidArgument,
                         Message("{1} {2} は使えません（予約済みです）。", what, name));
    }
}

std::string columnLabel(const TableDef& table, int column) {
    return table.name + "." + table.columns[static_cast<size_t>(column)].name;
}

BoundValue bindable(const TableDef& table, int column, const Value& value, std::string& scratch) {
    const ColumnDef& c = table.columns[static_cast<size_t>(column)];
    BoundValue out;
    if (value.isNull()) {
        if (column == table.primaryKeyColumn) {
            throw YubinError(ErrorCode::IndexNullValue,
                             Message("列 {1} は主キー {2} の列なので Null は入れられません。",
                                     columnLabel(table, column), table.primaryKeyName));
        }
        return out;
    }
    if (c.isText()) {
        std::string_view text;
        if (value.isText()) {
            text = value.text();
        } else {
            scratch = std::to_string(value.number());
            text = scratch;
        }
        if (text.empty() && !c.allowZeroLength) {
            throw YubinError(
                ErrorCode::ZeroLengthNotAllowed,
                Message("列 {1} に長さ 0 の文字列は入れられません。", columnLabel(table, column)));
        }
        // Characters never outnumber bytes, so short texts need no counting.
        if (c.type == sql::ColumnType::Text && text.size() > static_cast<size_t>(c.size) &&
            characterCount(text) > static_cast<size_t>(c.size)) {
            throw YubinError(ErrorCode::FieldTooSmall,
                             Message("列 {1} の値が長すぎます（最大 {2} 文字）。",
                                     columnLabel(table, column), std::to_string(c.size)));
        }
        out.kind = BoundValue::Text;
        out.text = text;
        return out;
    }
    long long number = 0;
    if (value.isNumber()) {
        number = value.number();
    } else {
        switch (parseWholeNumber(value.text(), number)) {
            case WholeNumber::Ok:
                break;
            case WholeNumber::TooLarge:
                number = value.text().find('-') != std::string::npos
                             ? std::numeric_limits<long long>::min()
                             : std::numeric_limits<long long>::max();
                break;
            case WholeNumber::NotANumber:
                throw YubinError(ErrorCode::TypeMismatch,
                                 Message("列 {1} は数値の列です。値「{2}」は整数ではありません。",
                                         columnLabel(table, column), value.text()));
        }
    }
    const bool isByte = c.type == sql::ColumnType::Byte;
    const long long low = isByte ? 0 : -2147483648LL;
    const long long high = isByte ? 255 : 2147483647LL;
    if (number < low || number > high) {
        throw YubinError(
            ErrorCode::NumericOverflow,
            Message("列 {1} の値 {2} は範囲外です（{3} ～ {4}）。", columnLabel(table, column),
                    value.toText(), std::to_string(low), std::to_string(high)));
    }
    out.kind = BoundValue::Number;
    out.number = number;
    return out;
}

void bind(sqlite3_stmt* statement, int index, const BoundValue& value) {
    switch (value.kind) {
        case BoundValue::Null:
            sqlite3_bind_null(statement, index);
            break;
        case BoundValue::Number:
            sqlite3_bind_int64(statement, index, value.number);
            break;
        case BoundValue::Text:
            sqlite3_bind_text(statement, index, value.text.data(),
                              static_cast<int>(value.text.size()), SQLITE_STATIC);
            break;
    }
}

YubinError writeError(sqlite3* db, int rc, const TableDef& table) {
    const std::string detail = sqlite3_errmsg(db);
    if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY) {
        if (table.primaryKeyColumn >= 0) {
            return YubinError(
                ErrorCode::DuplicateKey,
                Message("主キー {1}（{2}）に重複する値は入れられません。", table.primaryKeyName,
                        columnLabel(table, table.primaryKeyColumn)));
        }
        return YubinError(
            ErrorCode::DuplicateKey,
            Message("テーブル {1} に重複する値は入れられません（{2}）。", table.name, detail));
    }
    if (rc == SQLITE_CONSTRAINT_TRIGGER) return YubinError(ErrorCode::IndexNullValue, detail);
    if (rc == SQLITE_CONSTRAINT_CHECK) {
        // "CHECK constraint failed: <column>: <rule>", the names given in tableDefinition.
        const std::string_view prefix = "CHECK constraint failed: ";
        std::string_view name = detail;
        if (name.substr(0, prefix.size()) == prefix) name.remove_prefix(prefix.size());
        const size_t colon = name.rfind(": ");
        const std::string column(name.substr(0, colon == std::string_view::npos ? 0 : colon));
        const std::string_view rule =
            colon == std::string_view::npos ? std::string_view() : name.substr(colon + 2);
        const std::string label = table.name + "." + column;
        if (rule == kNotEmptyRule) {
            return YubinError(ErrorCode::ZeroLengthNotAllowed,
                              Message("列 {1} に長さ 0 の文字列は入れられません。", label));
        }
        if (rule.substr(0, 5) == "Text(") {
            return YubinError(
                ErrorCode::FieldTooSmall,
                Message("列 {1} の値が長すぎるか文字列ではありません（{2}）。", label, rule));
        }
        if (rule == "Byte" || rule == "Long") {
            return YubinError(
                ErrorCode::NumericOverflow,
                Message("列 {1} の値が範囲外か整数ではありません（{2}）。", label, rule));
        }
        return YubinError(ErrorCode::TypeMismatch,
                          Message("列 {1} の値の型が正しくありません（{2}）。", label, detail));
    }
    return sqliteError(db, rc, Message("テーブル {1} に書き込めません。", table.name));
}

}  // namespace yubin::db::detail
