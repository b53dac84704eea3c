// What the store keeps safe about the file: paths as they are written, compaction that never
// leaves the path without a whole database, the layer's lookup indexes, failures reported by
// the call that met them.
#include <sys/inotify.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "StoreTestHelpers.h"
#include "store/EngineImpl.h"
#include "store/NativeSql.h"
#include "support/WaitsTold.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;
using db::Connection;
using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;
using namespace yubin::mdlYubinBox;

TEST(ConnectionStringOfAnyPath, GivesThePathBackWhole) {
    for (const std::string path : {"/x/a;b.mdb", "/x/it's.mdb", "/x/\"q\";'r'/y.mdb",
                                   "/x/ lead;.mdb", "/x/a=b;c/d.mdb", "/srv/共有/yubinbox.mdb"}) {
        EXPECT_EQ(db::parseConnectionString(ConnectionString(path)).dataSource, path) << path;
    }
    // Ordinary paths stay as they were.
    EXPECT_EQ(ConnectionString("/srv/db/yubinbox.mdb"),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/srv/db/yubinbox.mdb;Jet "
              "OLEDB:Database Password=;");
}

TEST(CreateMdbOnAnyPath, CreatesExactlyTheNamedFile) {
    TempDir dir;
    fs::create_directory(dir.path() / "a;b");
    strMdbFile = dir.file("a;b/c;d.mdb");
    CreateMdb();
    EXPECT_TRUE(fs::is_regular_file(strMdbFile));
    EXPECT_FALSE(fs::exists(dir.file("a")));
    CompactMdb(strMdbFile);
    ASSERT_TRUE(OpenMdb(strMdbFile));
    EXPECT_EQ(cnMdb->tables(true).size(), 6u);
    CloseMdb();
}

class InPlaceCompactionTest : public ::testing::Test {
  protected:
    std::string temporary() const { return fresh.dir().file("yubinboxJRO.mdb"); }
    FreshDatabase fresh;
};

TEST_F(InPlaceCompactionTest, CompactedCopyTakesThePlaceByOneRename) {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, fresh.dir().path().c_str(),
                                IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE),
              0);
    CompactMdb(fresh.path());
    bool replacedByRename = false;
    alignas(inotify_event) char buffer[16384];
    ssize_t n;
    while ((n = read(watch, buffer, sizeof buffer)) > 0) {
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            const std::string name = event->len > 0 ? event->name : "";
            // The path never loses its database: it is only ever renamed onto.
            EXPECT_FALSE(name == "yubinbox.mdb" && (event->mask & (IN_DELETE | IN_MOVED_FROM)))
                << "yubinbox.mdb was removed";
            if (name == "yubinbox.mdb" && (event->mask & IN_MOVED_TO)) replacedByRename = true;
            p += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    EXPECT_TRUE(replacedByRename);
    EXPECT_FALSE(fs::exists(temporary()));
}

TEST_F(InPlaceCompactionTest, ImportsCompactionGivesBackFreePagesInPlaceOrByACopy) {
    const auto inode = [&] {
        struct stat st {};
        EXPECT_EQ(stat(fresh.path().c_str(), &st), 0);
        return st.st_ino;
    };
    // Nothing to give back (the file just compacted): the file stays as it is, and no
    // temporary file is left.
    CompactMdb(fresh.path());
    ASSERT_EQ(FreePages(fresh.path()), 0);
    const std::string original = readBytes(fresh.path());
    const ino_t before = inode();
    CompactMdb(fresh.path(), db::CompactionNeed::OnlyToReclaimSpace);
    EXPECT_EQ(inode(), before);
    EXPECT_TRUE(readBytes(fresh.path()) == original);
    EXPECT_FALSE(fs::exists(temporary()));

    // The checks before the copy still refuse: a foreign file where the copy would go.
    writeBytes(temporary(), "not ours");
    EXPECT_EQ(
        errorNumber([&] { CompactMdb(fresh.path(), db::CompactionNeed::OnlyToReclaimSpace); }),
        errorOf(ErrorCode::FileAlreadyExists));
    EXPECT_EQ(readBytes(temporary()), "not ours");
    fs::remove(temporary());

    // Rows written and deleted leave free pages. A database made here is kept in incremental
    // auto-vacuum: it gives them back in place, without a copy.
    const auto pragma = [&](const std::string& name) {
        return RawSqlite(fresh.path()).scalar("PRAGMA " + name);
    };
    ASSERT_EQ(pragma("auto_vacuum"), "2");
    LeaveFreePages(fresh.path());
    const long long pagesWithFreeOnes = std::stoll(pragma("page_count"));
    CompactMdb(fresh.path(), db::CompactionNeed::OnlyToReclaimSpace);
    EXPECT_EQ(inode(), before);
    EXPECT_EQ(FreePages(fresh.path()), 0);
    EXPECT_LT(std::stoll(pragma("page_count")), pagesWithFreeOnes - 40);
    EXPECT_EQ(pragma("integrity_check"), "ok");
    EXPECT_FALSE(fs::exists(temporary()));

    // A database without auto-vacuum (one made by an earlier version): the copy gives them
    // back, and the copy is kept in incremental auto-vacuum from then on.
    ASSERT_EQ(RawSqlite(fresh.path()).exec("PRAGMA auto_vacuum = NONE; VACUUM;"), SQLITE_OK);
    ASSERT_EQ(pragma("auto_vacuum"), "0");
    LeaveFreePages(fresh.path());
    CompactMdb(fresh.path(), db::CompactionNeed::OnlyToReclaimSpace);
    EXPECT_NE(inode(), before);
    EXPECT_EQ(FreePages(fresh.path()), 0);
    EXPECT_EQ(pragma("auto_vacuum"), "2");
    EXPECT_FALSE(fs::exists(temporary()));
}

