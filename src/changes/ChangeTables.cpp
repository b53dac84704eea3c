#include "changes/ChangeTables.h"

#include <string>

#include "base/Text.h"

namespace yubin::changes {

namespace {

// The compared columns as a CREATE TABLE column list.
std::string RowColumnDefinitions() {
    std::string text;
    for (const char* column : kRowColumns) {
        const std::string_view name = column;
        std::string type = "Text(255)";
        if (name == "団体コード") type = "Text(5)";
        if (name == "町域名" || name == "住所かな3") type = "Memo";
        if (name == "取扱郵便局") type = "Text(50)";
        text += std::string(", ") + column + " " + type;
    }
    return text;
}

struct TableDefinition {
    const char* name;
    std::string definition;
    bool hidden;
};

std::array<TableDefinition, 5> KeptTableDefinitions() {
    const std::string rows = RowColumnDefinitions();
    return {{
        {kReportTable,
         "CREATE TABLE 変更報告 (データ Text(8), 取込日時 Text(19), 旧作成日 Text(10), "
         "新作成日 Text(10), 追加 Long, 削除 Long, 変更 Long)",
         false},
        {kDetailTable,
         "CREATE TABLE 変更明細 (データ Text(8), 郵便番号 Text(7), 区分 Text(2), 新旧 Text(1)" +
             rows + ")",
         false},
        {kKeptTable, "CREATE TABLE 変更前データ (データ Text(8), 郵便番号 Text(7)" + rows + ")",
         true},
        {kKeptMastersTable,
         "CREATE TABLE 変更前マスタ (データ Text(8), 表 Text(4), コード Text(5), 名前 Text(255), "
         "かな Text(255))",
         true},
        {kKeptStampTable, "CREATE TABLE 変更前作成日 (データ Text(8), 作成日 Text(10))", true},
    }};
}

const db::TableInfo* FindTable(const std::vector<db::TableInfo>& tables, std::string_view name) {
    for (const db::TableInfo& table : tables) {
        if (EqualsIgnoringAsciiCase(table.name, name)) return &table;
    }
    return nullptr;
}

bool HasTable(const std::vector<db::TableInfo>& tables, std::string_view name) {
    return FindTable(tables, name) != nullptr;
}

}  // namespace

std::string_view DataSetName(DataSet set) {
    return set == DataSet::National ? "ZIPALL" : "JIGYOSYO";
}

const char* ChangeWord(Change change) {
    switch (change) {
        case Change::Added:
            return kAddedWord;
        case Change::Removed:
            return kRemovedWord;
        case Change::Changed:
            break;
    }
    return kChangedWord;
}

void EnsureTables(db::Connection& connection) {
    const std::vector<db::TableInfo> tables = connection.tables(true);
    for (const TableDefinition& wanted : KeptTableDefinitions()) {
        const db::TableInfo* table = FindTable(tables, wanted.name);
        if (table == nullptr) connection.execute(wanted.definition);
        // A table made but not yet hidden when the process ended is hidden now: the kept
        // rows are never listed among the tables other programs see.
        if (wanted.hidden && (table == nullptr || !table->hidden)) {
            connection.setTableAttributes(wanted.name, 1);
        }
    }
}

bool HasReportTables(db::Connection& connection) {
    const std::vector<db::TableInfo> tables = connection.tables(true);
    return HasTable(tables, kReportTable) && HasTable(tables, kDetailTable);
}

}  // namespace yubin::changes
