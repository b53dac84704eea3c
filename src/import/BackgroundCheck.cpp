#include "import/BackgroundCheck.h"

#include <system_error>
#include <utility>

#include "base/VectorState.h"

namespace yubin::import {

namespace {

// Thrown through the check's reading to end it early; never leaves the worker.
struct CheckStopped {};

}  // namespace

BackgroundCheck::BackgroundCheck(DataFileCheck check) : check_(std::move(check)) {
    try {
        worker_ = std::thread([this] {
            // Started from a thread the toolkit may have left in the slow vector state.
            ClearUpperVectorState();
            try {
                promise_.set_value(check_.run([this] {
                    if (stop_.load(std::memory_order_relaxed)) throw CheckStopped();
                }));
            } catch (...) {
                promise_.set_exception(std::current_exception());
            }
        });
    } catch (const std::system_error&) {
        // No thread: the caller's own reads the file when it waits.
    }
}

BackgroundCheck::~BackgroundCheck() {
    stop_.store(true, std::memory_order_relaxed);
    if (worker_.joinable()) worker_.join();
}

bool BackgroundCheck::waitFor(std::chrono::steady_clock::duration longest) {
    if (result_ || failure_ || !threaded()) return result_ || failure_;
    return future_.wait_for(longest) == std::future_status::ready;
}

CheckedFile BackgroundCheck::wait(const CheckTick& tick) {
    if (result_) return *result_;
    if (failure_) std::rethrow_exception(failure_);
    if (threaded()) {
        // Events are processed once at least, however soon the check ends. What the tick
        // throws (an abort) leaves here; the check's own fault is kept.
        do {
            if (tick) tick();
        } while (future_.wait_for(kTickInterval) != std::future_status::ready);
        try {
            result_ = future_.get();
        } catch (...) {
            failure_ = std::current_exception();
            throw;
        }
    } else {
        result_ = check_.run(tick);
    }
    return *result_;
}

}  // namespace yubin::import
