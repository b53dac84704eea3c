#include "changes/KeptRowIndex.h"

#include <cassert>
#include <cstddef>

namespace yubin::changes {

void KeptRowIndex::beginPackedRow(long long rowid) {
    assert(packedRows_.empty() || packedRows_.back().rowid < rowid);
    packedRows_.push_back({rowid, keyHashes_.size(), marks_.size()});
}

std::vector<KeptRowIndex::Wanted> KeptRowIndex::rowsOf(
    const std::vector<CodeChange>& changes) const {
    std::vector<Wanted> wanted;
    const ShortKeyHashes hashes(changes);
    if (hashes.empty()) return wanted;
    assert(packedRows_.empty() || packedRows_.front().first == 0);
    for (size_t p = 0; p < packedRows_.size(); ++p) {
        const size_t first = packedRows_[p].first;
        const size_t end =
            p + 1 < packedRows_.size() ? packedRows_[p + 1].first : keyHashes_.size();
        for (size_t i = first; i < end; ++i) {
            if (!hashes.contains(keyHashes_[i])) continue;
            if (wanted.empty() || wanted.back().rowid != packedRows_[p].rowid) {
                const size_t endMark =
                    p + 1 < packedRows_.size() ? packedRows_[p + 1].firstMark : marks_.size();
                wanted.push_back(
                    {packedRows_[p].rowid,
                     {},
                     {marks_.begin() + static_cast<std::ptrdiff_t>(packedRows_[p].firstMark),
                      marks_.begin() + static_cast<std::ptrdiff_t>(endMark)}});
            }
            wanted.back().places.push_back(static_cast<std::uint32_t>(i - first));
        }
    }
    return wanted;
}

}  // namespace yubin::changes
