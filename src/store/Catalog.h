// What the layer knows about the tables of a database: columns with their declared types and
// sizes, the zero-length property, keys. Kept in bookkeeping tables inside the file (names
// starting with "__yubinbox_", never listed) and mirrored into the SQLite table definitions
// as CHECK constraints, unique indexes and triggers so that the file defends itself against
// writers that bypass this layer.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/Engine.h"
#include "store/JetSql.h"

namespace yubin::db::detail {

inline constexpr std::string_view kReservedPrefix = "__yubinbox_";
inline constexpr int kFormatVersion = 1;
inline constexpr int kApplicationId = 0x59554249;  // "YUBI"

struct ColumnDef {
    std::string name;
    sql::ColumnType type = sql::ColumnType::Text;
    int size = 0;
    bool allowZeroLength = false;
    bool isText() const { return type == sql::ColumnType::Text || type == sql::ColumnType::Memo; }
};

struct KeyDef {
    std::string name;
    std::string table;
    std::string column;
    bool primaryKey = false;
};

struct TableDef {
    std::string name;
    std::vector<ColumnDef> columns;
    int primaryKeyColumn = -1;   // index into columns, -1 when the table has no primary key
    std::string primaryKeyName;  // the key's name when there is one

    int findColumn(std::string_view columnName) const;  // -1 when absent
    // ItemNotFound naming table and column when absent.
    int requireColumn(std::string_view columnName) const;
};

struct Catalog {
    std::vector<std::shared_ptr<const TableDef>> tables;  // creation order
    std::vector<KeyDef> keys;

    std::shared_ptr<const TableDef> find(std::string_view table) const;
    // TableNotFound when absent.
    std::shared_ptr<const TableDef> require(std::string_view table) const;
    const KeyDef* findKey(std::string_view name) const;
};

// The statements that make the bookkeeping tables of an empty database.
const char* bookkeepingSchema();
// True when the database has our bookkeeping (a database of ours).
bool hasBookkeeping(sqlite3* db);
std::shared_ptr<const Catalog> loadCatalog(sqlite3* db);

// CREATE TABLE text for the definition under the given SQLite name, with the CHECK
// constraints of every column.
std::string tableDefinition(const TableDef& table, std::string_view sqliteName);
// The statements that make the index of a key (and, for a primary key, its Null guards).
std::vector<std::string> keyDefinition(const KeyDef& key);
std::string nullGuardTriggerName(std::string_view keyName, bool onUpdate);

// Refuses names that would clash with SQLite's or our own objects.
void checkUserName(std::string_view name, std::string_view what);

// One value as it is to be bound for a column, after the column rules.
struct BoundValue {
    enum Kind { Null, Number, Text } kind = Null;
    long long number = 0;
    std::string_view text;
};
// Applies the column rules (size, range, zero length, whole numbers, Null in a primary key)
// and converts; `scratch` holds converted text. Raises with the table and column named.
BoundValue bindable(const TableDef& table, int column, const Value& value, std::string& scratch);
void bind(sqlite3_stmt* statement, int index, const BoundValue& value);

// Translates a failed write into our error, naming the key or the column involved.
YubinError writeError(sqlite3* db, int rc, const TableDef& table);

std::string columnLabel(const TableDef& table, int column);  // "ZIPALL.郵便番号"

}  // namespace yubin::db::detail
