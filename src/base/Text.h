// Text helpers every layer needs: ASCII-only case folding (names of columns, sections, keys and
// files compare without regard to the case of A-Z, never of other letters) and SQL literals.
#pragma once

#include <string>
#include <string_view>

namespace yubin {

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string AsciiLower(std::string text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The text as an SQL string literal: in single quotes, each quote inside doubled.
std::string QuoteSqlLiteral(std::string_view text);

}  // namespace yubin