// With nothing to give back, the import's compaction reads and leaves: no temporary file is
// made (and removed) beside the database, only the database's own lock file is taken.
TEST_F(InPlaceCompactionTest, NothingToGiveBackMakesNoTemporaryFile) {
    CompactMdb(fresh.path());
    ASSERT_EQ(FreePages(fresh.path()), 0);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, fresh.dir().path().c_str(), IN_CREATE | IN_DELETE), 0);
    CompactMdb(fresh.path(), db::CompactionNeed::OnlyToReclaimSpace);
    std::vector<std::string> touched;
    alignas(inotify_event) char buffer[16384];
    ssize_t n;
    while ((n = read(watch, buffer, sizeof buffer)) > 0) {
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            if (event->len > 0) touched.emplace_back(event->name);
            p += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    for (const std::string& name : touched) EXPECT_EQ(name, "yubinbox.ldb");
    EXPECT_FALSE(fs::exists(temporary()));
}

TEST_F(InPlaceCompactionTest, CompactedFileKeepsModeOwnerAndGroup) {
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(fresh.path().c_str(), 12345, 23456), 0);
    }
    ASSERT_EQ(chmod(fresh.path().c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(stat(fresh.path().c_str(), &before), 0);
    CompactMdb(fresh.path());
    struct stat after {};
    ASSERT_EQ(stat(fresh.path().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);   // a new file ...
    EXPECT_EQ(after.st_mode & 07777, 0640u);  // ... with the old one's mode, owner and group
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
}

TEST_F(InPlaceCompactionTest, DatabaseTheUserMayNotWriteIsNotCompacted) {
    const std::string original = readBytes(fresh.path());
    auto compactAs = [&]() -> int {
        if (geteuid() != 0) {
            chmod(fresh.path().c_str(), 0444);
            return errorNumber([&] { CompactMdb(fresh.path()); });
        }
        // Root may write anything: an ordinary user tries, in a child process.
        chmod(fresh.dir().path().c_str(), 0777);
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
            const int number = errorNumber([&] { CompactMdb(fresh.path()); });
            _exit(number == errorOf(ErrorCode::PermissionDenied) ? 0 : 2);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? errorOf(ErrorCode::PermissionDenied)
                                                             : -1;
    };
    EXPECT_EQ(compactAs(), errorOf(ErrorCode::PermissionDenied));
    EXPECT_EQ(readBytes(fresh.path()), original);
    EXPECT_FALSE(fs::exists(temporary()));
}

// The layer's own lookup indexes in the file.
std::vector<std::string> lookupIndexes(const std::string& path) {
    RawSqlite raw(path);
    return raw.column(
        "SELECT name FROM sqlite_schema WHERE type = 'index' AND name LIKE '__yubinbox%lookup%'");
}

// A lookup whose index reaches the file: it is stored with the batch.
void lookUpMunicipality(Connection& cn) {
    Recordset rs;
    rs.open("SELECT * FROM 市町村 WHERE JISX0402 = '01101'", cn, CursorType::Keyset,
            LockType::Pessimistic);
    EXPECT_TRUE(rs.eof());
    cn.flush();
}

// Only lookups that may change their rows (the imports' lookups of the masters, again and
// again) make the index; a read-only row set reads once. The index costs no commit of its own:
// it waits in the batch, or in the transaction the lookup is made in.
TEST(LookupIndexTest, MadeForLookupsThatChangeRowsAndStoredWithTheNextCommit) {
    FreshDatabase fresh;
    Connection cn;
    cn.open(fresh.connectionString());
    cn.lockImport();
    const char* byFlag = "SELECT * FROM 市町村 WHERE 抹消FLAG = 1";
    {
        Recordset once;
        once.open(byFlag, cn, CursorType::ForwardOnly, LockType::ReadOnly);
        EXPECT_TRUE(once.eof());
    }
    cn.flush();
    EXPECT_TRUE(lookupIndexes(fresh.path()).empty());
    {
        Recordset again;  // the same text, planned already, now to change rows
        again.open(byFlag, cn, CursorType::Keyset, LockType::Pessimistic);
        EXPECT_TRUE(again.eof());
    }
    EXPECT_TRUE(lookupIndexes(fresh.path()).empty());  // in the batch
    {
        db::NativeTransaction together(cn);
        Recordset rs;
        rs.open("SELECT * FROM 市町村 WHERE JISX0402 = '01101'", cn, CursorType::Keyset,
                LockType::Pessimistic);
        cn.execute("INSERT INTO 市町村 VALUES('01101', '札幌市中央区', 'ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ', 0)");
        EXPECT_TRUE(lookupIndexes(fresh.path()).empty());
        together.commit();
    }
    EXPECT_EQ(lookupIndexes(fresh.path()).size(), 2u);
    cn.close();
    EXPECT_TRUE(lookupIndexes(fresh.path()).empty());
}

TEST(LookupIndexTest, LookupIndexesLastOnlyAsLongAsTheImport) {
    FreshDatabase fresh;
    Connection cn;
    cn.open(fresh.connectionString());
    cn.lockImport();
    lookUpMunicipality(cn);
    EXPECT_EQ(lookupIndexes(fresh.path()).size(), 1u);
    cn.unlockImport();
    EXPECT_TRUE(lookupIndexes(fresh.path()).empty());

    cn.lockImport();
    lookUpMunicipality(cn);
    EXPECT_EQ(lookupIndexes(fresh.path()).size(), 1u);
    cn.close();  // an import that ends with an error closes the connection
    EXPECT_TRUE(lookupIndexes(fresh.path()).empty());
}

TEST(LookupIndexTest, IndexesOfAProcessThatDiedImportingGoAtTheNextOpen) {
    FreshDatabase fresh;
    ChildProcess child([&](const std::function<void()>& ready) {
        static Connection importing;  // kept until the child is killed
        importing.open(fresh.connectionString());
        importing.lockImport();
        lookUpMunicipality(importing);
        ready();
    });
    ASSERT_TRUE(child.waitReady());
    {
        Connection reader;  // the import runs: its indexes stay
        reader.open(fresh.connectionString());
        EXPECT_EQ(lookupIndexes(fresh.path()).size(), 1u);
    }
    child.kill();
    EXPECT_EQ(lookupIndexes(fresh.path()).size(), 1u);
    Connection next;
    next.open(fresh.connectionString());
    EXPECT_TRUE(lookupIndexes(fresh.path()).empty());
}

// The import's journal file stays from one commit to the next, never one that other programs
// would play back, and goes with the import, however it ends.
TEST(ImportJournalTest, KeptZeroedBetweenCommitsAndGoneWithTheImport) {
    FreshDatabase fresh;
    const std::string journal = fresh.path() + "-journal";
    const auto zeroedHeader = [&] {
        const std::string bytes = readBytes(journal);
        return bytes.size() >= 28 && bytes.substr(0, 28) == std::string(28, '\0');
    };
    Connection cn;
    cn.open(fresh.connectionString());
    cn.lockImport();
    cn.execute("INSERT INTO 市町村 VALUES('01101', '札幌市中央区', 'ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ', 0)");
    EXPECT_TRUE(zeroedHeader());
    {
        RawSqlite other(fresh.path());
        EXPECT_EQ(other.column("SELECT 市町村名 FROM 市町村"),
                  std::vector<std::string>{"札幌市中央区"});
        EXPECT_EQ(other.exec("INSERT INTO 市町村 VALUES('01102', '札幌市北区', 'ｷﾀｸ', 0)"),
                  SQLITE_OK);
    }
    cn.execute("DELETE FROM 市町村 WHERE JISX0402 = '01101'");
    cn.unlockImport();
    EXPECT_FALSE(fs::exists(journal));

    cn.lockImport();
    cn.execute("DELETE FROM 市町村");
    EXPECT_TRUE(fs::exists(journal));
    cn.close();  // an import that ends with an error closes the connection
    EXPECT_FALSE(fs::exists(journal));
    RawSqlite after(fresh.path());
    EXPECT_EQ(after.column("SELECT COUNT(*) FROM 市町村"), std::vector<std::string>{"0"});
    EXPECT_EQ(after.column("PRAGMA journal_mode"), std::vector<std::string>{"delete"});
}

// A process that died importing between its commits leaves a zeroed journal: nothing of it is
// played back, every commit stays.
TEST(ImportJournalTest, JournalOfAProcessThatDiedBetweenCommitsUndoesNothing) {
    FreshDatabase fresh;
    ChildProcess child([&](const std::function<void()>& ready) {
        static Connection importing;  // kept until the child is killed
        importing.open(fresh.connectionString());
        importing.lockImport();
        importing.execute("INSERT INTO 市町村 VALUES('01101', '札幌市中央区', 'ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ', 0)");
        importing.execute("DELETE FROM 市町村 WHERE JISX0402 = '01101'");
        importing.execute("INSERT INTO 市町村 VALUES('01102', '札幌市北区', 'ｷﾀｸ', 0)");
        ready();
    });
    ASSERT_TRUE(child.waitReady());
    child.kill();
    EXPECT_TRUE(fs::exists(fresh.path() + "-journal"));
    Connection next;
    next.open(fresh.connectionString());
    Recordset rs;
    rs.open("SELECT JISX0402 FROM 市町村", next, CursorType::Keyset, LockType::ReadOnly);
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.field("JISX0402").value().text(), "01102");
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
}

TEST(OpenFailureTest, FirstStatementReportsWhyTheDatabaseDidNotOpen) {
    TempDir dir;
    writeBytes(dir.file("text.mdb"), "not a database\n");
    EXPECT_FALSE(OpenMdb(dir.file("text.mdb")));
    try {
        cnMdb->execute("DELETE FROM 登録中");
        ADD_FAILURE() << "no error";
    } catch (const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::NotOurDatabase) << error.description();
        EXPECT_NE(error.description().find("text.mdb"), std::string::npos);
    }
    Recordset rs;
    EXPECT_EQ(errorNumber([&] {
                  rs.open("SELECT * FROM 登録中", *cnMdb, CursorType::ForwardOnly,
                          LockType::ReadOnly);
              }),
              errorOf(ErrorCode::NotOurDatabase));
    CloseMdb();
}

