#include "changes/ChangePrint.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/Message.h"
#include "changes/ChangeReport.h"
#include "store/NativeSql.h"

namespace yubin::changes {

namespace {

// One code of a report: its kind of change and its rows before and after.
struct CodeEntry {
    std::string code;
    std::string change;
    std::vector<RowValues> before, after;
};

// The codes of a data set's report in code order, read from 変更明細.
class DetailReader {
  public:
    DetailReader(db::Connection& connection, DataSet set)
        : rows_(connection,
                "SELECT ifnull(\"郵便番号\", ''), ifnull(\"区分\", ''), "
                "ifnull(\"新旧\", '')" +
                    Columns() +
                    " FROM \"変更明細\" WHERE \"データ\" = ?1 "
                    "ORDER BY \"郵便番号\", \"新旧\" DESC, rowid") {
        rows_.bind(1, DataSetName(set));
        hasRow_ = rows_.step();
    }

    bool next(CodeEntry& entry) {
        if (!hasRow_) return false;
        entry.code.assign(rows_.text(0));
        entry.change.assign(rows_.text(1));
        entry.before.clear();
        entry.after.clear();
        do {
            RowValues& row =
                (rows_.text(2) == kBeforeWord ? entry.before : entry.after).emplace_back();
            for (size_t i = 0; i < kRowFieldCount; ++i) {
                row[i].assign(rows_.text(static_cast<int>(i) + 3));
            }
            hasRow_ = rows_.step();
        } while (hasRow_ && rows_.text(0) == entry.code);
        return true;
    }

  private:
    static std::string Columns() {
        std::string text;
        for (const char* column : kRowColumns) text += std::string(", \"") + column + '"';
        return text;
    }

