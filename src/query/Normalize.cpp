#include "query/Normalize.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace yubin::query {

namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// The code point at `at` (advanced past it); kInvalid for a byte that starts no valid
// sequence (then one byte is consumed).
char32_t Decode(std::string_view text, size_t& at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    int length = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
        ++at;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07;
    } else {
        ++at;
        return kInvalid;
    }
    if (at + length > text.size()) {
        ++at;
        return kInvalid;
    }
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return kInvalid;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    at += length;
    return cp;
}

// Writes the code point in UTF-8 at `w`; returns the end.
char* EncodeTo(char32_t cp, char* w) {
    if (cp < 0x80) {
        *w++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *w++ = static_cast<char>(0xC0 | (cp >> 6));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *w++ = static_cast<char>(0xE0 | (cp >> 12));
        *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *w++ = static_cast<char>(0xF0 | (cp >> 18));
        *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return w;
}

void Encode(char32_t cp, std::string& out) {
    char bytes[4];
    out.append(bytes, EncodeTo(cp, bytes));
}

// Half-width katakana U+FF61..U+FF9F as their full-width forms.
constexpr std::array<char16_t, 63> kHalfWidthKana = {
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ',
    u'ョ', u'ッ', u'ー', u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ',
    u'サ', u'シ', u'ス', u'セ', u'ソ', u'タ', u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ',
    u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ', u'ホ', u'マ', u'ミ', u'ム', u'メ', u'モ', u'ヤ',
    u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ', u'ン', u'゛', u'゜'};

constexpr char32_t kVoicedMark = U'゛';
constexpr char32_t kSemiVoicedMark = U'゜';

constexpr bool IsBlank(char32_t cp) { return cp == U' ' || cp == U'\t' || cp == U'　'; }

// One code point in the folded alphabet, before voiced marks are joined and small kana grown.
constexpr char32_t MapCodePoint(char32_t cp) {
    if (cp < 0x80) return (cp >= U'A' && cp <= U'Z') ? cp + 0x20 : cp;
    if (cp >= 0xFF01 && cp <= 0xFF5E) return MapCodePoint(cp - 0xFEE0);  // full-width ASCII
    if (cp >= 0xFF61 && cp <= 0xFF9F) return kHalfWidthKana[cp - 0xFF61];
    if (cp >= 0x3041 && cp <= 0x3096) return cp + 0x60;  // hiragana -> katakana
    if (cp == 0x3099) return kVoicedMark;                // combining marks
    if (cp == 0x309A) return kSemiVoicedMark;
    if (cp == U'〜') return U'~';
    return cp;
}

// The katakana with the mark joined, or 0 when the pair does not join.
char32_t Join(char32_t base, char32_t mark) {
    const bool voiced = mark == kVoicedMark;
    if (base == U'ウ' && voiced) return U'ヴ';
    if (base == U'ワ' && voiced) return U'ヷ';
    if (base == U'ヲ' && voiced) return U'ヺ';
    // カ to ト: the voiced letter follows each plain one (ツ, after the small ッ, too).
    if (voiced && base >= U'カ' && base <= U'ト' && base != U'ッ') {
        const bool plain = base <= U'チ' ? (base - U'カ') % 2 == 0 : (base - U'ツ') % 2 == 0;
        return plain ? base + 1 : 0;
    }
    // ハ to ホ: voiced +1, semi-voiced +2.
    if (base >= U'ハ' && base <= U'ホ' && (base - U'ハ') % 3 == 0) return base + (voiced ? 1 : 2);
    return 0;
}

constexpr char32_t FullSize(char32_t cp) {
    switch (cp) {
        case U'ァ':
        case U'ィ':
        case U'ゥ':
        case U'ェ':
        case U'ォ':
        case U'ッ':
        case U'ャ':
        case U'ュ':
        case U'ョ':
        case U'ヮ':
            return cp + 1;
        case U'ヵ':
            return U'カ';
        case U'ヶ':
            return U'ケ';
        default:
            return cp;
    }
}

// The folded letter of every code point of three bytes that begins with 0xE3 (U+3000 to
// U+3FFF: the kana) or 0xEF (U+F000 to U+FFFF: the full- and half-width forms), before a
// voiced mark is joined; 0 for a blank. Most letters of the readings are such.
struct ThreeByteFolding {
    std::array<char16_t, 0x1000> kana{}, forms{};
};
constexpr ThreeByteFolding kThreeByteFolding = [] {
    ThreeByteFolding table;
    for (char32_t i = 0; i < 0x1000; ++i) {
        for (auto [cp, folded] : {std::pair{0x3000 + i, &table.kana[i]},
                                  std::pair{0xF000 + i, &table.forms[i]}}) {
            const char32_t letter = IsBlank(cp) ? 0 : FullSize(MapCodePoint(cp));
            *folded = static_cast<char16_t>(letter);
        }
    }
    return table;
}();

bool IsHyphen(char32_t cp) {
    switch (cp) {
        case U'-':
        case U'－':
        case U'‐':
        case U'‑':
        case U'‒':
        case U'–':
        case U'—':
        case U'―':
        case U'−':
        case U'ー':
        case U'ｰ':
        case U'﹣':
        case U'⁃':
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<std::string> NormalizePostalCode(std::string_view written) {
    std::string digits;
    bool hyphenSeen = false;
    for (size_t at = 0; at < written.size();) {
        const char32_t cp = Decode(written, at);
        if (IsBlank(cp) || cp == U'〒') continue;
        if (cp >= U'0' && cp <= U'9') {
            digits += static_cast<char>(cp);
        } else if (cp >= U'０' && cp <= U'９') {
            digits += static_cast<char>(U'0' + (cp - U'０'));
        } else if (IsHyphen(cp) && !hyphenSeen && digits.size() == 3) {
            hyphenSeen = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits.size() != 7) return std::nullopt;
    return digits;
}

void AppendFolded(std::string_view text, std::string& out) {
    // Folding never lengthens a text, so it is written in place into room made beforehand.
    const size_t start = out.size();
    out.resize(start + text.size());
    char* const begin = out.data() + start;
    char* w = begin;
    char32_t last = 0;       // the letter written last, while a voiced mark may join it
    char* lastAt = nullptr;  // where it was written
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {  // readings' digits and brackets, codes
            ++at;
            last = 0;
            if (lead != ' ' && lead != '\t') {
                *w++ = static_cast<char>(lead >= 'A' && lead <= 'Z' ? lead + 0x20 : lead);
            }
            continue;
        }
        if (lead >= 0xE4 && lead <= 0xE9 && at + 3 <= text.size()) {  // kanji: kept as they are
            std::memcpy(w, text.data() + at, 3);
            w += 3;
            at += 3;
            last = 0;
            continue;
        }
        if ((lead == 0xE3 || lead == 0xEF) && at + 3 <= text.size()) {
            const auto second = static_cast<unsigned char>(text[at + 1]);
            const auto third = static_cast<unsigned char>(text[at + 2]);
            if ((second & 0xC0) == 0x80 && (third & 0xC0) == 0x80) {
                at += 3;
                const std::size_t index = ((second & 0x3Fu) << 6) | (third & 0x3Fu);
                const char32_t folded = lead == 0xE3 ? kThreeByteFolding.kana[index]
                                                     : kThreeByteFolding.forms[index];
                if (folded == 0) {  // a blank
                    last = 0;
                    continue;
                }
                if ((folded == kVoicedMark || folded == kSemiVoicedMark) && last != 0) {
                    if (const char32_t joined = Join(last, folded)) {
                        w = EncodeTo(joined, lastAt);
                        last = 0;
                        continue;
                    }
                }
                lastAt = w;
                last = folded;
                w = EncodeTo(folded, w);
                continue;
            }
        }
        const size_t from = at;
        const char32_t cp = Decode(text, at);
        if (cp == kInvalid) {
            *w++ = text[from];
            last = 0;
            continue;
        }
        if (IsBlank(cp)) {
            last = 0;
            continue;
        }
        const char32_t mapped = MapCodePoint(cp);
        if ((mapped == kVoicedMark || mapped == kSemiVoicedMark) && last != 0) {
            if (const char32_t joined = Join(last, mapped)) {
                w = EncodeTo(joined, lastAt);  // replaces the letter (both take three bytes)
                last = 0;
                continue;
            }
        }
        const char32_t folded = FullSize(mapped);
        lastAt = w;
        last = folded;
        w = EncodeTo(folded, w);
    }
    out.resize(start + static_cast<size_t>(w - begin));
}

std::vector<WrittenLetter> WrittenLetters(std::string_view foldedWord) {
    // Every code point that folding changes, with what it becomes on its own.
    static const std::vector<std::pair<char32_t, char32_t>> kFoldings = [] {
        std::vector<std::pair<char32_t, char32_t>> foldings;
        const auto add = [&](char32_t from, char32_t to) {
            for (char32_t cp = from; cp <= to; ++cp) {
                foldings.emplace_back(cp, FullSize(MapCodePoint(cp)));
            }
        };
        add(0x21, 0x7E);
        add(0x3041, 0x3096);
        add(0x3099, 0x309C);
        add(0x30A1, 0x30FA);
        add(0xFF01, 0xFF5E);
        add(0xFF61, 0xFF9F);
        add(U'〜', U'〜');
        return foldings;
    }();
    // A voiced letter may be written as its plain letter and a mark.
    const auto plain = [](char32_t cp) {
        for (char32_t base = U'ァ'; base <= U'ヺ'; ++base) {
            for (char32_t mark : {kVoicedMark, kSemiVoicedMark}) {
                if (Join(base, mark) == cp) return base;
            }
        }
        return cp;
    };
    std::vector<WrittenLetter> letters;
    for (size_t at = 0; at < foldedWord.size();) {
        const char32_t cp = Decode(foldedWord, at);
        if (cp == kInvalid) continue;
        WrittenLetter letter;
        Encode(cp, letter.folded);
        if (std::any_of(letters.begin(), letters.end(),
                        [&](const WrittenLetter& seen) { return seen.folded == letter.folded; })) {
            continue;
        }
        letter.forms.push_back(letter.folded);
        const char32_t base = plain(cp);
        for (const auto& [raw, folded] : kFoldings) {
            if ((folded == cp || folded == base) && raw != cp)
                Encode(raw, letter.forms.emplace_back());
        }
        letters.push_back(std::move(letter));
    }
    std::stable_sort(letters.begin(), letters.end(),
                     [](const auto& a, const auto& b) { return a.forms.size() < b.forms.size(); });
    return letters;
}

namespace detail {

const char16_t* ThreeByteFolding(bool forms) {
    return forms ? kThreeByteFolding.forms.data() : kThreeByteFolding.kana.data();
}

char32_t JoinedLetter(char32_t base, char32_t mark) { return Join(base, mark); }

}  // namespace detail

std::string Folded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendFolded(text, out);
    return out;
}

}  // namespace yubin::query
