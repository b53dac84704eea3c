// Compaction in place while another SQLite program has the database open: that program's
// committed rows are never lost. It cannot commit between the copy and the rename (the
// compaction waits for its write transaction, or gives up as in use), and a write it makes into
// the replaced file afterwards is refused by SQLite instead of vanishing with the old file.
#include <sys/stat.h>

#include <filesystem>

#include "StoreTestHelpers.h"
#include "support/OtherProgram.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

class CompactionBesideOtherProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousWait = db::lockWait();
        db::setLockWait(std::chrono::milliseconds(300));
    }
    void TearDown() override { db::setLockWait(previousWait); }

    std::string temporary() const { return fresh.dir().file("yubinboxJRO.mdb"); }
    ino_t inode() const {
        struct stat st {};
        return ::stat(fresh.path().c_str(), &st) == 0 ? st.st_ino : 0;
    }
    std::vector<std::string> marks() {
        RawSqlite raw(fresh.path());
        return raw.column("SELECT RECNO FROM 登録中 ORDER BY RECNO");
    }
    // The other program's write after the compaction: refused, or in the compacted file.
    void expectWriteRefusedOrKept(OtherProgram& other, const std::string& write) {
        const int rc = other.run(write, 5000);
        if (rc == SQLITE_OK) {
            EXPECT_EQ(marks(), (std::vector<std::string>{"7", "9"})) << "the write was lost";
        } else {
            EXPECT_EQ(rc, SQLITE_READONLY_DBMOVED);
            EXPECT_EQ(marks(), std::vector<std::string>{"7"});
        }
    }

    // The compaction beside the other program: refused as in use, with nothing changed.
    void expectRefusedAsInUse() {
        const ino_t before = inode();
        EXPECT_EQ(errorNumber([&] { mdlYubinBox::CompactMdb(fresh.path()); }),
                  errorOf(ErrorCode::FileInUse));
        EXPECT_EQ(inode(), before);
        EXPECT_FALSE(fs::exists(temporary()));
    }

    FreshDatabase fresh;
    std::chrono::milliseconds previousWait{};
};

TEST_F(CompactionBesideOtherProgramTest, OpenWriteTransactionIsWaitedForThenGivenUpAsInUse) {
    OtherProgram other(
        fresh.path(),
        "INSERT INTO 登録中 VALUES(7); BEGIN IMMEDIATE; INSERT INTO 登録中 VALUES(8);");
    ASSERT_TRUE(other.ready());
    expectRefusedAsInUse();
    // The transaction held across the attempt ends in the database that is still there.
    EXPECT_EQ(other.run("COMMIT", 5000), SQLITE_OK);
    EXPECT_EQ(marks(), (std::vector<std::string>{"7", "8"}));
}

TEST_F(CompactionBesideOtherProgramTest, WriteOfAProgramThatHadTheOldFileOpenIsRefusedNotLost) {
    ASSERT_EQ(RawSqlite(fresh.path()).exec("INSERT INTO 登録中 VALUES(7)"), SQLITE_OK);
    {  // idle
        OtherProgram other(fresh.path(), "SELECT COUNT(*) FROM 登録中;");
        ASSERT_TRUE(other.ready());
        mdlYubinBox::CompactMdb(fresh.path());
        expectWriteRefusedOrKept(other, "INSERT INTO 登録中 VALUES(9)");
    }
    {  // a read transaction held across the compaction, then written in
        OtherProgram other(fresh.path(), "BEGIN; SELECT COUNT(*) FROM 登録中;");
        ASSERT_TRUE(other.ready());
        mdlYubinBox::CompactMdb(fresh.path());
        expectWriteRefusedOrKept(other, "INSERT INTO 登録中 VALUES(9); COMMIT;");
    }
}

// A reader of another program keeps the file from being cut short: the import's compaction
// gives the free pages back through the copy instead, after a short wait.
TEST_F(CompactionBesideOtherProgramTest, AReaderMakesTheImportsCompactionCopyInstead) {
    ASSERT_EQ(RawSqlite(fresh.path()).exec("INSERT INTO 登録中 VALUES(7)"), SQLITE_OK);
    LeaveFreePages(fresh.path());
    OtherProgram other(fresh.path(), "BEGIN; SELECT COUNT(*) FROM 登録中;");
    ASSERT_TRUE(other.ready());
    const ino_t before = inode();
    mdlYubinBox::CompactMdb(fresh.path(), db::CompactionNeed::OnlyToReclaimSpace);
    EXPECT_NE(inode(), before);
    EXPECT_EQ(FreePages(fresh.path()), 0);
    EXPECT_FALSE(fs::exists(temporary()));
    expectWriteRefusedOrKept(other, "INSERT INTO 登録中 VALUES(9); COMMIT;");
}

// A program that keeps the database in WAL mode: the compaction cannot bring it back to a
// rollback journal while it is open, and leaves it alone.
TEST_F(CompactionBesideOtherProgramTest, DatabaseHeldInWalModeIsInUse) {
    OtherProgram other(fresh.path(), "PRAGMA journal_mode = WAL; SELECT COUNT(*) FROM 登録中;");
    ASSERT_TRUE(other.ready());
    expectRefusedAsInUse();
    EXPECT_EQ(other.run("INSERT INTO 登録中 VALUES(9)", 5000), SQLITE_OK);
    other.end();
    EXPECT_EQ(marks(), std::vector<std::string>{"9"});
}

}  // namespace
}  // namespace yubin::test
