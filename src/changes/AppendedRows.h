// The rows of a data set reduced, as an import appends them, to what the change report
// compares. When the import replaces the data set whole, the report takes the rows now from
// here instead of reading the table back, and reads back only the rows of the codes that
// changed, by their rowids. Memory: 16 bytes a row, and 4 more while the report is made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "changes/ChangeDiff.h"
#include "changes/ChangeTables.h"

namespace yubin::changes {

class AppendedRows {
  public:
    // The ZIPALL columns a row is reduced from, in the order add() takes their texts: the
    // postal code, then the compared columns.
    static constexpr size_t kColumnCount = 8;
    using Texts = std::array<std::string_view, kColumnCount>;
    static const std::array<const char*, kColumnCount>& Columns();

    // What a row is reduced to: its code and digests, for a comparison with kept rows; or
    // only its code, when no rows are kept (the report then counts the codes, and compares
    // nothing).
    enum class Reduction { ForComparison, CodesOnly };

    explicit AppendedRows(DataSet set, Reduction reduction = Reduction::ForComparison);
    DataSet set() const { return set_; }
    bool comparable() const { return reduction_ == Reduction::ForComparison; }
    size_t rowCount() const { return rowCount_; }

    // One row as it reads back from the table (Null as the empty text), and its rowid.
    void add(const Texts& texts, long long rowid);

    // The number of distinct postal codes; the rows are taken away.
    long long takeCodeCount();
    // The rows' digests (when comparable()), taken away and finished; a national row's names' part
    // is `namesDigest(its municipality code)` (one call for each run of rows of one municipality).
    // A short hash of each row's code stays, in the rows' order, for rowidsOf.
    CodeDigests takeDigests(const std::function<std::uint64_t(std::string_view)>& namesDigest);
    // After takeDigests: the rowids of the rows of the codes `changes` names, in storage
    // order, and (rarely) of a few rows of other codes whose hash is the same: the reader
    // checks each row's code.
    std::vector<long long> rowidsOf(const std::vector<CodeChange>& changes) const;
    // Frees everything.
    void clear();

  private:
    struct Run {
        size_t first;  // the first row of the run
        std::string value;
    };
    struct RowidRun {
        size_t first;
        long long rowid;  // that of the first row; the others follow one by one
    };

    DataSet set_;
    Reduction reduction_;
    size_t rowCount_ = 0;
    std::vector<CodeDigests::Entry> rows_;  // key and the digest of the row's own fields
    std::vector<Run> municipalities_;       // national rows: the municipality codes
    std::vector<RowidRun> rowids_;
    std::vector<std::uint32_t> keyHashes_;  // of the rows' code keys in order, once taken
};

}  // namespace yubin::changes
