// The messages' language: which one the locale variables choose, and a message of the
// catalogue shown in Japanese or English while the Japanese stays what the windows are given.
#include <filesystem>

#include <gtest/gtest.h>

#include "base/Error.h"
#include "base/Message.h"
#include "base/Translation.h"
#include "support/TestSupport.h"

namespace yubin {
namespace {

TEST(TranslationTest, LocaleVariablesChooseTheLanguage) {
    constexpr Language ja = Language::Japanese, en = Language::English;
    const struct {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* language;
        Language expected;
    } cases[] = {
        // No locale, and the C locale in all its names: the program's own Japanese.
        {nullptr, nullptr, nullptr, nullptr, ja},
        {"", "", "", "", ja},
        {nullptr, nullptr, "C", nullptr, ja},
        {nullptr, nullptr, "POSIX", nullptr, ja},
        {nullptr, nullptr, "C.UTF-8", nullptr, ja},
        // ... where LANGUAGE has no say.
        {nullptr, nullptr, "C.UTF-8", "en", ja},
        {nullptr, nullptr, nullptr, "en_US", ja},
        // Japanese locales, and every other language is English.
        {nullptr, nullptr, "ja_JP.UTF-8", nullptr, ja},
        {nullptr, nullptr, "ja_JP.eucJP", nullptr, ja},
        {nullptr, nullptr, "en_US.UTF-8", nullptr, en},
        {nullptr, nullptr, "de_DE.UTF-8", nullptr, en},
        {nullptr, nullptr, "fr_FR", nullptr, en},
        {nullptr, nullptr, "jav_ID", nullptr, en},  // Javanese is not Japanese
        // LC_ALL before LC_MESSAGES before LANG; an empty one counts as unset.
        {"C", "en_US.UTF-8", "en_US.UTF-8", nullptr, ja},
        {"en_GB.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8", nullptr, en},
        {"", "de_DE.UTF-8", "ja_JP.UTF-8", nullptr, en},
        {nullptr, "ja_JP.UTF-8", "en_US.UTF-8", nullptr, ja},
        {nullptr, "", "en_US.UTF-8", nullptr, en},
        // LANGUAGE refines a locale: its first language of ours wins.
        {nullptr, nullptr, "en_US.UTF-8", "ja", ja},
        {nullptr, nullptr, "ja_JP.UTF-8", "en_GB:ja", en},
        {nullptr, nullptr, "de_DE.UTF-8", "de:fr:ja_JP", ja},
        {nullptr, nullptr, "ja_JP.UTF-8", "de:fr", ja},
        {nullptr, nullptr, "de_DE.UTF-8", "de:fr", en},
    };
    for (const auto& c : cases) {
        const auto shown = [](const char* v) { return v == nullptr ? "(unset)" : v; };
        EXPECT_EQ(LanguageOfLocale(c.lcAll, c.lcMessages, c.lang, c.language), c.expected)
            << "LC_ALL=" << shown(c.lcAll) << " LC_MESSAGES=" << shown(c.lcMessages)
            << " LANG=" << shown(c.lang) << " LANGUAGE=" << shown(c.language);
    }
}

TEST(TranslationTest, PlacesTakeTheirValuesInAnyOrder) {
    EXPECT_EQ(FormatPlaces("{1} の {2}", {"a", "b"}), "a の b");
    EXPECT_EQ(FormatPlaces("{2} of {1}", {"a", "b"}), "b of a");
    EXPECT_EQ(FormatPlaces("{1} and {1}", {"x"}), "x and x");
    // A place without a value, and braces that are no place, stay as written; a value is
    // never read as a pattern.
    EXPECT_EQ(FormatPlaces("{1} {2}", {"a"}), "a {2}");
    EXPECT_EQ(FormatPlaces("{0} {x} {1", {"a"}), "{0} {x} {1");
    EXPECT_EQ(FormatPlaces("{1}{2}", {"{2}", "b"}), "{2}b");
    EXPECT_EQ(Format("{1} 件", 1234567L), "1234567 件");
}

// The build's catalogue, beside the executable.
class EnglishCatalogue : public ::testing::Test {
  protected:
    void SetUp() override {
        UseLanguage(Language::English,
                    (std::filesystem::path(YUBIN_EXECUTABLE).parent_path() / "locale").string());
    }
    void TearDown() override { UseLanguage(Language::Japanese, ""); }
};

TEST_F(EnglishCatalogue, ErrorsKeepTheirJapaneseAndAreShownTranslated) {
    const YubinError missing(ErrorCode::FileNotFound,
                             Message("ファイル {1} が見つかりません。", "/data/ken_all.csv"));
    EXPECT_EQ(missing.description(), "ファイル /data/ken_all.csv が見つかりません。");
    EXPECT_EQ(missing.translatedDescription(), "the file /data/ken_all.csv was not found.");

    // A data line: the place and the detail, each in the language shown.
    const YubinError line(ErrorCode::BadInputLine,
                          Message("項目が {1} 個に足りません（{2} 個）。", 15, 3), "ken_all.csv",
                          12);
    EXPECT_EQ(line.description(),
              "ファイル ken_all.csv の 12 行目: 項目が 15 個に足りません（3 個）。");
    EXPECT_EQ(line.translatedDescription(), "file ken_all.csv, line 12: fewer fields than 15 (3).");
    EXPECT_EQ(line.detail(), "項目が 15 個に足りません（3 個）。");

    // A message inside another is translated with it; a text from elsewhere never is.
    const Message nested("{1}: {2}（{3}）", Message("ファイルを削除できません"), "/x",
                         Message::Verbatim("ファイル"));
    EXPECT_EQ(nested.japanese(), "ファイルを削除できません: /x（ファイル）");
    EXPECT_EQ(nested.translated(), "cannot delete the file: /x (ファイル)");
    const YubinError plain(ErrorCode::EngineFailure, std::string("データベースを読めません。"));
    EXPECT_EQ(plain.translatedDescription(), "データベースを読めません。");

    // A message the catalogue lacks is shown in Japanese.
    EXPECT_STREQ(Tr("カタログにない文"), "カタログにない文");
}

TEST_F(EnglishCatalogue, JapaneseAgainShowsTheJapanese) {
    UseLanguage(Language::Japanese, "");
    EXPECT_EQ(CurrentLanguage(), Language::Japanese);
    EXPECT_STREQ(Tr("データベースを読めません。"), "データベースを読めません。");
    EXPECT_EQ(Message("ファイル {1} が見つかりません。", "a").translated(),
              "ファイル a が見つかりません。");
}

TEST(TranslationTest, CataloguesLieBesideTheExecutableOrWhereThePackagePutsThem) {
    test::TempDir dir;
    const std::filesystem::path program = dir.path() / "usr/lib/yubinbox";
    std::filesystem::create_directories(program);
    EXPECT_EQ(std::filesystem::path(LocaleFolder(program.string())).lexically_normal(),
              (dir.path() / "usr/share/locale").lexically_normal());
    std::filesystem::create_directories(program / "locale");
    EXPECT_EQ(LocaleFolder(program.string()), (program / "locale").string());
}

}  // namespace
}  // namespace yubin
