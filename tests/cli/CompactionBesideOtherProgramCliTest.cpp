// Compaction through the real executable while another SQLite program writes to the database:
// `yubinbox compact` and the compaction that ends an import wait for that program's write
// transaction, or give up as in use (the import then says that only the compaction is pending),
// and never lose a row the other program commits.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliFixtures.h"
#include "support/OtherProgram.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

class CompactionBesideOtherProgramCliTest : public CliFixture {
  protected:
    ino_t inode() const {
        struct stat st {};
        return ::stat(db().c_str(), &st) == 0 ? st.st_ino : 0;
    }
    std::string temporary() const { return dir.file("yubinboxJRO.mdb"); }
};

TEST_F(CompactionBesideOtherProgramCliTest, CompactWaitsForTheOtherProgramsCommitAndKeepsIt) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    OtherProgram other(db(), "BEGIN IMMEDIATE; INSERT INTO 登録中 VALUES(8);");
    ASSERT_TRUE(other.ready());
    const ino_t before = inode();
    YubinboxProcess compaction({"--lock-wait", "60", "compact", db()}, env());
    ASSERT_TRUE(compaction.waitForLine(kWaitingForOtherProgram));
    EXPECT_EQ(other.run("COMMIT", 5000), SQLITE_OK);
    EXPECT_EQ(compaction.wait(), 0);
    EXPECT_NE(inode(), before);
    EXPECT_EQ(queryRows(db(), "SELECT * FROM 登録中"), "8\n");
    EXPECT_FALSE(fs::exists(temporary()));
}

TEST_F(CompactionBesideOtherProgramCliTest,
       CompactGivesUpBesideAWriteTransactionAndChangesNothing) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    OtherProgram other(
        db(), "INSERT INTO 登録中 VALUES(7); BEGIN IMMEDIATE; INSERT INTO 登録中 VALUES(8);");
    ASSERT_TRUE(other.ready());
    const ino_t before = inode();
    ProcessResult refused = yubinbox({"--lock-wait", "0.3", "compact", db()});
    EXPECT_EQ(refused.exitCode, 1) << refused.out;
    EXPECT_NE(refused.err.find("他のプログラムがデータベースを使用しているため"), std::string::npos)
        << refused.err;
    EXPECT_EQ(inode(), before);
    EXPECT_FALSE(fs::exists(temporary()));
    EXPECT_EQ(other.run("COMMIT", 5000), SQLITE_OK);
    other.end();
    EXPECT_EQ(queryRows(db(), "SELECT * FROM 登録中"), "7\n8\n");
}

// The other program takes its write lock as the import's exit begins (the import stopped there
// for the moment): either before the compaction, which then cannot replace the file and is left
// pending (exit 5), the other program's transaction ending in the file that stays; or after it,
// when SQLite refuses the write into the replaced file. Neither loses the row.
TEST_F(CompactionBesideOtherProgramCliTest, Slow_ImportEndsWithOnlyTheCompactionPending) {
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(2));
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    {
        // Free pages that the import does not fill: its compaction has space to give back.
        OtherProgram scratch(db(),
                             "CREATE TABLE scratch(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                             "SELECT i + 1 FROM n WHERE i < 500) INSERT INTO scratch SELECT "
                             "randomblob(2000) FROM n; DROP TABLE scratch;");
        ASSERT_TRUE(scratch.ready());
    }
    YubinboxProcess import(
        {"--lock-wait", "1", "import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"},
        env(), YubinboxProcess::Input::None, YubinboxProcess::Output::WithError);
    ASSERT_TRUE(import.waitForLine("変更報告"));  // the run is over; the exit comes next
    import.signal(SIGSTOP);
    OtherProgram other(db(), "");
    ASSERT_TRUE(other.ready());
    int begun = other.run("BEGIN IMMEDIATE");
    import.signal(SIGCONT);
    if (begun != SQLITE_OK) begun = other.run("BEGIN IMMEDIATE", 30000);
    ASSERT_EQ(begun, SQLITE_OK);
    const int wrote = other.run("INSERT INTO DUMMY VALUES('x')");
    const int exitCode = import.wait();
    if (wrote == SQLITE_OK) {
        // Its journal was opened in the file the path named: the compaction did not replace it
        // and is left pending. On a busy machine the stop can come only after the compaction
        // had ended; the import then ends as usual. Either way the row is kept.
        EXPECT_TRUE(exitCode == 5 || exitCode == 0) << exitCode;
        EXPECT_EQ(other.run("COMMIT", 5000), SQLITE_OK);
        EXPECT_EQ(queryRows(db(), "SELECT COUNT(*) As N FROM DUMMY WHERE DKEY = 'x'"), "1\n");
        EXPECT_EQ(yubinbox({"compact", db()}).exitCode, 0);  // later, once it has finished
        EXPECT_EQ(queryRows(db(), "SELECT COUNT(*) As N FROM DUMMY WHERE DKEY = 'x'"), "1\n");
    } else {
        EXPECT_EQ(wrote, SQLITE_READONLY_DBMOVED);
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(queryRows(db(), "SELECT COUNT(*) As N FROM DUMMY WHERE DKEY = 'x'"), "0\n");
    }
    EXPECT_EQ(queryRows(db(), "SELECT COUNT(*) As N FROM ZIPALL"), "94\n");
    EXPECT_FALSE(fs::exists(temporary()));
}

}  // namespace
}  // namespace yubin::test
