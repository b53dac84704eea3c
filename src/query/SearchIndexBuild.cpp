// The build of the search's index: every row of ZIPALL folded, and its letters and pairs marked
// in the bitmap of its block.
#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <thread>

#include "base/VectorState.h"
#include "query/Normalize.h"
#include "query/SearchGrams.h"
#include "query/SearchIndex.h"
#include "store/DerivedRecords.h"
#include "store/NativeSql.h"
#include "store/TableScan.h"
#include "store/mdlYubinBox.h"

namespace yubin::query {

using namespace detail;

namespace {

// The table's size from which the build reads it on two threads when the caller leaves it to
// the build (and the machine has two processors): the other reader's connection costs the
// caller's thread a few tenths of a millisecond.
constexpr std::uint64_t kLeastBlocksForTwo = 64;

// The buckets of every block while the index is built: one bitmap over the buckets per block,
// so that the bits of the block being read lie together.
class BlockBuckets {
  public:
    void reserve(std::size_t rows) { bits_.reserve((rows / kBlockRows + 1) * kWords); }
    void addBlock() {
        bits_.resize(bits_.size() + kWords, 0);
        last_ = bits_.data() + bits_.size() - kWords;
    }
    // Marks the bucket in the last block.
    void set(std::uint32_t bucket) { last_[bucket / 64] |= std::uint64_t{1} << (bucket % 64); }
    // The blocks of another reader, last first, which follow these.
    void appendReversed(const BlockBuckets& other) {
        for (std::size_t end = other.bits_.size(); end > 0; end -= kWords) {
            bits_.insert(bits_.end(),
                         other.bits_.begin() + static_cast<std::ptrdiff_t>(end - kWords),
                         other.bits_.begin() + static_cast<std::ptrdiff_t>(end));
        }
        last_ = bits_.empty() ? nullptr : bits_.data() + bits_.size() - kWords;
    }
    // The bitmaps over the blocks of the 64 buckets that share one word of the per-block
    // bitmaps (buckets word * 64 to word * 64 + 63), as bytes; empty for a bucket no block has.
    // One strided read per block and word: reading bucket by bucket would read the whole
    // table once per bucket, and all the bitmaps at once would double the memory.
    void wordBitmaps(std::size_t word, std::array<std::string, 64>& maps) const {
        const std::size_t blocks = bits_.size() / kWords;
        for (std::string& map : maps) map.clear();
        for (std::size_t block = 0; block < blocks; ++block) {
            const char blockBit = static_cast<char>(1 << (block % 8));
            for (std::uint64_t set = bits_[block * kWords + word]; set != 0; set &= set - 1) {
                std::string& map = maps[static_cast<std::size_t>(std::countr_zero(set))];
                if (map.empty()) map.assign((blocks + 7) / 8, '\0');
                map[block / 8] = static_cast<char>(map[block / 8] | blockBit);
            }
        }
    }

  private:
    static constexpr std::size_t kWords = kBuckets / 64;
    std::vector<std::uint64_t> bits_;
    std::uint64_t* last_ = nullptr;  // the words of the last block (kept out of the gram loop)
};

// The gram loop of the build, on texts followed by at least kPadding bytes of their buffer, so
// that a letter's bytes are read with one load. A letter packs as Pack packs it; a pair as the
// first letter's bytes followed by the second's, which is the same number (Pack reads bytes as
// a little-endian number).
static_assert(std::endian::native == std::endian::little,
              "the build packs a pair from its letters as Pack packs the pair's bytes");
constexpr std::size_t kPadding = 8;

std::uint64_t LoadLetter(const char* p, std::size_t length) {
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
bool EndsWhole(std::string_view text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if (byte < 0xC0 || byte >= 0xF8) continue;
        const std::size_t length = byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        if (length > back) return false;
    }
    return true;
}

// The grams of the blocks one reader reads.
//
// Every row of a municipality begins its name and its reading with the same place name and
// place reading, so their own letters and pairs are marked once per block and municipality;
// each row marks the pair that joins the place to its town area, and its own names.
class PartBuilder {
  public:
    explicit PartBuilder(const Masters& masters) : names_(masters) {}

    void reserve(std::size_t rows) { blocks_.reserve(rows); }
    // The rows that follow are those of a new block.
    void startBlock() {
        blocks_.addBlock();
        bounds_.push_back(
            {std::numeric_limits<long long>::max(), std::numeric_limits<long long>::min()});
        placeMarked_ = false;
    }

