#include "import/FieldSplitter.h"

#include <cstring>

namespace yubin::import {

void splitAtSeparators(std::string_view text, bool atTabs, std::vector<std::string_view>& fields) {
    fields.clear();
    const char* d = text.data();
    const std::size_t n = text.size();
    std::size_t start = 0;
    if (atTabs) {
        for (std::size_t i = 0; i < n; ++i) {
            if (d[i] == ',' || d[i] == '\t') {
                fields.emplace_back(d + start, i - start);
                start = i + 1;
            }
        }
    } else {
        while (const void* comma = std::memchr(d + start, ',', n - start)) {
            const auto at = static_cast<std::size_t>(static_cast<const char*>(comma) - d);
            fields.emplace_back(d + start, at - start);
            start = at + 1;
        }
    }
    fields.emplace_back(d + start, n - start);
}

Message describeFieldCount(std::size_t found, std::size_t expected) {
    if (found < expected) return Message("項目が {1} 個に足りません（{2} 個）。", expected, found);
    return Message("項目が {1} 個より多くあります（{2} 個）。", expected, found);
}

}  // namespace yubin::import
