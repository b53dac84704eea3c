#include "publish/TablePlan.h"

#include <cstdint>

#include "base/Text.h"
#include "changes/ChangeTables.h"
#include "publish/PgConnection.h"
#include "store/TableScan.h"

namespace yubin::publish {

namespace {

// The file's own working tables: the write probe, the import check-point and the old rows
// kept for the change report of an import (its report itself is published).
constexpr std::string_view kWorkingTables[] = {
    "DUMMY", "登録中", changes::kKeptTable, changes::kKeptMastersTable, changes::kKeptStampTable};

// Rows are handed to libpq in pieces of about this size, each to the next stream.
constexpr size_t kCopyChunk = 256 * 1024;

bool IsWorkingTable(std::string_view name) {
    for (std::string_view working : kWorkingTables) {
        if (EqualsIgnoringAsciiCase(name, working)) return true;
    }
    return false;
}

bool HasTable(db::Connection& file, std::string_view name) {
    for (const db::TableInfo& info : file.tables(true)) {
        if (EqualsIgnoringAsciiCase(info.name, name)) return true;
    }
    return false;
}

bool HasRows(db::Connection& file, const std::string& table) {
    db::Recordset rows;
    rows.open(table, file, db::CursorType::ForwardOnly, db::LockType::ReadOnly);
    return !rows.eof();
}

bool IsPrimaryKeyColumn(const TablePlan& plan, std::string_view column) {
    for (const db::KeyInfo& key : plan.keys) {
        if (key.primaryKey && EqualsIgnoringAsciiCase(key.column, column)) return true;
    }
    return false;
}

bool HasKey(db::Connection& file, std::string_view name) {
    for (const db::KeyInfo& key : file.keys()) {
        if (EqualsIgnoringAsciiCase(key.name, name)) return true;
    }
    return false;
}

const char* ServerType(db::ColumnKind kind) {
    switch (kind) {
        case db::ColumnKind::Byte:
        case db::ColumnKind::Long:
            return "integer";
        case db::ColumnKind::Text:
        case db::ColumnKind::Memo:
            break;
    }
    return "text";
}

}  // namespace

std::string serverName(std::string_view fileName) { return AsciiLower(std::string(fileName)); }

std::vector<TablePlan> planTables(db::Connection& file) {
    const std::vector<db::KeyInfo> keys = file.keys();
    std::vector<TablePlan> plans;
    for (const db::TableInfo& table : file.tables(true)) {
        if (IsWorkingTable(table.name)) continue;
        TablePlan plan{table.name, serverName(table.name), file.columns(table.name), {}};
        for (const db::KeyInfo& key : keys) {
            if (EqualsIgnoringAsciiCase(key.table, table.name)) plan.keys.push_back(key);
        }
        plans.push_back(std::move(plan));
    }
    return plans;
}

void requireFinishedImport(db::Connection& file) {
    if (HasTable(file, "登録中") && HasRows(file, "登録中")) {
        throw YubinError(ErrorCode::PublishUnfinishedImport,
                         Message("取り込みが中断されています。取り込みを最後まで実行してから公開"
                                 "してください。"));
    }
    if (HasTable(file, "ZIPALL") && HasRows(file, "ZIPALL") &&
        !(HasKey(file, "xRECNO") && HasKey(file, "x_郵便番号"))) {
        throw YubinError(ErrorCode::PublishUnfinishedImport,
                         Message("ZIPALL に主キー xRECNO と索引 x_郵便番号 がありません（取り込みが"
                                 "エラーで終わっています）。取り込みをやり直してから公開してくださ"
                                 "い。"));
    }
}

std::string createTableSql(const PgConnection& pg, const std::string& schema,
                           const TablePlan& plan) {
    std::string sql = "CREATE TABLE " + schema + "." + pg.quoteIdentifier(plan.serverName) + " (";
    for (size_t i = 0; i < plan.columns.size(); ++i) {
        const db::ColumnInfo& column = plan.columns[i];
        sql += (i > 0 ? ", " : "") + pg.quoteIdentifier(serverName(column.name)) + " " +
               ServerType(column.kind) + (IsPrimaryKeyColumn(plan, column.name) ? " NOT NULL" : "");
    }
    return sql + ")";
}

std::vector<IndexStatements> indexSql(const PgConnection& pg, const std::string& schema,
                                      const TablePlan& plan) {
    const std::string table = schema + "." + pg.quoteIdentifier(plan.serverName);
    std::vector<IndexStatements> out;
    for (const db::KeyInfo& key : plan.keys) {
        const std::string name = pg.quoteIdentifier(serverName(key.name));
        const std::string column = pg.quoteIdentifier(serverName(key.column));
        IndexStatements statements;
        statements.build = std::string(key.primaryKey ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                           name + " ON " + table + " (" + column + ")";
        if (key.primaryKey) {
            statements.constraint = "ALTER TABLE " + table + " ADD CONSTRAINT " + name +
                                    " PRIMARY KEY USING INDEX " + name;
        }
        out.push_back(std::move(statements));
    }
    return out;
}

void appendCopyText(std::string& out, std::string_view text) {
    size_t plain = 0;  // start of the run not yet appended
    for (size_t i = 0; i < text.size(); ++i) {
        char escape = 0;
        switch (text[i]) {
            case '\\':
                escape = '\\';
                break;
            case '\t':
                escape = 't';
                break;
            case '\n':
                escape = 'n';
                break;
            case '\r':
                escape = 'r';
                break;
            default:
                continue;
        }
        out.append(text.substr(plain, i - plain));
        out.push_back('\\');
        out.push_back(escape);
        plain = i + 1;
    }
    out.append(text.substr(plain));
}

namespace {

// COPY's binary format: the signature, no flags, no header extension; -1 fields end it.
constexpr char kBinaryHeader[] = "PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0";
constexpr size_t kBinaryHeaderSize = 19;
constexpr char kBinaryTrailer[] = "\377\377";

void AppendInt32(std::string& out, uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.append(bytes, 4);
}

void AppendInt16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value));
}

