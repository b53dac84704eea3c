#include "query/SearchIndex.h"

#include <algorithm>
#include <cstdint>

#include "query/Normalize.h"
#include "query/SearchGrams.h"
#include "store/DerivedRecords.h"

namespace yubin::query {

using namespace detail;

namespace {

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

}  // namespace

namespace detail {

std::vector<std::uint32_t> NameBuckets(std::string_view names) {
    std::vector<std::uint32_t> buckets;
    ForEachGram(names, [&](std::uint32_t bucket) { buckets.push_back(bucket); });
    return buckets;
}

}  // namespace detail

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
    const std::size_t bitmapBytes = (blockCount + 7) / 8;
    std::string candidates(bitmapBytes, '\xff');
    std::optional<std::string> word;  // the record of the last bucket's word
    long long wordKey = -1;
    for (std::uint32_t bucket : buckets) {
        if (bucket / kWordBuckets != wordKey) {  // the buckets of one word come together
            wordKey = bucket / kWordBuckets;
            word = index.read(wordKey);
            if (!word) return std::vector<std::pair<long long, long long>>{};  // no block has it
            if (word->size() != kWordBuckets * bitmapBytes) return std::nullopt;
        }
        const char* bitmap = word->data() + (bucket % kWordBuckets) * bitmapBytes;
        for (std::size_t i = 0; i < candidates.size(); ++i) candidates[i] &= bitmap[i];
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
