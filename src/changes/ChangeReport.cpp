#include "changes/ChangeReport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "base/Memory.h"
#include "base/VectorState.h"
#include "changes/KeptRowIndex.h"
#include "changes/ReportRows.h"
#include "store/NativeSql.h"
#include "store/mdlYubinBox.h"

namespace yubin::changes {

using namespace detail;

namespace {

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
constexpr int kPieceRows = 256;

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

std::string InPieces(const std::string& sql, int afterParameter, int pieceRows) {
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
const char* kMastersNow =
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
        std::uint64_t names = NamesDigest({}, {}, {}, {});
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
                    names = masters_.namesDigest(city);
                }
                digests.add(fields[0], CombineDigest(OwnFieldsDigest(row), names));
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

// Writes the rows of the codes the comparison names into 変更明細.
class DetailWriter {
  public:
    DetailWriter(db::Connection& connection, DataSet set)
        : insert_(connection, "INSERT INTO " + Quote(kDetailTable) + " VALUES (?1, ?2, ?3, ?4" +
                                  Parameters() + ")"),
          set_(DataSetName(set)) {}

    void write(Change change, const char* side, std::string_view code, const RowView& row) {
        insert_.bind(1, set_).bind(2, code).bind(3, ChangeWord(change)).bind(4, side);
        for (size_t i = 0; i < kRowFieldCount; ++i) insert_.bind(static_cast<int>(i) + 5, row[i]);
        insert_.run();
    }

  private:
    static std::string Parameters() {
        std::string text;
        for (size_t i = 0; i < kRowFieldCount; ++i) {
            text += ", nullif(?" + std::to_string(i + 5) + ", '')";
        }
        return text;
    }

