// The build of the search's index: every row of ZIPALL folded, and its letters and pairs marked
// in the bitmap of its block.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/VectorState.h"
#include "query/Normalize.h"
#include "query/SearchGrams.h"
#include "query/SearchIndex.h"
#include "query/SearchIndexParts.h"
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
        if (closed_ || block < front_) return false;
        back_ = block;
        backClaimed_ = true;
        return true;
    }
    // The table holds `blocks` blocks: the front reader claims none from there on.
    void limit(std::uint64_t blocks) {
        std::lock_guard lock(mutex_);
        back_ = std::min(back_, blocks);
    }
    // The front reader has read to the table's end: true when the back reader has claimed no
    // block, which it then never does.
    bool closeAtFront() {
        std::lock_guard lock(mutex_);
        if (backClaimed_) return false;
        closed_ = true;
        return true;
    }

  private:
    std::mutex mutex_;
    std::uint64_t front_ = 0;  // the blocks before it are the front reader's
    std::uint64_t back_;       // those from it on the back reader's
    bool backClaimed_ = false;
    bool closed_ = false;
};

// What one reader read: its blocks, the rows it counted, and the rowid of the row it stopped at
// (the first row of the other reader's blocks; nothing when it read to the end of the table).
struct Part {
    Part(const Masters& masters, IndexBlocks& blocks) : builder(masters, blocks) {}
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
// connection leaves the file between two reads. `alone`: the blocks, when this reader reads
// them alone and makes room for more than were counted.
void ReadFromFront(db::Connection& connection, BlockClaims& claims, const std::stop_token& stop,
                   std::uint64_t blocksPerRead, IndexBlocks* alone, Part& part) {
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
            const std::uint64_t block = part.rows / kBlockRows;
            if (stop.stop_requested() || !claims.claimFromFront(block)) {
                part.stoppedAt = scan.rowid();
                return;
            }
            if (alone != nullptr) alone->makeRoom(static_cast<std::size_t>(block + 1));
            part.builder.startBlock(static_cast<std::size_t>(block));
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
            part.builder.startBlock(static_cast<std::size_t>(row / kBlockRows));
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
        const std::optional<std::pair<long long, long long>> bounds = part.builder.lastBounds();
        if (!bounds) return std::nullopt;
        return first ? bounds->first : bounds->second;
    };
    return front.stoppedAt == nearest(back, true) && back.stoppedAt == nearest(front, false);
}

// The blocks a reader on a connection of its own reads at once: about half a millisecond, the
// longest a commit of the caller's connection waits for it (SearchIndexBuild).
constexpr std::uint64_t kBlocksPerOwnRead = 4;

// The page cache of a reader's own connection: a scan reads each page once, so a few pages of
// the tree's upper levels are all it keeps; its memory comes on top of the caller's work.
constexpr const char* kOwnReaderCache = "PRAGMA cache_size = -128";

