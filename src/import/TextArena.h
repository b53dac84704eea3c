// The decoded texts of a batch of lines read ahead: appended one after the other into one
// buffer that keeps its capacity from batch to batch. A text is named by its place (TextSpan),
// which stays valid when the buffer grows and moves.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace yubin::import {

struct TextSpan {
    std::uint32_t begin = 0;
    std::uint32_t length = 0;
};

class TextArena {
  public:
    // The most a batch puts into its buffer before it ends, far below what a TextSpan can
    // name: a batch stops taking lines past it, and a line adds at most a few times its own
    // length (LineReader::kMaxLineBytes).
    static constexpr std::size_t kBatchBytes = std::size_t{64} << 20;

    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }

    // Room for `bytes` more bytes at the end, to be written and then taken by commit. The
    // pointer is valid until the buffer grows again.
    char* room(std::size_t bytes) {
        if (capacity_ - size_ < bytes) grow(size_ + bytes);
        return data_.get() + size_;
    }
    // Takes `bytes` of the room written last as a text.
    TextSpan commit(std::size_t bytes) {
        assert(size_ + bytes <= capacity_);
        const TextSpan span{static_cast<std::uint32_t>(size_), static_cast<std::uint32_t>(bytes)};
        size_ += bytes;
        return span;
    }
    TextSpan append(std::string_view text) {
        std::memcpy(room(text.size()), text.data(), text.size());
        return commit(text.size());
    }
    // A text of the buffer followed by `more`, which lies outside the buffer, as a new text.
    TextSpan join(TextSpan first, std::string_view more) {
        char* out = room(std::size_t{first.length} + more.size());
        std::memcpy(out, data_.get() + first.begin, first.length);
        std::memcpy(out + first.length, more.data(), more.size());
        return commit(std::size_t{first.length} + more.size());
    }
    TextSpan join(TextSpan first, TextSpan second) {
        char* out = room(std::size_t{first.length} + second.length);
        std::memcpy(out, data_.get() + first.begin, first.length);
        std::memcpy(out + first.length, data_.get() + second.begin, second.length);
        return commit(std::size_t{first.length} + second.length);
    }

    std::string_view view(TextSpan span) const {
        assert(std::size_t{span.begin} + span.length <= size_);
        return {data_.get() + span.begin, span.length};
    }

  private:
    void grow(std::size_t needed) {
        // From 16 KiB: a batch of the national file's lines takes about 20 KiB, and every
        // batch of the ring keeps what it took.
        const std::size_t capacity = std::max({needed, capacity_ * 2, std::size_t{16} << 10});
        assert(capacity <= UINT32_MAX);
        auto data = std::make_unique_for_overwrite<char[]>(capacity);
        if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
        data_ = std::move(data);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace yubin::import