    // Marks the row's grams in the current block.
    void add(const db::TableScan& scan) {
        assert(!bounds_.empty());
        const long long rowid = scan.rowid();
        bounds_.back().first = std::min(bounds_.back().first, rowid);
        bounds_.back().second = std::max(bounds_.back().second, rowid);
        const auto set = [this](std::uint32_t bucket) { blocks_.set(bucket); };
        if (names_.setCity(scan.text(0))) takePlace();
        if (!placeWhole_) {
            ForEachGram(names_.fold(scan.text(1), scan.text(2), scan.text(3), scan.text(4)), set);
            return;
        }
        if (!placeMarked_) {
            for (std::uint32_t bucket : placeBuckets_) blocks_.set(bucket);
            placeMarked_ = true;
        }
        std::array<std::size_t, 5> at{};
        text_.clear();
        for (int column = 1; column <= 4; ++column) {
            AppendFolded(scan.text(column), text_);
            at[static_cast<std::size_t>(column)] = text_.size();
        }
        text_.append(kPadding, '\0');
        const char* const p = text_.data();
        ForEachGramAfter(p, p + at[1], placeNameLast_, set);
        ForEachGramAfter(p + at[1], p + at[2], placeKanaLast_, set);
        ForEachGramAfter(p + at[2], p + at[3], Previous{}, set);
        ForEachGramAfter(p + at[3], p + at[4], Previous{}, set);
    }

    // The blocks in the order they were started, and the first and the last rowid of each
    // (rowids grow in storage order).
    BlockBuckets& blocks() { return blocks_; }
    const std::vector<std::pair<long long, long long>>& bounds() const { return bounds_; }

  private:
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
    BlockBuckets blocks_;
    std::vector<std::pair<long long, long long>> bounds_;

    bool placeWhole_ = false;   // the place's letters end where its texts end (EndsWhole)
    bool placeMarked_ = false;  // its grams are marked in the current block
    std::vector<std::uint32_t> placeBuckets_;
    Previous placeNameLast_, placeKanaLast_;
    std::string place_, text_;
};

// Which blocks are read by whom when two readers share the table: one takes them from the
// first on, the other from the last back; each block is read by the one that claims it first.
class BlockClaims {
  public:
    explicit BlockClaims(std::uint64_t blocks) : back_(blocks) {}
    bool claimFromFront(std::uint64_t block) {
        std::lock_guard lock(mutex_);
        if (block >= back_) return false;
        front_ = block + 1;
        return true;
    }
    bool claimFromBack(std::uint64_t block) {
        std::lock_guard lock(mutex_);
        if (block < front_) return false;
        back_ = block;
        return true;
    }

