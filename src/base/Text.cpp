#include "base/Text.h"

namespace yubin {

std::string AsciiLower(std::string text) {
    for (char& c : text) c = AsciiLower(c);
    return text;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::string QuoteSqlLiteral(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    for (char c : text) {
        if (c == '\'') quoted += '\'';
        quoted += c;
    }
    quoted += '\'';
    return quoted;
}

}  // namespace yubin
