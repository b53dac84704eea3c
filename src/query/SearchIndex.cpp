#include "query/SearchIndex.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "query/Normalize.h"
#include "store/DerivedRecords.h"
#include "store/TableScan.h"

namespace yubin::query {

namespace {

// The name of the index's records, and the key of its header record.
constexpr std::string_view kIndexName = "search";
constexpr long long kHeaderKey = -1;
constexpr std::uint32_t kFormat = 1;

// Rows per block, and the buckets the letters and pairs are hashed into (2^kBucketBits): for
// the published data (about 570 blocks) the bitmaps take 1.2 MB, and a bucket holds about one
// block in ten, so a word of three letters reads about one block in a hundred that lacks it.
constexpr std::uint32_t kBlockRows = 256;
constexpr std::uint32_t kBucketBits = 14;
constexpr std::uint32_t kBuckets = 1u << kBucketBits;

// A letter as the index takes it: a character of UTF-8, or one byte that is none (as folding
// keeps it). `whole` tells whether it is a character.
struct Letter {
    std::size_t length;
    bool whole;
};

Letter LetterAt(const char* p, const char* end) {
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
std::uint64_t Pack(const char* p, std::size_t length) {
    std::uint64_t gram = 0;
    std::memcpy(&gram, p, std::min<std::size_t>(length, sizeof gram));
    return gram;
}

std::uint32_t Bucket(std::uint64_t gram) {
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

// The buckets a word's occurrence needs: its pairs, or its one letter; nothing when the word
// holds a byte that is no character, or a control character.
std::optional<std::vector<std::uint32_t>> WordBuckets(std::string_view word) {
    std::vector<const char*> starts;
    const char* p = word.data();
    const char* const end = p + word.size();
    while (p < end) {
        const Letter letter = LetterAt(p, end);
        if (!letter.whole) return std::nullopt;
        starts.push_back(p);
        p += letter.length;
    }
    starts.push_back(end);
    std::vector<std::uint32_t> buckets;
    if (starts.size() == 2) {
        buckets.push_back(Bucket(Pack(starts[0], static_cast<std::size_t>(end - starts[0]))));
    }
    for (std::size_t i = 0; i + 2 < starts.size(); ++i) {
        buckets.push_back(
            Bucket(Pack(starts[i], static_cast<std::size_t>(starts[i + 2] - starts[i]))));
    }
    return buckets;
}

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutI64(std::string& out, long long value) {
    const auto v = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint64_t GetU(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    }
    return v;
}

// The buckets of every block while the index is built: one bitmap over the buckets per block,
// so that the bits of the block being read lie together.
class BlockBuckets {
  public:
    explicit BlockBuckets(std::size_t rows) { bits_.reserve((rows / kBlockRows + 1) * kWords); }
    void addBlock() {
        bits_.resize(bits_.size() + kWords, 0);
        last_ = bits_.data() + bits_.size() - kWords;
    }
    // Marks the bucket in the last block.
    void set(std::uint32_t bucket) { last_[bucket / 64] |= std::uint64_t{1} << (bucket % 64); }
    // The bitmaps over the blocks of the 64 buckets that share one word of the per-block
    // bitmaps (buckets word * 64 to word * 64 + 63), as bytes; empty for a bucket no block has.
    // One strided read per block and word: reading bucket by bucket would read the whole
    // table once per bucket, and all the bitmaps at once would double the memory.
    void wordBitmaps(std::size_t word, std::array<std::string, 64>& maps) const {
        const std::size_t blocks = bits_.size() / kWords;
        for (std::string& map : maps) map.clear();
        for (std::size_t block = 0; block < blocks; ++block) {
            const char blockBit = static_cast<char>(1 << (block % 8));
            for (std::uint64_t set = bits_[block * kWords + word]; set != 0; set &= set - 1) {
                std::string& map = maps[static_cast<std::size_t>(std::countr_zero(set))];
                if (map.empty()) map.assign((blocks + 7) / 8, '\0');
                map[block / 8] = static_cast<char>(map[block / 8] | blockBit);
            }
        }
    }

  private:
    static constexpr std::size_t kWords = kBuckets / 64;
    std::vector<std::uint64_t> bits_;
    std::uint64_t* last_ = nullptr;  // the words of the last block (kept out of the gram loop)
};

}  // namespace

bool RowNames::setCity(std::string_view city) {
    if (city == city_) return false;
    city_ = city;
    placeName_.clear();
    placeKana_.clear();
    for (const Masters::Names* place : {masters_.prefecture(city_), masters_.municipality(city_)}) {
        if (place == nullptr) continue;
        AppendFolded(place->name.toText(), placeName_);
        AppendFolded(place->kana.toText(), placeKana_);
    }
    return true;
}

const std::string& RowNames::fold(std::string_view town, std::string_view townKana,
                                  std::string_view office, std::string_view officeKana) {
    names_.assign(placeName_);
    AppendFolded(town, names_);
    names_ += kNamesSeparator;
    names_ += placeKana_;
    AppendFolded(townKana, names_);
    names_ += kNamesSeparator;
    AppendFolded(office, names_);
    names_ += kNamesSeparator;
    AppendFolded(officeKana, names_);
    return names_;
}

void BuildSearchIndex(db::Connection& connection) {
    Masters masters(connection);
    masters.loadAll();
    RowNames names(masters);
    std::size_t rowCount = 0;
    {
        db::Recordset rs;
        rs.open("SELECT COUNT(*) As DCOUNT FROM ZIPALL", connection, db::CursorType::ForwardOnly,
                db::LockType::ReadOnly);
        rowCount = static_cast<std::size_t>(rs.field("DCOUNT").value().toNumber());
    }
    db::TableScan scan(
        connection, "ZIPALL",
        std::vector<std::string>(std::begin(kSearchedColumns), std::end(kSearchedColumns)));
    BlockBuckets blocks(rowCount);
    std::string header;  // the format, then the first and last rowid of every block
    std::uint32_t rows = 0, blockCount = 0;
    long long lastRowid = 0;
    while (scan.next()) {
        const long long rowid = scan.rowid();
        if (rows % kBlockRows == 0) {
            if (blockCount > 0) PutI64(header, lastRowid);
            PutI64(header, rowid);
            ++blockCount;
            blocks.addBlock();
        }
        lastRowid = rowid;
        ++rows;
        names.setCity(scan.text(0));
        ForEachGram(names.fold(scan.text(1), scan.text(2), scan.text(3), scan.text(4)),
                    [&](std::uint32_t bucket) { blocks.set(bucket); });
    }
    if (blockCount > 0) PutI64(header, lastRowid);
    std::string head;
    PutU32(head, kFormat);
    PutU32(head, kBucketBits);
    PutU32(head, blockCount);
    header.insert(0, head);

    // The header, then the bucket bitmaps that are not empty, 64 buckets made at a time.
    std::array<std::string, 64> bitmaps;
    long long nextBucket = kHeaderKey;
    db::DerivedRecords::store(connection, kIndexName, "ZIPALL",
                              [&](long long& key, std::string& data) {
                                  if (nextBucket == kHeaderKey) {
                                      key = kHeaderKey;
                                      data = std::move(header);
                                      nextBucket = 0;
                                      return true;
                                  }
                                  while (nextBucket < kBuckets) {
                                      key = nextBucket++;
                                      const auto bucket = static_cast<std::size_t>(key);
                                      if (bucket % 64 == 0)
                                          blocks.wordBitmaps(bucket / 64, bitmaps);
                                      data = std::move(bitmaps[bucket % 64]);
                                      if (!data.empty()) return true;
                                  }
                                  return false;
                              });
}

std::optional<std::vector<std::pair<long long, long long>>> CandidateRanges(
    db::Connection& connection, const std::vector<std::string>& foldedWords) {
    std::vector<std::uint32_t> buckets;
    for (const std::string& word : foldedWords) {
        const std::optional<std::vector<std::uint32_t>> wordBuckets = WordBuckets(word);
        if (!wordBuckets) return std::nullopt;
        buckets.insert(buckets.end(), wordBuckets->begin(), wordBuckets->end());
    }
    db::DerivedRecords index(connection, kIndexName);
    const std::optional<std::string> header = index.read(kHeaderKey);
    if (!header || header->size() < 12 || GetU(*header, 0, 4) != kFormat ||
        GetU(*header, 4, 4) != kBucketBits) {
        return std::nullopt;
    }
    const auto blockCount = static_cast<std::uint32_t>(GetU(*header, 8, 4));
    if (header->size() != 12 + std::size_t{16} * blockCount) return std::nullopt;

    std::sort(buckets.begin(), buckets.end());
    buckets.erase(std::unique(buckets.begin(), buckets.end()), buckets.end());
    std::string candidates((blockCount + 7) / 8, '\xff');
    for (std::uint32_t bucket : buckets) {
        const std::optional<std::string> bitmap = index.read(bucket);
        if (!bitmap) return std::vector<std::pair<long long, long long>>{};  // no block has it
        if (bitmap->size() != candidates.size()) return std::nullopt;
        for (std::size_t i = 0; i < candidates.size(); ++i) candidates[i] &= (*bitmap)[i];
    }
    std::vector<std::pair<long long, long long>> ranges;
    for (std::uint32_t block = 0; block < blockCount; ++block) {
        if (!((static_cast<unsigned char>(candidates[block / 8]) >> (block % 8)) & 1)) continue;
        const auto first = static_cast<long long>(GetU(*header, 12 + 16 * block, 8));
        const auto last = static_cast<long long>(GetU(*header, 20 + 16 * block, 8));
        // Adjacent blocks are read as one range.
        if (!ranges.empty() && block > 0 &&
            ranges.back().second == static_cast<long long>(GetU(*header, 4 + 16 * block, 8))) {
            ranges.back().second = last;
        } else {
            ranges.emplace_back(first, last);
        }
    }
    return ranges;
}

}  // namespace yubin::query
