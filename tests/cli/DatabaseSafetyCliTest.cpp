// The database's safety against other processes, through the real executable: another program
// holding the file, a run of ours on it, a compaction killed half-way, paths with ";".
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliFixtures.h"
#include "support/OtherProgram.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

class DatabaseSafetyCliTest : public CliFixture {
  protected:
    std::vector<std::string> filesInDir() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(DatabaseSafetyCliTest, ImportStopsBeforeAppendingWhileAnotherProgramReadsTheDatabase) {
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(2));
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ProcessResult first =
        yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"});
    ASSERT_EQ(first.exitCode, 0) << first.err;

    OtherProgram reader(db(), "BEGIN; SELECT COUNT(*) FROM ZIPALL;");
    ASSERT_TRUE(reader.ready());
    ProcessResult held = yubinbox({"--lock-wait", "0.3", "import", "--db", db(), "--ken-all",
                                   dir.file("ken_all.csv"), "--yes"});
    EXPECT_EQ(held.exitCode, 3) << held.out << held.err;  // refused, nothing changed
    EXPECT_NE((held.out + held.err).find(kWaitingForOtherProgram), std::string::npos)
        << held.out << held.err;
    EXPECT_NE(held.err.find("他のプログラムがデータベースを使用しているため"), std::string::npos)
        << held.err;
    reader.end();

    // Nothing was deleted, nothing doubled.
    EXPECT_EQ(queryRows(db(), "SELECT COUNT(*) As N FROM ZIPALL"), "94\n");
    EXPECT_EQ(queryRows(db(), "SELECT COUNT(*) As N FROM 都道府県"), "47\n");
    ProcessResult again =
        yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(queryRows(db(), "SELECT COUNT(*) As N FROM ZIPALL"), "94\n");
}

TEST_F(DatabaseSafetyCliTest, DatabaseOfARunningImportIsNeitherMovedReplacedNorCompacted) {
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(100));
    ASSERT_EQ(yubinbox({"newdb", dir.path().string()}).exitCode, 0);
    YubinboxProcess import({"import", "--ken-all", dir.file("ken_all.csv"), "--pause", "60"},
                           env());
    ASSERT_TRUE(import.waitForProgressLines(11));  // the rows are written; the pause runs

    ProcessResult newdb = yubinbox({"newdb", dir.path().string()});
    EXPECT_EQ(newdb.exitCode, 1) << newdb.out;
    EXPECT_NE(newdb.err.find("使用中"), std::string::npos) << newdb.err;
    ProcessResult replace = yubinbox({"createdb", db(), "--force"});
    EXPECT_EQ(replace.exitCode, 1) << replace.out;
    ProcessResult compact = yubinbox({"compact", db()});
    EXPECT_EQ(compact.exitCode, 1) << compact.out;
    EXPECT_NE(compact.err.find("使用中"), std::string::npos) << compact.err;
    // The import's own journal, kept from one commit to the next.
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"ken_all.csv", "yubinbox.ldb", "yubinbox.mdb",
                                                      "yubinbox.mdb-journal"}));

    import.signal(SIGINT);
    EXPECT_EQ(import.wait(), 130);
    EXPECT_EQ(queryRows(db(), "SELECT COUNT(*) As N FROM ZIPALL"), "4700\n");
    EXPECT_EQ(filesInDir(), (std::vector<std::string>{"ken_all.csv", "yubinbox.mdb"}));
}

TEST_F(DatabaseSafetyCliTest, KilledCompactionLeavesNothingThatBlocksTheNextOne) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ASSERT_EQ(yubinbox({"sql", db(), "INSERT INTO 登録中 VALUES(5)"}).exitCode, 0);
    const std::string temporary = dir.file("yubinboxJRO.mdb");
    {
        // Another program holds the file: the compaction waits with its copy begun.
        OtherProgram writer(db(), "BEGIN EXCLUSIVE;");
        ASSERT_TRUE(writer.ready());
        YubinboxProcess compaction({"--lock-wait", "60", "compact", db()}, env());
        ASSERT_TRUE(compaction.waitForLine(kWaitingForOtherProgram));
        EXPECT_TRUE(fs::exists(temporary));
        // A second compaction meanwhile is refused.
        EXPECT_EQ(yubinbox({"--lock-wait", "0", "compact", db()}).exitCode, 1);
        compaction.signal(SIGKILL);
        EXPECT_EQ(compaction.wait(), 128 + SIGKILL);
    }
    ASSERT_TRUE(fs::exists(temporary));  // what the kill left

    ProcessResult next = yubinbox({"compact", db()});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(filesInDir(), std::vector<std::string>{"yubinbox.mdb"});
    EXPECT_EQ(queryRows(db(), "SELECT * FROM 登録中"), "5\n");

    // A file of that name that is not ours is kept, and the compaction refused.
    writeBytes(temporary, "someone's own file");
    ProcessResult refused = yubinbox({"compact", db()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("既にあります"), std::string::npos) << refused.err;
    EXPECT_EQ(readBytes(temporary), "someone's own file");
}

TEST_F(DatabaseSafetyCliTest, EveryCommandWorksOnPathsWithSemicolonsAndQuotes) {
    const fs::path folder = dir.path() / "a;b 'c\"";
    fs::create_directory(folder);
    const std::string odd = (folder / "x;y.mdb").string();
    ProcessResult created = yubinbox({"createdb", odd});
    ASSERT_EQ(created.exitCode, 0) << created.err;
    EXPECT_TRUE(fs::is_regular_file(odd));
    EXPECT_FALSE(fs::exists(dir.file("a")));
    EXPECT_EQ(queryRows(odd, "SELECT COUNT(*) As N FROM DUMMY"), "1\n");
    EXPECT_EQ(yubinbox({"compact", odd}).exitCode, 0);
    EXPECT_EQ(queryRows(odd, "SELECT COUNT(*) As N FROM DUMMY"), "1\n");

    writeCp932Lines(dir.file("ken_all.csv"), KenLines(1));
    ProcessResult made = yubinbox({"newdb", folder.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string database = (folder / "yubinbox.mdb").string();
    EXPECT_NE(yubinbox({"settings"}).out.find("path=" + database + "\n"), std::string::npos);
    ProcessResult run = yubinbox({"import", "--ken-all", dir.file("ken_all.csv")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(queryRows(database, "SELECT COUNT(*) As N FROM ZIPALL"), "47\n");
}

TEST_F(DatabaseSafetyCliTest, ImportNamesWhyTheDatabaseCannotBeOpened) {
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(1));
    writeBytes(db(), "not a database\n");
    ProcessResult run = yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("yubinbox のデータベース ファイルではありません"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("接続が開いていません"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace yubin::test
