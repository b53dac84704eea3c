// Text normalisation for the query commands: postal codes as people write them, and one
// folded form of names in which kanji columns, half-width katakana readings and what a user
// types meet. No toolkit, no database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace yubin::query {

// A postal code as written by a person -> its seven ASCII digits, or nothing when it is none.
// Accepted: full-width digits, a leading "〒", blanks anywhere (ASCII, ideographic), and one
// hyphen of any kind ("-", "－", "‐", "ー", "ｰ", "−", ...) after the third digit.
std::optional<std::string> NormalizePostalCode(std::string_view written);

// Appends the folded form of UTF-8 text to `out`. Folding makes the ways Japanese names are
// written compare equal under a plain substring search:
//  - full-width ASCII becomes ASCII, and Latin letters lower case;
//  - half-width katakana becomes full-width, a following (semi-)voiced mark joined to it
//    (ｶﾞ -> ガ); a separate voiced mark after a kana is joined the same way;
//  - hiragana becomes katakana, small kana their full-size letters (ｼｬ and ｼﾔ meet; ヶ -> ケ);
//  - blanks (ASCII and ideographic) are dropped; "〜" becomes "~".
// Everything else (kanji, punctuation) is kept as it is. Invalid UTF-8 bytes are kept too.
void AppendFolded(std::string_view text, std::string& out);
std::string Folded(std::string_view text);

namespace detail {
// The folded letter of every code point of three bytes led by 0xE3 (U+3000 to U+3FFF) or, with
// `forms`, by 0xEF (U+F000 to U+FFFF), indexed by its low twelve bits, before a voiced mark is
// joined; 0 for a blank.
const char16_t* ThreeByteFolding(bool forms);
// The letter a (semi-)voiced mark joins the folded letter `base` into; 0 when they do not join.
char32_t JoinedLetter(char32_t base, char32_t mark);
inline constexpr char32_t kFoldedVoicedMark = U'゛';
inline constexpr char32_t kFoldedSemiVoicedMark = U'゜';

// A folded letter below U+10000 in UTF-8, its first byte lowest.
constexpr std::uint32_t PackedUtf8(char32_t cp, std::size_t& length) {
    if (cp < 0x80) {
        length = 1;
        return cp;
    }
    if (cp < 0x800) {
        length = 2;
        return (0xC0 | (cp >> 6)) | (0x80 | (cp & 0x3F)) << 8;
    }
    length = 3;
    return (0xE0 | (cp >> 12)) | (0x80 | ((cp >> 6) & 0x3F)) << 8 | (0x80 | (cp & 0x3F)) << 16;
}
}  // namespace detail

// Calls take(letter, length) for every letter of Folded(text) in order, without writing it: the
// letter's UTF-8 bytes as a number (the first byte lowest) and their count. Walks texts of
// printable ASCII, blanks, kanji (U+4000 to U+9FFF), kana and the full- and half-width forms
// (U+3000 to U+3FFF, U+F000 to U+FFFF), the letters of names and readings; at any other
// character (a control character, a byte that starts no character) it stops and gives false,
// the letters before it given: the caller folds such a text with AppendFolded.
template <typename Take>
bool ForEachFoldedLetter(std::string_view text, Take&& take) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    // The last letter is given only when the next character shows that no mark joins it.
    std::uint32_t pending = 0;
    std::size_t pendingLength = 0;  // 0: none
    char32_t joinable = 0;          // the pending letter while a mark may still join it
    const char16_t* const kana = detail::ThreeByteFolding(false);
    const char16_t* const forms = detail::ThreeByteFolding(true);
    const auto give = [&] {
        if (pendingLength != 0) take(std::uint64_t{pending}, pendingLength);
    };
    while (p < end) {
        const unsigned lead = *p;
        if (lead < 0x80) {
            ++p;
            joinable = 0;
            if (lead == ' ' || lead == '\t') continue;
            if (lead < 0x20) return false;
            give();
            pending = lead >= 'A' && lead <= 'Z' ? lead + 0x20 : lead;
            pendingLength = 1;
            continue;
        }
        if (end - p < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) return false;
        if (lead >= 0xE4 && lead <= 0xE9) {  // kanji, kept as they are
            give();
            pending = lead | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
            pendingLength = 3;
            joinable = 0;
            p += 3;
            continue;
        }
        if (lead != 0xE3 && lead != 0xEF) return false;
        const char32_t folded = (lead == 0xE3 ? kana : forms)[(p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu)];
        p += 3;
        if (folded == 0) {  // a blank
            joinable = 0;
            continue;
        }
        if ((folded == detail::kFoldedVoicedMark || folded == detail::kFoldedSemiVoicedMark) &&
            joinable != 0) {
            if (const char32_t joined = detail::JoinedLetter(joinable, folded)) {
                pending = detail::PackedUtf8(joined, pendingLength);
                joinable = 0;
                continue;
            }
        }
        give();
        pending = detail::PackedUtf8(folded, pendingLength);
        joinable = folded;
    }
    give();
    return true;
}

// The ways a letter of a folded word can be written: byte strings of which every text whose
// folded form holds the letter contains at least one. A search tests these with a plain byte
// search before it folds a text at all.
struct WrittenLetter {
    std::string folded;              // the letter as folded
    std::vector<std::string> forms;  // the letter itself first; a kanji has no other
};
// The distinct letters of a folded word, those with the fewest ways first.
std::vector<WrittenLetter> WrittenLetters(std::string_view foldedWord);

}  // namespace yubin::query