    db::NativeStatement rows_;
    bool hasRow_ = false;
};

// The compared columns a data set uses.
std::vector<size_t> UsedFields(DataSet set) {
    if (set == DataSet::National) {
        return {kMunicipalityCode, kPrefectureName, kPrefectureKana, kMunicipalityName,
                kMunicipalityKana, kTownName,       kTownKana};
    }
    return {kMunicipalityCode, kTownName, kOfficeName, kOfficeKana, kStreetAddress, kPostOffice};
}

struct PrefectureLine {
    std::string code;
    std::string name;
    ChangeCounts counts;
};

// The prefecture master's names by code.
std::map<std::string, std::string> PrefectureNames(db::Connection& connection) {
    std::map<std::string, std::string> names;
    db::NativeStatement rows(connection,
                             "SELECT ifnull(\"JISX0401\", ''), ifnull(\"都道府県名\", '') "
                             "FROM \"都道府県\"");
    while (rows.step()) names.emplace(rows.text(0), rows.text(1));
    return names;
}

// The counts per prefecture: a code counts where its rows after lie (before, when removed).
std::vector<PrefectureLine> CountByPrefecture(db::Connection& connection, DataSet set) {
    const std::map<std::string, std::string> masters = PrefectureNames(connection);
    std::map<std::string, PrefectureLine> lines;
    DetailReader reader(connection, set);
    CodeEntry entry;
    while (reader.next(entry)) {
        const std::vector<RowValues>& rows = entry.after.empty() ? entry.before : entry.after;
        if (rows.empty()) continue;
        const std::string code = rows.front()[kMunicipalityCode].substr(0, 2);
        PrefectureLine& line = lines[code];
        if (line.code.empty()) {
            line.code = code;
            const auto master = masters.find(code);
            line.name = master != masters.end() ? master->second : rows.front()[kPrefectureName];
        }
        if (entry.change == kAddedWord) ++line.counts.added;
        if (entry.change == kRemovedWord) ++line.counts.removed;
        if (entry.change == kChangedWord) ++line.counts.changed;
    }
    std::vector<PrefectureLine> out;
    for (auto& [code, line] : lines) out.push_back(std::move(line));
    return out;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string TsvField(std::string_view text) {
    std::string field(text);
    std::replace_if(
        field.begin(), field.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; },
        ' ');
    return field;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + '"';
}

const char* JsonChange(std::string_view word) {
    if (word == kAddedWord) return "added";
    if (word == kRemovedWord) return "removed";
    return "changed";
}

// The text report is read by people: in the command line's language (base/Translation.h).
const char* SetTitle(DataSet set) {
    return set == DataSet::National ? Tr("全国版郵便番号データ") : Tr("事業所個別郵便番号データ");
}

std::string CountsText(const ChangeCounts& counts) {
    return Format(Tr("追加 {1}  削除 {2}  変更 {3}"), counts.added, counts.removed, counts.changed);
}

// A word of the tables (追加, 旧, ...) as the text shows it.
std::string WordText(const std::string& word) {
    if (word == kAddedWord) return Tr("追加");
    if (word == kRemovedWord) return Tr("削除");
    if (word == kChangedWord) return Tr("変更");
    if (word == kBeforeWord) return Tr("旧");
    if (word == kAfterWord) return Tr("新");
    return word;
}

// One row for people: the address and names (the office, its reading, address and post office).
std::string RowText(DataSet set, const RowValues& row) {
    if (set == DataSet::National) {
        return row[kMunicipalityCode] + " " + row[kPrefectureName] + " " + row[kMunicipalityName] +
               " " + row[kTownName] + "（" + row[kPrefectureKana] + " " + row[kMunicipalityKana] +
               " " + row[kTownKana] + "）";
    }
    return row[kMunicipalityCode] + " " + row[kOfficeName] + "（" + row[kOfficeKana] + "） " +
           row[kTownName] + row[kStreetAddress] + " " + Format(Tr("取扱局 {1}"), row[kPostOffice]);
}

void PrintText(db::Connection& connection, DataSet set, const std::optional<ReportSummary>& summary,
               std::ostream& out) {
    out << "【" << SetTitle(set) << "】\n";
    if (!summary) {
        out << "  " << Tr("変更報告はありません") << "\n";
        return;
    }
    out << "  " << Format(Tr("取込日時: {1}"), summary->importedAt) << "\n"
        << "  "
        << Format(Tr("作成日: {1} -> {2}"),
                  summary->stampBefore.empty() ? "-" : summary->stampBefore,
                  summary->stampAfter.empty() ? "-" : summary->stampAfter)
        << "\n"
        << "  " << CountsText(summary->counts) << "\n";
    const std::vector<PrefectureLine> prefectures = CountByPrefecture(connection, set);
    if (!prefectures.empty()) out << "  " << Tr("都道府県別:") << "\n";
    for (const PrefectureLine& line : prefectures) {
        out << "    " << line.code << " " << line.name << "  " << CountsText(line.counts) << "\n";
    }
    DetailReader reader(connection, set);
    CodeEntry entry;
    bool listed = false;
    while (reader.next(entry)) {
        listed = true;
        out << "  " << entry.code << " " << WordText(entry.change) << "\n";
        for (const RowValues& row : entry.before) {
            out << "    " << WordText(kBeforeWord) << " " << RowText(set, row) << "\n";
        }
        for (const RowValues& row : entry.after) {
            out << "    " << WordText(kAfterWord) << " " << RowText(set, row) << "\n";
        }
    }
    if (!listed && summary->counts.added > 0) {
        out << "  " << Tr("最初の取り込みのため、郵便番号の一覧はありません") << "\n";
    }
}

class TableWriter {
  public:
    TableWriter(std::ostream& out, bool csv) : out_(out), csv_(csv) {}
    void line(const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out_ << (csv_ ? ',' : '\t');
            out_ << (csv_ ? CsvField(fields[i]) : TsvField(fields[i]));
        }
        out_ << (csv_ ? "\r\n" : "\n");
    }
    void blank() { out_ << (csv_ ? "\r\n" : "\n"); }

