// The rows the change report compares: a data set's rows of ZIPALL, and the kept form they are
// copied into before an import deletes them (read back by the comparison).
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "base/Error.h"
#include "base/Message.h"
#include "changes/ChangeDiff.h"
#include "changes/ChangeTables.h"
#include "store/Engine.h"

namespace yubin::changes::detail {

// The name as an SQL identifier, in double quotes.
std::string Quote(std::string_view name);

inline const std::string kWhereSet = " WHERE \"データ\" = ?1";

// The ZIPALL columns a row is made of, in this order after the postal code; the prefecture and
// municipality names of a national row come from the masters.
inline constexpr std::array<const char*, 7> kZipallColumns = {
    "団体コード", "町域名", "住所かな3", "事業所名", "事業所名かな", "丁目番地等", "取扱郵便局"};
inline constexpr std::array<RowField, 7> kZipallFields = {
    kMunicipalityCode, kTownName, kTownKana, kOfficeName, kOfficeKana, kStreetAddress, kPostOffice};
// Which of them each data set carries.
inline bool Carries(DataSet set, size_t column) {
    return set == DataSet::National ? column <= 2 : column != 2;
}

// "SELECT 郵便番号, <the columns> FROM ZIPALL WHERE <the data set's rows>"; the columns the
// data set does not carry are Null, each column wrapped as `wrap` says ("%" stands for it).
std::string ZipallRows(DataSet set, const std::string& wrap);

// ", <each column of kZipallColumns>", quoted.
std::string KeptColumns();

// The kept form of the rows: packed, many rows to a row of 変更前データ whose 町域名 holds them
// and whose 都道府県名 holds kPackedTag (a kept row of one row to a row never has a name
// there). Each row is its postal code and the columns of kZipallColumns, each field its length
// in decimal, ':' and its text; an empty field stands for Null as well.
inline constexpr std::string_view kPackedTag = "#packed1";
inline constexpr size_t kPackedFields = 1 + kZipallColumns.size();
using PackedRow = std::array<std::string_view, kPackedFields>;
// The size a packed row of 変更前データ grows to before it is written.
inline constexpr size_t kPackedSize = 60 * 1024;

// Appends one row to a packed text.
void PackRow(std::string& packed, const PackedRow& row);

// The error of a kept form that does not read as it was written (damaged by another program).
inline YubinError KeptFormDamaged() {
    return YubinError(ErrorCode::EngineFailure,
                      Message("変更前のデータ（{1}）が壊れています。", kKeptTable));
}

// Reads the rows of one packed text in order; `take(row)` for each, until one returns false
// (when it returns a bool). A text that does not parse ends the reading with KeptFormDamaged.
template <class Take>
void UnpackRows(std::string_view packed, Take take) {
    const auto damaged = [] { return KeptFormDamaged(); };
    PackedRow row;
    const char* p = packed.data();
    const char* const end = p + packed.size();
    while (p < end) {
        for (std::string_view& field : row) {
            size_t length = 0;
            const auto [digitsEnd, error] = std::from_chars(p, end, length);
            if (error != std::errc() || digitsEnd == end || *digitsEnd != ':' ||
                static_cast<size_t>(end - digitsEnd - 1) < length) {
                throw damaged();
            }
            field = std::string_view(digitsEnd + 1, length);
            p = digitsEnd + 1 + length;
        }
        if constexpr (std::is_same_v<std::invoke_result_t<Take&, const PackedRow&>, bool>) {
            if (!take(row)) return;
        } else {
            take(row);
        }
    }
}

// Where the text of a row that UnpackRows gave from `packed` ends in it.
inline size_t EndOf(std::string_view packed, const PackedRow& row) {
    return static_cast<size_t>(row.back().data() + row.back().size() - packed.data());
}

// Packs the data set's rows into the kept form (see kPackedTag); returns their rowids.
// `highestRowid`: when set, the data set's rows are known to lie at or below it (the rows above
// are not read).
KeptRowids KeepRows(db::Connection& connection, DataSet set,
                    std::optional<long long> highestRowid = std::nullopt);

}  // namespace yubin::changes::detail