// The first `blockCount` blocks as the index's records (kIndexName).
void StoreIndex(db::Connection& connection, IndexBlocks& blocks, std::size_t blockCount) {
    std::string header;  // the format, then the first and last rowid of every block
    header.reserve(12 + 16 * blockCount);
    PutU32(header, kFormat);
    PutU32(header, kBucketBits);
    PutU32(header, static_cast<std::uint32_t>(blockCount));
    for (std::size_t block = 0; block < blockCount; ++block) {
        PutI64(header, blocks.bounds(block).first);
        PutI64(header, blocks.bounds(block).second);
    }
    blocks.transpose(blockCount);

    std::string bitmaps;
    long long nextWord = kHeaderKey;
    db::DerivedRecords::store(
        connection, kIndexName, "ZIPALL", [&](long long& key, std::string_view& data) {
            if (nextWord == kHeaderKey) {
                key = kHeaderKey;
                data = header;
                nextWord = 0;
                return true;
            }
            while (nextWord < static_cast<long long>(IndexBlocks::kWords)) {
                key = nextWord++;
                bitmaps.clear();
                if (blocks.appendBitmaps(static_cast<std::size_t>(key), blockCount, bitmaps)) {
                    data = bitmaps;
                    return true;
                }
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

std::size_t BlocksOf(std::uint64_t rows) {
    return static_cast<std::size_t>((rows + kBlockRows - 1) / kBlockRows);
}

// The rows ZIPALL can hold at most: one per rowid from its least to its greatest (two reads of
// the table's tree, where a count reads every page of it).
std::uint64_t RowidSpan(db::Connection& connection) {
    db::NativeStatement span(connection,
                             "SELECT (SELECT max(rowid) FROM ZIPALL) - (SELECT min(rowid) FROM "
                             "ZIPALL) + 1");
    if (!span.step() || span.isNull(0)) return 0;
    return static_cast<std::uint64_t>(std::max(span.number(0), 0LL));
}

// The blocks for which room is made from the rowids rather than a count: where rowids are that
// sparse, the rows are counted first. Room is taken up only as blocks are read.
constexpr std::uint64_t kMostBlocksBySpan = 4096;

}  // namespace

// What the build has read and who reads on. The other reader's part is that of the front: it
// reads from the first block on while the caller's thread works, which reads from the last back
// when it finishes. Both mark the blocks they claim in the same IndexBlocks.
//
// The other reader also prepares the build (the masters and the blocks, their number bounded by
// the rowids), so that the caller's thread spends on it no more than the other reader's
// connection before its own work and a count of the rows in finish(); finish() waits for that,
// which is over long before. Where it fails to, the caller's
// thread prepares the build in finish() and reads every row itself.
struct SearchIndexBuild::State {
    explicit State(db::Connection& connection) : connection(connection) {}

    // Who prepared the build: Preparing until the other reader has (it then reads, or leaves
    // the whole table to finish()) or has failed to.
    enum class Stage { Preparing, Reading, LeftToCaller, Failed };

    db::Connection& connection;
    std::unique_ptr<db::Connection> own;  // the other reader's, kept while the masters are
    std::optional<Masters> masters;       // loaded whole, then only read, by either reader
    std::uint64_t rowCount = 0;
    std::optional<IndexBlocks> blocks;
    std::optional<BlockClaims> claims;
    std::optional<Part> front;
    std::atomic<Stage> stage{Stage::Preparing};
    bool otherFailed = false;  // the other reader's verdict, read once it is joined
    std::optional<db::OwnReaders> ownReaders;
    std::jthread reader;  // the last member: asked to stop and joined before the rest go

    // The masters, the rows and the blocks as they are now, read on `reading`.
    void prepare(db::Connection& reading) {
        masters.emplace(reading);
        masters->loadAll();
        rowCount = CountRows(reading);
        blocks.emplace(BlocksOf(rowCount));
        front.emplace(*masters, *blocks);
    }

    // The same for the other reader, whose blocks the rowids bound; the rows are counted in
    // finish() (`counted` false), after the caller's keys, from whose trees a count reads a
    // tenth of the pages the table's own takes, and while this reader reads on. Gives the
    // blocks the reader may claim.
    std::uint64_t prepareToRead(db::Connection& reading) {
        const std::uint64_t spanBlocks = BlocksOf(RowidSpan(reading));
        if (spanBlocks > kMostBlocksBySpan) {
            prepare(reading);
            return BlocksOf(rowCount);
        }
        masters.emplace(reading);
        masters->loadAll();
        counted = false;
        blocks.emplace(spanBlocks);
        front.emplace(*masters, *blocks);
        return spanBlocks;
    }
    bool counted = true;  // rowCount holds the rows
};

SearchIndexBuild::SearchIndexBuild(db::Connection& connection, unsigned threads)
    : state_(std::make_unique<State>(connection)) {
    State& s = *state_;
    // The other reader's connection reads what is on disk.
    connection.flush();
    if (threads == 0 && std::thread::hardware_concurrency() < 2) threads = 1;
    if (threads == 1) {
        s.prepare(connection);  // finish() reads
        return;
    }

    // The other reader's connection is opened here, so that one that cannot be had leaves the
    // whole read to finish() at once (it costs a few tenths of a millisecond).
    try {
        s.own = std::make_unique<db::Connection>();
        s.own->open(mdlYubinBox::ConnectionString(connection.path()));
        db::NativeStatement(*s.own, kOwnReaderCache).run();
    } catch (const YubinError&) {
        s.own.reset();
        s.prepare(connection);
        return;
    }
    // `threads` 0: a table too small to gain by a second reader is left to finish() whole.
    const bool leftToBuild = threads == 0;
    s.ownReaders.emplace();
    try {
        s.reader = std::jthread([&s, leftToBuild](std::stop_token stop) {
            // Started from a thread the toolkit may have left in the slow vector state.
            ClearUpperVectorState();
            std::uint64_t readable = 0;
            try {
                readable = s.prepareToRead(*s.own);
                s.claims.emplace(readable);
            } catch (...) {
                s.stage = State::Stage::Failed;
                s.stage.notify_one();
                return;
            }
            const bool read = readable != 0 && (!leftToBuild || readable >= kLeastBlocksForTwo);
            s.stage = read ? State::Stage::Reading : State::Stage::LeftToCaller;
            s.stage.notify_one();
            if (!read) return;
            try {
                ReadFromFront(*s.own, *s.claims, stop, kBlocksPerOwnRead, nullptr, *s.front);
            } catch (...) {
                s.otherFailed = true;
                return;
            }
            // The table read to its end before finish() claimed any block, finish() claims none
            // and marks nothing: the bitmaps are made here, not on the caller's thread. Where
            // the table changed meanwhile, finish() reads it again into new blocks.
            if (!s.front->stoppedAt && s.claims->closeAtFront())
                s.blocks->transpose(s.front->builder.blockCount());
        });
    } catch (const std::system_error&) {
        // No thread to be had: finish() reads every block.
        s.ownReaders.reset();
        s.own.reset();
        s.prepare(connection);
    }
}

SearchIndexBuild::~SearchIndexBuild() = default;

void SearchIndexBuild::finish() {
    State& s = *state_;
    std::optional<Part> back;
    if (s.reader.joinable()) {
        s.stage.wait(State::Stage::Preparing);
        if (s.stage == State::Stage::Reading) {
            if (!s.counted) {
                s.rowCount = CountRows(s.connection);
                s.claims->limit(BlocksOf(s.rowCount));
            }
            // This thread reads from the last block back until it meets the other reader.
            back.emplace(*s.masters, *s.blocks);
            ReadFromBack(s.connection, s.rowCount, *s.claims, std::stop_token(), *back);
        }
        s.reader.join();
        s.ownReaders.reset();
        if (s.stage == State::Stage::Failed) {
            s.front.reset();
            s.blocks.reset();
            s.masters.reset();
            s.own.reset();
        } else if (back && (s.otherFailed || !PartsJoin(*s.front, *back, s.rowCount))) {
            // What the other reader could not read (its connection failed, say) this thread
            // reads again alone: a fault of the table itself is met there, and reported from
            // here.
            back.reset();
            s.front.reset();
            s.blocks.reset();  // the marks given back before the new ones are made
            s.blocks.emplace(BlocksOf(s.rowCount));
            s.front.emplace(*s.masters, *s.blocks);
        }
    }
    if (!s.front) s.prepare(s.connection);
    if (!back) {
        BlockClaims all(std::numeric_limits<std::uint64_t>::max());
        ReadFromFront(s.connection, all, std::stop_token(), 0, &*s.blocks, *s.front);
    }
    // Joined, the two readers' blocks are the table's from the first to the last.
    const std::size_t blockCount =
        s.front->builder.blockCount() + (back ? back->builder.blockCount() : 0);
    back.reset();
    StoreIndex(s.connection, *s.blocks, blockCount);
}

void BuildSearchIndex(db::Connection& connection, unsigned threads) {
    SearchIndexBuild build(connection, threads);
    build.finish();
}

}  // namespace yubin::query
