// Decoding code page 932 (Shift_JIS as Windows writes it) to UTF-8 through glibc's iconv.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace yubin::import {

class Cp932Decoder {
  public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Raises BadEncoding when the C library offers no CP932 converter.
    Cp932Decoder();
    ~Cp932Decoder();
    Cp932Decoder(const Cp932Decoder&) = delete;
    Cp932Decoder& operator=(const Cp932Decoder&) = delete;

    // Replaces `out` with the UTF-8 text of `bytes`, reusing its capacity; with `dropQuotes`
    // every double quote is left out, as if removed from the decoded text. Returns npos, or
    // the offset in `bytes` of the first byte that does not belong to a character of the
    // code page (`out` is then unspecified). Nothing is ever replaced or guessed: the
    // undefined single bytes 0x80, 0xA0 and 0xFD to 0xFF, a lead byte without a proper trail
    // byte, and double-byte codes that the code page leaves unassigned are all refused, and
    // so is a NUL byte, which no data file holds and which would cut the text short.
    std::size_t decode(std::string_view bytes, std::string& out, bool dropQuotes = false);

  private:
    std::size_t convert(std::string_view bytes, std::string& out);

    void* cd_;  // iconv_t
    std::string unquoted_;
};

// Names the byte at `offset` of `bytes` for a BadEncoding description.
std::string describeBadByte(std::string_view bytes, std::size_t offset);

}  // namespace yubin::import
