// Reading postal-code rows for the query commands: the masters' names, the rows of a code,
// and the rows whose names contain words.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/Engine.h"

namespace yubin::cli {

// One ZIPALL row: its values in the order of `QueryRows::columns`.
using Row = std::vector<db::Value>;

struct QueryRows {
    std::vector<std::string> columns;  // ZIPALL's columns in table order
    std::vector<Row> rows;
    bool truncated = false;  // a search stopped at its limit; more rows match
};

// The prefecture and municipality masters, read once.
class Masters {
  public:
    struct Names {
        db::Value name;  // 都道府県名 or 市町村名
        db::Value kana;  // 住所かな1 or 住所かな2 (no value for a placeholder municipality)
    };

    explicit Masters(db::Connection& connection);

    // By a municipality code (5 digits); the prefecture by its first two; null when missing.
    const Names* prefecture(const std::string& municipalityCode) const;
    const Names* municipality(const std::string& municipalityCode) const;

  private:
    std::unordered_map<std::string, Names> prefectures_;
    std::unordered_map<std::string, Names> municipalities_;
};

// Every row of the seven-digit code, national and business-office, in table order.
QueryRows RowsOfPostalCode(db::Connection& connection, const std::string& code);

// The rows in which every word (already folded, see Normalize.h) occurs in the folded
// prefecture, municipality, town-area or business-office name, or in the reading of one of
// them. A word may run on from the prefecture into the municipality and the town area, as an
// address is written ("東京都千代田区千代田"). At most `limit` rows (0: no limit).
//
// The rows are read in one pass and their names folded on the way; nothing is stored in the
// database.
QueryRows SearchRows(db::Connection& connection, const Masters& masters,
                     const std::vector<std::string>& foldedWords, std::size_t limit);

}  // namespace yubin::cli
