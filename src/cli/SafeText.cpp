#include "cli/SafeText.h"

#include <cstdio>
#include <limits>
#include <vector>

namespace yubin::cli {

std::size_t Utf8CharacterLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char b = p[0];
    if (b < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;   // no overlong forms
        if (b == 0xED) high = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || p[1] < low || p[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
    }
    return length;
}

namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    out += escaped;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto b = static_cast<unsigned char>(text.front());
        const std::size_t length = Utf8CharacterLength(text);
        // C1 controls are U+0080 to U+009F: C2 80 to C2 9F in UTF-8.
        const bool c1 = length == 2 && b == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0;
        const bool c0 = length == 1 && ((b < 0x20 && b != '\n' && b != '\t') || b == 0x7F);
        if (length == 0 || c0) {
            AppendEscaped(out, b);
            text.remove_prefix(1);
        } else if (c1) {
            AppendEscaped(out, b);
            AppendEscaped(out, static_cast<unsigned char>(text[1]));
            text.remove_prefix(2);
        } else {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    return out;
}

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = Utf8CharacterLength(text);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            text.remove_prefix(1);
        } else {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    return out;
}

InputLine ReadBoundedLine(std::istream& in, std::string& line, std::size_t maxBytes) {
    // One byte more than the longest line: getline stops there and says so by failbit.
    std::vector<char> buffer(maxBytes + 2);
    in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto read = static_cast<std::size_t>(in.gcount());
    if (in.bad()) return InputLine::End;
    if (in.fail() && !in.eof()) {
        if (read == 0) return InputLine::End;
        // Longer than the buffer: the rest of the line is read past, never kept.
        in.clear();
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        return InputLine::TooLong;
    }
    if (read == 0 && in.eof()) return InputLine::End;
    // gcount counts the line end it took; a last line without one ends at the end of input.
    line.assign(buffer.data(), in.eof() ? read : read - 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > maxBytes) return InputLine::TooLong;
    return InputLine::Read;
}

}  // namespace yubin::cli
