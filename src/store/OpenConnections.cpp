// The process's open connections, whose pending rows the exit paths store, and the wait for
// other programs' locks that every connection of the layer shares.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <memory>
#include <thread>

#include "store/EngineImpl.h"

namespace yubin::db {

namespace {
// Every open connection of the process, so that the exit paths can store pending rows. Never
// destroyed: it must outlive every static connection holder.
struct Registry {
    std::mutex mutex;
    std::vector<Connection::Impl*> open;
};

// The earliest moment at which an open batch of any connection falls due, or later: every
// batch begun lowers it (noteBatchDue), and each pass over the connections sets it anew. A
// flush of due batches before it has nothing to commit, and returns without taking a lock.
using BatchClock = std::chrono::steady_clock;
constexpr BatchClock::rep kNoBatchDue = BatchClock::time_point::max().time_since_epoch().count();
std::atomic<BatchClock::rep> nextBatchDue{kNoBatchDue};

Registry& registry() {
    static auto* instance = new Registry;
    static std::once_flag exitHook;
    std::call_once(exitHook, [] {
        std::atexit(flushAllConnections);
        std::at_quick_exit(flushAllConnections);
    });
    return *instance;
}

// The wait for other programs and whom to tell of it. The reporter and the tick belong to the
// thread that set them (a window's, which they may use): a wait of another thread (a reader of
// its own) waits untold, up to the lock wait.
struct WaitSettings {
    std::mutex mutex;
    std::chrono::milliseconds wait{30000};
    WaitReporter reporter;
    std::thread::id reporterThread;
    WaitTick tick;
    std::thread::id tickThread;
    bool reported = false;  // a wait was reported and its end not yet
    // `reported`, readable without the mutex: the end of a wait is asked after every append
    // and every event processing, and almost always finds nothing to tell.
    std::atomic<bool> anyReported{false};
    int ownReaders = 0;  // OwnReaders alive
};

// The tick's verdict; nothing crosses SQLite.
bool KeepWaiting(const WaitTick& tick) noexcept {
    if (!tick) return true;
    try {
        return tick();
    } catch (...) {
        return false;
    }
}

WaitSettings& waitSettings() {
    static auto* instance = new WaitSettings;
    return *instance;
}

// What ends the waits of this thread early (WaitsStopWhen); nullptr: nothing.
thread_local const std::atomic<bool>* waitStop = nullptr;

// The step of a wait that our own readers may cause (OwnReaders).
constexpr auto kOwnReadersStep = std::chrono::microseconds(250);

// SQLite's busy handler: waits in growing steps up to the lock wait, reporting its start.
int waitForOtherProgram(void*, int attempt) {
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point started;
    const Clock::time_point now = Clock::now();
    if (attempt == 0) started = now;
    if (waitStop != nullptr && waitStop->load(std::memory_order_relaxed)) return 0;
    WaitSettings& w = waitSettings();
    WaitReporter reporter;
    WaitTick tick;
    std::chrono::milliseconds limit;
    bool quiet = false;
    {
        std::lock_guard lock(w.mutex);
        const bool own = std::this_thread::get_id() == w.reporterThread;
        limit = w.wait;
        if (now - started >= limit) return 0;
        // Most likely a piece that a reader of this process is reading, or a commit of its
        // writer: over within a millisecond or so, and nothing to tell the user of.
        quiet = w.ownReaders > 0 && now - started < kOwnReadersGrace;
        if (std::this_thread::get_id() == w.tickThread && !quiet) tick = w.tick;
        if (own && !quiet && !w.reported && w.reporter) {
            w.reported = true;
            w.anyReported.store(true, std::memory_order_release);
            reporter = w.reporter;
        }
    }
    // Told on this thread; it must not use the database.
    if (reporter) {
        try {
            reporter(true);
        } catch (...) {
        }
    }
    if (quiet) {
        std::this_thread::sleep_for(kOwnReadersStep);
        return 1;
    }
    if (!KeepWaiting(tick)) return 0;
    static constexpr int kSteps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int kLast = static_cast<int>(std::size(kSteps)) - 1;
    const auto step = std::chrono::milliseconds(kSteps[std::min(attempt, kLast)]);
    std::this_thread::sleep_for(
        std::min<Clock::duration>(step, limit - (now - started) + std::chrono::milliseconds(1)));
    return 1;
}

// The progress tick and the thread that set it (the tick runs only there: a statement of
// another thread goes on untold).
struct ProgressSettings {
    std::mutex mutex;
    // Shared, so that a call takes it without copying the function (and allocating) at every
    // few thousand steps of a statement; replaced, never changed in place.
    std::shared_ptr<const ProgressTick> tick;
    std::thread::id thread;
};

ProgressSettings& progressSettings() {
    static auto* instance = new ProgressSettings;
    return *instance;
}

// SQLite's virtual machine steps between two calls of the progress handler: some tens of
// microseconds of a long statement, so that the tick (which decides itself whether anything
// is due) costs next to nothing.
constexpr int kProgressSteps = 2000;

// SQLite's progress handler: calls the tick; never interrupts the statement.
int callProgressTick(void*) {
    ProgressSettings& p = progressSettings();
    std::shared_ptr<const ProgressTick> tick;
    {
        std::lock_guard lock(p.mutex);
        if (!p.tick || p.thread != std::this_thread::get_id()) return 0;
        tick = p.tick;
    }
    try {
        (*tick)();
    } catch (...) {
    }
    return 0;
}

}  // namespace

namespace detail {

void registerConnection(Connection::Impl* impl) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    // An open connection refuses to open again, and close unregisters it.
    assert(std::find(r.open.begin(), r.open.end(), impl) == r.open.end());
    r.open.push_back(impl);
}

void unregisterConnection(Connection::Impl* impl) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.open.erase(std::remove(r.open.begin(), r.open.end(), impl), r.open.end());
}