  private:
    std::ostream& out_;
    bool csv_;
};

void PrintTables(db::Connection& connection, std::span<const DataSet> sets,
                 const std::vector<std::optional<ReportSummary>>& summaries, bool csv,
                 std::ostream& out) {
    TableWriter table(out, csv);
    table.line({"データ", "取込日時", "旧作成日", "新作成日", "都道府県", "都道府県名", "追加",
                "削除", "変更"});
    for (size_t i = 0; i < sets.size(); ++i) {
        const std::optional<ReportSummary>& s = summaries[i];
        if (!s) continue;
        const std::string name(DataSetName(sets[i]));
        const auto counts = [&](const PrefectureLine& line) {
            table.line({name, s->importedAt, s->stampBefore, s->stampAfter, line.code, line.name,
                        std::to_string(line.counts.added), std::to_string(line.counts.removed),
                        std::to_string(line.counts.changed)});
        };
        counts({"", "", s->counts});
        for (const PrefectureLine& line : CountByPrefecture(connection, sets[i])) counts(line);
    }
    table.blank();
    std::vector<std::string> header = {"データ", "郵便番号", "区分", "新旧"};
    header.insert(header.end(), kRowColumns.begin(), kRowColumns.end());
    table.line(header);
    for (size_t i = 0; i < sets.size(); ++i) {
        if (!summaries[i]) continue;
        const std::string name(DataSetName(sets[i]));
        DetailReader reader(connection, sets[i]);
        CodeEntry entry;
        while (reader.next(entry)) {
            for (const auto* rows : {&entry.before, &entry.after}) {
                for (const RowValues& row : *rows) {
                    std::vector<std::string> fields = {
                        name, entry.code, entry.change,
                        rows == &entry.before ? kBeforeWord : kAfterWord};
                    fields.insert(fields.end(), row.begin(), row.end());
                    table.line(fields);
                }
            }
        }
    }
}

std::string JsonCounts(const ChangeCounts& counts) {
    return "\"added\":" + std::to_string(counts.added) +
           ",\"removed\":" + std::to_string(counts.removed) +
           ",\"changed\":" + std::to_string(counts.changed);
}

std::string JsonRows(DataSet set, const std::vector<RowValues>& rows) {
    std::string text = "[";
    for (size_t r = 0; r < rows.size(); ++r) {
        if (r > 0) text += ',';
        text += '{';
        bool first = true;
        for (size_t field : UsedFields(set)) {
            if (!first) text += ',';
            first = false;
            text += JsonString(kRowColumns[field]) + ':' + JsonString(rows[r][field]);
        }
        text += '}';
    }
    return text + ']';
}

void PrintJson(db::Connection& connection, DataSet set, const ReportSummary& s, std::ostream& out) {
    out << "{\"data\":" << JsonString(DataSetName(set))
        << ",\"importedAt\":" << JsonString(s.importedAt)
        << ",\"dateBefore\":" << (s.stampBefore.empty() ? "null" : JsonString(s.stampBefore))
        << ",\"dateAfter\":" << (s.stampAfter.empty() ? "null" : JsonString(s.stampAfter)) << ','
        << JsonCounts(s.counts) << ",\"prefectures\":[";
    bool first = true;
    for (const PrefectureLine& line : CountByPrefecture(connection, set)) {
        out << (first ? "" : ",") << "{\"code\":" << JsonString(line.code)
            << ",\"name\":" << JsonString(line.name) << ',' << JsonCounts(line.counts) << '}';
        first = false;
    }
    out << "],\"codes\":[";
    first = true;
    DetailReader reader(connection, set);
    CodeEntry entry;
    while (reader.next(entry)) {
        out << (first ? "\n" : ",\n") << "{\"code\":" << JsonString(entry.code) << ",\"change\":\""
            << JsonChange(entry.change) << "\",\"before\":" << JsonRows(set, entry.before)
            << ",\"after\":" << JsonRows(set, entry.after) << '}';
        first = false;
    }
    out << "]}";
}

}  // namespace

std::optional<ReportFormat> ParseReportFormat(std::string_view text) {
    if (text == "text") return ReportFormat::Text;
    if (text == "tsv") return ReportFormat::Tsv;
    if (text == "csv") return ReportFormat::Csv;
    if (text == "json") return ReportFormat::Json;
    return std::nullopt;
}

int PrintReports(db::Connection& connection, std::span<const DataSet> sets, ReportFormat format,
                 std::ostream& out) {
    std::vector<std::optional<ReportSummary>> summaries;
    int found = 0;
    for (DataSet set : sets) {
        summaries.push_back(ReadSummary(connection, set));
        if (summaries.back()) ++found;
    }
    switch (format) {
        case ReportFormat::Text:
            for (size_t i = 0; i < sets.size(); ++i)
                PrintText(connection, sets[i], summaries[i], out);
            break;
        case ReportFormat::Tsv:
        case ReportFormat::Csv:
            PrintTables(connection, sets, summaries, format == ReportFormat::Csv, out);
            break;
        case ReportFormat::Json:
            out << '{';
            for (size_t i = 0; i < sets.size(); ++i) {
                out << (i > 0 ? ",\n" : "")
                    << (sets[i] == DataSet::National ? "\"national\":" : "\"office\":");
                if (summaries[i]) {
                    PrintJson(connection, sets[i], *summaries[i], out);
                } else {
                    out << "null";
                }
            }
            out << "}\n";
            break;
    }
    out.flush();
    return found;
}

}  // namespace yubin::changes
