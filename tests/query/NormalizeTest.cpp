// Postal codes as people write them, and the folding under which names are searched.
#include "query/Normalize.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace yubin::query {
namespace {

TEST(NormalizeTest, PostalCodesInTheirWrittenForms) {
    for (const char* written :
         {"1000001", "100-0001", "〒100-0001", "〒１００－０００１", "１００ー０００１", "100ｰ0001",
          "100‐0001", "100−0001", " 100 - 0001 ", "〒　１０００００１"}) {
        EXPECT_EQ(NormalizePostalCode(written), std::optional<std::string>("1000001")) << written;
    }
    for (const char* wrong : {"", "100001", "10000011", "10-00001", "100-00-01", "100--0001",
                              "1000001a", "一〇〇〇〇〇一", "100〒0001x", "\xff\xfe"}) {
        EXPECT_EQ(NormalizePostalCode(wrong), std::nullopt) << wrong;
    }
}

TEST(NormalizeTest, FoldingMakesTheWaysOfWritingANameMeet) {
    // Readings: half-width as stored, full-width katakana and hiragana as typed.
    EXPECT_EQ(Folded("ｵｵﾄﾞｵﾘﾆｼ(1-19ﾁｮｳﾒ)"), Folded("おおどおりにし（１－１９ちょうめ）"));
    EXPECT_EQ(Folded("ﾊﾟﾝ"), "パン");
    EXPECT_EQ(Folded("ハ゜ン"), "パン");      // a separate mark joins its letter
    EXPECT_EQ(Folded("は\u309aん"), "パン");  // so does a combining one
    EXPECT_EQ(Folded("ｳﾞｨ"), Folded("ゔぃ"));
    EXPECT_EQ(Folded("ﾞｱ"), "゛ア");    // a mark with nothing to join stays
    EXPECT_EQ(Folded("ｶ　ﾞ"), "カ゛");  // nor does one after a blank
    // Small and full-size kana meet (business-office readings use only full-size ones).
    EXPECT_EQ(Folded("ｼｬｼｮｯﾌﾟ"), Folded("ｼﾔｼﾖﾂﾌﾟ"));
    EXPECT_EQ(Folded("旭ヶ丘"), Folded("旭ケ丘"));
    // Blanks go; Latin letters meet in one case and width.
    EXPECT_EQ(Folded("株式会社　日本 経済"), "株式会社日本経済");
    EXPECT_EQ(Folded("ＪＡビル"), Folded("ja ビル"));
    EXPECT_EQ(Folded("１～２"), Folded("1〜2"));
    // Kanji, other signs and bytes that are no UTF-8 stay as they are.
    EXPECT_EQ(Folded("霞が関（次のビルを除く）"), "霞ガ関(次ノビルヲ除ク)");
    EXPECT_EQ(Folded("a\xff"
                     "b"),
              "a\xff"
              "b");
    EXPECT_EQ(Folded("ｱ\xef\xbd"), "ア\xef\xbd");  // a letter cut short
}

// The letters of a folded text, walked without writing it.
struct WalkedLetters {
    bool whole = false;
    std::string text;  // the letters one after the other
    std::vector<std::size_t> lengths;
};
WalkedLetters Walk(std::string_view text) {
    WalkedLetters walked;
    walked.whole = ForEachFoldedLetter(text, [&](std::uint64_t letter, std::size_t length) {
        EXPECT_TRUE(length >= 1 && length <= 3) << text;
        EXPECT_EQ(letter >> (8 * length), 0u) << text;  // no byte beyond the letter's
        for (std::size_t i = 0; i < length; ++i)
            walked.text += static_cast<char>(letter >> (8 * i));
        walked.lengths.push_back(length);
    });
    return walked;
}

// The walk gives the folded text letter by letter: marks joined to the letter before them (not
// across a blank, nor at a text's start), blanks dropped, full-width letters as ASCII.
TEST(NormalizeTest, TheFoldedLettersWalkGivesTheFoldedTextLetterByLetter) {
    for (const char* text : {"",
                             " ",
                             "ｵｵﾄﾞｵﾘﾆｼ(1-19ﾁｮｳﾒ)",
                             "おおどおりにし（１－１９ちょうめ）",
                             "ﾊﾟﾝ",
                             "ハ゜ン",
                             "は\u309aん",
                             "ｳﾞｨ",
                             "ﾞｱ",
                             "ｶ　ﾞ",
                             "ｶ ﾞ",
                             "ﾞﾞ",
                             "ｶﾞﾞ",
                             "ｼｬｼｮｯﾌﾟ",
                             "旭ヶ丘",
                             "株式会社　日本 経済",
                             "ＪＡビル",
                             "Tokyo Tower",
                             "１～２",
                             "霞が関（次のビルを除く）",
                             "ｱ\x7f",
                             "ﾜﾞｦﾞｳﾞﾂﾞｯﾞﾎﾟﾊﾞ"}) {
        const WalkedLetters walked = Walk(text);
        EXPECT_TRUE(walked.whole) << text;
        EXPECT_EQ(walked.text, Folded(text)) << text;
        std::size_t lettersOfFolded = 0;  // every byte but continuation bytes starts a letter
        for (char byte : Folded(text))
            lettersOfFolded += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
        EXPECT_EQ(walked.lengths.size(), lettersOfFolded) << text;
    }
    // Other characters are left to AppendFolded; the letters given before them are the folded
    // text's first ones, the last letter before them not among them (a mark might join it).
    for (const auto& [text, given] :
         std::vector<std::pair<std::string, std::string>>{{"ｶ\x1fﾞ", ""},
                                                          {"ｶ\tﾞ\nｱ", "カ"},
                                                          {"ｱｶ\xffﾞ", "ア"},
                                                          {"ｶ\xef\xbd", ""},
                                                          {"ｶ\xe4\x80", ""},
                                                          {"ｷｶé", "キ"},
                                                          {"ｶ‐ｷ", ""},
                                                          {"ｶ한", ""},
                                                          {"ｶﾞ😀", ""},
                                                          {"本町\xe3\x81\x41", "本"},
                                                          {"ｶ\xe4\x41\x80", ""}}) {
        const WalkedLetters walked = Walk(text);
        EXPECT_FALSE(walked.whole) << text;
        EXPECT_EQ(walked.text, given) << text;
        EXPECT_EQ(Folded(text).substr(0, given.size()), given) << text;
    }
}

// The search passes over a text when one of a word's letters is written in none of its
// forms; that must never pass over a text whose folded form holds the word.
TEST(NormalizeTest, WrittenFormsOfEveryLetterOccurInEveryTextThatHoldsTheWord) {
    const std::vector<std::string> texts = {"ｵｵﾄﾞｵﾘﾆｼ(1-19ﾁｮｳﾒ)",
                                            "大通西（１～１９丁目）",
                                            "ｼｮｳﾜｼｮｯﾌﾟ",
                                            "(ｶﾌﾞ) ﾆﾎﾝｹｲｻﾞｲｼﾝﾌﾞﾝｼﾔ",
                                            "株式会社　日本経済新聞社",
                                            "つくば市",
                                            "ハ゜ン ヴィ",
                                            "ＪＡビル",
                                            "ｶﾞｯｺｳ"};
    const std::vector<std::string> words = {"ドオリ", "とおり",   "1~19",   "ショウワ", "しよつぷ",
                                            "かぶ",   "日本経済", "ツクバ", "パン",     "ゔぃ",
                                            "jaビ",   "がっこう", "ガツ"};
    int held = 0;
    for (const std::string& text : texts) {
        const std::string folded = Folded(text);
        for (const std::string& word : words) {
            const std::string foldedWord = Folded(word);
            if (folded.find(foldedWord) == std::string::npos) continue;
            ++held;
            for (const WrittenLetter& letter : WrittenLetters(foldedWord)) {
                bool written = false;
                for (const std::string& form : letter.forms) {
                    written = written || text.find(form) != std::string::npos;
                }
                EXPECT_TRUE(written) << text << " / " << word << " / " << letter.folded;
            }
        }
    }
    EXPECT_GE(held, 12);  // the pairs above do meet

    const std::vector<WrittenLetter> letters = WrittenLetters(Folded("千ちょ"));
    ASSERT_EQ(letters.size(), 3u);
    EXPECT_EQ(letters[0].forms, std::vector<std::string>{"千"});  // the fewest ways first
    EXPECT_EQ(letters[1].folded, "チ");
}

}  // namespace
}  // namespace yubin::query
