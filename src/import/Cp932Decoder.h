// Decoding code page 932 (Shift_JIS as Windows writes it) to UTF-8 through glibc's iconv.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Message.h"
#include "import/FieldSplitter.h"

namespace yubin::import {

class Cp932Decoder {
  public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Which bytes of a line separate its fields.
    enum class Separators { Commas, CommasAndTabs };

    // Raises BadEncoding when the C library offers no CP932 converter.
    Cp932Decoder();
    ~Cp932Decoder();
    Cp932Decoder(const Cp932Decoder&) = delete;
    Cp932Decoder& operator=(const Cp932Decoder&) = delete;

    // The room decodeLine needs for `bytes` bytes of a line.
    static constexpr std::size_t roomFor(std::size_t bytes) { return bytes * 3 + 1; }

    // Replaces `out` with the UTF-8 text of `bytes`, reusing its capacity; with `dropQuotes`
    // every double quote is left out, as if removed from the decoded text. Returns npos, or
    // the offset in `bytes` of the first byte that does not belong to a character of the
    // code page (`out` is then unspecified). Nothing is ever replaced or guessed: the
    // undefined single bytes 0x80, 0xA0 and 0xFD to 0xFF, a lead byte without a proper trail
    // byte, and double-byte codes that the code page leaves unassigned are all refused, and
    // so is a NUL byte, which no data file holds and which would cut the text short.
    std::size_t decode(std::string_view bytes, std::string& out, bool dropQuotes = false);

    // Decodes a data-file line as `decode` with `dropQuotes` does, into `out`, which has
    // roomFor(bytes.size()) bytes; `length` gets the length of the text. On the way the
    // separators of the decoded text are marked in `marks`, so that the line is split without
    // a second look at its bytes. Returns as `decode` does (then `length` and `marks` are
    // unspecified).
    std::size_t decodeLine(std::string_view bytes, char* out, std::size_t& length,
                           Separators separators, SeparatorMarks& marks);
    // decodeLine at the end of `texts`, the room it needs taken there: `text` names the
    // decoded text (only when npos is returned).
    std::size_t decodeLineInto(std::string_view bytes, TextArena& texts, Separators separators,
                               SeparatorMarks& marks, TextSpan& text) {
        std::size_t length = 0;
        const std::size_t bad =
            decodeLine(bytes, texts.room(roomFor(bytes.size())), length, separators, marks);
        if (bad == npos) text = texts.commit(length);
        return bad;
    }

  private:
    // The UTF-8 of one character of the code page, as iconv gives it for the character alone
    // (the code page has no shift states, so a character reads the same in any context).
    // Copied out as four bytes at once: the length comes last and is overwritten by the next
    // character.
    struct Character {
        char utf8[3];
        std::uint8_t length;  // 0: not asked yet; kRefused: iconv refuses it
    };
    static_assert(sizeof(Character) == 4);
    static constexpr std::uint8_t kRefused = 0xFF;

    // The decoding loop. kMarks: 0 marks nothing, 1 commas, 2 commas and tabs.
    template <bool kDropQuotes, int kMarks>
    std::size_t run(std::string_view bytes, char* out, std::size_t& length, SeparatorMarks* marks);

    // Fills the entry of a lead byte and a trail byte, or of a single byte (trail 0), from
    // iconv the first time the character occurs. A file uses a few thousand characters in
    // millions of places, and one iconv call per line costs more than the table.
    void ask(Character& c, unsigned char lead, unsigned char trail);

    void* cd_;                             // iconv_t
    std::string buffer_;                   // decode's text before it is copied out (never shrinks)
    std::array<Character, 256> single_{};  // half-width katakana, asked at the start
    std::array<Character, 64 * 256> double_{};  // by lead-byte slot and trail byte
};

// Names the byte at `offset` of `bytes` for a BadEncoding description.
Message describeBadByte(std::string_view bytes, std::size_t offset);

}  // namespace yubin::import
