// The tables of the change report, kept in the postal database beside the tables of the
// schema (which they never touch): other programs may read them, programs that do not know
// them are unaffected, and the compaction copies them with every other table.
//
//   変更報告 (visible)      one row a data set: the last report's date and counts
//   変更明細 (visible)      the rows before and after of every code the last report names
//   変更前データ (hidden)   the kept form of a data set's rows, from before a fresh import
//                           deleted them until the report is made: many rows packed into
//                           each of its rows (an earlier version kept one row to a row)
//   変更前マスタ (hidden)   the prefecture and municipality names the kept national rows had
//   変更前作成日 (hidden)   one row a kept data set: its creation date; the row says that a
//                           report is due
//
// An empty value is stored as Null (the columns refuse the empty text, as the engine's own
// columns do by default).
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "changes/ChangeDiff.h"
#include "store/Engine.h"

namespace yubin::changes {

inline constexpr const char* kReportTable = "変更報告";
inline constexpr const char* kDetailTable = "変更明細";
inline constexpr const char* kKeptTable = "変更前データ";
inline constexpr const char* kKeptMastersTable = "変更前マスタ";
inline constexpr const char* kKeptStampTable = "変更前作成日";

// The two data sets, reported separately. The column データ of every table holds the name
// that 作成日 gives the data set's date: "ZIPALL" (national) or "JIGYOSYO" (business office).
enum class DataSet { National, Office };
std::string_view DataSetName(DataSet set);

// The rowids of the ZIPALL rows copied into the kept form: runs of consecutive rowids, in
// ascending order.
struct RowidRun {
    long long first = 0;
    long long last = 0;
};
using KeptRowids = std::vector<RowidRun>;

// The compared columns of a row, in the order of RowValues: the national data uses the first
// seven, the business-office data 団体コード, 町域名 and the last four.
inline constexpr std::array<const char*, kRowFieldCount> kRowColumns = {
    "団体コード", "都道府県名", "住所かな1",    "市町村名",   "住所かな2", "町域名",
    "住所かな3",  "事業所名",   "事業所名かな", "丁目番地等", "取扱郵便局"};
enum RowField : size_t {
    kMunicipalityCode,
    kPrefectureName,
    kPrefectureKana,
    kMunicipalityName,
    kMunicipalityKana,
    kTownName,
    kTownKana,
    kOfficeName,
    kOfficeKana,
    kStreetAddress,
    kPostOffice,
};

// The values of 変更明細.区分 and 新旧.
inline constexpr const char* kAddedWord = "追加";
inline constexpr const char* kRemovedWord = "削除";
inline constexpr const char* kChangedWord = "変更";
inline constexpr const char* kBeforeWord = "旧";
inline constexpr const char* kAfterWord = "新";
const char* ChangeWord(Change change);

// Makes the tables that are missing (through the engine layer, so that its catalog and the
// table listing know them).
void EnsureTables(db::Connection& connection);
// Whether the report tables exist (a database no import has reported on lacks them).
bool HasReportTables(db::Connection& connection);

}  // namespace yubin::changes
