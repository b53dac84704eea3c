#include "import/DataFileCheck.h"

#include <array>
#include <cassert>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_set>
#include <variant>

#include "import/DataLineError.h"
#include "import/JigyosyoReader.h"
#include "import/KenAllReader.h"
#include "store/RowRules.h"

namespace yubin::import {

namespace {

using db::Value;

// Texts in a set searched by string_view.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>{}(text);
    }
};
using CodeSet = std::unordered_set<std::string, TextHash, std::equal_to<>>;

// The values of one row, checked column by column; the texts keep their buffers from row to row.
// A value equal to the one the column passed before passes again without a second look (the
// files repeat most values from record to record).
class RowCheck {
  public:
    RowCheck(db::Connection& connection, const char* table, std::span<const std::string> names)
        : rules_(connection, table, names),
          values_(names.size(), Value("")),
          passed_(names.size(), false) {}

    void text(std::size_t position, std::string_view text) {
        Value& value = values_.at(position);
        if (passed_[position] && value.text() == text) return;
        passed_[position] = false;
        value.assignText(text);
        rules_.check(position, value);
        passed_[position] = true;
    }

  private:
    db::RowRules rules_;
    std::vector<Value> values_;
    std::vector<bool> passed_;
};

// The codes of a master table that will still be there when the engine looks them up.
CodeSet ReadCodes(db::Connection& connection, const std::string& select, const char* column) {
    CodeSet codes;
    db::Recordset rs;
    rs.open(select, connection, db::CursorType::ForwardOnly, db::LockType::ReadOnly);
    for (; !rs.eof(); rs.moveNext()) codes.insert(rs.field(column).value().toText());
    return codes;
}

// ZIPALL's columns that a national group fills, in the order of ZipGroup::row.
const std::array<std::string, 11> kNationalColumns = {
    "団体コード", "旧郵便番号", "郵便番号", "住所かな3", "町域名", "flag1",
    "flag2",      "flag3",      "ダブり",   "flag4",     "flag5"};
const std::array<std::string, 3> kPrefectureColumns = {"JISX0401", "都道府県名", "住所かな1"};
const std::array<std::string, 3> kCityColumns = {"JISX0402", "市町村名", "住所かな2"};

// What the national check holds against: read from the database when it is made.
struct NationalCheck {
    NationalCheck(db::Connection& connection, bool resuming)
        // The fresh import deletes the prefectures and the municipalities of national data;
        // the placeholders of the business-office data stay, and a resumed import deletes
        // nothing.
        : prefectures(resuming ? ReadCodes(connection, "SELECT * FROM 都道府県", "JISX0401")
                               : CodeSet()),
          cities(ReadCodes(
              connection,
              resuming ? "SELECT * FROM 市町村" : "SELECT * FROM 市町村 WHERE 抹消FLAG = 1",
              "JISX0402")),
          row(connection, "ZIPALL", kNationalColumns),
          prefecture(connection, "都道府県", kPrefectureColumns),
          city(connection, "市町村", kCityColumns) {}

    CodeSet prefectures;
    CodeSet cities;
    RowCheck row;
    RowCheck prefecture;
    RowCheck city;
};

CheckedFile CheckNational(const std::string& path, NationalCheck& check, const CheckTick& tick) {
    auto& [prefectures, cities, row, prefecture, city] = check;
    // The check reads the lines the import will read again: the program-wide line count stays
    // the import's own. (Only the check's thread counts meanwhile.)
    struct LineCountKept {
        long long saved = lngLineCount;
        ~LineCountKept() { lngLineCount = saved; }
    } kept;

    CheckedFile checked;
    KenAllReader reader(path);
    long long groupStartLine = 1;
    auto checkGroup = [&](const ZipGroup& group, long long line) {
        try {
            if (prefectures.find(group.prefCode) == prefectures.end()) {
                prefecture.text(0, group.prefCode);
                prefecture.text(1, group.prefName);
                prefecture.text(2, group.prefKana);
                prefectures.emplace(group.prefCode);
            }
            if (cities.find(group.cityCode) == cities.end()) {
                city.text(0, group.cityCode);
                city.text(1, group.cityName);
                city.text(2, group.cityKana);
                cities.emplace(group.cityCode);
            }
            for (std::size_t c = 0; c < group.row.size(); ++c) row.text(c, group.row[c]);
        } catch (const YubinError& error) {
            RethrowForDataLine(error, path, line);
        }
        ++checked.records;
    };
    while (reader.readLine()) {
        if (tick) tick();
        if (const ZipGroup* group = reader.mergeLine()) {
            checkGroup(*group, groupStartLine);
            groupStartLine = reader.lineNumber();
        }
    }
    if (const ZipGroup* group = reader.finish()) checkGroup(*group, groupStartLine);
    checked.lines = reader.lineNumber();
    checked.length = reader.fileLength();
    return checked;
}

