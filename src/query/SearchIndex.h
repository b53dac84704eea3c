// The folded names the search compares words with, and an index over them that an import
// prepares once so that a search reads only the rows that may match.
//
// The index divides ZIPALL in storage order into blocks of rows and records, for every letter
// and every pair of adjacent letters of the rows' folded names, which blocks hold it (hashed
// into a fixed number of buckets: a bucket's blocks are those of all its pairs, so the blocks
// found are never too few). A word can occur in a row only when the row's block holds each of
// its pairs (or its one letter); the search then reads those blocks and compares the words as
// the whole-table pass does, so both give the same rows in the same order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "query/QueryData.h"
#include "store/Engine.h"

namespace yubin::query {

// The folded names of rows, built exactly as the search compares them.
class RowNames {
  public:
    explicit RowNames(const Masters& masters) : masters_(masters) {}

    // Takes the row's municipality code; the place names are folded again only when it differs
    // from the last one. True when they were.
    bool setCity(std::string_view city);
    const std::string& placeName() const { return placeName_; }
    const std::string& placeKana() const { return placeKana_; }

    // The row's folded names: the place and the town area, their readings, the office and its
    // reading, apart by a separator (a word never runs on from one into the next).
    const std::string& fold(std::string_view town, std::string_view townKana,
                            std::string_view office, std::string_view officeKana);

  private:
    const Masters& masters_;
    std::string city_ = "\x01";
    std::string placeName_, placeKana_;
    std::string names_;
};

// The separator between the parts of RowNames::fold.
inline constexpr char kNamesSeparator = '\x1f';

// The searched columns of ZIPALL, in the order RowNames takes them (the municipality code first).
inline constexpr const char* kSearchedColumns[] = {"団体コード", "町域名", "住所かな3", "事業所名",
                                                   "事業所名かな"};

// Reads every row of ZIPALL and stores the index beside it (replacing any earlier one).
// `threads`: 1 reads the rows on this thread; 2 (or more) reads them from both ends at once,
// the second half on a thread and a connection of its own to the same file, which it opens and
// closes; 0 leaves it to the build (two on a machine of two processors or more, for a table
// large enough to gain by it). The index is the same either way. Appended rows the connection
// holds are stored first.
void BuildSearchIndex(db::Connection& connection, unsigned threads = 0);

// The same build in two halves, around other work of the caller's thread on `connection` that
// leaves ZIPALL's rows as they are (an import making the table's keys). The constructor begins
// to read the rows from the first block on, on a thread and a connection of its own that first
// loads the masters and bounds the blocks by the table's rowids, then reads a few blocks at a
// time and leaves the file between two reads; meanwhile a commit of the caller waits for the end
// of such a read, untold (db::OwnReaders). finish() counts the rows, reads what is left on the
// caller's thread, from the last block back, and stores the index. `threads` as for
// BuildSearchIndex: with 1, or where no thread or connection can be had, finish() reads every
// row itself; the index is the same either way. Destroyed without finish(), it stops the other
// reader, waits for it and stores nothing.
class SearchIndexBuild {
  public:
    explicit SearchIndexBuild(db::Connection& connection, unsigned threads = 0);
    ~SearchIndexBuild();
    SearchIndexBuild(const SearchIndexBuild&) = delete;
    SearchIndexBuild& operator=(const SearchIndexBuild&) = delete;

    // Once: reads what is left (the other reader reads on as well) and stores the index.
    void finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The rowid ranges, in storage order, outside which no row holds every word; nothing when the
// index is absent or out of date, or a word is one the index cannot answer for (the caller
// then reads the whole table).
std::optional<std::vector<std::pair<long long, long long>>> CandidateRanges(
    db::Connection& connection, const std::vector<std::string>& foldedWords);

namespace detail {
// The bucket of every letter and every pair of adjacent letters of folded names (as
// RowNames::fold gives them), in order and repeated as they occur: what the index marks for
// one row.
std::vector<std::uint32_t> NameBuckets(std::string_view names);
}  // namespace detail

}  // namespace yubin::query