// A reader in another program keeps the rows appended here from being committed.
class FailedCommitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reader = std::make_unique<ForeignReader>(fresh.path());
        ASSERT_TRUE(reader->ready());
    }
    void TearDown() override {
        reader.reset();
        try {
            CloseMdb();
        } catch (const YubinError&) {
        }
    }
    void appendRows() {
        ASSERT_TRUE(OpenMdb(fresh.path()));
        Recordset rs;
        rs.open("ZIPALL", *cnMdb, CursorType::Keyset, LockType::Pessimistic);
        rs.addNew(std::vector<std::string>{"RECNO"}, std::vector<Value>{Value(1)});
    }

    FreshDatabase fresh;
    std::unique_ptr<ForeignReader> reader;
};

TEST_F(FailedCommitTest, ReopeningTheSharedConnectionReportsIt) {
    appendRows();
    EXPECT_EQ(errorNumber([&] { OpenMdb(fresh.path()); }), errorOf(ErrorCode::LockedByOtherUser));
}

TEST_F(FailedCommitTest, EventProcessingReportsItOnceTheBatchIsDue) {
    appendRows();
    FlushDue();  // young: nothing to do yet
    std::this_thread::sleep_for(db::detail::kFlushDelay);
    EXPECT_EQ(errorNumber([&] { FlushDue(); }), errorOf(ErrorCode::LockedByOtherUser));
    EXPECT_EQ(errorNumber([&] { Flush(); }), errorOf(ErrorCode::LockedByOtherUser));
}