// ZIPALL's columns that a business-office record fills from its fields, and those fields.
const std::array<std::string, 11> kOfficeColumns = {
    "団体コード",   "旧郵便番号", "郵便番号",   "町域名", "ダブり",    "flag4",
    "事業所名かな", "事業所名",   "取扱郵便局", "種別",   "丁目番地等"};
constexpr std::array<std::size_t, 11> kOfficeFields = {0, 8, 7, 5, 11, 12, 1, 2, 9, 10, 6};
constexpr std::size_t kOldCodeField = 8;  // stored without the spaces at both ends
const std::array<std::string, 2> kPlaceholderColumns = {"JISX0402", "市町村名"};

std::string_view WithoutSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// What the business-office check holds against: read from the database when it is made.
struct OfficeCheck {
    OfficeCheck(db::Connection& connection, bool resuming)
        // A fresh import deletes the placeholders of earlier business-office imports; a
        // record whose municipality is then missing adds one with the record's municipality
        // name.
        : cities(ReadCodes(
              connection,
              resuming ? "SELECT * FROM 市町村" : "SELECT * FROM 市町村 WHERE 抹消FLAG = 0",
              "JISX0402")),
          row(connection, "ZIPALL", kOfficeColumns),
          placeholder(connection, "市町村", kPlaceholderColumns) {}

    CodeSet cities;
    RowCheck row;
    RowCheck placeholder;
};

CheckedFile CheckOffice(const std::string& path, OfficeCheck& check, const CheckTick& tick) {
    auto& [cities, row, placeholder] = check;
    CheckedFile checked;
    JigyosyoReader reader(path);
    while (reader.readLine()) {
        if (tick) tick();
        try {
            const std::vector<std::string_view>& f = reader.splitFields();
            for (std::size_t c = 0; c < kOfficeFields.size(); ++c) {
                const std::size_t field = kOfficeFields[c];
                row.text(c, field == kOldCodeField ? WithoutSpaces(f[field]) : f[field]);
            }
            if (cities.find(f[0]) == cities.end()) {
                placeholder.text(0, f[0]);
                placeholder.text(1, f[4]);
                cities.emplace(f[0]);
            }
        } catch (const YubinError& error) {
            RethrowForDataLine(error, path, reader.lineNumber());
        }
        ++checked.records;
    }
    checked.lines = reader.lineNumber();
    checked.length = reader.fileLength();
    return checked;
}

}  // namespace

struct DataFileCheck::Rules {
    Rules(DataKind kind, db::Connection& connection, bool resuming) {
        if (kind == DataKind::Office) {
            checks.emplace<OfficeCheck>(connection, resuming);
        } else {
            checks.emplace<NationalCheck>(connection, resuming);
        }
    }
    std::variant<std::monostate, NationalCheck, OfficeCheck> checks;
};

DataFileCheck::DataFileCheck(std::string path, DataKind kind, db::Connection& connection,
                             bool resuming)
    : path_(std::move(path)), rules_(std::make_unique<Rules>(kind, connection, resuming)) {}

DataFileCheck::DataFileCheck(DataFileCheck&&) noexcept = default;
DataFileCheck::~DataFileCheck() = default;

CheckedFile DataFileCheck::run(const CheckTick& tick) {
    assert(rules_ && "a check runs once");
    const std::unique_ptr<Rules> rules = std::move(rules_);
    if (auto* national = std::get_if<NationalCheck>(&rules->checks)) {
        return CheckNational(path_, *national, tick);
    }
    return CheckOffice(path_, std::get<OfficeCheck>(rules->checks), tick);
}

CheckedFile CheckDataFileForImport(const std::string& path, DataKind kind,
                                   db::Connection& connection, bool resuming,
                                   const CheckTick& tick) {
    return DataFileCheck(path, kind, connection, resuming).run(tick);
}

}  // namespace yubin::import
