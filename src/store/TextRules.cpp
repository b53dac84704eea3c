#include "store/TextRules.h"

#include <limits>

namespace yubin::db::detail {

WholeNumber parseWholeNumber(std::string_view text, long long& result) {
    size_t i = 0;
    size_t end = text.size();
    while (i < end && text[i] == ' ') ++i;
    while (end > i && text[end - 1] == ' ') --end;
    if (i == end) return WholeNumber::NotANumber;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == end) return WholeNumber::NotANumber;
    // Accumulate as a negative number so that the most negative value fits.
    constexpr long long kMin = std::numeric_limits<long long>::min();
    long long value = 0;
    bool tooLarge = false;
    for (; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return WholeNumber::NotANumber;
        const int digit = c - '0';
        if (value < (kMin + digit) / 10) {
            tooLarge = true;
        } else {
            value = value * 10 - digit;
        }
    }
    if (tooLarge) return WholeNumber::TooLarge;
    if (!negative) {
        if (value == kMin) return WholeNumber::TooLarge;
        value = -value;
    }
    result = value;
    return WholeNumber::Ok;
}

size_t characterCount(std::string_view text) {
    size_t count = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        ++count;
        if (*p++ >= 0xc0) {
            while (p < end && (*p & 0xc0) == 0x80) ++p;
        }
    }
    return count;
}

}  // namespace yubin::db::detail
