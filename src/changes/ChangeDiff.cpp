#include "changes/ChangeDiff.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>

namespace yubin::changes {

namespace {

constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

std::uint64_t Fnv(std::uint64_t hash, std::string_view text) {
    for (unsigned char c : text) hash = (hash ^ c) * kFnvPrime;
    return hash;
}

constexpr std::uint64_t kNamesSeed = 0x9e3779b97f4a7c15ull;

using detail::Mix;

std::uint64_t Read64(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

std::uint64_t Read32(const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
}

// The 128-bit product of two words: its low half in `a`, its high half in `b`.
void Multiply(std::uint64_t& a, std::uint64_t& b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    a = static_cast<std::uint64_t>(product);
    b = static_cast<std::uint64_t>(product >> 64);
}

// Two words mixed into one: the halves of their product folded.
std::uint64_t Fold(std::uint64_t a, std::uint64_t b) {
    Multiply(a, b);
    return a ^ b;
}

constexpr std::uint64_t kFieldSecret = 0xe7037ed1a0b428dbull;
constexpr std::uint64_t kLengthSecret = 0x8ebc6af09c88c6e3ull;

// Takes one field into the hash sixteen bytes (one wide multiplication) at a time; its length
// ends it, so that ("ab", "") differs from ("a", "b"). A word that the secret would cancel has
// bytes no text holds (a control character, or no UTF-8).
std::uint64_t HashField(std::uint64_t hash, std::string_view text) {
    const char* p = text.data();
    const size_t n = text.size();
    // An empty field (most of a national row's) in one multiplication.
    if (n == 0) return Fold(hash ^ kLengthSecret, kFieldSecret);
    std::uint64_t a = 0, b = 0;
    if (n <= 16) {
        // Short fields in two words read in overlapping pieces, without a loop.
        if (n >= 4) {
            const size_t quarter = (n >> 3) << 2;
            a = (Read32(p) << 32) | Read32(p + quarter);
            b = (Read32(p + n - 4) << 32) | Read32(p + n - 4 - quarter);
        } else {
            a = std::uint64_t{static_cast<unsigned char>(p[0])} << 16 |
                std::uint64_t{static_cast<unsigned char>(p[n >> 1])} << 8 |
                static_cast<unsigned char>(p[n - 1]);
        }
    } else {
        size_t left = n;
        for (; left > 16; left -= 16, p += 16) {
            hash = Fold(Read64(p) ^ kFieldSecret, Read64(p + 8) ^ hash);
        }
        // The last sixteen bytes, overlapping the ones before when the length is no multiple.
        a = Read64(p + left - 16);
        b = Read64(p + left - 8);
    }
    a ^= kFieldSecret;
    b ^= hash;
    Multiply(a, b);
    return Fold(a ^ kLengthSecret ^ n, b ^ kFieldSecret);
}

using Entry = CodeDigests::Entry;

// Objects rather than functions, so that std::sort inlines them.
constexpr auto KeyThenDigest = [](const Entry& a, const Entry& b) {
    return a.key != b.key ? a.key < b.key : a.digest < b.digest;
};
constexpr auto ByDigest = [](const Entry& a, const Entry& b) { return a.digest < b.digest; };

// Below this many entries a range is sorted by comparisons: a radix pass costs a count of
// its buckets whatever the range's size.
constexpr std::ptrdiff_t kRadixMinimum = 64;
// The largest bucket of the first pass sorted through a second array (64 kB): the extra
// memory stays small whatever the keys; a larger bucket, which the published data does not
// make, is sorted by comparisons.
constexpr std::ptrdiff_t kCopiedMaximum = 4096;
static_assert(kCopiedMaximum <= std::numeric_limits<std::uint32_t>::max());

// The low halves of a key's bytes packed together, in their order.
std::uint64_t LowHalves(std::uint64_t key) {
    std::uint64_t x = key & 0x0f0f0f0f0f0f0f0full;
    x = (x | x >> 4) & 0x00ff00ff00ff00ffull;
    x = (x | x >> 8) & 0x0000ffff0000ffffull;
    return (x | x >> 16) & 0xffffffffull;
}

// What the keys are sorted on, 8 bits (a digit) at a time from the highest bit in which some
// key differs: the key, or when the keys differ only in the low halves of their bytes, as
// postal codes of decimal digits do, those halves, so that one digit takes two of the code's.
class KeyDigits {
  public:
    KeyDigits(const Entry* first, const Entry* last) {
        std::uint64_t varying = 0;
        for (const Entry* e = first + 1; e != last; ++e) varying |= e->key ^ first->key;
        halves_ = (varying & 0xf0f0f0f0f0f0f0f0ull) == 0;
        if (halves_) varying = LowHalves(varying);
        if (varying == 0) return;
        const int highest = 63 - std::countl_zero(varying);
        const int lowest = std::countr_zero(varying);
        // A digit's lowest bit, the highest digit's first.
        for (int shift = highest - 7;; shift -= 8) {
            const int at = std::max(shift, 0);
            if ((varying >> at & 0xff) != 0) shifts_.push_back(at);
            if (at <= lowest) break;
        }
        assert(shifts_.size() <= kMost);
    }
    static constexpr size_t kMost = 8;
    // None when the keys are all equal.
    size_t count() const { return shifts_.size(); }
    unsigned of(size_t digit, std::uint64_t key) const {
        return static_cast<unsigned>((halves_ ? LowHalves(key) : key) >> shifts_[digit]) & 0xff;
    }

  private:
    bool halves_ = false;
    std::vector<int> shifts_;
};

// Sorts entries whose keys agree in their first digit by the others, then by digest, through
// `spare` of as many entries: a counting pass for each digit from the lowest, each keeping the
// order of the one before.
void SortThroughCopy(Entry* first, Entry* last, const KeyDigits& digits, Entry* spare) {
    const std::ptrdiff_t n = last - first;
    Entry* from = first;
    Entry* to = spare;
    // The digits' counts in one reading.
    std::array<std::array<std::uint32_t, 256>, KeyDigits::kMost> starts;
    for (size_t digit = 1; digit < digits.count(); ++digit) starts[digit].fill(0);
    for (const Entry* e = first; e != last; ++e) {
        for (size_t digit = 1; digit < digits.count(); ++digit) {
            ++starts[digit][digits.of(digit, e->key)];
        }
    }
    for (size_t digit = digits.count() - 1; digit > 0; --digit) {
        std::array<std::uint32_t, 256>& start = starts[digit];
        std::uint32_t at = 0;
        for (std::uint32_t& s : start) at += std::exchange(s, at);
        for (const Entry* e = from; e != from + n; ++e) to[start[digits.of(digit, e->key)]++] = *e;
        std::swap(from, to);
    }
    if (from != first) std::copy(from, from + n, first);
    // Equal keys, the repeats of a code's rows, by digest.
    for (Entry* run = first; run != last;) {
        Entry* end = run + 1;
        while (end != last && end->key == run->key) ++end;
        if (end - run > 1) std::sort(run, end, ByDigest);
        run = end;
    }
}

}  // namespace

void SortEntries(Entry* first, Entry* last) {
    const std::ptrdiff_t n = last - first;
    if (n < kRadixMinimum) {
        std::sort(first, last, KeyThenDigest);
        return;
    }
    const KeyDigits digits(first, last);
    if (digits.count() == 0) {
        std::sort(first, last, ByDigest);
        return;
    }
    // In place into buckets of the keys' first digit (American flag sort): each entry out of
    // place is swapped into the next free slot of its bucket, until the one that belongs here
    // comes back.
    const auto bucketOf = [&digits](const Entry& e) { return digits.of(0, e.key); };
    std::array<std::ptrdiff_t, 256> next{}, end{};
    for (const Entry* e = first; e != last; ++e) ++end[bucketOf(*e)];
    std::ptrdiff_t at = 0;
    for (size_t b = 0; b < 256; ++b) {
        next[b] = at;
        end[b] = at += end[b];
    }
    for (unsigned b = 0; b < 256; ++b) {
        while (next[b] < end[b]) {
            Entry moving = first[next[b]];
            for (unsigned to = bucketOf(moving); to != b; to = bucketOf(moving)) {
                std::swap(moving, first[next[to]++]);
            }
            first[next[b]++] = moving;
        }
    }
    // Each bucket on the other digits, through one copy of the largest (one block of memory,
    // not a series as the buckets grow).
    std::ptrdiff_t largest = 0;
    for (size_t b = 0; b < 256; ++b) {
        const std::ptrdiff_t count = end[b] - (b == 0 ? 0 : end[b - 1]);
        if (count <= kCopiedMaximum) largest = std::max(largest, count);
    }
    std::vector<Entry> spare(digits.count() > 1 && largest >= kRadixMinimum ? largest : 0);
    std::ptrdiff_t begin = 0;
    for (size_t b = 0; b < 256; begin = end[b++]) {
        Entry* const from = first + begin;
        Entry* const to = first + end[b];
        const std::ptrdiff_t count = to - from;
        if (count < 2) continue;
        if (digits.count() == 1) {
            std::sort(from, to, ByDigest);
        } else if (count < kRadixMinimum || count > kCopiedMaximum) {
            std::sort(from, to, KeyThenDigest);
        } else {
            SortThroughCopy(from, to, digits, spare.data());
        }
    }
}

std::uint64_t CodeKey(std::string_view code) {
    // Odd: a packed key ends in a zero byte.
    if (code.size() > 7) return Mix(Fnv(kFnvOffset, code)) | 1;
    std::uint64_t key = 0;
    for (size_t i = 0; i < 8; ++i) {
        key = (key << 8) | (i < code.size() ? static_cast<unsigned char>(code[i]) : 0u);
    }
    return key;
}

std::uint64_t RowDigest(const RowValues& row) {
    RowView view;
    for (size_t i = 0; i < kRowFieldCount; ++i) view[i] = row[i];
    return RowDigest(view);
}

std::uint64_t RowDigest(const RowView& row) {
    return CombineDigest(OwnFieldsDigest(row), NamesDigest(row[1], row[2], row[3], row[4]));
}

std::uint64_t OwnFieldsDigest(const RowView& row) {
    return OwnFieldsDigest(OwnFields{row[0], row[5], row[6], row[7], row[8], row[9], row[10]});
}

std::uint64_t OwnFieldsDigest(const OwnFields& fields) {
    // Each field from a seed of its place, apart, so that the processor hashes them side by
    // side; their sum is mixed once by CombineDigest.
    static constexpr std::array<std::uint64_t, kOwnFieldCount> kPlaceSeeds = {
        0x2d358dccaa6c78a5ull, 0x8bb84b93962eacc9ull, 0x4b33a62ed433d4a3ull, 0x4d5a2da51de1aa47ull,
        0xa0761d6478bd642full, 0x589965cc75374cc3ull, 0x1d8e4e27c47d124full};
    std::uint64_t sum = 0;
    for (size_t i = 0; i < kOwnFieldCount; ++i) sum += HashField(kPlaceSeeds[i], fields[i]);
    return sum;
}

std::uint64_t NamesDigest(std::string_view prefecture, std::string_view prefectureKana,
                          std::string_view municipality, std::string_view municipalityKana) {
    std::uint64_t hash = kNamesSeed;
    for (std::string_view field : {prefecture, prefectureKana, municipality, municipalityKana}) {
        hash = HashField(hash, field);
    }
    return hash;
}

void CodeDigests::add(std::string_view code, const RowView& row) {
    entries_.push_back({CodeKey(code), RowDigest(row)});
}

void CodeDigests::add(std::string_view code, const RowValues& row) {
    entries_.push_back({CodeKey(code), RowDigest(row)});
}

void CodeDigests::finish() {
    if (finished_) return;
    finished_ = true;
    rows_ = entries_.size();
    SortEntries(entries_.data(), entries_.data() + entries_.size());
    size_t out = 0;
    Entry previous{};
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry e = entries_[i];
        // A repeated row counts once: the rows of a code are a set.
        if (i > 0 && previous.key == e.key && previous.digest == e.digest) continue;
        previous = e;
        if (out > 0 && entries_[out - 1].key == e.key) {
            entries_[out - 1].digest += e.digest;
        } else {
            entries_[out++] = e;
        }
    }
    entries_.resize(out);
    // A copy that fits is made only where it frees more than it takes: for nearly full room
    // (the national data's codes) it would briefly double the array, the report's peak.
    if (out < entries_.capacity() / 2) entries_.shrink_to_fit();
}

std::vector<CodeChange> CompareDigests(const CodeDigests& before, const CodeDigests& after,
                                       ChangeCounts& counts) {
    counts = {};
    std::vector<CodeChange> changes;
    const auto& old = before.entries();
    const auto& now = after.entries();
    size_t i = 0, j = 0;
    while (i < old.size() || j < now.size()) {
        if (j == now.size() || (i < old.size() && old[i].key < now[j].key)) {
            changes.push_back({old[i++].key, Change::Removed});
            ++counts.removed;
        } else if (i == old.size() || now[j].key < old[i].key) {
            changes.push_back({now[j++].key, Change::Added});
            ++counts.added;
        } else {
            if (old[i].digest != now[j].digest) {
                changes.push_back({old[i].key, Change::Changed});
                ++counts.changed;
            }
            ++i;
            ++j;
        }
    }
    return changes;
}

const CodeChange* FindChange(const std::vector<CodeChange>& changes, std::uint64_t key) {
    const auto at =
        std::lower_bound(changes.begin(), changes.end(), key,
                         [](const CodeChange& c, std::uint64_t k) { return c.key < k; });
    return at != changes.end() && at->key == key ? &*at : nullptr;
}

ShortKeyHashes::ShortKeyHashes(const std::vector<CodeChange>& changes) {
    hashes_.reserve(changes.size());
    for (const CodeChange& change : changes) {
        const std::uint32_t hash = ShortKeyHash(change.key);
        hashes_.push_back(hash);
        filter_[(hash >> 16) / 64] |= std::uint64_t{1} << ((hash >> 16) % 64);
    }
    std::sort(hashes_.begin(), hashes_.end());
}

}  // namespace yubin::changes
