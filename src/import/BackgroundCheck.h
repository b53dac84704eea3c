// A data file's check read on a worker thread, so that the engine's thread may meanwhile do
// what it can still undo (keep the replaced data for the change report, uncommitted) instead
// of waiting for the whole file to be read.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <optional>
#include <thread>

#include "import/DataFileCheck.h"

namespace yubin::import {

class BackgroundCheck {
  public:
    // Starts reading the file on a worker. Where no thread can be had, `wait` reads it on the
    // caller's thread instead, with the same result.
    explicit BackgroundCheck(DataFileCheck check);
    // Stops the reading wherever it is and waits for the worker.
    ~BackgroundCheck();
    BackgroundCheck(const BackgroundCheck&) = delete;
    BackgroundCheck& operator=(const BackgroundCheck&) = delete;

    // Waits for the check to read the file to its end, calling `tick` first (unless it has
    // ended already) and then every few milliseconds meanwhile, as the engines process events;
    // what `tick` throws leaves the check running until the destructor stops it. Raises the
    // check's fault; called again, gives the same.
    CheckedFile wait(const CheckTick& tick);

    // Whether the check has ended (then `wait` gives its result at once): one atomic load,
    // cheap enough to ask after every line. Without a worker, false until `wait` has read.
    bool ended() const {
        return ended_.load(std::memory_order_acquire) || result_.has_value() || failure_;
    }
    // Whether `raised`, which `wait` raised, is the check's own fault (not what the tick threw).
    bool isFault(const std::exception_ptr& raised) const { return failure_ && raised == failure_; }

    // Whether the file is read on a worker thread.
    bool threaded() const { return worker_.joinable(); }

  private:
    static constexpr std::chrono::milliseconds kTickInterval{2};

    DataFileCheck check_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};  // set by the worker once the promise holds the outcome
    std::promise<CheckedFile> promise_;
    std::future<CheckedFile> future_ = promise_.get_future();
    std::optional<CheckedFile> result_;
    std::exception_ptr failure_;
    std::thread worker_;
};

}  // namespace yubin::import
