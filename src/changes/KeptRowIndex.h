// Where the rows of each postal code lie in a packed kept form (ReportRows.h), noted as its
// digests are read: a short hash of each row's code, in the order of the rows, and the rowid of
// the packed row each run of rows came from, and where every 32nd row of a packed row begins.
// The report then reads back only the packed rows that hold rows of the codes that changed, and
// unpacks of each only the rows from the mark before each of those rows. Memory: 4 bytes a row,
// 4 more every 32 rows and 24 a packed row.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "changes/ChangeDiff.h"

namespace yubin::changes {

class KeptRowIndex {
  public:
    // Room for `rows` rows, made first so that the array is not copied as it grows.
    void reserve(size_t rows) { keyHashes_.reserve(rows); }
    // The rows added next are those of the packed row `rowid`, in their order there.
    void beginPackedRow(long long rowid);
    // Where a row is marked in its packed row: its first, then every kMarkEvery-th.
    static constexpr std::uint32_t kMarkEvery = 32;
    // The next row, by its code key (CodeKey) and the place its text begins in the packed row.
    void add(std::uint64_t key, std::uint32_t offset) {
        assert(!packedRows_.empty());
        if ((keyHashes_.size() - packedRows_.back().first) % kMarkEvery == 0) {
            marks_.push_back(offset);
        }
        keyHashes_.push_back(ShortKeyHash(key));
    }
    // A row read from outside the packed rows (a kept form of one row to a row): the index no
    // longer says where every row lies.
    void addUnplaced() { whole_ = false; }
    // Whether every row added lies in a packed row.
    bool whole() const { return whole_; }
    size_t rowCount() const { return keyHashes_.size(); }
    size_t packedRowCount() const { return packedRows_.size(); }

    // A packed row to read back, the places in it (0 for its first row) of the rows to take, in
    // order, and where its rows 0, kMarkEvery, 2 kMarkEvery ... begin.
    struct Wanted {
        long long rowid;
        std::vector<std::uint32_t> places;
        std::vector<std::uint32_t> marks;
    };
    // The packed rows that hold rows of the codes `changes` names, in the order they were
    // added, with the places of those rows; rarely also of rows of other codes whose short hash
    // is the same: the reader checks each row's code.
    std::vector<Wanted> rowsOf(const std::vector<CodeChange>& changes) const;

  private:
    struct PackedRow {
        long long rowid;
        size_t first;      // the place of its first row among all the rows
        size_t firstMark;  // among all the marks
    };
    std::vector<PackedRow> packedRows_;
    std::vector<std::uint32_t> keyHashes_;
    std::vector<std::uint32_t> marks_;
    bool whole_ = true;
};

}  // namespace yubin::changes
