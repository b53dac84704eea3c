// Reading postal-code rows for the query commands: the masters' names, the rows of a code,
// and the rows whose names contain words.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/Engine.h"

namespace yubin::query {

// One ZIPALL row: its values in the order of `QueryRows::columns`.
using Row = std::vector<db::Value>;

struct QueryRows {
    std::vector<std::string> columns;  // ZIPALL's columns in table order
    std::vector<Row> rows;
    bool truncated = false;  // a search stopped at its limit; more rows match
};

// The prefecture and municipality masters: a code's names are read the first time they are
// asked for, or all at once by loadAll (for a pass over many codes).
class Masters {
  public:
    struct Names {
        db::Value name;  // 都道府県名 or 市町村名
        db::Value kana;  // 住所かな1 or 住所かな2 (no value for a placeholder municipality)
    };

    explicit Masters(db::Connection& connection) : connection_(connection) {}
    void loadAll();
    // Forgets every name read so far (the database was changed by another program).
    void forget();

    // By a municipality code (5 digits); the prefecture by its first two; null when missing.
    const Names* prefecture(const std::string& municipalityCode) const;
    const Names* municipality(const std::string& municipalityCode) const;

  private:
    using Known = std::unordered_map<std::string, std::optional<Names>>;
    const Names* find(bool prefectures, const std::string& code) const;

    db::Connection& connection_;
    bool loadedAll_ = false;
    mutable Known prefectures_;
    mutable Known municipalities_;
};

// Every row of the seven-digit code, national and business-office, in table order.
QueryRows RowsOfPostalCode(db::Connection& connection, const std::string& code);

// The rows in which every word (already folded, see Normalize.h) occurs in the folded
// prefecture, municipality, town-area or business-office name, or in the reading of one of
// them. A word may run on from the prefecture into the municipality and the town area, as an
// address is written ("東京都千代田区千代田"). At most `limit` rows (0: no limit).
//
// The rows are read in storage order and their names folded on the way: only the rows the
// import's search index (SearchIndex.h) leaves, or every row when there is no index or
// `readAll` is set (the same rows either way).
QueryRows SearchRows(db::Connection& connection, Masters& masters,
                     const std::vector<std::string>& foldedWords, std::size_t limit,
                     bool readAll = false);

}  // namespace yubin::query
