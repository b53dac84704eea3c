// The kept form's digests read on a thread of its own while the engine appends.
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/Memory.h"
#include "base/VectorState.h"
#include "changes/ChangeReport.h"
#include "changes/ReportSide.h"
#include "store/NativeSql.h"
#include "store/mdlYubinBox.h"

namespace yubin::changes {

using namespace detail;

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

}  // namespace yubin::changes