TEST_F(FailedCommitTest, WaitIsReportedWhenItBeginsAndWhenItEnds) {
    std::vector<bool> reports;
    db::WaitReporter previous =
        db::setWaitReporter([&](bool waiting) { reports.push_back(waiting); });
    appendRows();
    EXPECT_EQ(errorNumber([&] { Flush(); }), errorOf(ErrorCode::LockedByOtherUser));
    EXPECT_EQ(reports, (std::vector<bool>{true, false}));
    db::setWaitReporter(std::move(previous));
}

// The reporter and the tick belong to the thread that set them (a window's): a connection of
// another thread waits as long, told to neither.
TEST_F(FailedCommitTest, AWaitOfAnotherThreadIsToldToNeitherReporterNorTick) {
    const WaitsTold told;
    std::thread([&] {
        Connection own;
        own.open(fresh.connectionString());
        Recordset rs;
        rs.open("ZIPALL", own, CursorType::Keyset, LockType::Pessimistic);
        rs.addNew(std::vector<std::string>{"RECNO"}, std::vector<Value>{Value(1)});
        EXPECT_EQ(errorNumber([&] { own.flush(); }), errorOf(ErrorCode::LockedByOtherUser));
    }).join();
    EXPECT_TRUE(told.reports.empty());
    EXPECT_EQ(told.ticks, 0);
}

