// The in-memory part of the search index's build: the bitmaps of every block, and the marking
// of the rows one reader reads in them (SearchIndexBuild.cpp reads the rows and stores the
// index). Internal to the query library.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/VectorState.h"
#include "query/Normalize.h"
#include "query/SearchGrams.h"
#include "query/SearchIndex.h"
#include "store/TableScan.h"

namespace yubin::query::detail {

// The buckets of every block while the index is built, and the first and last rowid of each,
// for a number of blocks fixed when it is made (room for more is made only while one reader
// alone reads, makeRoom). The bits lie in tiles of 64 blocks by 64 buckets (one word of the
// buckets): a block's bits are one word in each of its group's 256 tiles, a few cache lines that
// it shares with its neighbours, and readers of different blocks write different words. Once
// every block is read, each tile turns in place into the bitmaps of its 64 buckets over its 64
// blocks, and a bucket's bitmap over all blocks is its words of the tiles of every group.
class IndexBlocks {
  public:
    static constexpr std::size_t kGroupBlocks = 64;
    static constexpr std::size_t kTileWords = kGroupBlocks;
    static constexpr std::size_t kWords = kBuckets / kWordBuckets;  // tiles per group

    explicit IndexBlocks(std::size_t blocks) { makeRoom(blocks); }

    std::size_t capacity() const { return groups_ * kGroupBlocks; }

    // Room for at least `blocks` blocks; the blocks marked so far are kept. Never while another
    // reader marks blocks.
    void makeRoom(std::size_t blocks) {
        const std::size_t groups = (blocks + kGroupBlocks - 1) / kGroupBlocks;
        if (groups <= groups_) return;
        // Zeroed pages from the system, taken up only as their blocks are read.
        constexpr std::size_t kGroupWords = kWords * kTileWords;
        Bits grown(
            static_cast<std::uint64_t*>(std::calloc(groups * kGroupWords, sizeof(std::uint64_t))));
        if (!grown) throw std::bad_alloc();
        if (groups_ != 0) {
            std::memcpy(grown.get(), bits_.get(), groups_ * kGroupWords * sizeof(std::uint64_t));
        }
        bits_ = std::move(grown);
        groups_ = groups;
        bounds_.resize(capacity());
    }

    // The first word of the block's bits; bucket b lies in word (b / 64) * kTileWords of it.
    std::uint64_t* block(std::size_t block) {
        assert(block < capacity());
        return bits_.get() + (block / kGroupBlocks) * kWords * kTileWords + block % kGroupBlocks;
    }
    std::pair<long long, long long>& bounds(std::size_t block) {
        assert(block < capacity());
        return bounds_[block];
    }

    // Turns the tiles of the first `blocks` blocks into the bitmaps of their buckets, unless
    // they already are; no block is marked after.
    void transpose(std::size_t blocks) {
        if (transposed_) {
            assert(blocks == *transposed_);
            return;
        }
        const std::size_t groups = (blocks + kGroupBlocks - 1) / kGroupBlocks;
        for (std::size_t tile = 0; tile < groups * kWords; ++tile) {
            TransposeTile(bits_.get() + tile * kTileWords);
        }
        transposed_ = blocks;
    }
    // After transpose(): the bitmaps over the first `blocks` blocks of the 64 buckets of the
    // word (as the index's records hold them), appended to `out`; false when no block has any.
    bool appendBitmaps(std::size_t word, std::size_t blocks, std::string& out) const {
        const std::size_t groups = (blocks + kGroupBlocks - 1) / kGroupBlocks;
        const std::size_t bytes = (blocks + 7) / 8;
        std::uint64_t any = 0;
        for (std::size_t bucket = 0; bucket < kWordBuckets; ++bucket) {
            const std::size_t at = out.size();
            out.resize(at + groups * sizeof(std::uint64_t));
            const std::uint64_t* tileWord = bits_.get() + word * kTileWords + bucket;
            for (std::size_t group = 0; group < groups; ++group) {
                any |= *tileWord;
                // Little-endian (asserted at kPadding): the word's bytes are the bitmap's.
                std::memcpy(out.data() + at + group * sizeof(std::uint64_t), tileWord,
                            sizeof(std::uint64_t));
                tileWord += kWords * kTileWords;
            }
            out.resize(at + bytes);
        }
        return any != 0;
    }

  private:
    // The 64 x 64 bits of a tile mirrored: bit i of word k becomes bit k of word i.
    static void TransposeTile(std::uint64_t* a) {
        std::uint64_t mask = 0x00000000FFFFFFFFULL;
        for (int j = 32; j != 0; j >>= 1, mask ^= mask << j) {
            for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
                const std::uint64_t t = ((a[k] >> j) ^ a[k | j]) & mask;
                a[k] ^= t << j;
                a[k | j] ^= t;
            }
        }
    }

    struct Free {
        void operator()(std::uint64_t* p) const { std::free(p); }
    };
    using Bits = std::unique_ptr<std::uint64_t[], Free>;
    Bits bits_;
    std::size_t groups_ = 0;
    std::vector<std::pair<long long, long long>> bounds_;
    std::optional<std::size_t> transposed_;  // the blocks transpose() turned
};

// The gram loop of the build, on texts followed by at least kPadding bytes of their buffer, so
// that a letter's bytes are read with one load. A letter packs as Pack packs it; a pair as the
// first letter's bytes followed by the second's, which is the same number (Pack reads bytes as
// a little-endian number).
static_assert(std::endian::native == std::endian::little,
              "the build packs a pair from its letters as Pack packs the pair's bytes");
constexpr std::size_t kPadding = 8;

inline std::uint64_t LoadLetter(const char* p, std::size_t length) {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, p, sizeof bytes);
    return bytes & (~std::uint64_t{0} >> (64 - 8 * length));
}

