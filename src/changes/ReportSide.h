// The reading of a change report's two sides, shared by the report and the reading ahead of
// the kept form: the masters, one side's rows and their digests, the reading in pieces.
#pragma once

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "changes/ChangeDiff.h"
#include "changes/ChangeTables.h"
#include "changes/KeptRowIndex.h"
#include "changes/ReportRows.h"
#include "store/NativeSql.h"

namespace yubin::changes::detail {

// Lets a map with text keys be searched with a string_view.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Ends a reading in pieces that was asked to stop; never leaves the reader's thread.
struct ReadingStopped {};

// The rows of a reading in pieces (KeptDigestsAhead): a few hundred short rows, or one packed
// row of the kept form, a read of its own each: a few tens of microseconds, the longest a
// commit of the connection that writes meanwhile waits for one.
inline constexpr int kPieceRows = 256;

// Steps `rows` piece by piece: its first column the rowid, its parameter `afterParameter` the
// rowid the piece begins after, ordered by rowid and limited to `pieceRows`. `take(rows)` for
// each row; the statement is reset at the end of each piece, so that the read ends there, and
// `afterPiece()` follows.
template <class Take, class AfterPiece>
void ReadInPieces(db::NativeStatement& rows, int afterParameter, int pieceRows,
                  const std::atomic<bool>& stop, Take take, AfterPiece afterPiece) {
    long long after = std::numeric_limits<long long>::min();
    for (;;) {
        if (stop.load(std::memory_order_relaxed)) throw ReadingStopped();
        rows.bind(afterParameter, after);
        int count = 0;
        while (rows.step()) {
            after = rows.number(0);
            take(rows);
            ++count;
        }
        afterPiece();
        if (count < pieceRows) return;
    }
}

template <class Take>
void ReadInPieces(db::NativeStatement& rows, int afterParameter, int pieceRows,
                  const std::atomic<bool>& stop, Take take) {
    ReadInPieces(rows, afterParameter, pieceRows, stop, take, [] {});
}

inline std::string InPieces(const std::string& sql, int afterParameter, int pieceRows) {
    return sql + " AND rowid > ?" + std::to_string(afterParameter) + " ORDER BY rowid LIMIT " +
           std::to_string(pieceRows);
}

// The prefecture and municipality names by code, as national rows take them.
struct Masters {
    using Names = std::pair<std::string, std::string>;  // the name and its reading
    using Map = std::unordered_map<std::string, Names, TextHash, std::equal_to<>>;
    Map prefectures, municipalities;