    db::NativeStatement insert_;
    std::string_view set_;
};

bool KeptFormWaits(db::Connection& connection, DataSet set) {
    db::NativeStatement waiting(connection, "SELECT 1 FROM " + Quote(kKeptStampTable) + kWhereSet);
    waiting.bind(1, DataSetName(set));
    return waiting.step();
}

void Run(db::Connection& connection, const std::string& sql, DataSet set) {
    db::NativeStatement(connection, sql).bind(1, DataSetName(set)).run();
}

// How often this process has begun to change each data set's kept form (kept it, or dropped
// it): a reading ahead begun before a change is out of date.
std::array<std::atomic<std::uint64_t>, 2> keptFormChanges{};

std::atomic<std::uint64_t>& KeptFormChanges(DataSet set) {
    return keptFormChanges[set == DataSet::Office];
}

void DropKeptForm(db::Connection& connection, DataSet set) {
    ++KeptFormChanges(set);
    for (const char* table : {kKeptTable, kKeptMastersTable, kKeptStampTable}) {
        Run(connection, "DELETE FROM " + Quote(table) + kWhereSet, set);
    }
}

// The published national data has about 124,000 rows: room for them made first, so that the
// array is not copied as it grows.
constexpr size_t kExpectedRows = size_t{1} << 17;

CodeDigests Digests(db::Connection& connection, const Side& side) {
    CodeDigests digests;
    digests.reserve(kExpectedRows);
    side.addDigests(connection, digests);
    digests.finish();
    return digests;
}

// The digests of the kept form and of the rows now (`digestsNow()`, on this thread). Reading
// and digesting the two sides is most of a report's work, and they share nothing: the kept
// form is read on a connection of its own on another thread while this one makes the rows
// now. The caller's transaction has written nothing yet that either reads, and the kept form
// was committed when it was kept.
template <class DigestsNow>
std::pair<CodeDigests, CodeDigests> BothDigests(db::Connection& connection, DataSet set,
                                                ReportThreads threads, DigestsNow digestsNow) {
    const auto keptDigests = [set](db::Connection& on) { return Digests(on, Side(on, set, true)); };
    if (threads == ReportThreads::One || std::thread::hardware_concurrency() < 2) {
        CodeDigests before = keptDigests(connection);
        return {std::move(before), digestsNow()};
    }
    CodeDigests before, after;
    bool otherFailed = false;
    bool bothRead = false;
    {
        const std::string connectionString = mdlYubinBox::ConnectionString(connection.path());
        std::jthread reader;
        try {
            reader = std::jthread([&] {
                // Started from a thread the toolkit may have left in the slow vector state.
                ClearUpperVectorState();
                try {
                    db::Connection own;
                    own.open(connectionString);
                    before = keptDigests(own);
                } catch (...) {
                    otherFailed = true;
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: both sides are read below.
        }
        if (reader.joinable()) {
            after = digestsNow();
            bothRead = true;
        }
    }  // joined here, and when this thread's reading fails
    if (!bothRead) return BothDigests(connection, set, ReportThreads::One, digestsNow);
    // What the other thread could not read (its connection refused, say) is read here: a fault
    // of the kept form itself is met again, and reported from this thread.
    if (otherFailed) before = keptDigests(connection);
    return {std::move(before), std::move(after)};
}

// The number of distinct postal codes of the data set's rows now: what the comparison with an
// empty kept form counts as added.
long long CountCodesNow(db::Connection& connection, DataSet set) {
    std::string sql = ZipallRows(set, "%");
    sql.replace(0, sql.find(" FROM "), "SELECT \"郵便番号\"");
    db::NativeStatement rows(connection, sql);
    std::vector<std::uint64_t> keys;
    while (rows.step()) keys.push_back(CodeKey(rows.text(0)));
    std::sort(keys.begin(), keys.end());
    return std::unique(keys.begin(), keys.end()) - keys.begin();
}

long long DataVersion(db::Connection& connection) {
    db::NativeStatement version(connection, "PRAGMA data_version");
    return version.step() ? version.number(0) : -1;
}

// The page cache of the reading's own connection: it reads each page once, so a few pages of
// the tables' upper levels are all it keeps; its memory comes on top of the appending's.
constexpr const char* kOwnReaderCache = "PRAGMA cache_size = -128";

}  // namespace

bool HasKeptRows(db::Connection& connection, DataSet set) {
    db::NativeStatement row(connection,
                            "SELECT 1 FROM " + Quote(kKeptTable) + kWhereSet + " LIMIT 1");
    row.bind(1, DataSetName(set));
    return row.step();
}

struct KeptDigestsAhead::State {
    DataSet set = DataSet::National;
    db::Connection* connection = nullptr;  // the caller's
    long long dataVersion = -1;            // the caller's connection's when the reading began
    std::uint64_t keptFormChanges = 0;     // KeptFormChanges(set) then
    std::atomic<bool> stop{false};
    // The reader's results, read once it is joined.
    bool read = false;
    CodeDigests digests;
    KeptRowIndex rowIndex;
    bool digestsGiven = false;  // by take
    bool started = false;
    bool taken = false;
    std::thread reader;
};

namespace {

// The readings whose thread may still run, so that the program's ways out can stop them.
// Never destroyed: the exit handler may find it after static destructors.
struct ReadingsAhead {
    std::mutex mutex;
    std::vector<KeptDigestsAhead::State*> live;
};

ReadingsAhead& readingsAhead() {
    static auto* instance = new ReadingsAhead;
    static std::once_flag exitHook;
    std::call_once(exitHook, [] { std::atexit(StopReadingAhead); });
    return *instance;
}

// Joins the reader (asked to stop first when `stop`); the reading is no longer live.
void EndReading(KeptDigestsAhead::State& state, bool stop) {
    ReadingsAhead& readings = readingsAhead();
    std::lock_guard lock(readings.mutex);
    if (stop) state.stop.store(true, std::memory_order_relaxed);
    if (state.reader.joinable()) state.reader.join();
    std::erase(readings.live, &state);
}

// The reader's thread: the kept form's digests on a connection of its own.
void ReadKeptDigests(KeptDigestsAhead::State& state, const std::string& connectionString) {
    // Started from a thread the toolkit may have left in the slow vector state.
    ClearUpperVectorState();
    try {
        CodeDigests digests;
        digests.reserve(kExpectedRows);
        KeptRowIndex rowIndex;
        rowIndex.reserve(kExpectedRows);
        {
            // The caller's commits wait for a piece of this reading without telling anybody.
            const db::OwnReaders ownReaders;
            const db::WaitsStopWhen stopWaits(state.stop);
            db::Connection own;
            own.open(connectionString);
            db::NativeStatement(own, kOwnReaderCache).run();
            Side(own, state.set, true, &state.stop).addDigests(own, digests, &rowIndex);
        }  // the connection closed before the sort: its memory goes first
        ReleaseFreeMemory();
        digests.finish();
        state.digests = std::move(digests);
        state.rowIndex = std::move(rowIndex);
        state.read = true;
    } catch (...) {
        // Stopped, or the reading failed: the report reads the kept form itself.
    }
}

}  // namespace

KeptDigestsAhead::KeptDigestsAhead(db::Connection& connection, DataSet set)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.set = set;
    s.connection = &connection;
    if (std::thread::hardware_concurrency() < 2) return;
    // Noted before the reading begins: a commit of another connection after it changes it.
    s.keptFormChanges = KeptFormChanges(set).load();
    try {
        s.dataVersion = DataVersion(connection);
    } catch (const YubinError&) {
        return;  // the file busy, say: the report meets what it meets itself
    }
    // The kept form this connection sees may not be in the file yet: another connection would
    // read what was there before.
    if (connection.inTransaction()) return;
    ReadingsAhead& readings = readingsAhead();
    std::lock_guard lock(readings.mutex);
    try {
        s.reader = std::thread(ReadKeptDigests, std::ref(s),
                               mdlYubinBox::ConnectionString(connection.path()));
    } catch (const std::system_error&) {
        return;  // no thread: the report reads the kept form
    }
    s.started = true;
    readings.live.push_back(&s);
}

KeptDigestsAhead::~KeptDigestsAhead() { EndReading(*state_, true); }

DataSet KeptDigestsAhead::set() const { return state_->set; }

bool KeptDigestsAhead::reading() const { return state_->started; }

bool KeptDigestsAhead::waitForReading() {
    EndReading(*state_, false);
    return state_->read;
}

std::optional<CodeDigests> KeptDigestsAhead::take(db::Connection& connection) {
    State& s = *state_;
    EndReading(s, false);
    if (!s.read || s.taken || &connection != s.connection) return std::nullopt;
    s.taken = true;
    if (KeptFormChanges(s.set).load() != s.keptFormChanges ||
        DataVersion(connection) != s.dataVersion) {
        // Their memory goes back now.
        s.digests = CodeDigests();
        s.rowIndex = KeptRowIndex();
        return std::nullopt;
    }
    s.digestsGiven = true;
    return std::move(s.digests);
}

std::optional<KeptRowIndex> KeptDigestsAhead::takeRowIndex() {
    State& s = *state_;
    KeptRowIndex index = std::move(s.rowIndex);
    s.rowIndex = KeptRowIndex();
    if (!std::exchange(s.digestsGiven, false) || !index.whole()) return std::nullopt;
    return index;
}

void StopReadingAhead() {
    ReadingsAhead& readings = readingsAhead();
    std::lock_guard lock(readings.mutex);
    for (KeptDigestsAhead::State* state : readings.live) {
        state->stop.store(true, std::memory_order_relaxed);
    }
    for (KeptDigestsAhead::State* state : readings.live) {
        if (state->reader.joinable()) state->reader.join();
    }
    readings.live.clear();
}

std::string LocalTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool KeepOldData(db::Connection& connection, DataSet set, OldRows rows,
                 const std::function<void()>& beforeCommit,
                 const std::function<std::optional<long long>()>& highestRowid) {
    db::NativeTransaction transaction(connection);
    // Made in the kept form's transaction: the first import of a database creates the tables
    // with one commit instead of one per table.
    EnsureTables(connection);
    if (KeptFormWaits(connection, set)) {
        if (rows == OldRows::CutShort) {
            // Nothing kept; what the hook wrote commits.
            if (beforeCommit) beforeCommit();
            transaction.commit();
            return false;
        }
        DropKeptForm(connection, set);
    }
    ++KeptFormChanges(set);
    KeepRows(connection, set, highestRowid ? highestRowid() : std::nullopt);
    if (set == DataSet::National) {
        Run(connection,
            "INSERT INTO " + Quote(kKeptMastersTable) +
                " SELECT ?1, t, c, nullif(n, ''), nullif(k, '') FROM (" + std::string(kMastersNow) +
                ")",
            set);
    }
    Run(connection,
        "INSERT INTO " + Quote(kKeptStampTable) + " VALUES (?1, (SELECT nullif(" +
            Quote(DataSetName(set)) + ", '') FROM \"作成日\" LIMIT 1))",
        set);
    if (beforeCommit) beforeCommit();
    transaction.commit();
    return true;
}

std::optional<ReportSummary> MakeReport(db::Connection& connection, DataSet set,
                                        std::string importedAt, ReportThreads threads,
                                        AppendedRows* appended, KeptDigestsAhead* ahead) {
    // The appended rows' memory goes back as soon as the report is made, or fails.
    struct Clear {
        AppendedRows* rows;
        ~Clear() {
            if (rows) rows->clear();
        }
    } clear{appended};
    assert(appended == nullptr || appended->set() == set);
    assert(ahead == nullptr || ahead->set() == set);
    if (!HasReportTables(connection)) return std::nullopt;
    EnsureTables(connection);
    db::NativeTransaction transaction(connection);
    if (!KeptFormWaits(connection, set)) return std::nullopt;
    const std::string_view name = DataSetName(set);

    ReportSummary summary;
    summary.set = set;
    summary.importedAt = importedAt.empty() ? LocalTimestamp() : std::move(importedAt);
    {
        db::NativeStatement before(
            connection, "SELECT ifnull(\"作成日\", '') FROM " + Quote(kKeptStampTable) + kWhereSet);
        if (before.bind(1, name).step()) summary.stampBefore = before.text(0);
        db::NativeStatement after(connection,
                                  "SELECT ifnull(" + Quote(name) + ", '') FROM \"作成日\" LIMIT 1");
        if (after.step()) summary.stampAfter = after.text(0);
    }

    const auto dropOlderDetails = [&] {
        Run(connection, "DELETE FROM " + Quote(kDetailTable) + kWhereSet, set);
    };
    if (!HasKeptRows(connection, set)) {
        dropOlderDetails();
        // An import into an empty table replaced nothing: its codes are all added, and they
        // are not listed.
        summary.counts.added =
            appended ? appended->takeCodeCount() : CountCodesNow(connection, set);
    } else {
        // Rows reduced to their codes, as the import found nothing kept, cannot be compared:
        // they are read back.
        if (appended != nullptr && !appended->comparable()) appended = nullptr;
        const Side now(connection, set, false);
        // The rows now as they were appended, or read back.
        const auto digestsNow = [&] {
            if (!appended) return Digests(connection, now);
            return appended->takeDigests(
                [&now](std::string_view municipality) { return now.namesDigest(municipality); });
        };
        CodeDigests before, after;
        // Where the kept rows lie, when they were read ahead.
        std::optional<KeptRowIndex> keptRows;
        if (ahead != nullptr && ahead->reading()) {
            // The rows now first: meanwhile the reading ahead ends, if it has not yet.
            after = digestsNow();
            std::optional<CodeDigests> read = ahead->take(connection);
            before = read ? std::move(*read) : Digests(connection, Side(connection, set, true));
            keptRows = ahead->takeRowIndex();
        } else {
            // Rows taken as appended cost this thread little: the kept form is read here too,
            // as a second connection and its page cache would cost more memory than the time
            // it saves at this point.
            std::tie(before, after) =
                BothDigests(connection, set, appended ? ReportThreads::One : threads, digestsNow);
        }
        // Only after the second thread has read: an older report of many rows, deleted, fills
        // the page cache, which then spills into the file under an exclusive lock that keeps
        // the other connection from reading (until the lock wait fails it).
        dropOlderDetails();
        const std::vector<CodeChange> changes = CompareDigests(before, after, summary.counts);
        // The rows of the codes that changed.
        if (!changes.empty()) {
            const Side old(connection, set, true);
            DetailWriter details(connection, set);
            const CodeChange* change = nullptr;
            const auto changed = [&](std::string_view code) {
                change = FindChange(changes, CodeKey(code));
                return change != nullptr;
            };
            // The kept rows of those codes: only the packed rows that hold them, when the
            // reading ahead noted where they lie.
            const auto writeOld = [&](std::string_view code, const RowView& row) {
                details.write(change->change, kBeforeWord, code, row);
            };
            if (keptRows) {
                const std::vector<KeptRowIndex::Wanted> at = keptRows->rowsOf(changes);
                keptRows.reset();
                old.forEachKeptRowAt(connection, at, changed, writeOld);
            } else {
                old.forEachRow(connection, changed, writeOld);
            }
            // The rows now of those codes: the appended ones read back by their rowids.
            std::optional<std::vector<long long>> rowidsNow;
            if (appended) rowidsNow = appended->rowidsOf(changes);
            now.forEachRow(
                connection, changed,
                [&](std::string_view code, const RowView& row) {
                    details.write(change->change, kAfterWord, code, row);
                },
                rowidsNow ? &*rowidsNow : nullptr);
        }
    }

    Run(connection, "DELETE FROM " + Quote(kReportTable) + kWhereSet, set);
    db::NativeStatement report(connection, "INSERT INTO " + Quote(kReportTable) +
                                               " VALUES (?1, ?2, nullif(?3, ''), nullif(?4, ''), "
                                               "?5, ?6, ?7)");
    report.bind(1, name)
        .bind(2, summary.importedAt)
        .bind(3, summary.stampBefore)
        .bind(4, summary.stampAfter)
        .bind(5, summary.counts.added)
        .bind(6, summary.counts.removed)
        .bind(7, summary.counts.changed)
        .run();
    DropKeptForm(connection, set);
    transaction.commit();
    return summary;
}

void ForgetReport(db::Connection& connection, DataSet set) {
    if (!HasReportTables(connection)) return;
    db::NativeTransaction transaction(connection);
    for (const char* table : {kReportTable, kDetailTable}) {
        Run(connection, "DELETE FROM " + Quote(table) + kWhereSet, set);
    }
    transaction.commit();
}

std::optional<ReportSummary> ReadSummary(db::Connection& connection, DataSet set) {
    if (!HasReportTables(connection)) return std::nullopt;
    db::NativeStatement row(connection,
                            "SELECT ifnull(\"取込日時\", ''), ifnull(\"旧作成日\", ''), "
                            "ifnull(\"新作成日\", ''), \"追加\", \"削除\", \"変更\" FROM " +
                                Quote(kReportTable) + kWhereSet);
    row.bind(1, DataSetName(set));
    if (!row.step()) return std::nullopt;
    ReportSummary summary;
    summary.set = set;
    summary.importedAt = row.text(0);
    summary.stampBefore = row.text(1);
    summary.stampAfter = row.text(2);
    summary.counts = {row.number(3), row.number(4), row.number(5)};
    return summary;
}

}  // namespace yubin::changes