void installWaitHandlers(sqlite3* db) {
    sqlite3_busy_handler(db, waitForOtherProgram, nullptr);
    sqlite3_progress_handler(db, kProgressSteps, callProgressTick, nullptr);
}

void endReportedWait() {
    WaitSettings& w = waitSettings();
    if (!w.anyReported.load(std::memory_order_acquire)) return;
    WaitReporter reporter;
    {
        std::lock_guard lock(w.mutex);
        if (!w.reported || std::this_thread::get_id() != w.reporterThread) return;
        w.reported = false;
        w.anyReported.store(false, std::memory_order_release);
        reporter = w.reporter;
    }
    if (reporter) reporter(false);
}

}  // namespace detail

void setLockWait(std::chrono::milliseconds wait) {
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    w.wait = std::max(wait, std::chrono::milliseconds(0));
}

std::chrono::milliseconds lockWait() {
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    return w.wait;
}

WaitReporter setWaitReporter(WaitReporter reporter) {
    // A wait that failed was told to the reporter that goes now: it hears that it is over.
    detail::endReportedWait();
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    w.reported = false;
    w.anyReported.store(false, std::memory_order_release);
    std::swap(w.reporter, reporter);
    w.reporterThread = std::this_thread::get_id();
    return reporter;
}

WaitTick setWaitTick(WaitTick tick) {
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    std::swap(w.tick, tick);
    w.tickThread = std::this_thread::get_id();
    return tick;
}

OwnReaders::OwnReaders() {
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    ++w.ownReaders;
}

OwnReaders::~OwnReaders() {
    WaitSettings& w = waitSettings();
    std::lock_guard lock(w.mutex);
    assert(w.ownReaders > 0);
    --w.ownReaders;
}

WaitsStopWhen::WaitsStopWhen(const std::atomic<bool>& stop) : outer_(waitStop) { waitStop = &stop; }

WaitsStopWhen::~WaitsStopWhen() { waitStop = outer_; }

ProgressTick setProgressTick(ProgressTick tick) {
    ProgressSettings& p = progressSettings();
    auto replacement = tick ? std::make_shared<const ProgressTick>(std::move(tick)) : nullptr;
    std::lock_guard lock(p.mutex);
    std::swap(p.tick, replacement);
    p.thread = std::this_thread::get_id();
    return replacement ? *replacement : ProgressTick();
}

namespace detail {

void noteBatchDue(std::chrono::steady_clock::time_point due) {
    const BatchClock::rep at = due.time_since_epoch().count();
    BatchClock::rep current = nextBatchDue.load(std::memory_order_relaxed);
    while (at < current &&
           !nextBatchDue.compare_exchange_weak(current, at, std::memory_order_acq_rel)) {
    }
}

}  // namespace detail

void flushConnections(bool onlyDue) {
    if (onlyDue && BatchClock::now().time_since_epoch().count() <
                       nextBatchDue.load(std::memory_order_acquire)) {
        detail::endReportedWait();
        return;
    }
    Registry& r = registry();
    std::optional<YubinError> failure;
    {
        std::lock_guard lock(r.mutex);
        // Set anew before the pass: a batch begun meanwhile lowers it again.
        nextBatchDue.store(kNoBatchDue, std::memory_order_release);
        for (Connection::Impl* impl : r.open) {
            std::lock_guard connectionLock(impl->mutex);
            try {
                if (!impl->isOpen()) continue;
                if (onlyDue) {
                    impl->commitBatchIfDue();
                } else {
                    impl->commitBatch();
                }
            } catch (const YubinError& error) {
                if (!failure) failure = error;
            }
            if (impl->inBatch) detail::noteBatchDue(impl->batchDue());
        }
    }
    detail::endReportedWait();
    if (failure) throw *failure;
}

void flushAllConnections() {
    try {
        flushConnections(false);
    } catch (const YubinError&) {
        // The exit paths have nobody to tell; the rows already committed stay.
    }
}

}  // namespace yubin::db
