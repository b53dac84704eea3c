// Text normalisation for the query commands: postal codes as people write them, and one
// folded form of names in which kanji columns, half-width katakana readings and what a user
// types meet. No toolkit, no database.
#pragma once

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