    void read(db::Connection& connection, const std::string& sql, DataSet set, bool kept) {
        db::NativeStatement rows(connection, sql);
        if (kept) rows.bind(1, DataSetName(set));
        while (rows.step()) take(rows, 0);
    }
    // The kept masters (`sql` selects them after the rowid), read in pieces.
    void readInPieces(db::Connection& connection, const std::string& sql, DataSet set,
                      const std::atomic<bool>& stop) {
        db::NativeStatement rows(connection, InPieces(sql, 2, kPieceRows));
        rows.bind(1, DataSetName(set));
        ReadInPieces(rows, 2, kPieceRows, stop,
                     [this](const db::NativeStatement& row) { take(row, 1); });
    }
    // A row of (表, コード, 名前, かな) from its column `first` on; the first of a code counts.
    void take(const db::NativeStatement& rows, int first) {
        auto& map = rows.text(first) == "都道府県" ? prefectures : municipalities;
        map.try_emplace(std::string(rows.text(first + 1)), rows.text(first + 2),
                        rows.text(first + 3));
    }
    // The digest of the names a row of the municipality takes (NamesDigest).
    std::uint64_t namesDigest(std::string_view code) const {
        RowView row{};
        row[kMunicipalityCode] = code;
        fill(row);
        return NamesDigest(row[kPrefectureName], row[kPrefectureKana], row[kMunicipalityName],
                           row[kMunicipalityKana]);
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
inline constexpr const char* kMastersNow =
    "SELECT '都道府県' AS t, \"JISX0401\" AS c, ifnull(\"都道府県名\", '') AS n, "
    "ifnull(\"住所かな1\", '') AS k FROM \"都道府県\" UNION ALL SELECT '市町村', \"JISX0402\", "
    "ifnull(\"市町村名\", ''), ifnull(\"住所かな2\", '') FROM \"市町村\"";

// One side of the comparison: its rows (the postal code and the columns of kZipallColumns,
// from ZIPALL or from the kept form) and the masters the national rows take their names from.
class Side {
  public:
    // `inPieces` (the kept form only): read in pieces (ReadInPieces), ended between two when it
    // is set; nullptr: each kind of row in one statement.
    Side(db::Connection& connection, DataSet set, bool kept,
         const std::atomic<bool>* inPieces = nullptr)
        : set_(set), kept_(kept), inPieces_(inPieces) {
        assert(kept || inPieces == nullptr);
        if (set != DataSet::National) return;
        const std::string keptMasters =
            "\"表\", \"コード\", ifnull(\"名前\", ''), ifnull(\"かな\", '') FROM " +
            Quote(kKeptMastersTable) + kWhereSet;
        if (inPieces_ != nullptr) {
            masters_.readInPieces(connection, "SELECT rowid, " + keptMasters, set, *inPieces_);
        } else {
            masters_.read(connection, kept ? "SELECT " + keptMasters : kMastersNow, set, kept);
        }
    }

    // Adds the digest of every row to `digests`. The names' part of a national row's digest is
    // taken once for each run of rows of one municipality. `index` (when set; the kept form read
    // in pieces only): notes where each row lies.
    void addDigests(db::Connection& connection, CodeDigests& digests,
                    KeptRowIndex* index = nullptr) const {
        assert(index == nullptr || inPieces_ != nullptr);
        const bool national = set_ == DataSet::National;
        std::uint64_t names = MixedNames(NamesDigest({}, {}, {}, {}));
        std::string city;
        bool cityRead = false;
        RowView row{};  // the names stay empty: they are in `names`
        scan(
            connection,
            [&](const PackedRow& fields) {
                for (size_t i = 0; i < kZipallFields.size(); ++i) {
                    row[kZipallFields[i]] = fields[i + 1];
                }
                if (national && (!cityRead || row[kMunicipalityCode] != city)) {
                    city.assign(row[kMunicipalityCode]);
                    cityRead = true;
                    names = MixedNames(masters_.namesDigest(city));
                }
                digests.add(fields[0], CombineMixed(OwnFieldsDigest(row), names));
            },
            nullptr, index);
    }

    // The digest of the names a national row of the municipality takes.
    std::uint64_t namesDigest(std::string_view municipality) const {
        return masters_.namesDigest(municipality);
    }

    // forEachRow of the kept form, reading back only the rows `at` names (KeptRowIndex), in
    // the same order.
    template <class Wanted, class Visit>
    void forEachKeptRowAt(db::Connection& connection, const std::vector<KeptRowIndex::Wanted>& at,
                          Wanted wanted, Visit visit) const {
        assert(kept_);
        db::NativeStatement packed(connection, "SELECT ifnull(\"町域名\", '') FROM " +
                                                   Quote(kKeptTable) + kWhereSet +
                                                   " AND \"都道府県名\" = ?2 AND rowid = ?3");
        packed.bind(1, DataSetName(set_)).bind(2, kPackedTag);
        RowView row;
        for (const KeptRowIndex::Wanted& rows : at) {
            assert(!rows.places.empty());
            bool found = false;
            packed.bind(3, rows.rowid);
            while (packed.step()) {
                found = true;
                const std::string_view text = packed.text(0);
                size_t from = 0;         // where the next row to unpack begins
                std::uint32_t next = 0;  // its place
                for (const std::uint32_t place : rows.places) {
                    // From the last mark before the row, when it lies beyond the next row.
                    const size_t mark = place / KeptRowIndex::kMarkEvery;
                    if (mark < rows.marks.size() && mark * KeptRowIndex::kMarkEvery > next) {
                        next = static_cast<std::uint32_t>(mark * KeptRowIndex::kMarkEvery);
                        from = rows.marks[mark];
                    }
                    if (from > text.size()) throw KeptFormDamaged();
                    UnpackRows(text.substr(from), [&](const PackedRow& fields) {
                        from = EndOf(text, fields);
                        if (next++ != place) return true;
                        if (wanted(fields[0])) visit(fields[0], fill(row, fields));
                        return false;
                    });
                    if (next != place + 1) throw KeptFormDamaged();
                }
            }
            // The index was read from this kept form, in this transaction.
            if (!found) throw KeptFormDamaged();
        }
    }

    // Calls `visit(code, row)` for every row whose code `wanted(code)` accepts; the texts are
    // valid during the call. `rowids` (rows now only): the rows to read, in storage order;
    // nullptr: every row.
    template <class Wanted, class Visit>
    void forEachRow(db::Connection& connection, Wanted wanted, Visit visit,
                    const std::vector<long long>* rowids = nullptr) const {
        RowView row;
        scan(
            connection,
            [&](const PackedRow& fields) {
                if (wanted(fields[0])) visit(fields[0], fill(row, fields));
            },
            rowids);
    }

  private:
    // `row` made of the code's and the columns' `fields`, with the names of the masters.
    const RowView& fill(RowView& row, const PackedRow& fields) const {
        row = {};
        for (size_t i = 0; i < kZipallFields.size(); ++i) row[kZipallFields[i]] = fields[i + 1];
        if (set_ == DataSet::National) masters_.fill(row);
        return row;
    }

    // Calls `take(fields)` for every row in order (of `rowids` only, when given): the postal
    // code and the columns. `index`: see addDigests.
    template <class Take>
    void scan(db::Connection& connection, Take take, const std::vector<long long>* rowids = nullptr,
              KeptRowIndex* index = nullptr) const {
        PackedRow fields;
        const auto takeRows = [&](db::NativeStatement& rows) {
            while (rows.step()) {
                for (size_t i = 0; i < kPackedFields; ++i) {
                    fields[i] = rows.text(static_cast<int>(i));
                }
                take(fields);
            }
        };
        const auto rowsOf = [&](const std::string& sql) {
            db::NativeStatement rows(connection, sql);
            if (kept_) rows.bind(1, DataSetName(set_));
            takeRows(rows);
        };
        if (!kept_ && rowids != nullptr) {
            db::NativeStatement row(connection, ZipallRows(set_, "%") + " AND rowid = ?1");
            for (const long long rowid : *rowids) takeRows(row.bind(1, rowid));
            return;
        }
        if (!kept_) {
            rowsOf(ZipallRows(set_, "%"));
            return;
        }
        if (inPieces_ != nullptr) {
            scanInPieces(connection, take, index);
            return;
        }
        // A kept form of one row to a row (made by an earlier version of this program), or
        // the packed one; a kept form is all of one kind.
        rowsOf("SELECT \"郵便番号\"" + KeptColumns() + " FROM " + Quote(kKeptTable) + kWhereSet +
               " AND \"都道府県名\" IS NULL");
        db::NativeStatement packed(connection, PackedRowsSql());
        packed.bind(1, DataSetName(set_)).bind(2, kPackedTag);
        while (packed.step()) UnpackRows(packed.text(0), take);
    }

    // The kept form as scan() reads it, in pieces: the packed rows one at a time, each copied
    // so that its read ends before its rows are taken. `index`: see addDigests.
    template <class Take>
    void scanInPieces(db::Connection& connection, Take take, KeptRowIndex* index) const {
        const std::atomic<bool>& stop = *inPieces_;
        db::NativeStatement rowByRow(
            connection, InPieces("SELECT rowid, \"郵便番号\"" + KeptColumns() + " FROM " +
                                     Quote(kKeptTable) + kWhereSet + " AND \"都道府県名\" IS NULL",
                                 2, kPieceRows));
        rowByRow.bind(1, DataSetName(set_));
        PackedRow fields;
        ReadInPieces(rowByRow, 2, kPieceRows, stop, [&](const db::NativeStatement& rows) {
            for (size_t i = 0; i < kPackedFields; ++i) {
                fields[i] = rows.text(static_cast<int>(i) + 1);
            }
            if (index != nullptr) index->addUnplaced();
            take(fields);
        });
        db::NativeStatement packed(
            connection, InPieces("SELECT rowid, ifnull(\"町域名\", '') FROM " + Quote(kKeptTable) +
                                     kWhereSet + " AND \"都道府県名\" = ?3",
                                 2, 1));
        packed.bind(1, DataSetName(set_)).bind(3, kPackedTag);
        std::string text;
        text.reserve(kPackedSize + 4096);
        bool copied = false;
        long long copiedRowid = 0;
        ReadInPieces(
            packed, 2, 1, stop,
            [&](const db::NativeStatement& row) {
                text.assign(row.text(1));
                copied = true;
                copiedRowid = row.number(0);
            },
            [&] {
                if (!copied) return;
                if (index == nullptr) {
                    UnpackRows(text, take);
                } else {
                    index->beginPackedRow(copiedRowid);
                    std::uint32_t offset = 0;  // where the row begins
                    UnpackRows(text, [&](const PackedRow& fields) {
                        index->add(CodeKey(fields[0]), offset);
                        offset = static_cast<std::uint32_t>(EndOf(text, fields));
                        take(fields);
                    });
                }
                copied = false;
            });
    }

    static std::string PackedRowsSql() {
        return "SELECT ifnull(\"町域名\", '') FROM " + Quote(kKeptTable) + kWhereSet +
               " AND \"都道府県名\" = ?2 ORDER BY rowid";
    }

    DataSet set_;
    bool kept_;
    const std::atomic<bool>* inPieces_;
    Masters masters_;
};

// The published national data has about 124,000 rows: room for them made first, so that the
// array is not copied as it grows.
inline constexpr size_t kExpectedRows = size_t{1} << 17;

// The page cache of the reading's own connection: it reads each page once, so a few pages of
// the tables' upper levels are all it keeps; its memory comes on top of the appending's.
inline constexpr const char* kOwnReaderCache = "PRAGMA cache_size = -128";

// How often this process has begun to change each data set's kept form (kept it, or dropped
// it): a reading ahead begun before a change is out of date.
std::atomic<std::uint64_t>& KeptFormChanges(DataSet set);

// The connection's PRAGMA data_version: another connection's commit changes it.
long long DataVersion(db::Connection& connection);

}  // namespace yubin::changes::detail
