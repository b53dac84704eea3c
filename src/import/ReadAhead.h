// Reading done ahead on a second thread: a worker fills batches of lines in file order while
// the consumer works through the batches filled before, through a ring of a few batches, so
// that the memory in flight stays bounded whatever the file's length. Where a thread gains
// nothing, each batch is filled on the consumer's thread when it is taken, by the same code.
#pragma once

#include <algorithm>
#include <cassert>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/VectorState.h"

namespace yubin::import {

// How the readers of the data files read ahead.
struct ReadAheadOptions {
    enum class Thread {
        Automatic,  // a worker thread for a file of kThreadFromBytes or more
        Never,
        Always,
    };
    static constexpr std::uint64_t kThreadFromBytes = 256 * 1024;

    Thread thread = Thread::Automatic;
    // Small, for the memory in flight (a batch holds its lines decoded); the wakes stay few
    // because a side that waits sleeps until most of the ring is ready for it.
    std::size_t linesPerBatch = 128;
    // In the ring: one held by the consumer, the others filled by the worker ahead of it.
    std::size_t batches = 6;

    bool threadFor(std::uint64_t fileLength) const {
        return thread == Thread::Always ||
               (thread == Thread::Automatic && fileLength >= kThreadFromBytes);
    }
};

// What follows the lines of a batch: more lines, the end of the file, or a failure. A failure
// is delivered where reading in one thread meets it: that of reading the next line (its
// bytes, its decoding) when the consumer asks for that line, that of splitting or merging the
// batch's last line when the consumer splits or merges it.
struct BatchEnding {
    enum class Kind { More, EndOfFile, ReadFailed, LineFailed };
    Kind kind = Kind::More;
    std::exception_ptr failure;
    // ReadFailed: the counts as the failed reading left them, and whether it counted the line
    // (a line that was read but could not be decoded).
    std::uint64_t bytesConsumed = 0;
    long long lineNumber = 0;
    bool lineCounted = false;

    void reset() { *this = BatchEnding(); }
    void failReading(std::exception_ptr error, std::uint64_t bytes, long long line, bool counted) {
        kind = Kind::ReadFailed;
        failure = std::move(error);
        bytesConsumed = bytes;
        lineNumber = line;
        lineCounted = counted;
    }
    void failLine(std::exception_ptr error) {
        kind = Kind::LineFailed;
        failure = std::move(error);
    }
};

// The ring of batches and the worker that fills them. `Batch` is default-constructible and
// reused from round to round, so its buffers keep their capacity. The consumer holds the batch
// it took last; the worker fills the others. A side that has to wait sleeps until all the
// batches of the ring but two are ready for it (filled, or free to be filled): a wake costs
// about as much as decoding a few dozen lines, and the batch left over keeps the other side
// going while the woken one starts. Each side wakes the other only when that one waits: a
// handover costs no system call while both run.
template <class Batch>
class ReadAhead {
  public:
    // Fills one batch; false when no batch follows it (the end of the file, or a failure it
    // recorded in the batch). With a worker it runs on the worker's thread only.
    using Fill = std::function<bool(Batch&)>;
    static constexpr std::uint64_t kHeld = 1;

    // `prepare` is called once on each batch of the ring, before any filling.
    ReadAhead(std::size_t batches, bool threaded, Fill fill,
              const std::function<void(Batch&)>& prepare = {})
        : ring_(threaded ? std::max<std::size_t>(batches, kHeld + 1) : kHeld),
          batchesPerWake_(std::max<std::uint64_t>(1, ring_.size() - kHeld - 1)),
          fill_(std::move(fill)) {
        if (prepare) {
            for (Batch& batch : ring_) prepare(batch);
        }
        if (!threaded) return;
        try {
            worker_ = std::thread([this] { work(); });
        } catch (const std::system_error&) {
            ring_.resize(kHeld);  // no thread to be had: fill on the consumer's thread
        }
    }