// While readers of this process share the file, a wait is most likely one of their short
// reads: untold for its first moments; one that lasts longer is another program's, told and
// ticked as any other.
TEST_F(FailedCommitTest, AWaitBesideOurOwnReadersIsToldOnlyOnceItOutlastsTheirReads) {
    using Clock = std::chrono::steady_clock;
    std::vector<bool> reports;
    Clock::time_point waitFrom{}, toldAt{};
    int ticks = 0;
    db::WaitReporter previous = db::setWaitReporter([&](bool waiting) {
        if (waiting) toldAt = Clock::now();
        reports.push_back(waiting);
    });
    db::WaitTick previousTick = db::setWaitTick([&] {
        ++ticks;
        return true;
    });
    {
        const db::OwnReaders readers;
        appendRows();
        // The lock wait (100 ms) ends within the quiet moments.
        EXPECT_EQ(errorNumber([&] { Flush(); }), errorOf(ErrorCode::LockedByOtherUser));
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(ticks, 0);

        db::setLockWait(db::kOwnReadersGrace * 3);
        waitFrom = Clock::now();
        EXPECT_EQ(errorNumber([&] { Flush(); }), errorOf(ErrorCode::LockedByOtherUser));
        EXPECT_EQ(reports, (std::vector<bool>{true, false}));
        EXPECT_GE(toldAt - waitFrom, db::kOwnReadersGrace);
        EXPECT_GT(ticks, 0);
    }
    // Once they are gone, a wait is told at once.
    reports.clear();
    waitFrom = Clock::now();
    EXPECT_EQ(errorNumber([&] { Flush(); }), errorOf(ErrorCode::LockedByOtherUser));
    EXPECT_EQ(reports, (std::vector<bool>{true, false}));
    EXPECT_LT(toldAt - waitFrom, db::kOwnReadersGrace);
    db::setWaitTick(std::move(previousTick));
    db::setWaitReporter(std::move(previous));
}

// A reader of its own that is asked to stop (the program ends) does not wait out the lock
// wait: its wait gives up at the next step, and only on its own thread.
TEST_F(FailedCommitTest, AWaitGivesUpOnceItsThreadIsAskedToStop) {
    using Clock = std::chrono::steady_clock;
    appendRows();
    const std::chrono::milliseconds wait = db::lockWait();
    db::setLockWait(std::chrono::seconds(20));
    std::atomic<bool> stop{false};
    const Clock::time_point started = Clock::now();
    {
        const db::WaitsStopWhen stopWaits(stop);
        std::thread asker([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            stop = true;
        });
        EXPECT_EQ(errorNumber([&] { Flush(); }), errorOf(ErrorCode::LockedByOtherUser));
        asker.join();
    }
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
    // Past the object the thread waits as before: up to the lock wait.
    db::setLockWait(std::chrono::milliseconds(150));
    const Clock::time_point again = Clock::now();
    EXPECT_EQ(errorNumber([&] { Flush(); }), errorOf(ErrorCode::LockedByOtherUser));
    EXPECT_GE(Clock::now() - again, std::chrono::milliseconds(150));
    db::setLockWait(wait);
}

}  // namespace
}  // namespace yubin::test
