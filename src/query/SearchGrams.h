// The letters and pairs of letters the search's index records, and the layout of its records:
// shared by its build and its reading.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "query/SearchIndex.h"

namespace yubin::query::detail {

// The name of the index's records, and the key of its header record.
//
// The header holds the format, the bucket bits, the number of blocks and the first and last
// rowid of each block. Each further record holds the bitmaps over the blocks (one bit per
// block: blocks 8i to 8i + 7 in byte i, the first in its lowest bit) of the 64 buckets of one
// word (buckets 64 * key to 64 * key + 63), one after the other; a word none of whose buckets
// any block has has no record. A record per word, not per bucket: storing one costs about as
// much as storing 64 of a bitmap each.
inline constexpr std::string_view kIndexName = "search";
inline constexpr long long kHeaderKey = -1;
inline constexpr std::uint32_t kFormat = 2;
inline constexpr std::uint32_t kWordBuckets = 64;

// Rows per block, and the buckets the letters and pairs are hashed into (2^kBucketBits): for
// the published data (about 570 blocks) the bitmaps take 1.2 MB, and a bucket holds about one
// block in ten, so a word of three letters reads about one block in a hundred that lacks it.
inline constexpr std::uint32_t kBlockRows = 256;
inline constexpr std::uint32_t kBucketBits = 14;
inline constexpr std::uint32_t kBuckets = 1u << kBucketBits;

// A letter as the index takes it: a character of UTF-8, or one byte that is none (as folding
// keeps it). `whole` tells whether it is a character.
struct Letter {
    std::size_t length;
    bool whole;
};

inline Letter LetterAt(const char* p, const char* end) {
    const auto lead = static_cast<unsigned char>(*p);
    if (lead < 0x80) return {1, lead >= 0x20};
    if (lead < 0xC0 || lead >= 0xF8) return {1, false};
    const std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (static_cast<std::size_t>(end - p) < length) return {1, false};
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return {1, false};
    }
    return {length, true};
}

// The bytes of one or two adjacent letters, packed; the bucket they fall into.
inline std::uint64_t Pack(const char* p, std::size_t length) {
    std::uint64_t gram = 0;
    std::memcpy(&gram, p, std::min<std::size_t>(length, sizeof gram));
    return gram;
}

inline std::uint32_t Bucket(std::uint64_t gram) {
    return static_cast<std::uint32_t>((gram * 0x9E3779B97F4A7C15ULL) >> (64 - kBucketBits));
}

// Calls `take` with the bucket of every letter and every pair of adjacent letters of the text,
// none of which holds the separator.
template <typename Take>
void ForEachGram(std::string_view text, Take&& take) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* previous = nullptr;
    while (p < end) {
        const std::size_t length = LetterAt(p, end).length;
        if (*p == kNamesSeparator) {
            previous = nullptr;
        } else {
            take(Bucket(Pack(p, length)));
            if (previous != nullptr) {
                take(Bucket(Pack(previous, static_cast<std::size_t>(p + length - previous))));
            }
            previous = p;
        }
        p += length;
    }
}

inline void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutI64(std::string& out, long long value) {
    const auto v = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline std::uint64_t GetU(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    }
    return v;
}

}  // namespace yubin::query::detail
