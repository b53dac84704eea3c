// The Jet SQL that yubinbox sends: a tokenizer and a recursive-descent parser into statement
// trees. Nothing outside this grammar is accepted; a refused text raises SyntaxError.
//
//   CREATE TABLE t ( col type [, col type]... )      type: Text[(n)] | Memo | Byte | Long
//   CREATE INDEX name ON t ( col )
//   DROP INDEX name ON t
//   ALTER TABLE t ADD CONSTRAINT name PRIMARY KEY ( col )
//   ALTER TABLE t DROP CONSTRAINT name
//   INSERT INTO t [( col [, col]... )] VALUES ( literal [, literal]... )
//   UPDATE t SET col = literal [, col = literal]... [WHERE condition]
//   DELETE [*] FROM t [WHERE condition]
//   SELECT * | item [, item]... FROM t [WHERE condition]
//        item: col [AS alias] | COUNT(*) [AS alias] | MAX(col) [AS alias] | MIN(col) [AS alias]
//   condition: col = literal | col <> literal, joined by AND
//   literal: 'text' ('' inside is one quote) | [+|-]digits | NULL (not in conditions)
//
// Names are unquoted: ASCII letters, digits and underscore and the non-ASCII letters of UTF-8
// (Japanese names), not starting with a digit; keywords are matched without regard to case.
// One trailing semicolon is allowed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "store/Engine.h"

namespace yubin::db::sql {

enum class ColumnType { Text, Memo, Byte, Long };

struct ColumnSpec {
    std::string name;
    ColumnType type = ColumnType::Text;
    int size = 0;  // characters, for Text
    friend bool operator==(const ColumnSpec&, const ColumnSpec&) = default;
};

struct Comparison {
    std::string column;
    bool notEqual = false;
    Value literal;
};
using Condition = std::vector<Comparison>;  // all must hold

struct CreateTable {
    std::string table;
    std::vector<ColumnSpec> columns;
};
struct CreateIndex {
    std::string name;
    std::string table;
    std::string column;
};
struct DropIndex {
    std::string name;
    std::string table;
};
struct AddPrimaryKey {
    std::string table;
    std::string name;
    std::string column;
};
struct DropConstraint {
    std::string table;
    std::string name;
};
struct Insert {
    std::string table;
    std::vector<std::string> columns;  // empty: every column in table order
    std::vector<Value> values;
};
struct Assignment {
    std::string column;
    Value value;
};
struct Update {
    std::string table;
    std::vector<Assignment> assignments;
    Condition where;
};
struct Delete {
    std::string table;
    Condition where;
};

enum class SelectKind { Column, CountAll, Max, Min };
struct SelectItem {
    SelectKind kind = SelectKind::Column;
    std::string column;  // empty for COUNT(*)
    std::string alias;   // empty when none was given
};
struct Select {
    bool all = false;  // SELECT *
    std::vector<SelectItem> items;
    std::string table;
    Condition where;
    bool aggregate() const { return !all && !items.empty() && items[0].kind != SelectKind::Column; }
};

using Statement = std::variant<CreateTable, CreateIndex, DropIndex, AddPrimaryKey, DropConstraint,
                               Insert, Update, Delete, Select>;

Statement parse(std::string_view text);

// A row-set source, read once: a bare table name gives SELECT * of that table, any other text
// is parsed as a statement (the caller decides whether it may be anything but a SELECT).
Statement parseRowSource(std::string_view text);

// The text with the content of every text literal taken out ('' stands in its place), and the
// contents themselves in text order (with '' inside a literal read as one quote). Two texts of
// one shape parse alike except for those contents. False when a literal is not closed.
bool literalShape(std::string_view text, std::string& shape, std::vector<std::string>& literals);

}  // namespace yubin::db::sql
