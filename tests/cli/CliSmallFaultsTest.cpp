// Through the real executable: the masters read again when another program changed the
// database during a lookup from standard input; a complete import whose compaction waits; paths
// that are no database file; overlong input lines; invalid UTF-8 in JSON; control characters
// in messages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliFixtures.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

class CliSmallFaultsTest : public CliFixture {
  protected:
    void importNational(int groups) {
        writeCp932Lines(dir.file("ken_all.csv"), KenLines(groups));
        ProcessResult run =
            yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    // Runs SQL with SQLite itself, as another program that writes the file would.
    void rawSql(const std::string& sql) {
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open(db().c_str(), &handle), SQLITE_OK);
        char* message = nullptr;
        const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message);
        const std::string text = message ? message : "";
        sqlite3_free(message);
        sqlite3_close(handle);
        ASSERT_EQ(rc, SQLITE_OK) << text;
    }
};

TEST_F(CliSmallFaultsTest, LookupFromStandardInputReadsTheMastersAgainAfterAnotherImport) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    importNational(1);
    // The next month's file: a municipality renamed.
    std::vector<std::string> renamed = KenLines(1);
    for (std::string& line : renamed) line.replace(line.find("千代田区"), 12, "新千代田区");
    writeCp932Lines(dir.file("ken_all.csv"), renamed);
    const std::string fifo = dir.file("codes");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The lookup waits on the FIFO: its first code comes before the import, its second after.
    std::string command = "'" + yubinboxExecutable() + "' lookup --db '" + db() + "' < '" + fifo +
                          "' > '" + dir.file("out.txt") + "' 2> '" + dir.file("err.txt") + "'";
    for (const std::string& variable : env()) command = variable + " " + command;
    int lookupExit = -1;
    std::thread lookup([&] { lookupExit = std::system(command.c_str()); });
    const int writer = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "1010000\n", 8), 8);
    // Answered: the masters are read and the connection is open.
    for (int wait = 0; wait < 600; ++wait) {
        if (fs::exists(dir.file("out.txt")) &&
            readBytes(dir.file("out.txt")).find("千代田区") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(readBytes(dir.file("out.txt")).find("千代田区"), std::string::npos);
    // The other program's import: complete, but its compaction waits for the lookup's
    // connection (exit 5, said as such).
    ProcessResult run =
        yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"});
    EXPECT_EQ(run.exitCode, 5) << run.err;
    EXPECT_NE(run.err.find("取り込みは完了しています"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("yubinbox compact"), std::string::npos) << run.err;
    EXPECT_EQ(yubinbox({"sql", db(), "SELECT * FROM 登録中"}).out, "RECNO\n");
    ASSERT_EQ(::write(writer, "1010000\n", 8), 8);
    ::close(writer);
    lookup.join();
    EXPECT_EQ(WEXITSTATUS(lookupExit), 0) << readBytes(dir.file("err.txt"));
    const std::string out = readBytes(dir.file("out.txt"));
    EXPECT_NE(out.find("1010000\t全国\t都01\t千代田区\t町0"), std::string::npos) << out;
    EXPECT_NE(out.find("1010000\t全国\t都01\t新千代田区\t町0"), std::string::npos) << out;
    // The compaction that waited, done later.
    EXPECT_EQ(yubinbox({"compact", db()}).exitCode, 0);
}

TEST_F(CliSmallFaultsTest, PathsThatAreNoDatabaseFileSayWhatTheyAre) {
    fs::create_directories(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const std::string longPath = "/" + std::string(6000, 'x') + "/yubinbox.mdb";
    const struct {
        std::string path;
        std::string said;
    } cases[] = {{dir.file("folder"), "フォルダです"},
                 {dir.file("fifo"), "名前付きパイプ（FIFO）です"},
                 {"/dev/null", "デバイスです"},
                 {dir.file("missing.mdb"), "がありません"},
                 {longPath, "errno 36"}};
    for (const auto& c : cases) {
        ProcessResult r = yubinbox({"summary", "--db", c.path});
        EXPECT_EQ(r.exitCode, 1) << c.said;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err.substr(0, 400);
        EXPECT_EQ(r.err.find("filesystem error"), std::string::npos) << r.err.substr(0, 400);
        EXPECT_LT(r.err.size(), 1000u);
    }
    // A settings path with a NUL byte in it is said to be so, not taken for a missing file.
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ASSERT_EQ(yubinbox({"use", db()}).exitCode, 0);
    const std::string ini = dir.file("Documents/yubinbox.ini");
    std::string settings = readBytes(ini);
    const size_t at = settings.find(db());
    ASSERT_NE(at, std::string::npos);
    settings.insert(at + db().size(), std::string("\0x", 2));
    writeBytes(ini, settings);
    ProcessResult nul = yubinbox({"summary"});
    EXPECT_EQ(nul.exitCode, 1);
    EXPECT_NE(nul.err.find("NUL"), std::string::npos) << nul.err;
}

TEST_F(CliSmallFaultsTest, OverlongInputLinesAreRefusedAtOnceAndNeverEchoed) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    importNational(1);
    const std::string input = "1010000\n" + std::string(5'000'000, '1') + "\n1020000\n";
    ProcessResult r = runYubinbox({"lookup", "--db", db()}, env(), input);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("2 行目が 1024 バイトを超えている"), std::string::npos) << r.err;
    EXPECT_LT(r.err.size(), 1000u);
    EXPECT_NE(r.out.find("1010000\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1020000\t"), std::string::npos) << r.out;
}

TEST_F(CliSmallFaultsTest, JsonIsValidUtf8AndControlCharactersAreShownEscaped) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    importNational(1);
    // Another program wrote a town-area name that is no valid UTF-8 (a cut character).
    rawSql("UPDATE ZIPALL SET 町域名 = CAST(X'E794BAE381' AS TEXT) WHERE 郵便番号 = '1010000'");
    ProcessResult json = yubinbox({"lookup", "--db", db(), "--format", "json", "1010000"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"town\":\"町\xEF\xBF\xBD"), std::string::npos) << json.out;
    EXPECT_EQ(json.out.find("\xE3\x81\""), std::string::npos);

    // An escape sequence given as a code, and as a line of standard input.
    ProcessResult argument = yubinbox({"lookup", "--db", db(), "\x1b[31m1010000"});
    EXPECT_EQ(argument.exitCode, 2);
    EXPECT_EQ(argument.err.find('\x1b'), std::string::npos);
    EXPECT_NE(argument.err.find("\\x1B[31m1010000"), std::string::npos) << argument.err;
    ProcessResult input = runYubinbox({"lookup", "--db", db()}, env(), "9999999\x07\x9b\n");
    EXPECT_EQ(input.err.find('\x07'), std::string::npos);
    ProcessResult unknown = yubinbox({"\x1b]0;title\x07"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err.find('\x1b'), std::string::npos) << unknown.err;
}

}  // namespace
}  // namespace yubin::test
