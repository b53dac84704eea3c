// Postal codes as people write them, and the folding under which names are searched.
#include "query/Normalize.h"

#include <gtest/gtest.h>

#include <string>
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
