// Which tables of the database file are published and how they look on the server.
//
// Every table of the file is published except the file's own working tables (the write probe
// DUMMY and the import check-point 登録中), so a table that a later version adds is carried
// without change here. Names keep their spelling with ASCII letters in lower case, the form
// PostgreSQL gives unquoted names, so that the statements written for the file (SELECT 郵便番号
// FROM ZIPALL WHERE RECNO = 1) run unchanged on the server. Text and Memo columns become text,
// Byte and Long integer; primary keys and indexes keep their names.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/Engine.h"

namespace yubin::publish {

class PgConnection;

struct TablePlan {
    std::string fileName;    // in the database file
    std::string serverName;  // on the server
    std::vector<db::ColumnInfo> columns;
    std::vector<db::KeyInfo> keys;  // the keys and indexes on this table
};

// The server's spelling of a file's name: ASCII letters in lower case.
std::string serverName(std::string_view fileName);

// The tables to publish, in the file's order.
std::vector<TablePlan> planTables(db::Connection& file);

// PublishUnfinishedImport when the file holds the check-point of an interrupted import, or
// ZIPALL holds rows without the key and index a finished import makes (a run that failed).
void requireFinishedImport(db::Connection& file);

// CREATE TABLE for the plan in the (quoted) schema, without keys; a primary key's column is
// NOT NULL already (the file refuses Null there), so the key can later take its index as it is.
std::string createTableSql(const PgConnection& pg, const std::string& schema,
                           const TablePlan& plan);

// One key or index: the index built (each on its own, so that several build at once), then,
// for a primary key, the constraint that takes the index over under the same name.
struct IndexStatements {
    std::string build;
    std::string constraint;  // empty for an ordinary index
};
std::vector<IndexStatements> indexSql(const PgConnection& pg, const std::string& schema,
                                      const TablePlan& plan);

// Copies the plan's rows from the file into the server's table with COPY (binary format),
// handing the rows in pieces to the streams in turn so that their server processes parse at
// the same time, and returns their number. `onFirstData` is called once, after the first rows
// have been sent and while the COPY is still open.
long long copyTable(db::Connection& file, const std::vector<PgConnection*>& streams,
                    const std::string& schema, const TablePlan& plan,
                    const std::function<void()>& onFirstData);

// Appends one field in COPY's text format (what psql's \copy reads): backslash, tab, line feed
// and carriage return escaped.
void appendCopyText(std::string& out, std::string_view text);

}  // namespace yubin::publish
