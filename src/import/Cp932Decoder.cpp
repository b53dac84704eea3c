#include "import/Cp932Decoder.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "store/Error.h"

namespace yubin::import {

namespace {

iconv_t handle(void* cd) { return static_cast<iconv_t>(cd); }

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
bool isHalfWidthKatakana(unsigned char b) { return b >= 0xA1 && b <= 0xDF; }

constexpr std::size_t npos = Cp932Decoder::npos;

// Checks the byte structure of the code page (every byte a character of its own or a lead
// byte followed by a trail byte) and copies the bytes to `out`, double quotes left out when
// `dropQuotes`. A quote is never part of a double-byte character (no trail byte is below
// 0x40), so leaving it out here is leaving it out of the decoded text. Returns npos or the
// offset of the first bad byte; `ascii` tells whether every byte is below 0x80.
std::size_t checkAndCopy(std::string_view bytes, bool dropQuotes, char* out, std::size_t& outSize,
                         bool& ascii) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const int quote = dropQuotes ? '"' : -1;
    std::size_t w = 0;
    ascii = true;
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            if (b == 0) return i;  // a NUL would end the text for other programs
            out[w] = static_cast<char>(b);
            w += b != quote;
            ++i;
            continue;
        }
        ascii = false;
        if (isHalfWidthKatakana(b)) {
            out[w++] = static_cast<char>(b);
            ++i;
        } else if (isLeadByte(b) && i + 1 < n && isTrailByte(p[i + 1])) {
            out[w] = static_cast<char>(b);
            out[w + 1] = static_cast<char>(p[i + 1]);
            w += 2;
            i += 2;
        } else {
            return i;
        }
    }
    outSize = w;
    return npos;
}

// The offset in `bytes` of the byte that became offset `at` once the quotes were left out.
std::size_t offsetWithQuotes(std::string_view bytes, std::size_t at) {
    std::size_t i = 0;
    for (std::size_t kept = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '"') continue;
        if (kept++ == at) break;
    }
    return i;
}

}  // namespace

std::string describeBadByte(std::string_view bytes, std::size_t offset) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    const auto b = offset < bytes.size() ? static_cast<unsigned char>(bytes[offset]) : 0;
    if (b == 0) return std::to_string(offset + 1) + " バイト目に NUL 文字 (0x00) があります。";
    const char hex[] = {kDigits[b >> 4], kDigits[b & 0x0F], '\0'};
    return std::to_string(offset + 1) + " バイト目 (0x" + hex +
           ") からはコードページ 932 の文字として読めません。";
}

Cp932Decoder::Cp932Decoder() : cd_(nullptr) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw YubinError(ErrorCode::BadEncoding,
                         "文字コード CP932 から UTF-8 への変換を用意できません。");
    }
    cd_ = cd;
}

Cp932Decoder::~Cp932Decoder() { iconv_close(handle(cd_)); }

std::size_t Cp932Decoder::decode(std::string_view bytes, std::string& out, bool dropQuotes) {
    if (unquoted_.size() < bytes.size()) unquoted_.resize(bytes.size());
    std::size_t size = 0;
    bool ascii = false;
    if (std::size_t bad = checkAndCopy(bytes, dropQuotes, unquoted_.data(), size, ascii);
        bad != npos) {
        return bad;
    }
    const std::string_view checked(unquoted_.data(), size);
    if (ascii) {
        out.assign(checked);
        return npos;
    }
    const std::size_t bad = convert(checked, out);
    if (bad == npos || !dropQuotes) return bad;
    return offsetWithQuotes(bytes, bad);
}

std::size_t Cp932Decoder::convert(std::string_view bytes, std::string& out) {
    // Every character of the code page takes at most three bytes of UTF-8: one byte becomes
    // at most three (half-width katakana), two bytes become at most three.
    if (out.size() < bytes.size() * 3) out.resize(bytes.size() * 3);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(handle(cd_), &in, &inLeft, &o, &outLeft);
    if (r == static_cast<std::size_t>(-1)) {
        // EILSEQ: a double-byte code that the code page leaves unassigned. EINVAL cannot
        // follow the structure check but is refused the same way. The converter starts
        // afresh either way.
        iconv(handle(cd_), nullptr, nullptr, nullptr, nullptr);
        return static_cast<std::size_t>(in - bytes.data());
    }
    out.resize(out.size() - outLeft);
    return npos;
}

}  // namespace yubin::import