// The letter before a text, for the pair that joins it to the text's first letter.
struct Previous {
    std::uint64_t letter = 0;
    std::size_t length = 0;  // 0: none (the text starts a part of the names)
};

// Calls `take` as ForEachGram does for [p, end) when the text continues one whose last letter
// is `previous`; returns the text's last letter.
template <typename Take>
Previous ForEachGramAfter(const char* p, const char* const end, Previous previous, Take&& take) {
    while (p < end) {
        const std::size_t length = LetterAt(p, end).length;
        if (*p == kNamesSeparator) {
            previous.length = 0;
        } else {
            const std::uint64_t letter = LoadLetter(p, length);
            take(Bucket(letter));
            if (previous.length != 0)
                take(Bucket(previous.letter | letter << (8 * previous.length)));
            previous = {letter, length};
        }
        p += length;
    }
    return previous;
}

// Whether the letters of the text are the same however it continues: no character of UTF-8
// begins within its last three bytes that the text's end cuts short (the letter walk would
// take following bytes into it).
inline bool EndsWhole(std::string_view text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if (byte < 0xC0 || byte >= 0xF8) continue;
        const std::size_t length = byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        if (length > back) return false;
    }
    return true;
}

// The grams of the blocks one reader reads, marked in the blocks they share with the other.
//
// Every row of a municipality begins its name and its reading with the same place name and
// place reading, so their own letters and pairs are marked once per block and municipality;
// each row marks the pair that joins the place to its town area, and its own names.
class PartBuilder {
  public:
    PartBuilder(const Masters& masters, IndexBlocks& blocks) : names_(masters), blocks_(blocks) {}

    // The rows that follow are those of the block of that number (room for it made first when
    // this reader reads alone).
    void startBlock(std::size_t block) {
        current_ = blocks_.block(block);
        bounds_ = &blocks_.bounds(block);
        *bounds_ = {std::numeric_limits<long long>::max(), std::numeric_limits<long long>::min()};
        placeMarked_ = false;
        ++blockCount_;
    }

    // Marks the row's grams in the current block.
    void add(const db::TableScan& scan) {
        assert(current_ != nullptr);
        const long long rowid = scan.rowid();
        bounds_->first = std::min(bounds_->first, rowid);
        bounds_->second = std::max(bounds_->second, rowid);
        std::uint64_t* const bits = current_;
        const auto set = [bits](std::uint32_t bucket) {
            bits[(bucket / 64) * IndexBlocks::kTileWords] |= std::uint64_t{1} << (bucket % 64);
        };
        if (names_.setCity(scan.text(0))) takePlace();
        if (!placeWhole_) {
            ForEachGram(names_.fold(scan.text(1), scan.text(2), scan.text(3), scan.text(4)), set);
            return;
        }
        if (!placeMarked_) {
            for (std::uint32_t bucket : placeBuckets_) set(bucket);
            placeMarked_ = true;
        }
        takeFolded(scan.text(1), placeNameLast_, set);
        takeFolded(scan.text(2), placeKanaLast_, set);
        takeFolded(scan.text(3), Previous{}, set);
        takeFolded(scan.text(4), Previous{}, set);
    }

    // The blocks started, and the first and last rowid of the last one (rowids grow in storage
    // order); nothing before the first.
    std::size_t blockCount() const { return blockCount_; }
    std::optional<std::pair<long long, long long>> lastBounds() const {
        if (bounds_ == nullptr) return std::nullopt;
        return *bounds_;
    }

  private:
    // Calls `take` as ForEachGramAfter does for the folded text. Its letters are taken as they
    // are folded; a text with a character that walk leaves to AppendFolded is folded into a
    // buffer and walked again from its start (the grams taken twice are marked once).
    template <typename Take>
    void takeFolded(std::string_view text, Previous previous, Take&& take) {
        Previous last = previous;
        const bool walked =
            ForEachFoldedLetter(text, [&](std::uint64_t letter, std::size_t length) {
                take(Bucket(letter));
                if (last.length != 0) take(Bucket(last.letter | letter << (8 * last.length)));
                last = {letter, length};
            });
        if (walked) return;
        text_.clear();
        AppendFolded(text, text_);
        const std::size_t size = text_.size();
        text_.append(kPadding, '\0');
        ForEachGramAfter(text_.data(), text_.data() + size, previous, take);
    }

    // The grams of the municipality's place name and reading, and their last letters.
    void takePlace() {
        placeMarked_ = false;
        placeBuckets_.clear();
        placeWhole_ = EndsWhole(names_.placeName()) && EndsWhole(names_.placeKana());
        if (!placeWhole_) return;  // such rows are folded and marked whole
        const auto add = [this](std::uint32_t bucket) { placeBuckets_.push_back(bucket); };
        for (auto [place, last] : {std::pair{&names_.placeName(), &placeNameLast_},
                                   std::pair{&names_.placeKana(), &placeKanaLast_}}) {
            place_.assign(*place);
            place_.append(kPadding, '\0');
            *last = ForEachGramAfter(place_.data(), place_.data() + place->size(), Previous{}, add);
        }
    }

    RowNames names_;
    IndexBlocks& blocks_;
    std::uint64_t* current_ = nullptr;                   // the current block's first word
    std::pair<long long, long long>* bounds_ = nullptr;  // and its rowids
    std::size_t blockCount_ = 0;

    bool placeWhole_ = false;   // the place's letters end where its texts end (EndsWhole)
    bool placeMarked_ = false;  // its grams are marked in the current block
    std::vector<std::uint32_t> placeBuckets_;
    Previous placeNameLast_, placeKanaLast_;
    std::string place_, text_;
};

}  // namespace yubin::query::detail
