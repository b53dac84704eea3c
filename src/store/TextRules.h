// Small text rules shared by the parser, the catalog and the row sets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/Text.h"

namespace yubin::db::detail {

enum class WholeNumber { Ok, NotANumber, TooLarge };
// "  -12 " -> -12: ASCII digits with an optional sign, spaces around allowed.
WholeNumber parseWholeNumber(std::string_view text, long long& result);

// Characters as SQLite's length() counts them: every byte that is not a UTF-8 continuation
// byte following a lead byte starts one character.
size_t characterCount(std::string_view text);

// Names match without regard to ASCII letter case; other characters must be equal.
inline bool namesEqual(std::string_view a, std::string_view b) {
    return EqualsIgnoringAsciiCase(a, b);
}
inline std::string foldName(std::string_view name) { return AsciiLower(std::string(name)); }

}  // namespace yubin::db::detail
