// Splitting a decoded data-file line into its fields.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Message.h"
#include "import/TextArena.h"

namespace yubin::import {

// Where the separators of a decoded line stand, as the decoder marks them on its way through
// the line (Cp932Decoder::decodeLine): the offsets in the decoded text of the first kKept of
// them, and how many the line has in all. There is no quoting: the quotes of a line are gone
// before it is split, so a comma that stood between quotes separates fields as well.
struct SeparatorMarks {
    static constexpr std::size_t kKept = 16;
    std::size_t count = 0;
    std::array<std::uint32_t, kKept> at{};

    // A line always has at least one field; empty fields count.
    std::size_t fieldCount() const { return count + 1; }
};

// The fields of `line` (a text in a batch's buffer) between its separators: fields.size() of
// them, which is the line's field count and at most kKept + 1.
inline void splitAtMarks(TextSpan line, const SeparatorMarks& marks, std::span<TextSpan> fields) {
    assert(fields.size() == marks.fieldCount() && fields.size() <= SeparatorMarks::kKept + 1);
    std::uint32_t begin = 0;
    for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
        const std::uint32_t end = marks.at[i];
        fields[i] = {line.begin + begin, end - begin};
        begin = end + 1;
    }
    fields.back() = {line.begin + begin, line.length - begin};
}

// The description of a line that has `found` fields where its kind of file has `expected`:
// too few would leave columns unfilled, too many would be cut off unseen (a file of the other
// kind, a comma inside a name).
Message describeFieldCount(std::size_t found, std::size_t expected);

}  // namespace yubin::import
