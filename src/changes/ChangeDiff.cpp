#include "changes/ChangeDiff.h"

#include <algorithm>
#include <cstring>

namespace yubin::changes {

namespace {

constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

std::uint64_t Fnv(std::uint64_t hash, std::string_view text) {
    for (unsigned char c : text) hash = (hash ^ c) * kFnvPrime;
    return hash;
}

constexpr std::uint64_t kNamesSeed = 0x9e3779b97f4a7c15ull;

// Spreads the bits, so that sums of digests do not cancel.
std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

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

}  // namespace

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

std::uint64_t CombineDigest(std::uint64_t own, std::uint64_t names) {
    return Mix(own ^ Mix(names));
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
    // By the key alone, a comparison of one field: two fifths faster than by key and digest.
    // Only the few codes of several rows need their digests in order, for the repeats.
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    for (auto run = entries_.begin(); run != entries_.end();) {
        auto end = run + 1;
        while (end != entries_.end() && end->key == run->key) ++end;
        if (end - run > 1) {
            std::sort(run, end, [](const Entry& a, const Entry& b) { return a.digest < b.digest; });
        }
        run = end;
    }
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

std::uint32_t ShortKeyHash(std::uint64_t key) {
    return static_cast<std::uint32_t>((key * 0x9e3779b97f4a7c15ull) >> 32);
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
