#include "changes/ChangeReport.h"

#include <ctime>

#include "store/NativeSql.h"

namespace yubin::changes {

namespace {

std::string Quote(std::string_view name) {
    std::string text = "\"";
    for (char c : name) {
        if (c == '"') text += '"';
        text += c;
    }
    return text + '"';
}

// The data set's rows now, one row a ZIPALL row: c0 the postal code, c1 to c11 the compared
// columns (kRowColumns). The national rows take their prefecture and municipality from the
// masters, as every reader of the database does.
std::string CurrentRows(DataSet set) {
    if (set == DataSet::National) {
        return R"(SELECT z."郵便番号" AS c0, z."団体コード" AS c1, p."都道府県名" AS c2,)"
               R"( p."住所かな1" AS c3, m."市町村名" AS c4, m."住所かな2" AS c5, z."町域名" AS c6,)"
               R"( z."住所かな3" AS c7, NULL AS c8, NULL AS c9, NULL AS c10, NULL AS c11)"
               R"( FROM "ZIPALL" AS z)"
               R"( LEFT JOIN "市町村" AS m ON m."JISX0402" = z."団体コード")"
               R"( LEFT JOIN "都道府県" AS p ON p."JISX0401" = substr(z."団体コード", 1, 2))"
               R"( WHERE z."データ識別" <> '1')";
    }
    return R"(SELECT z."郵便番号" AS c0, z."団体コード" AS c1, NULL AS c2, NULL AS c3,)"
           R"( NULL AS c4, NULL AS c5, z."町域名" AS c6, NULL AS c7, z."事業所名" AS c8,)"
           R"( z."事業所名かな" AS c9, z."丁目番地等" AS c10, z."取扱郵便局" AS c11)"
           R"( FROM "ZIPALL" AS z WHERE z."データ識別" = '1')";
}

// "a", "b", ... for the compared columns, each with the given prefix and suffix.
std::string RowColumnList(const std::string& before, const std::string& after) {
    std::string text;
    for (const char* column : kRowColumns) text += ", " + before + Quote(column) + after;
    return text;
}

// Codes with their rows, from a statement whose rows come in code order: column 0 the code,
// 1 to 11 the compared columns.
class StatementCodeSource : public CodeSource {
  public:
    explicit StatementCodeSource(db::NativeStatement& statement) : statement_(statement) {}

    bool next(CodeRows& out) override {
        if (!started_) {
            hasRow_ = statement_.step();
            started_ = true;
        }
        if (!hasRow_) return false;
        out.code.assign(statement_.text(0));
        out.rows.clear();
        do {
            RowValues& row = out.rows.emplace_back();
            for (size_t i = 0; i < kRowFieldCount; ++i) {
                row[i].assign(statement_.text(static_cast<int>(i) + 1));
            }
            hasRow_ = statement_.step();
        } while (hasRow_ && statement_.text(0) == out.code);
        NormalizeRows(out.rows);
        return true;
    }

  private:
    db::NativeStatement& statement_;
    bool started_ = false;
    bool hasRow_ = false;
};

// Writes the rows of every code the comparison names into 変更明細.
class DetailWriter {
  public:
    DetailWriter(db::Connection& connection, DataSet set)
        : insert_(connection, "INSERT INTO " + Quote(kDetailTable) + " VALUES (?1, ?2, ?3, ?4" +
                                  Parameters() + ")"),
          set_(DataSetName(set)) {}

    void write(Change change, const CodeRows& before, const CodeRows& after) {
        const char* word = ChangeWord(change);
        for (const RowValues& row : before.rows) insert(word, kBeforeWord, before.code, row);
        for (const RowValues& row : after.rows) insert(word, kAfterWord, after.code, row);
    }

  private:
    static std::string Parameters() {
        std::string text;
        for (size_t i = 0; i < kRowFieldCount; ++i) {
            text += ", nullif(?" + std::to_string(i + 5) + ", '')";
        }
        return text;
    }
    void insert(const char* change, const char* side, const std::string& code,
                const RowValues& row) {
        insert_.bind(1, set_).bind(2, code).bind(3, change).bind(4, side);
        for (size_t i = 0; i < kRowFieldCount; ++i) insert_.bind(static_cast<int>(i) + 5, row[i]);
        insert_.run();
    }