// One row in COPY's binary format: the field count, then each field's length (-1 for Null)
// and its bytes: the UTF-8 text, or the integer in four bytes, most significant first.
void AppendBinaryRow(std::string& out, const db::TableScan& scan,
                     const std::vector<bool>& numeric) {
    AppendInt16(out, static_cast<uint16_t>(numeric.size()));
    for (int i = 0; i < static_cast<int>(numeric.size()); ++i) {
        if (scan.isNull(i)) {
            AppendInt32(out, 0xFFFFFFFFu);
        } else if (numeric[i]) {
            AppendInt32(out, 4);
            AppendInt32(out, static_cast<uint32_t>(static_cast<int32_t>(scan.number(i))));
        } else {
            const std::string_view text = scan.text(i);
            AppendInt32(out, static_cast<uint32_t>(text.size()));
            out.append(text);
        }
    }
}

long long copyRows(db::Connection& file, const std::vector<PgConnection*>& streams,
                   const TablePlan& plan, const std::function<void()>& onFirstData,
                   const std::string& what) {
    std::vector<std::string> names;
    std::vector<bool> numeric;
    for (const db::ColumnInfo& column : plan.columns) {
        names.push_back(column.name);
        numeric.push_back(column.kind == db::ColumnKind::Byte ||
                          column.kind == db::ColumnKind::Long);
    }
    for (PgConnection* stream : streams) {
        stream->putCopyData(std::string_view(kBinaryHeader, kBinaryHeaderSize));
    }
    std::string buffer;
    buffer.reserve(kCopyChunk + 64 * 1024);
    size_t next = 0;  // the stream for the next piece
    bool sent = false;
    const auto send = [&] {
        if (!buffer.empty()) streams[next]->putCopyData(buffer);
        next = (next + 1) % streams.size();
        buffer.clear();
        if (!sent && onFirstData) onFirstData();
        sent = true;
    };
    long long rows = 0;
    db::TableScan scan(file, plan.fileName, names);
    while (scan.next()) {
        AppendBinaryRow(buffer, scan, numeric);
        ++rows;
        if (buffer.size() >= kCopyChunk) send();
    }
    if (!buffer.empty() || !sent) send();
    for (PgConnection* stream : streams) {
        stream->putCopyData(std::string_view(kBinaryTrailer, 2));
        stream->endCopy(what);
    }
    return rows;
}

}  // namespace

long long copyTable(db::Connection& file, const std::vector<PgConnection*>& streams,
                    const std::string& schema, const TablePlan& plan,
                    const std::function<void()>& onFirstData) {
    PgConnection& first = *streams.front();
    std::string columnList;
    for (const db::ColumnInfo& column : plan.columns) {
        columnList +=
            (columnList.empty() ? "" : ", ") + first.quoteIdentifier(serverName(column.name));
    }
    const std::string what = "テーブル " + plan.fileName + " を送れません。";
    const std::string copy = "COPY " + schema + "." + first.quoteIdentifier(plan.serverName) +
                             " (" + columnList + ") FROM STDIN WITH (FORMAT binary)";
    try {
        for (PgConnection* stream : streams) stream->beginCopy(copy, what);
        return copyRows(file, streams, plan, onFirstData, what);
    } catch (const YubinError&) {
        for (PgConnection* stream : streams) stream->abandonCopy();
        throw;
    }
}

}  // namespace yubin::publish
