// The command line's messages in the locale's language, through the real executable: English
// under an English (or any non-Japanese) locale, Japanese under a Japanese one and without a
// locale; the data it writes and its exit codes are the same in both.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliMessages.h"
#include "cli/HelpColumns.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

// Whether a Japanese (wide) character is in the text: it takes more columns than characters.
bool HoldsWideCharacter(const std::string& text) {
    size_t characters = 0;
    for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return cli::DisplayWidth(text) > characters;
}

class CliLanguageTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string db() const { return dir.file("yubinbox.mdb"); }
    ProcessResult yubinbox(const std::vector<std::string>& args,
                           std::vector<std::string> locale = {}) {
        locale.push_back("HOME=" + dir.path().string());
        locale.push_back("XDG_CONFIG_HOME=" + dir.file(".config"));
        return runYubinbox(args, locale);
    }
};

TEST_F(CliLanguageTest, TheLocaleChoosesTheLanguageOfAnError) {
    const std::string english = "yubinbox: \"abc\" is no postal code.";
    const std::string japanese = "yubinbox: 「abc」は郵便番号ではありません。";
    const struct {
        std::vector<std::string> locale;
        const std::string& expected;
    } cases[] = {
        {{}, japanese},
        {{"LANG=C"}, japanese},
        {{"LANG=C.UTF-8", "LANGUAGE=en"}, japanese},
        {{"LANG=ja_JP.UTF-8"}, japanese},
        {{"LANG=en_US.UTF-8"}, english},
        {{"LANG=de_DE.UTF-8"}, english},  // not generated on the machine: English all the same
        {{"LC_ALL=fr_FR"}, english},
        {{"LANG=ja_JP.UTF-8", "LC_MESSAGES=en_GB.UTF-8"}, english},
        {{"LANG=en_US.UTF-8", "LC_ALL=C"}, japanese},
        {{"LANG=en_US.UTF-8", "LANGUAGE=ja"}, japanese},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const std::string& v : c.locale) shown += v + " ";
        const ProcessResult r = yubinbox({"lookup", "abc"}, c.locale);
        EXPECT_EQ(r.exitCode, 2) << shown;
        EXPECT_EQ(r.err.rfind(c.expected, 0), 0u) << shown << "\n" << r.err;
    }
}

TEST_F(CliLanguageTest, CoreErrorsAndCommandMessagesAreTranslatedWithTheSameExitCodes) {
    const std::string missing = dir.file("none.mdb");
    const ProcessResult en = yubinbox({"summary", "--db", missing}, {"LANG=en_US.UTF-8"});
    const ProcessResult ja = yubinbox({"summary", "--db", missing});
    EXPECT_EQ(en.exitCode, 1);
    EXPECT_EQ(ja.exitCode, 1);
    EXPECT_EQ(en.err, "yubinbox: error 53: the file " + missing + " does not exist.\n");
    EXPECT_EQ(ja.err, "yubinbox: エラー 53: ファイル " + missing + " がありません。\n");

    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    const ProcessResult exists = yubinbox({"createdb", db()}, {"LANG=en_US.UTF-8"});
    EXPECT_EQ(exists.exitCode, 1);
    EXPECT_NE(exists.err.find("error 3204: the file " + db() + " exists already"),
              std::string::npos)
        << exists.err;

    // A summary for people follows the locale; one for programs (JSON) does not.
    const ProcessResult summary = yubinbox({"summary", "--db", db()}, {"LANG=en_US.UTF-8"});
    EXPECT_EQ(summary.exitCode, 0);
    EXPECT_EQ(summary.out, "No postal-code data is registered.\n");
    EXPECT_EQ(yubinbox({"summary", "--db", db()}).out,
              "登録されている郵便番号データはありません。\n");
    EXPECT_EQ(yubinbox({"summary", "--db", db(), "--format", "json"}, {"LANG=en_US.UTF-8"}).out,
              yubinbox({"summary", "--db", db(), "--format", "json"}).out);

    // Not found: the same exit code, and standard output (the data) the same in both.
    const ProcessResult notFoundEn =
        yubinbox({"lookup", "--db", db(), "1000001"}, {"LANG=en_US.UTF-8"});
    const ProcessResult notFoundJa = yubinbox({"lookup", "--db", db(), "1000001"});
    EXPECT_EQ(notFoundEn.exitCode, 1);
    EXPECT_EQ(notFoundJa.exitCode, 1);
    EXPECT_EQ(notFoundEn.out, notFoundJa.out);
    EXPECT_EQ(notFoundEn.out.rfind("郵便番号\t区分\t", 0), 0u) << "the header is data";
    EXPECT_EQ(notFoundEn.err, "yubinbox: no such postal code: 1000001\n");
}

