#include "publish/TablePlan.h"

#include "base/Text.h"
#include "changes/ChangeTables.h"
#include "publish/PgConnection.h"
#include "store/TableScan.h"

namespace yubin::publish {

namespace {

// The file's own working tables: the write probe, the import check-point and the old rows
// kept for the change report of an import (its report itself is published).
constexpr std::string_view kWorkingTables[] = {"DUMMY", "登録中", changes::kKeptTable,
                                               changes::kKeptStampTable};

// Rows are handed to libpq in pieces of about this size.
constexpr size_t kCopyChunk = 1 << 20;

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
                         "取り込みが中断されています。取り込みを最後まで実行してから公開して"
                         "ください。");
    }
    if (HasTable(file, "ZIPALL") && HasRows(file, "ZIPALL") &&
        !(HasKey(file, "xRECNO") && HasKey(file, "x_郵便番号"))) {
        throw YubinError(ErrorCode::PublishUnfinishedImport,
                         "ZIPALL に主キー xRECNO と索引 x_郵便番号 がありません（取り込みがエラー"
                         "で終わっています）。取り込みをやり直してから公開してください。");
    }
}

std::string createTableSql(const PgConnection& pg, const std::string& schema,
                           const TablePlan& plan) {
    std::string sql = "CREATE TABLE " + schema + "." + pg.quoteIdentifier(plan.serverName) + " (";
    for (size_t i = 0; i < plan.columns.size(); ++i) {
        sql += (i > 0 ? ", " : "") + pg.quoteIdentifier(serverName(plan.columns[i].name)) + " " +
               ServerType(plan.columns[i].kind);
    }
    return sql + ")";
}

std::vector<std::string> keySql(const PgConnection& pg, const std::string& schema,
                                const TablePlan& plan) {
    const std::string table = schema + "." + pg.quoteIdentifier(plan.serverName);
    std::vector<std::string> out;
    for (const db::KeyInfo& key : plan.keys) {
        const std::string name = pg.quoteIdentifier(serverName(key.name));
        const std::string column = pg.quoteIdentifier(serverName(key.column));
        if (key.primaryKey) {
            out.push_back("ALTER TABLE " + table + " ADD CONSTRAINT " + name + " PRIMARY KEY (" +
                          column + ")");
        } else {
            out.push_back("CREATE INDEX " + name + " ON " + table + " (" + column + ")");
        }
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

long long copyTable(db::Connection& file, PgConnection& pg, const std::string& schema,
                    const TablePlan& plan, const std::function<void()>& onFirstData) {
    std::vector<std::string> names;
    std::string columnList;
    for (const db::ColumnInfo& column : plan.columns) {
        names.push_back(column.name);
        columnList +=
            (columnList.empty() ? "" : ", ") + pg.quoteIdentifier(serverName(column.name));
    }
    const std::string what = "テーブル " + plan.fileName + " を送れません。";
    // FREEZE: the table was made in this transaction, so its rows need no later visit.
    pg.beginCopy("COPY " + schema + "." + pg.quoteIdentifier(plan.serverName) + " (" + columnList +
                     ") FROM STDIN WITH (FREEZE)",
                 what);
    std::string buffer;
    buffer.reserve(kCopyChunk + 64 * 1024);
    bool sent = false;
    const auto send = [&] {
        if (!buffer.empty()) pg.putCopyData(buffer);
        buffer.clear();
        if (!sent && onFirstData) onFirstData();
        sent = true;
    };
    long long rows = 0;
    db::TableScan scan(file, plan.fileName, names);
    const int count = static_cast<int>(names.size());
    while (scan.next()) {
        for (int i = 0; i < count; ++i) {
            if (i > 0) buffer.push_back('\t');
            if (scan.isNull(i)) {
                buffer.append("\\N");
            } else {
                appendCopyText(buffer, scan.text(i));
            }
        }
        buffer.push_back('\n');
        ++rows;
        if (buffer.size() >= kCopyChunk) send();
    }
    if (!buffer.empty() || !sent) send();
    pg.endCopy(what);
    return rows;
}

}  // namespace yubin::publish