    // Stops the worker and waits for it: no thread outlives the reader, also when the consumer
    // stops early (an abort, an error). The worker finishes the batch it is filling at most.
    ~ReadAhead() {
        if (!worker_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        slotFree_.notify_one();
        worker_.join();
    }

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    bool threaded() const { return worker_.joinable(); }

    // The next batch in file order; the one taken before goes back to be filled again. Called
    // only while the batch taken before said that more follow. Rethrows what escaped the
    // filling (in one thread it simply passes).
    Batch& take() {
        assert(!ended_);
        if (!worker_.joinable()) {
            Batch& batch = ring_[taken_++ % kHeld];
            ended_ = !fill_(batch);
            return batch;
        }
        std::unique_lock lock(mutex_);
        if (taken_ - released_ == kHeld) {
            ++released_;
            if (workerWaiting_ && free() >= batchesPerWake_) slotFree_.notify_one();
        }
        if (produced_ == taken_ && !workerDone_) {
            consumerWaiting_ = true;
            filled_.wait(lock, [this] { return ready() >= batchesPerWake_ || workerDone_; });
            consumerWaiting_ = false;
        }
        if (produced_ == taken_) {
            if (failure_) std::rethrow_exception(failure_);
            throw std::logic_error("ReadAhead::take after the last batch");
        }
        Batch& batch = ring_[taken_ % ring_.size()];
        ++taken_;
        ended_ = workerDone_ && produced_ == taken_;
        return batch;
    }

  private:
    // Under the lock: the slots the worker may fill (its next batch is produced_), and the
    // batches filled that the consumer has not taken.
    std::uint64_t free() const { return ring_.size() - (produced_ - released_); }
    std::uint64_t ready() const { return produced_ - taken_; }

    void work() {
        // Started from a thread the toolkit may have left in the slow vector state.
        ClearUpperVectorState();
        for (;;) {
            std::uint64_t n;
            {
                std::unique_lock lock(mutex_);
                if (free() == 0) {
                    workerWaiting_ = true;
                    slotFree_.wait(lock, [&] { return stopping_ || free() >= batchesPerWake_; });
                    workerWaiting_ = false;
                }
                if (stopping_) return;
                n = produced_;
            }
            bool more = false;
            std::exception_ptr failure;
            try {
                more = fill_(ring_[n % ring_.size()]);
            } catch (...) {
                failure = std::current_exception();
            }
            bool wake = false;
            {
                std::lock_guard lock(mutex_);
                if (failure) {
                    failure_ = failure;
                } else {
                    produced_ = n + 1;
                }
                workerDone_ = !more;
                wake = consumerWaiting_ && (ready() >= batchesPerWake_ || workerDone_);
            }
            if (wake) filled_.notify_one();
            if (!more) return;
        }
    }

    std::vector<Batch> ring_;
    // The batches filled, or the slots freed, that wake the side that waits for them.
    const std::uint64_t batchesPerWake_;
    Fill fill_;
    bool ended_ = false;  // the consumer's: the last batch was taken

    std::mutex mutex_;
    std::condition_variable filled_;    // the worker filled a batch, or stopped
    std::condition_variable slotFree_;  // the consumer gave batches back, or stops the worker
    std::uint64_t produced_ = 0;        // batches filled
    std::uint64_t taken_ = 0;           // batches taken by the consumer
    std::uint64_t released_ = 0;        // batches given back
    bool workerWaiting_ = false;
    bool consumerWaiting_ = false;
    bool workerDone_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread worker_;  // last: started when everything it uses is there
};

// The consumer's side of reading ahead: the ring started at the first line asked for, the
// line the consumer is at, and the counts that line left. `Batch` has `lines`, each with
// `bytesConsumed` and `lineNumber`, and `ending`, a BatchEnding.
template <class Batch>
class BatchedLines {
  public:
    using Line = typename std::decay_t<decltype(std::declval<Batch>().lines)>::value_type;

    bool started() const { return ahead_.has_value(); }
    void start(const ReadAheadOptions& options, std::uint64_t fileLength,
               typename ReadAhead<Batch>::Fill fill,
               const std::function<void(Batch&)>& prepare = {}) {
        ahead_.emplace(options.batches, options.threadFor(fileLength), std::move(fill), prepare);
    }
    bool threaded() const { return ahead_ && ahead_->threaded(); }

    // The next line, or nullptr at the end of the file. A failure to read it is raised here
    // with the counts it left; `countedFailure` is called first when it counted the line.
    // After a failure every call raises it again.
    template <class CountedFailure>
    const Line* next(CountedFailure countedFailure) {
        assert(ahead_);
        if (failure_) std::rethrow_exception(failure_);
        for (;;) {
            if (batch_ != nullptr) {
                if (index_ < batch_->lines.size()) {
                    const Line& line = batch_->lines[index_++];
                    bytesConsumed_ = line.bytesConsumed;
                    lineNumber_ = line.lineNumber;
                    return &line;
                }
                const BatchEnding& ending = batch_->ending;
                switch (ending.kind) {
                    case BatchEnding::Kind::More:
                        break;
                    case BatchEnding::Kind::EndOfFile:
                        return nullptr;
                    case BatchEnding::Kind::ReadFailed:
                        bytesConsumed_ = ending.bytesConsumed;
                        lineNumber_ = ending.lineNumber;
                        if (ending.lineCounted) countedFailure();
                        [[fallthrough]];
                    case BatchEnding::Kind::LineFailed:
                        // (LineFailed: the consumer went past the line without splitting it;
                        // what followed it was never read.)
                        failure_ = ending.failure;
                        std::rethrow_exception(failure_);
                }
            }
            try {
                batch_ = &ahead_->take();
            } catch (...) {
                failure_ = std::current_exception();  // escaped the filling: it stays too
                throw;
            }
            index_ = 0;
        }
    }

    // Raises the failure of splitting or merging the line last returned, if it had one.
    void raiseIfLineFailed() {
        if (batch_ != nullptr && index_ == batch_->lines.size() &&
            batch_->ending.kind == BatchEnding::Kind::LineFailed) {
            failure_ = batch_->ending.failure;
            std::rethrow_exception(failure_);
        }
    }

    // The batch of the line last returned.
    Batch& batch() const {
        assert(batch_ != nullptr);
        return *batch_;
    }
    bool atEndOfFile() const {
        return batch_ != nullptr && index_ == batch_->lines.size() &&
               batch_->ending.kind == BatchEnding::Kind::EndOfFile;
    }

    std::uint64_t bytesConsumed() const { return bytesConsumed_; }
    long long lineNumber() const { return lineNumber_; }

  private:
    Batch* batch_ = nullptr;
    std::size_t index_ = 0;
    std::uint64_t bytesConsumed_ = 0;
    long long lineNumber_ = 0;
    std::exception_ptr failure_;
    std::optional<ReadAhead<Batch>> ahead_;  // last: its worker stops before the rest goes
};

}  // namespace yubin::import