    db::NativeStatement insert_;
    std::string_view set_;
};

bool KeptFormWaits(db::Connection& connection, DataSet set) {
    db::NativeStatement waiting(
        connection, "SELECT 1 FROM " + Quote(kKeptStampTable) + " WHERE \"データ\" = ?1");
    waiting.bind(1, DataSetName(set));
    return waiting.step();
}

}  // namespace

std::string LocalTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool KeepOldData(db::Connection& connection, DataSet set) {
    EnsureTables(connection);
    db::NativeTransaction transaction(connection);
    if (KeptFormWaits(connection, set)) return false;
    std::string copy = "INSERT INTO " + Quote(kKeptTable) + " (\"データ\", \"郵便番号\"" +
                       RowColumnList("", "") + ") SELECT ?1";
    for (int i = 0; i <= static_cast<int>(kRowFieldCount); ++i) {
        copy += ", nullif(c" + std::to_string(i) + ", '')";
    }
    // In code order: the report reads them back in the order they were stored.
    copy += " FROM (" + CurrentRows(set) + ") ORDER BY c0";
    db::NativeStatement(connection, copy).bind(1, DataSetName(set)).run();
    db::NativeStatement stamp(
        connection, "INSERT INTO " + Quote(kKeptStampTable) + " VALUES (?1, (SELECT nullif(" +
                        Quote(DataSetName(set)) + ", '') FROM \"作成日\" LIMIT 1))");
    stamp.bind(1, DataSetName(set)).run();
    transaction.commit();
    return true;
}

std::optional<ReportSummary> MakeReport(db::Connection& connection, DataSet set,
                                        std::string importedAt) {
    if (!HasReportTables(connection)) return std::nullopt;
    EnsureTables(connection);
    db::NativeTransaction transaction(connection);
    if (!KeptFormWaits(connection, set)) return std::nullopt;
    const std::string_view name = DataSetName(set);

    ReportSummary summary;
    summary.set = set;
    summary.importedAt = importedAt.empty() ? LocalTimestamp() : std::move(importedAt);
    {
        db::NativeStatement before(connection, "SELECT ifnull(\"作成日\", '') FROM " +
                                                   Quote(kKeptStampTable) +
                                                   " WHERE \"データ\" = ?1");
        if (before.bind(1, name).step()) summary.stampBefore = before.text(0);
        db::NativeStatement after(connection,
                                  "SELECT ifnull(" + Quote(name) + ", '') FROM \"作成日\" LIMIT 1");
        if (after.step()) summary.stampAfter = after.text(0);
    }

    db::NativeStatement(connection, "DELETE FROM " + Quote(kDetailTable) + " WHERE \"データ\" = ?1")
        .bind(1, name)
        .run();
    {
        db::NativeStatement kept(connection, "SELECT \"郵便番号\"" + RowColumnList("", "") +
                                                 " FROM " + Quote(kKeptTable) +
                                                 " WHERE \"データ\" = ?1 ORDER BY rowid");
        kept.bind(1, name);
        std::string current = "SELECT c0";
        for (size_t i = 1; i <= kRowFieldCount; ++i) current += ", c" + std::to_string(i);
        db::NativeStatement now(connection,
                                current + " FROM (" + CurrentRows(set) + ") ORDER BY c0");
        StatementCodeSource beforeCodes(kept);
        StatementCodeSource afterCodes(now);
        DetailWriter details(connection, set);
        summary.counts =
            CompareCodes(beforeCodes, afterCodes,
                         [&details](Change change, const CodeRows& before, const CodeRows& after) {
                             details.write(change, before, after);
                         });
    }

    const std::string where = " WHERE \"データ\" = ?1";
    db::NativeStatement(connection, "DELETE FROM " + Quote(kReportTable) + where)
        .bind(1, name)
        .run();
    db::NativeStatement report(connection, "INSERT INTO " + Quote(kReportTable) +
                                               " VALUES (?1, ?2, nullif(?3, ''), nullif(?4, ''), "
                                               "?5, ?6, ?7)");
    report.bind(1, name)
        .bind(2, summary.importedAt)
        .bind(3, summary.stampBefore)
        .bind(4, summary.stampAfter)
        .bind(5, summary.counts.added)
        .bind(6, summary.counts.removed)
        .bind(7, summary.counts.changed)
        .run();
    db::NativeStatement(connection, "DELETE FROM " + Quote(kKeptTable) + where).bind(1, name).run();
    db::NativeStatement(connection, "DELETE FROM " + Quote(kKeptStampTable) + where)
        .bind(1, name)
        .run();
    transaction.commit();
    return summary;
}

std::optional<ReportSummary> ReadSummary(db::Connection& connection, DataSet set) {
    if (!HasReportTables(connection)) return std::nullopt;
    db::NativeStatement row(connection,
                            "SELECT ifnull(\"取込日時\", ''), ifnull(\"旧作成日\", ''), "
                            "ifnull(\"新作成日\", ''), \"追加\", \"削除\", \"変更\" FROM " +
                                Quote(kReportTable) + " WHERE \"データ\" = ?1");
    row.bind(1, DataSetName(set));
    if (!row.step()) return std::nullopt;
    ReportSummary summary;
    summary.set = set;
    summary.importedAt = row.text(0);
    summary.stampBefore = row.text(1);
    summary.stampAfter = row.text(2);
    summary.counts = {row.number(3), row.number(4), row.number(5)};
    return summary;
}

}  // namespace yubin::changes
