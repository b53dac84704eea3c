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
            ended_.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // No thread: the caller's own reads the file when it waits.
    }
}

BackgroundCheck::~BackgroundCheck() {
    stop_.store(true, std::memory_order_relaxed);
    if (worker_.joinable()) worker_.join();
}

CheckedFile BackgroundCheck::wait(const CheckTick& tick) {
    if (result_) return *result_;
    if (failure_) std::rethrow_exception(failure_);
    if (threaded()) {
        // Events are processed once at least, however soon the check ends. What the tick
        // throws (an abort) leaves here; the check's own fault is kept.
        do {
            if (tick) tick();
            // A wait called inside the tick (an exit that settles the check) may have taken
            // the outcome already.
        } while (!result_ && !failure_ &&
                 future_.wait_for(kTickInterval) != std::future_status::ready);
        if (!result_ && !failure_) {
            try {
                result_ = future_.get();
            } catch (...) {
                failure_ = std::current_exception();
            }
        }
        if (failure_) std::rethrow_exception(failure_);
    } else {
        result_ = check_.run(tick);
    }
    return *result_;
}

}  // namespace yubin::import
