// The command line as scripts use it, through the real executable: failures they must see
// (a full disk on standard output), stable JSON, options where people put them, and reads
// that leave nothing behind.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "cli/CliFixtures.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

class CliScriptsTest : public CliFixture {
  protected:
    // A database with both kinds of rows, imported through the executable.
    void ImportSmallData() {
        writeCp932Lines(dir.file("ken_all.csv"), KenLines(1));
        writeCp932Lines(dir.file("jigyosyo.csv"), OfficeLines(1));
        ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
        const ProcessResult run =
            yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--jigyosyo",
                      dir.file("jigyosyo.csv")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    // The exit code of the executable with its standard output on /dev/full.
    int ExitCodeWritingToAFullDisk(const std::string& arguments) {
        const std::string command = "HOME='" + dir.path().string() + "' '" + yubinboxExecutable() +
                                    "' " + arguments + " >/dev/full 2>'" + dir.file("stderr.txt") +
                                    "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(CliScriptsTest, AWriteErrorOnStandardOutputFailsWithAMessage) {
    ImportSmallData();
    const std::string database = " --db '" + db() + "'";
    for (const std::string& arguments :
         {"search 千代田区" + database, "summary --format json" + database,
          "lookup 1010000" + database, std::string("settings")}) {
        EXPECT_NE(ExitCodeWritingToAFullDisk(arguments), 0) << arguments;
        const std::string message = readBytes(dir.file("stderr.txt"));
        EXPECT_NE(message.find("yubinbox: 標準出力に書き込めません"), std::string::npos)
            << arguments << ": " << message;
    }
}

TEST_F(CliScriptsTest, JsonKeysAreStableAsciiNamesWithTheKindOfEachRow) {
    ImportSmallData();
    const ProcessResult national =
        yubinbox({"lookup", "--db", db(), "--format", "json", "1010000"});
    ASSERT_EQ(national.exitCode, 0) << national.err;
    const ProcessResult office = yubinbox({"lookup", "--db", db(), "--format", "json", "9000000"});
    ASSERT_EQ(office.exitCode, 0) << office.err;

    const std::regex key(R"re("([^"]+)":)re");
    for (const std::string& line : {national.out, office.out}) {
        for (auto it = std::sregex_iterator(line.begin(), line.end(), key);
             it != std::sregex_iterator(); ++it) {
            EXPECT_TRUE(std::regex_match((*it)[1].str(), std::regex("[a-z][a-z0-9_]*")))
                << (*it)[1] << " in " << line;
        }
    }
    EXPECT_NE(national.out.find(R"("postal_code":"1010000","kind":"national")"), std::string::npos)
        << national.out;
    EXPECT_NE(national.out.find(R"("prefecture":"都01")"), std::string::npos);
    EXPECT_NE(national.out.find(R"("municipality":"千代田区")"), std::string::npos);
    EXPECT_NE(national.out.find(R"("town":"町0")"), std::string::npos);
    EXPECT_NE(national.out.find(R"("town_kana":"ﾏﾁ")"), std::string::npos);
    EXPECT_NE(office.out.find(R"("kind":"office")"), std::string::npos) << office.out;
    EXPECT_NE(office.out.find(R"("office_name":"社0")"), std::string::npos);
    EXPECT_NE(office.out.find(R"("post_office":"局")"), std::string::npos);
}

TEST_F(CliScriptsTest, AnOfficeImportInterruptedBeforeItsFirstRowIsReportedAsOne) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ASSERT_EQ(yubinbox({"sql", db(), "INSERT INTO 登録中 VALUES(1000000)"}).exitCode, 0);
    const ProcessResult json = yubinbox({"summary", "--db", db(), "--format", "json"});
    EXPECT_NE(json.out.find(R"("resume":{"pending":true,"kind":"office","marker":1000000})"),
              std::string::npos)
        << json.out;
    const ProcessResult text = yubinbox({"summary", "--db", db()});
    EXPECT_NE(text.out.find("事業所個別郵便番号データの取り込みが途中で中止されています。"),
              std::string::npos)
        << text.out;
}

TEST_F(CliScriptsTest, OptionsAfterTheSubcommandAndUnknownOptionsAreNamed) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    const ProcessResult after = yubinbox({"summary", "--db", db(), "--lock-wait", "5"});
    EXPECT_EQ(after.exitCode, 0) << after.err;
    const ProcessResult before = yubinbox({"--lock-wait", "5", "summary", "--db", db()});
    EXPECT_EQ(before.exitCode, 0) << before.err;

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-v"}, std::vector<std::string>{"summary", "-v"}}) {
        const ProcessResult unknown = yubinbox(arguments);
        EXPECT_EQ(unknown.exitCode, 2);
        EXPECT_NE(unknown.err.find("不明なオプションです: -v"), std::string::npos) << unknown.err;
    }
}

TEST_F(CliScriptsTest, ImportIntoAMissingDatabaseSaysHowToMakeIt) {
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(1));
    const ProcessResult run =
        yubinbox({"import", "--db", dir.file("new.mdb"), "--ken-all", dir.file("ken_all.csv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("createdb " + dir.file("new.mdb")), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("newdb"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir.file("new.mdb")));
}

TEST_F(CliScriptsTest, CommandsThatOnlyReadCreateNothing) {
    ImportSmallData();
    const fs::path home = dir.path() / "empty-home";
    fs::create_directories(home);
    const std::vector<std::string> environment = {"HOME=" + home.string(),
                                                  "XDG_CONFIG_HOME=" + (home / ".config").string()};
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"settings"}, std::vector<std::string>{"summary", "--db", db()},
          std::vector<std::string>{"summary"},
          std::vector<std::string>{"lookup", "--db", db(), "1010000"},
          std::vector<std::string>{"search", "--db", db(), "千代田区"}}) {
        runYubinbox(arguments, environment);
        EXPECT_TRUE(fs::is_empty(home))
            << arguments[0] << " left " << fs::directory_iterator(home)->path();
    }
}

}  // namespace
}  // namespace yubin::test