  private:
    std::mutex mutex_;
    std::uint64_t front_ = 0;  // the blocks before it are the front reader's
    std::uint64_t back_;       // those from it on the back reader's
};

// What one reader read: its blocks, the rows it counted, and the rowid of the row it stopped at
// (the first row of the other reader's blocks; nothing when it read to the end of the table).
struct Part {
    explicit Part(const Masters& masters) : builder(masters) {}
    PartBuilder builder;
    std::uint64_t rows = 0;
    std::optional<long long> stoppedAt;
};

db::TableScan SearchedRows(db::Connection& connection, db::TableScan::Order order) {
    return db::TableScan(
        connection, "ZIPALL",
        std::vector<std::string>(std::begin(kSearchedColumns), std::end(kSearchedColumns)), order);
}

// Reads blocks from the first on, while it can claim them and no stop is asked. After every
// `blocksPerRead` blocks (0: never) the scan starts again after the last row read, so that the
// connection leaves the file between two reads.
void ReadFromFront(db::Connection& connection, BlockClaims& claims, const std::stop_token& stop,
                   std::uint64_t blocksPerRead, Part& part) {
    constexpr long long kLastRowid = std::numeric_limits<long long>::max();
    db::TableScan scan = SearchedRows(connection, db::TableScan::Order::Storage);
    long long last = 0;
    for (;;) {
        if (blocksPerRead != 0 && part.rows != 0 && part.rows % (blocksPerRead * kBlockRows) == 0) {
            if (last == kLastRowid) return;
            scan.restrict(last + 1, kLastRowid);
        }
        if (!scan.next()) return;
        if (part.rows % kBlockRows == 0) {
            if (stop.stop_requested() || !claims.claimFromFront(part.rows / kBlockRows)) {
                part.stoppedAt = scan.rowid();
                return;
            }
            part.builder.startBlock();
        }
        part.builder.add(scan);
        last = scan.rowid();
        ++part.rows;
    }
}

// Reads blocks from the last back, while it can claim them: the table holds `rowCount` rows.
void ReadFromBack(db::Connection& connection, std::uint64_t rowCount, BlockClaims& claims,
                  const std::stop_token& stop, Part& part) {
    db::TableScan scan = SearchedRows(connection, db::TableScan::Order::Reversed);
    while (scan.next()) {
        if (part.rows == rowCount) {  // more rows than counted: the build sees it
            part.stoppedAt = scan.rowid();
            return;
        }
        const std::uint64_t row = rowCount - 1 - part.rows;
        if (row % kBlockRows == kBlockRows - 1 || part.rows == 0) {
            if (stop.stop_requested() || !claims.claimFromBack(row / kBlockRows)) {
                part.stoppedAt = scan.rowid();
                return;
            }
            part.builder.startBlock();
        }
        part.builder.add(scan);
        ++part.rows;
    }
}

// Whether the two readers' blocks make up the table of `rowCount` rows without a gap or an
// overlap: they fail to when another program changed the rows between their reads.
bool PartsJoin(const Part& front, const Part& back, std::uint64_t rowCount) {
    if (front.rows + back.rows != rowCount) return false;
    if (front.rows % kBlockRows != 0 && back.rows != 0) return false;
    // The row each stopped at is the other's nearest one: the first row of the back reader's
    // first block, the last row of the front reader's last.
    const auto nearest = [](const Part& part, bool first) -> std::optional<long long> {
        const std::vector<std::pair<long long, long long>>& bounds = part.builder.bounds();
        if (bounds.empty()) return std::nullopt;
        return first ? bounds.back().first : bounds.back().second;
    };
    return front.stoppedAt == nearest(back, true) && back.stoppedAt == nearest(front, false);
}

// The blocks a reader on a connection of its own reads at once: about half a millisecond, the
// longest a commit of the caller's connection waits for it (SearchIndexBuild).
constexpr std::uint64_t kBlocksPerOwnRead = 4;

// The page cache of a reader's own connection: a scan reads each page once, so a few pages of
// the tree's upper levels are all it keeps; its memory comes on top of the caller's work.
constexpr const char* kOwnReaderCache = "PRAGMA cache_size = -128";

// The bucket bitmaps of the blocks, after the header with the first and last rowid of each, as
// the index's records.
void StoreIndex(db::Connection& connection, BlockBuckets& blocks,
                const std::vector<std::pair<long long, long long>>& bounds) {
    std::string header;  // the format, then the first and last rowid of every block
    PutU32(header, kFormat);
    PutU32(header, kBucketBits);
    PutU32(header, static_cast<std::uint32_t>(bounds.size()));
    for (const auto& [first, last] : bounds) {
        PutI64(header, first);
        PutI64(header, last);
    }

    // The header, then the bucket bitmaps that are not empty, 64 buckets made at a time.
    std::array<std::string, 64> bitmaps;
    long long nextBucket = kHeaderKey;
    db::DerivedRecords::store(connection, kIndexName, "ZIPALL",
                              [&](long long& key, std::string& data) {
                                  if (nextBucket == kHeaderKey) {
                                      key = kHeaderKey;
                                      data = std::move(header);
                                      nextBucket = 0;
                                      return true;
                                  }
                                  while (nextBucket < kBuckets) {
                                      key = nextBucket++;
                                      const auto bucket = static_cast<std::size_t>(key);
                                      if (bucket % 64 == 0)
                                          blocks.wordBitmaps(bucket / 64, bitmaps);
                                      data = std::move(bitmaps[bucket % 64]);
                                      if (!data.empty()) return true;
                                  }
                                  return false;
                              });
}

std::uint64_t CountRows(db::Connection& connection) {
    db::Recordset rs;
    rs.open("SELECT COUNT(*) As DCOUNT FROM ZIPALL", connection, db::CursorType::ForwardOnly,
            db::LockType::ReadOnly);
    return static_cast<std::uint64_t>(rs.field("DCOUNT").value().toNumber());
}

}  // namespace

// What the build has read and who reads on. The other reader's part is that of the front: it
// reads from the first block on while the caller's thread works, which reads from the last back
// when it finishes.
struct SearchIndexBuild::State {
    explicit State(db::Connection& connection) : connection(connection), masters(connection) {}

