#include "import/Cp932Decoder.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/Error.h"

namespace yubin::import {

namespace {

iconv_t handle(void* cd) { return static_cast<iconv_t>(cd); }

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
bool isHalfWidthKatakana(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }

// The slot of a lead byte in the table of double-byte characters.
std::size_t leadSlot(unsigned char lead) {
    return lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + (0x9Fu - 0x81u + 1);
}

}  // namespace

Message describeBadByte(std::string_view bytes, std::size_t offset) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    const auto b = offset < bytes.size() ? static_cast<unsigned char>(bytes[offset]) : 0;
    if (b == 0) return Message("{1} バイト目に NUL 文字 (0x00) があります。", offset + 1);
    const char hex[] = {kDigits[b >> 4], kDigits[b & 0x0F], '\0'};
    return Message("{1} バイト目 (0x{2}) からはコードページ 932 の文字として読めません。",
                   offset + 1, hex);
}

Cp932Decoder::Cp932Decoder() : cd_(nullptr) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw YubinError(ErrorCode::BadEncoding,
                         Message("文字コード CP932 から UTF-8 への変換を用意できません。"));
    }
    cd_ = cd;
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
        ask(single_[b], static_cast<unsigned char>(b), 0);
        if (single_[b].length != 3) {
            throw YubinError(ErrorCode::BadEncoding,
                             Message("文字コード CP932 から UTF-8 への変換を用意できません。"));
        }
    }
}

Cp932Decoder::~Cp932Decoder() { iconv_close(handle(cd_)); }

std::size_t Cp932Decoder::decode(std::string_view bytes, std::string& out, bool dropQuotes) {
    if (buffer_.size() < roomFor(bytes.size())) buffer_.resize(roomFor(bytes.size()));
    std::size_t length = 0;
    const std::size_t bad = dropQuotes ? run<true, 0>(bytes, buffer_.data(), length, nullptr)
                                       : run<false, 0>(bytes, buffer_.data(), length, nullptr);
    if (bad == npos) out.assign(buffer_.data(), length);
    return bad;
}

std::size_t Cp932Decoder::decodeLine(std::string_view bytes, char* out, std::size_t& length,
                                     Separators separators, SeparatorMarks& marks) {
    marks.count = 0;
    return separators == Separators::Commas ? run<true, 1>(bytes, out, length, &marks)
                                            : run<true, 2>(bytes, out, length, &marks);
}

template <bool kDropQuotes, int kMarks>
std::size_t Cp932Decoder::run(std::string_view bytes, char* o, std::size_t& length,
                              SeparatorMarks* marks) {
    // Every character of the code page takes at most three bytes of UTF-8: one byte becomes
    // at most three (half-width katakana), two bytes become at most three; and a character
    // is copied as four bytes (roomFor).
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t w = 0;
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            o[w] = static_cast<char>(b);
            // NUL, tab, quote and comma all lie at or below the comma: digits and letters
            // pass with one comparison.
            if (b > ',') {
                ++w;
                ++i;
                continue;
            }
            if (b == 0) return i;  // a NUL would end the text for other programs
            ++i;
            // A quote is never part of a double-byte character (no trail byte is below 0x40),
            // so leaving it out here is leaving it out of the decoded text.
            if (kDropQuotes && b == '"') continue;
            if (kMarks > 0 && (b == ',' || (kMarks == 2 && b == '\t'))) {
                if (marks->count < SeparatorMarks::kKept) {
                    marks->at[marks->count] = static_cast<std::uint32_t>(w);
                }
                ++marks->count;
            }
            ++w;
            continue;
        }
        if (isHalfWidthKatakana(b)) {
            // Three bytes each, all asked at the start.
            std::memcpy(o + w, &single_[b], sizeof(Character));
            w += 3;
            ++i;
            continue;
        }
        if (!isLeadByte(b) || i + 1 == n || !isTrailByte(p[i + 1])) return i;
        Character& c = double_[leadSlot(b) * 256 + p[i + 1]];
        if (c.length == 0) ask(c, b, p[i + 1]);
        if (c.length == kRefused) return i;
        std::memcpy(o + w, &c, sizeof(Character));
        w += c.length;
        i += 2;
    }
    length = w;
    return npos;
}

void Cp932Decoder::ask(Character& c, unsigned char lead, unsigned char trail) {
    char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    char* in = bytes;
    std::size_t inLeft = trail == 0 ? 1 : 2;
    char utf8[8] = {};
    char* o = utf8;
    std::size_t outLeft = sizeof utf8;
    const std::size_t r = iconv(handle(cd_), &in, &inLeft, &o, &outLeft);
    const std::size_t length = sizeof utf8 - outLeft;
    if (r == static_cast<std::size_t>(-1) || inLeft != 0 || length == 0 || length > 3) {
        // A double-byte code that the code page leaves unassigned. The converter starts
        // afresh.
        iconv(handle(cd_), nullptr, nullptr, nullptr, nullptr);
        c.length = kRefused;
        return;
    }
    std::memcpy(c.utf8, utf8, 3);
    c.length = static_cast<std::uint8_t>(length);
}

}  // namespace yubin::import
