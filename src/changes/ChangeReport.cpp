#include "changes/ChangeReport.h"

#include <ctime>
#include <unordered_map>

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

const std::string kWhereSet = " WHERE \"データ\" = ?1";

// The ZIPALL columns a row is made of, in this order after the postal code; the prefecture and
// municipality names of a national row come from the masters.
constexpr std::array<const char*, 7> kZipallColumns = {
    "団体コード", "町域名", "住所かな3", "事業所名", "事業所名かな", "丁目番地等", "取扱郵便局"};
constexpr std::array<RowField, 7> kZipallFields = {
    kMunicipalityCode, kTownName, kTownKana, kOfficeName, kOfficeKana, kStreetAddress, kPostOffice};
// Which of them each data set carries.
bool Carries(DataSet set, size_t column) {
    return set == DataSet::National ? column <= 2 : column != 2;
}

// "SELECT 郵便番号, <the columns> FROM ZIPALL WHERE <the data set's rows>"; the columns the
// data set does not carry are Null, each column wrapped as `wrap` says ("%" stands for it).
std::string ZipallRows(DataSet set, const std::string& wrap) {
    const auto wrapped = [&wrap](const std::string& column) {
        std::string text = wrap;
        return text.replace(text.find('%'), 1, column);
    };
    std::string text = "SELECT " + wrapped("\"郵便番号\"");
    for (size_t i = 0; i < kZipallColumns.size(); ++i) {
        text += ", " + (Carries(set, i) ? wrapped(Quote(kZipallColumns[i])) : std::string("NULL"));
    }
    return text + " FROM \"ZIPALL\" WHERE \"データ識別\"" +
           (set == DataSet::National ? " <> '1'" : " = '1'");
}

std::string KeptColumns() {
    std::string text;
    for (const char* column : kZipallColumns) text += ", " + Quote(column);
    return text;
}

// Lets a map with text keys be searched with a string_view.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// The prefecture and municipality names by code, as national rows take them.
struct Masters {
    using Names = std::pair<std::string, std::string>;  // the name and its reading
    using Map = std::unordered_map<std::string, Names, TextHash, std::equal_to<>>;
    Map prefectures, municipalities;

    void read(db::Connection& connection, const std::string& sql, DataSet set, bool kept) {
        db::NativeStatement rows(connection, sql);
        if (kept) rows.bind(1, DataSetName(set));
        while (rows.step()) {
            auto& map = rows.text(0) == "都道府県" ? prefectures : municipalities;
            map.try_emplace(std::string(rows.text(1)), rows.text(2), rows.text(3));
        }
    }
    void fill(RowView& row) const {
        const std::string_view code = row[kMunicipalityCode];
        if (const auto p = prefectures.find(code.substr(0, 2)); p != prefectures.end()) {
            row[kPrefectureName] = p->second.first;
            row[kPrefectureKana] = p->second.second;
        }
        if (const auto m = municipalities.find(code); m != municipalities.end()) {
            row[kMunicipalityName] = m->second.first;
            row[kMunicipalityKana] = m->second.second;
        }
    }
};

// Both masters as rows of (表, コード, 名前, かな).
const char* kMastersNow =
    "SELECT '都道府県' AS t, \"JISX0401\" AS c, ifnull(\"都道府県名\", '') AS n, "
    "ifnull(\"住所かな1\", '') AS k FROM \"都道府県\" UNION ALL SELECT '市町村', \"JISX0402\", "
    "ifnull(\"市町村名\", ''), ifnull(\"住所かな2\", '') FROM \"市町村\"";

// One side of the comparison: its rows (a statement giving the postal code and the columns
// of kZipallColumns) and the masters the national rows take their names from.
class Side {
  public:
    Side(db::Connection& connection, DataSet set, bool kept) : set_(set) {
        if (kept) {
            sql_ = "SELECT \"郵便番号\"" + KeptColumns() + " FROM " + Quote(kKeptTable) + kWhereSet;
        } else {
            sql_ = ZipallRows(set, "%");
        }
        if (set == DataSet::National) {
            masters_.read(connection,
                          kept ? "SELECT \"表\", \"コード\", ifnull(\"名前\", ''), "
                                 "ifnull(\"かな\", '') FROM " +
                                     Quote(kKeptMastersTable) + kWhereSet
                               : kMastersNow,
                          set, kept);
        }
        kept_ = kept;
    }

    // Calls `visit(code, row)` for every row; the texts are valid during the call.
    template <class Visit>
    void forEachRow(db::Connection& connection, Visit visit) const {
        db::NativeStatement rows(connection, sql_);
        if (kept_) rows.bind(1, DataSetName(set_));
        RowView row;
        while (rows.step()) {
            row = {};
            for (size_t i = 0; i < kZipallFields.size(); ++i) {
                row[kZipallFields[i]] = rows.text(static_cast<int>(i) + 1);
            }
            if (set_ == DataSet::National) masters_.fill(row);
            visit(rows.text(0), row);
        }
    }

  private:
    DataSet set_;
    bool kept_ = false;
    std::string sql_;
    Masters masters_;
};

