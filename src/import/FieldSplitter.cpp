#include "import/FieldSplitter.h"

#include <cassert>

namespace yubin::import {

void splitAtMarks(TextSpan line, const SeparatorMarks& marks, std::span<TextSpan> fields) {
    assert(fields.size() == marks.fieldCount() && fields.size() <= SeparatorMarks::kKept + 1);
    std::uint32_t begin = 0;
    for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
        const std::uint32_t end = marks.at[i];
        fields[i] = {line.begin + begin, end - begin};
        begin = end + 1;
    }
    fields.back() = {line.begin + begin, line.length - begin};
}

Message describeFieldCount(std::size_t found, std::size_t expected) {
    if (found < expected) return Message("項目が {1} 個に足りません（{2} 個）。", expected, found);
    return Message("項目が {1} 個より多くあります（{2} 個）。", expected, found);
}

}  // namespace yubin::import
