// The comparison of two data sets per postal code, without sorting their rows: each row is
// reduced to a 64-bit digest, each code to the digest of the set of its rows (the rows in any
// order, a repeated row once), and the two sides' codes are merged in key order. Memory: 16
// bytes a row while a side is read, 16 bytes a code after.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace yubin::changes {

// The compared form of one row (the columns of kRowColumns, ChangeTables.h); a column the
// data set does not carry is the empty text.
inline constexpr size_t kRowFieldCount = 11;
using RowValues = std::array<std::string, kRowFieldCount>;
// The same, read in place.
using RowView = std::array<std::string_view, kRowFieldCount>;

enum class Change { Added, Removed, Changed };

struct ChangeCounts {
    long long added = 0;
    long long removed = 0;
    long long changed = 0;
    friend bool operator==(const ChangeCounts&, const ChangeCounts&) = default;
};

// A postal code as a number that keeps the order of the codes' bytes (codes of up to eight
// bytes; a longer text, which no postal code is, gets a digest of its own).
std::uint64_t CodeKey(std::string_view code);
std::uint64_t RowDigest(const RowView& row);
std::uint64_t RowDigest(const RowValues& row);

// A row's digest in two parts, so that a reader may take the part of the prefecture and
// municipality names (the fields 1 to 4) once for all the rows of a municipality:
// RowDigest(row) == CombineDigest(OwnFieldsDigest(row), NamesDigest(names of row)).
std::uint64_t OwnFieldsDigest(const RowView& row);  // fields 0 and 5 to 10
// The same of those fields given in their order.
inline constexpr size_t kOwnFieldCount = 7;
using OwnFields = std::array<std::string_view, kOwnFieldCount>;
std::uint64_t OwnFieldsDigest(const OwnFields& fields);
std::uint64_t NamesDigest(std::string_view prefecture, std::string_view prefectureKana,
                          std::string_view municipality, std::string_view municipalityKana);

namespace detail {
// Spreads the bits, so that sums of digests do not cancel.
inline std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}
}  // namespace detail

// CombineDigest(own, names) == CombineMixed(own, MixedNames(names)): the names' part mixed once
// for all the rows of a municipality. Inline, as they are taken for every row.
inline std::uint64_t MixedNames(std::uint64_t names) { return detail::Mix(names); }
inline std::uint64_t CombineMixed(std::uint64_t own, std::uint64_t mixedNames) {
    return detail::Mix(own ^ mixedNames);
}
inline std::uint64_t CombineDigest(std::uint64_t own, std::uint64_t names) {
    return CombineMixed(own, MixedNames(names));
}

// The codes of one side, added row by row in any order.
class CodeDigests {
  public:
    struct Entry {
        std::uint64_t key;     // CodeKey
        std::uint64_t digest;  // RowDigest; once finished, the code's
    };

    CodeDigests() = default;
    // Rows already reduced to entries, in any order.
    explicit CodeDigests(std::vector<Entry> rows) : entries_(std::move(rows)) {}

    void reserve(size_t rows) { entries_.reserve(rows); }
    void add(std::string_view code, const RowView& row);
    void add(std::string_view code, const RowValues& row);
    void add(std::string_view code, std::uint64_t rowDigest) {
        entries_.push_back({CodeKey(code), rowDigest});
    }
    // Sorts and sums each code's distinct row digests; no add after it.
    void finish();
    size_t codeCount() const { return entries_.size(); }
    // The rows it was given, a repeated row each time (known once finished).
    size_t rowCount() const { return rows_; }

    const std::vector<Entry>& entries() const { return entries_; }

  private:
    std::vector<Entry> entries_;
    size_t rows_ = 0;
    bool finished_ = false;
};

// Puts entries in order of key, and of digest among equal keys: the order of std::sort by
// both, a third faster for the published data. No second array of the entries' size (the
// national data's entries are most of the report's peak): a radix sort on the bits in which
// the keys differ, in place on the highest 8 of them (for postal codes, the first two
// digits), then each bucket through a copy of at most 64 kB.
void SortEntries(CodeDigests::Entry* first, CodeDigests::Entry* last);

struct CodeChange {
    std::uint64_t key;
    Change change;
};

// The codes that differ between two finished sides, in key order, with their counts.
std::vector<CodeChange> CompareDigests(const CodeDigests& before, const CodeDigests& after,
                                       ChangeCounts& counts);

// The change of a key in a list from CompareDigests, or nullptr.
const CodeChange* FindChange(const std::vector<CodeChange>& changes, std::uint64_t key);

// 32 bits of a code key: where the rows of each code lie is noted in half the memory of the
// keys. Distinct seven-digit codes never share one; other texts rarely do, so that whoever
// reads the rows a hash points to checks each row's code.
inline std::uint32_t ShortKeyHash(std::uint64_t key) {
    return static_cast<std::uint32_t>((key * 0x9e3779b97f4a7c15ull) >> 32);
}

// The short hashes of the codes a comparison names, asked for every row of a side: most rows
// are turned away by a bitmap of the hashes' upper 16 bits, without a search.
class ShortKeyHashes {
  public:
    explicit ShortKeyHashes(const std::vector<CodeChange>& changes);
    bool empty() const { return hashes_.empty(); }
    bool contains(std::uint32_t hash) const {
        const std::uint32_t upper = hash >> 16;
        if ((filter_[upper / 64] >> (upper % 64) & 1) == 0) return false;
        return std::binary_search(hashes_.begin(), hashes_.end(), hash);
    }

  private:
    std::array<std::uint64_t, 1024> filter_{};
    std::vector<std::uint32_t> hashes_;  // in order
};

}  // namespace yubin::changes