// Writes the rows of the codes the comparison names into 変更明細.
class DetailWriter {
  public:
    DetailWriter(db::Connection& connection, DataSet set)
        : insert_(connection, "INSERT INTO " + Quote(kDetailTable) + " VALUES (?1, ?2, ?3, ?4" +
                                  Parameters() + ")"),
          set_(DataSetName(set)) {}

    void write(Change change, const char* side, std::string_view code, const RowView& row) {
        insert_.bind(1, set_).bind(2, code).bind(3, ChangeWord(change)).bind(4, side);
        for (size_t i = 0; i < kRowFieldCount; ++i) insert_.bind(static_cast<int>(i) + 5, row[i]);
        insert_.run();
    }

  private:
    static std::string Parameters() {
        std::string text;
        for (size_t i = 0; i < kRowFieldCount; ++i) {
            text += ", nullif(?" + std::to_string(i + 5) + ", '')";
        }
        return text;
    }

    db::NativeStatement insert_;
    std::string_view set_;
};

bool KeptFormWaits(db::Connection& connection, DataSet set) {
    db::NativeStatement waiting(connection, "SELECT 1 FROM " + Quote(kKeptStampTable) + kWhereSet);
    waiting.bind(1, DataSetName(set));
    return waiting.step();
}

void Run(db::Connection& connection, const std::string& sql, DataSet set) {
    db::NativeStatement(connection, sql).bind(1, DataSetName(set)).run();
}

void DropKeptForm(db::Connection& connection, DataSet set) {
    for (const char* table : {kKeptTable, kKeptMastersTable, kKeptStampTable}) {
        Run(connection, "DELETE FROM " + Quote(table) + kWhereSet, set);
    }
}

CodeDigests Digests(db::Connection& connection, const Side& side) {
    CodeDigests digests;
    side.forEachRow(connection, [&digests](std::string_view code, const RowView& row) {
        digests.add(code, row);
    });
    digests.finish();
    return digests;
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

bool KeepOldData(db::Connection& connection, DataSet set, OldRows rows) {
    EnsureTables(connection);
    db::NativeTransaction transaction(connection);
    if (KeptFormWaits(connection, set)) {
        if (rows == OldRows::CutShort) return false;
        DropKeptForm(connection, set);
    }
    Run(connection,
        "INSERT INTO " + Quote(kKeptTable) + " (\"データ\", \"郵便番号\"" + KeptColumns() + ") " +
            ZipallRows(set, "nullif(%, '')").replace(0, 6, "SELECT ?1, "),
        set);
    if (set == DataSet::National) {
        Run(connection,
            "INSERT INTO " + Quote(kKeptMastersTable) +
                " SELECT ?1, t, c, nullif(n, ''), nullif(k, '') FROM (" + std::string(kMastersNow) +
                ")",
            set);
    }
    Run(connection,
        "INSERT INTO " + Quote(kKeptStampTable) + " VALUES (?1, (SELECT nullif(" +
            Quote(DataSetName(set)) + ", '') FROM \"作成日\" LIMIT 1))",
        set);
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
        db::NativeStatement before(
            connection, "SELECT ifnull(\"作成日\", '') FROM " + Quote(kKeptStampTable) + kWhereSet);
        if (before.bind(1, name).step()) summary.stampBefore = before.text(0);
        db::NativeStatement after(connection,
                                  "SELECT ifnull(" + Quote(name) + ", '') FROM \"作成日\" LIMIT 1");
        if (after.step()) summary.stampAfter = after.text(0);
    }

    Run(connection, "DELETE FROM " + Quote(kDetailTable) + kWhereSet, set);
    {
        const Side old(connection, set, true);
        const Side now(connection, set, false);
        const CodeDigests before = Digests(connection, old);
        const CodeDigests after = Digests(connection, now);
        const std::vector<CodeChange> changes = CompareDigests(before, after, summary.counts);
        // The rows of the codes that changed; an import into an empty table replaced nothing,
        // and its codes, all of them added, are not listed.
        if (before.codeCount() > 0 && !changes.empty()) {
            DetailWriter details(connection, set);
            for (const auto& [side, word] : {std::pair{&old, kBeforeWord}, {&now, kAfterWord}}) {
                side->forEachRow(connection, [&](std::string_view code, const RowView& row) {
                    if (const CodeChange* change = FindChange(changes, CodeKey(code))) {
                        details.write(change->change, word, code, row);
                    }
                });
            }
        }
    }

    Run(connection, "DELETE FROM " + Quote(kReportTable) + kWhereSet, set);
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
    DropKeptForm(connection, set);
    transaction.commit();
    return summary;
}

void ForgetReport(db::Connection& connection, DataSet set) {
    if (!HasReportTables(connection)) return;
    db::NativeTransaction transaction(connection);
    for (const char* table : {kReportTable, kDetailTable}) {
        Run(connection, "DELETE FROM " + Quote(table) + kWhereSet, set);
    }
    transaction.commit();
}

std::optional<ReportSummary> ReadSummary(db::Connection& connection, DataSet set) {
    if (!HasReportTables(connection)) return std::nullopt;
    db::NativeStatement row(connection,
                            "SELECT ifnull(\"取込日時\", ''), ifnull(\"旧作成日\", ''), "
                            "ifnull(\"新作成日\", ''), \"追加\", \"削除\", \"変更\" FROM " +
                                Quote(kReportTable) + kWhereSet);
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