    db::Connection& connection;
    Masters masters;  // loaded whole, then only read, by either reader
    std::uint64_t rowCount = 0;
    std::optional<BlockClaims> claims;
    std::optional<Part> front;
    bool otherFailed = false;  // the other reader's verdict, read once it is joined
    std::optional<db::OwnReaders> ownReaders;
    std::jthread reader;  // the last member: asked to stop and joined before the rest go
};

SearchIndexBuild::SearchIndexBuild(db::Connection& connection, unsigned threads)
    : state_(std::make_unique<State>(connection)) {
    State& s = *state_;
    // The other reader's connection reads what is on disk.
    connection.flush();
    s.masters.loadAll();
    s.rowCount = CountRows(connection);
    s.front.emplace(s.masters);
    if (threads == 0) {
        const std::uint64_t blocks = (s.rowCount + kBlockRows - 1) / kBlockRows;
        threads = std::thread::hardware_concurrency() >= 2 && blocks >= kLeastBlocksForTwo ? 2 : 1;
    }
    if (threads < 2 || s.rowCount == 0) return;

    // The other reader's connection is opened here, so that one that cannot be had leaves the
    // whole read to finish() at once (it costs a few tenths of a millisecond).
    auto own = std::make_unique<db::Connection>();
    try {
        own->open(mdlYubinBox::ConnectionString(connection.path()));
        db::NativeStatement(*own, kOwnReaderCache).run();
    } catch (const YubinError&) {
        return;
    }
    const std::uint64_t blocks = (s.rowCount + kBlockRows - 1) / kBlockRows;
    s.claims.emplace(blocks);
    s.front->builder.reserve(static_cast<std::size_t>(s.rowCount));
    s.ownReaders.emplace();
    try {
        s.reader = std::jthread([&s, own = std::move(own)](std::stop_token stop) mutable {
            // Started from a thread the toolkit may have left in the slow vector state.
            ClearUpperVectorState();
            try {
                ReadFromFront(*own, *s.claims, stop, kBlocksPerOwnRead, *s.front);
                own.reset();
            } catch (...) {
                s.otherFailed = true;
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: finish() reads every block.
        s.ownReaders.reset();
        s.claims.reset();
    }
}

SearchIndexBuild::~SearchIndexBuild() = default;

void SearchIndexBuild::finish() {
    State& s = *state_;
    std::optional<Part> back;
    if (s.reader.joinable()) {
        // This thread reads from the last block back until it meets the other reader.
        back.emplace(s.masters);
        back->builder.reserve(static_cast<std::size_t>(s.rowCount / 2));
        ReadFromBack(s.connection, s.rowCount, *s.claims, std::stop_token(), *back);
        s.reader.join();
        s.ownReaders.reset();
        // What the other reader could not read (its connection failed, say) this thread reads
        // again alone: a fault of the table itself is met there, and reported from here.
        if (s.otherFailed || !PartsJoin(*s.front, *back, s.rowCount)) {
            back.reset();
            s.front.emplace(s.masters);
        }
    }
    if (!back) {
        s.front->builder.reserve(static_cast<std::size_t>(s.rowCount));
        BlockClaims all(std::numeric_limits<std::uint64_t>::max());
        ReadFromFront(s.connection, all, std::stop_token(), 0, *s.front);
    }

    // The back reader's blocks follow the front reader's, in reverse order of reading.
    BlockBuckets& blocks = s.front->builder.blocks();
    std::vector<std::pair<long long, long long>> bounds = s.front->builder.bounds();
    if (back) {
        blocks.appendReversed(back->builder.blocks());
        bounds.insert(bounds.end(), back->builder.bounds().rbegin(), back->builder.bounds().rend());
        back.reset();
    }
    StoreIndex(s.connection, blocks, bounds);
}

void BuildSearchIndex(db::Connection& connection, unsigned threads) {
    SearchIndexBuild build(connection, threads);
    build.finish();
}

}  // namespace yubin::query