TEST_F(CliLanguageTest, ParseFailuresSpeakTheLocalesLanguage) {
    const struct {
        std::vector<std::string> args;
        const char* english;
        const char* japanese;
    } cases[] = {
        {{"frobnicate"}, "unknown subcommand: frobnicate", "不明なサブコマンドです: frobnicate"},
        {{"summary", "extra"}, "extra arguments: extra", "余分な引数があります: extra"},
        {{"search", "--limit", "many", "x"},
         "--limit: the value many cannot be used.",
         "--limit の値 many は使えません。"},
        {{"lookup", "--format", "xml", "1000001"},
         "there is no output format xml",
         "出力形式 xml はありません"},
        {{"search"}, "give WORDS.", "WORDS を指定してください。"},
    };
    for (const auto& c : cases) {
        const ProcessResult en = yubinbox(c.args, {"LANG=en_US.UTF-8"});
        const ProcessResult ja = yubinbox(c.args);
        EXPECT_EQ(en.exitCode, 2) << c.english;
        EXPECT_EQ(ja.exitCode, 2) << c.japanese;
        EXPECT_NE(en.err.find(c.english), std::string::npos) << en.err;
        EXPECT_NE(en.err.find("Run with --help to see how to use it."), std::string::npos);
        EXPECT_FALSE(HoldsWideCharacter(en.err)) << en.err;
        EXPECT_NE(ja.err.find(c.japanese), std::string::npos) << ja.err;
        EXPECT_NE(ja.err.find("使い方は --help で表示されます。"), std::string::npos);
    }
}

// Every help is wholly English under an English locale, and its descriptions start in one
// column in both languages.
TEST_F(CliLanguageTest, HelpInBothLanguagesWithItsColumnsAligned) {
    std::vector<std::vector<std::string>> helps = {{"--help"}};
    for (const char* sub :
         {"createdb", "sql", "compact", "tables", "use", "settings", "drives", "newdb", "import",
          "publish", "summary", "lookup", "search", "changes"}) {
        helps.push_back({sub, "--help"});
    }
    for (const auto& args : helps) {
        const ProcessResult en = yubinbox(args, {"LANG=en_US.UTF-8"});
        const ProcessResult ja = yubinbox(args, {"LANG=ja_JP.UTF-8"});
        EXPECT_EQ(en.exitCode, 0) << args[0];
        EXPECT_EQ(ja.exitCode, 0) << args[0];
        EXPECT_FALSE(HoldsWideCharacter(en.out)) << "untranslated:\n" << en.out;
        EXPECT_TRUE(HoldsWideCharacter(ja.out)) << ja.out;
        EXPECT_EQ(DescriptionColumns(en.out).size(), 1u) << en.out;
        EXPECT_EQ(DescriptionColumns(ja.out).size(), 1u) << ja.out;
    }
    const ProcessResult en = yubinbox({"--help"}, {"LANG=en_US.UTF-8"});
    EXPECT_NE(en.out.find("Usage:"), std::string::npos) << en.out;
    EXPECT_NE(en.out.find("SUBCOMMANDS:"), std::string::npos) << en.out;
    EXPECT_NE(en.out.find("Exit codes: 0 success"), std::string::npos) << en.out;
    const ProcessResult ja = yubinbox({"--help"});
    EXPECT_NE(ja.out.find("使い方:"), std::string::npos) << ja.out;
    EXPECT_NE(ja.out.find("終了コード: 0 成功"), std::string::npos) << ja.out;
    EXPECT_EQ(ja.out.find("Exit codes"), std::string::npos) << ja.out;
}

}  // namespace
}  // namespace yubin::test
