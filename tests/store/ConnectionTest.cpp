// Connecting, creating, compacting and locking database files, in this process and others.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <thread>

#include "StoreTestHelpers.h"
#include "store/NativeSql.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;
using db::Connection;
using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;

std::string cs(const std::string& path) { return mdlYubinBox::ConnectionString(path); }

TEST(ConnectionStringTest, DataSourceIsTakenFromTheSystemsConnectionString) {
    const auto info = db::parseConnectionString(
        "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/srv/共有/yubinbox.mdb;Jet OLEDB:Database "
        "Password=;");
    EXPECT_EQ(info.provider, "Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(info.dataSource, "/srv/共有/yubinbox.mdb");
    EXPECT_EQ(info.password, "");
    EXPECT_EQ(db::parseConnectionString("data source=\"/a;b/c.mdb\";").dataSource, "/a;b/c.mdb");
    EXPECT_EQ(errorNumber([] { db::parseConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;"); }),
              errorOf(ErrorCode::InvalidArgument));
    EXPECT_EQ(errorNumber([] { db::parseConnectionString("Data Source=;"); }),
              errorOf(ErrorCode::InvalidArgument));
}

TEST(ConnectTest, FilesThatAreNoDatabaseOfOursAreRefused) {
    TempDir dir;
    Connection cn;
    EXPECT_EQ(errorNumber([&] { cn.open(cs(dir.file("missing.mdb"))); }),
              errorOf(ErrorCode::DatabaseNotFound));
    EXPECT_EQ(errorNumber([&] { cn.open(cs(dir.file("nofolder/x.mdb"))); }),
              errorOf(ErrorCode::DatabaseNotFound));
    writeBytes(dir.file("text.mdb"), "これはデータベースではありません\r\n");
    EXPECT_EQ(errorNumber([&] { cn.open(cs(dir.file("text.mdb"))); }),
              errorOf(ErrorCode::NotOurDatabase));
    writeBytes(dir.file("empty.mdb"), "");
    EXPECT_EQ(errorNumber([&] { cn.open(cs(dir.file("empty.mdb"))); }),
              errorOf(ErrorCode::NotOurDatabase));
    {
        RawSqlite other(dir.file("other.mdb"), true);
        other.exec("CREATE TABLE t (a)");
    }
    EXPECT_EQ(errorNumber([&] { cn.open(cs(dir.file("other.mdb"))); }),
              errorOf(ErrorCode::NotOurDatabase));
    fs::create_directory(dir.file("folder.mdb"));
    EXPECT_EQ(errorNumber([&] { cn.open(cs(dir.file("folder.mdb"))); }),
              errorOf(ErrorCode::CannotOpenDatabase));
    EXPECT_FALSE(cn.isOpen());
    // No lock file is left behind by the refusals.
    EXPECT_FALSE(fs::exists(dir.file("text.ldb")));
    EXPECT_FALSE(fs::exists(dir.file("other.ldb")));
}

TEST(CreateTest, CreateRefusesAnExistingFileAndAMissingFolder) {
    TempDir dir;
    db::createDatabase(cs(dir.file("a.mdb")));
    EXPECT_EQ(errorNumber([&] { db::createDatabase(cs(dir.file("a.mdb"))); }),
              errorOf(ErrorCode::DatabaseExists));
    EXPECT_EQ(errorNumber([&] { db::createDatabase(cs(dir.file("no/a.mdb"))); }),
              errorOf(ErrorCode::PathNotFound));
    Connection cn;
    cn.open(cs(dir.file("a.mdb")));
    EXPECT_TRUE(cn.tables(true).empty());
}

TEST(LockTest, LockFileLivesWhileConnectionsAreOpen) {
    FreshDatabase fresh;
    const std::string lockFile = fresh.dir().file("yubinbox.ldb");
    EXPECT_FALSE(fs::exists(lockFile));
    {
        Connection a;
        a.open(fresh.connectionString());
        EXPECT_TRUE(fs::exists(lockFile));
        Connection b;
        b.open(fresh.connectionString());
        a.close();
        EXPECT_TRUE(fs::exists(lockFile));  // b still uses the database
    }
    EXPECT_FALSE(fs::exists(lockFile));
}

TEST(LockTest, ImportLockExcludesEveryOtherConnection) {
    FreshDatabase fresh;
    Connection a;
    Connection b;
    a.open(fresh.connectionString());
    b.open(fresh.connectionString());
    a.lockImport();
    a.lockImport();  // already held: no fault
    EXPECT_EQ(errorNumber([&] { b.lockImport(); }), errorOf(ErrorCode::LockedByOtherUser));
    a.unlockImport();
    b.lockImport();
    EXPECT_EQ(errorNumber([&] { a.lockImport(); }), errorOf(ErrorCode::LockedByOtherUser));
    b.close();  // closing releases it
    a.lockImport();
}

TEST(LockTest, ImportLockOfAnotherProcessIsSeenAndDiesWithIt) {
    FreshDatabase fresh;
    ChildProcess child([&](const std::function<void()>& ready) {
        static Connection held;  // kept until the child is killed
        held.open(fresh.connectionString());
        held.lockImport();
        ready();
    });
    ASSERT_TRUE(child.waitReady());
    Connection cn;
    cn.open(fresh.connectionString());
    EXPECT_EQ(errorNumber([&] { cn.lockImport(); }), errorOf(ErrorCode::LockedByOtherUser));
    child.kill();
    cn.lockImport();
}

class CompactTest : public ::testing::Test {
  protected:
    void fill(int rows) {
        Connection cn;
        cn.open(fresh.connectionString());
        Recordset rs;
        rs.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
        const std::vector<std::string> names = {"町域名", "RECNO"};
        for (int i = 1; i <= rows; ++i) {
            rs.addNew(names, std::vector<Value>{Value(std::string(200, 'x')), Value(i)});
        }
    }
    std::string target() const { return fresh.dir().file("yubinboxJRO.mdb"); }

    FreshDatabase fresh;
};

TEST_F(CompactTest, CompactedCopyHoldsTheSameDataInLessSpace) {
    fill(2000);
    {
        Connection cn;
        cn.open(fresh.connectionString());
        cn.execute("DELETE FROM ZIPALL WHERE RECNO <> 7");
    }
    db::compactDatabase(fresh.connectionString(), cs(target()));
    EXPECT_LT(fs::file_size(target()), fs::file_size(fresh.path()));
    Connection copy;
    copy.open(cs(target()));
    Recordset rs;
    rs.open("SELECT * FROM ZIPALL", copy, CursorType::ForwardOnly, LockType::ReadOnly);
    EXPECT_EQ(rs.field("RECNO").value(), Value(7));
    EXPECT_EQ(copy.tables(false).size(), 1u);  // hidden marks and the rest come along
    EXPECT_EQ(copy.tables(true).size(), 6u);
}

TEST_F(CompactTest, RefusedWhileAnyConnectionHoldsTheSource) {
    {
        Connection cn;
        cn.open(fresh.connectionString());
        EXPECT_EQ(errorNumber([&] { db::compactDatabase(fresh.connectionString(), cs(target())); }),
                  errorOf(ErrorCode::FileInUse));
    }
    {
        ChildProcess child([&](const std::function<void()>& ready) {
            static Connection held;
            held.open(fresh.connectionString());
            ready();
        });
        ASSERT_TRUE(child.waitReady());
        EXPECT_EQ(errorNumber([&] { db::compactDatabase(fresh.connectionString(), cs(target())); }),
                  errorOf(ErrorCode::FileInUse));
    }
    EXPECT_FALSE(fs::exists(target()));
    db::compactDatabase(fresh.connectionString(), cs(target()));  // the child is gone
    EXPECT_TRUE(fs::exists(target()));
}

TEST_F(CompactTest, RefusedWhenTheDestinationExists) {
    writeBytes(target(), "old");
    EXPECT_EQ(errorNumber([&] { db::compactDatabase(fresh.connectionString(), cs(target())); }),
              errorOf(ErrorCode::FileAlreadyExists));
    EXPECT_EQ(readBytes(target()), "old");
    EXPECT_EQ(errorNumber(
                  [&] { db::compactDatabase(fresh.connectionString(), fresh.connectionString()); }),
              errorOf(ErrorCode::FileAlreadyExists));
}

TEST(DeleteTest, DeletingADatabaseInUseIsRefused) {
    FreshDatabase fresh;
    {
        Connection cn;
        cn.open(fresh.connectionString());
        EXPECT_EQ(errorNumber([&] { db::deleteDatabaseFile(fresh.path()); }),
                  errorOf(ErrorCode::FileInUse));
    }
    db::deleteDatabaseFile(fresh.path());
    EXPECT_FALSE(fs::exists(fresh.path()));
    EXPECT_EQ(errorNumber([&] { db::deleteDatabaseFile(fresh.path()); }),
              errorOf(ErrorCode::FileNotFound));
}

// A long statement calls the progress tick of the thread that set it, again and again; the
// statement goes on whatever the tick does (a throw included), and another thread's tick is
// not called.
TEST(ProgressTickTest, ALongStatementCallsTheTickAndIsNeverCutShort) {
    TempDir dir;
    db::createDatabase(cs(dir.file("a.mdb")));
    Connection cn;
    cn.open(cs(dir.file("a.mdb")));
    cn.execute("CREATE TABLE t (a TEXT(20))");
    {
        db::NativeTransaction transaction(cn);
        db::NativeStatement insert(cn, "INSERT INTO t VALUES (?1)");
        for (long long i = 0; i < 50000; ++i)
            insert.bind(1, "row " + std::to_string(i * 7919 % 50000)).run();
        transaction.commit();
    }
    int ticks = 0;
    const db::ProgressTick outer = db::setProgressTick([&ticks] {
        ++ticks;
        throw std::runtime_error("the tick's failure stays in the tick");
    });
    cn.execute("CREATE INDEX x ON t (a)");
    EXPECT_GT(ticks, 10);
    EXPECT_EQ(db::NativeStatement(cn, "SELECT count(*) FROM t INDEXED BY x WHERE a >= ''").step(),
              true);

    // Set on another thread, the tick is not called here.
    std::thread([] { db::setProgressTick([] {}); }).join();
    ticks = 0;
    cn.execute("DROP INDEX x ON t");
    cn.execute("CREATE INDEX x ON t (a)");
    EXPECT_EQ(ticks, 0);
    db::setProgressTick(outer);
}

// A new database open on a connection of the layer's and on another program's (raw SQLite).
class OpenDatabase : public ::testing::Test {
  protected:
    OpenDatabase() { cn.open(cs(path_)); }
    static std::string Created(const std::string& path) {
        db::createDatabase(cs(path));
        return path;
    }
    TempDir dir_;
    std::string path_ = Created(dir_.file("a.mdb"));  // before `other` opens it
    Connection cn;
    RawSqlite other{path_};
};
using GroupedStepsTest = OpenDatabase;
using DeleteAllTest = OpenDatabase;

// Steps grouped in one transaction: schema changes, statements and appended rows reach other
// programs with its one commit; a step that fails is undone alone; a rollback undoes them all,
// and the connection's catalog follows the file, not what was undone.
TEST_F(GroupedStepsTest, ReachOthersTogetherAndAreUndoneTogether) {
    const auto tablesOfOther = [&] {
        return other.column("SELECT name FROM sqlite_schema WHERE name IN ('t', 'u') ORDER BY 1");
    };
    {
        db::NativeTransaction together(cn);
        cn.execute("CREATE TABLE t (a TEXT(20))");
        cn.execute("INSERT INTO t VALUES ('x')");
        Recordset rs;
        rs.open("t", cn, CursorType::Keyset, LockType::Pessimistic);
        rs.addNew(std::vector<std::string>{"a"}, std::vector<Value>{Value("y")});
        rs.close();
        // A step that fails is undone alone; the others stand.
        EXPECT_EQ(errorNumber([&] { cn.execute("DROP INDEX missing ON t"); }),
                  errorOf(ErrorCode::ConstraintNotFound));
        cn.execute("CREATE INDEX x ON t (a)");
        EXPECT_TRUE(tablesOfOther().empty());  // nothing reached the file yet
        together.commit();
    }
    EXPECT_EQ(tablesOfOther(), std::vector<std::string>{"t"});
    EXPECT_EQ(other.scalar("SELECT count(*) FROM t"), "2");
    EXPECT_EQ(other.scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'x'"), "1");

    {
        db::NativeTransaction undone(cn);
        cn.execute("CREATE TABLE u (b TEXT(5))");
        cn.execute("CREATE INDEX y ON t (a)");
        EXPECT_EQ(cn.tables(false).size(), 2u);
    }
    EXPECT_EQ(tablesOfOther(), std::vector<std::string>{"t"});
    // What was made inside is gone from the catalog too, also after another program's
    // changes have brought the schema's version number back to what it was inside.
    ASSERT_EQ(other.exec("CREATE TABLE v (c TEXT); CREATE TABLE w (d TEXT)"), SQLITE_OK);
    const std::vector<db::TableInfo> tables = cn.tables(false);
    EXPECT_TRUE(std::none_of(tables.begin(), tables.end(),
                             [](const db::TableInfo& table) { return table.name == "u"; }));
    EXPECT_EQ(errorNumber([&] {
                  Recordset gone;
                  gone.open("u", cn, CursorType::ForwardOnly, LockType::ReadOnly);
              }),
              errorOf(ErrorCode::TableNotFound));
    EXPECT_EQ(errorNumber([&] { cn.execute("DROP INDEX y ON t"); }),
              errorOf(ErrorCode::ConstraintNotFound));
    Recordset rows;
    rows.open("SELECT * FROM t", cn, CursorType::ForwardOnly, LockType::ReadOnly);
    EXPECT_FALSE(rows.eof());
}

// Rows appended before the steps are grouped wait in the batch: the transaction takes them over
// and commits them with its steps. Undone, or refused at its commit, it takes only its own
// steps back; the rows reach the file with the next commit.
TEST_F(GroupedStepsTest, TakeOverTheAppendedRowsAndNeverLoseThem) {
    cn.execute("CREATE TABLE t (a TEXT(20))");
    cn.execute("CREATE TABLE k (b TEXT(5))");
    const auto count = [&](const char* table) {
        return other.scalar(std::string("SELECT count(*) FROM ") + table);
    };
    Recordset rows;
    rows.open("t", cn, CursorType::Keyset, LockType::Pessimistic);
    const auto append = [&](const char* value) {
        rows.addNew(std::vector<std::string>{"a"}, std::vector<Value>{Value(value)});
    };

    append("r1");
    ASSERT_EQ(count("t"), "0");  // in the batch
    {
        db::NativeTransaction together(cn);
        EXPECT_EQ(count("t"), "0");  // not committed ahead of the steps
        cn.execute("INSERT INTO k VALUES ('s')");
        together.commit();
    }
    EXPECT_EQ(count("t"), "1");
    EXPECT_EQ(count("k"), "1");

    append("r2");
    {
        db::NativeTransaction undone(cn);
        cn.execute("INSERT INTO k VALUES ('u')");
        append("r3");  // joins the steps: undone with them
    }
    EXPECT_EQ(count("t"), "1");
    cn.flush();
    EXPECT_EQ(other.column("SELECT a FROM t ORDER BY rowid"),
              (std::vector<std::string>{"r1", "r2"}));
    EXPECT_EQ(count("k"), "1");

    // Another program reads: the commit cannot have the file and is refused.
    append("r4");
    {
        db::NativeTransaction refused(cn);
        cn.execute("INSERT INTO k VALUES ('v')");
        sqlite3_stmt* reading = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(other.get(), "SELECT a FROM t", -1, &reading, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_step(reading), SQLITE_ROW);
        const auto wait = db::lockWait();
        db::setLockWait(std::chrono::milliseconds(100));
        EXPECT_EQ(errorNumber([&] { refused.commit(); }), errorOf(ErrorCode::LockedByOtherUser));
        db::setLockWait(wait);
        sqlite3_finalize(reading);
    }
    cn.flush();
    EXPECT_EQ(other.column("SELECT a FROM t ORDER BY rowid"),
              (std::vector<std::string>{"r1", "r2", "r4"}));
    EXPECT_EQ(other.column("SELECT b FROM k"), std::vector<std::string>{"s"});

    // The connection closed while the transaction is open (an error on the way out): its steps
    // go, the rows stay.
    append("r5");
    rows.close();
    std::optional<db::NativeTransaction> open(std::in_place, cn);
    cn.execute("INSERT INTO k VALUES ('w')");
    cn.close();
    open.reset();
    EXPECT_EQ(count("t"), "4");
    EXPECT_EQ(other.column("SELECT b FROM k"), std::vector<std::string>{"s"});
}

// A joined transaction adds its steps to the one it was begun in: they reach other programs
// with that one's commit; undone, it takes the whole transaction with it, and that one's commit
// fails instead of storing part of the steps. Begun alone, it is a transaction of its own.
TEST_F(GroupedStepsTest, AJoinedTransactionCommitsAndFailsWithTheOneItJoined) {
    ASSERT_EQ(other.exec("CREATE TABLE t (a); INSERT INTO t VALUES (1), (2), (3), (4)"), SQLITE_OK);
    const auto count = [&] { return other.scalar("SELECT count(*) FROM t"); };
    const auto remove = [&](int value) {
        db::NativeStatement(cn, "DELETE FROM t WHERE a = ?1").bind(1, value).run();
    };
    using Nesting = db::NativeTransaction::Nesting;

    {
        db::NativeTransaction outer(cn);
        {
            db::NativeTransaction joined(cn, Nesting::Joined);
            remove(1);
            joined.commit();
        }
        EXPECT_EQ(count(), "4");  // left to the outer commit
        remove(2);
        outer.commit();
    }
    EXPECT_EQ(count(), "2");

    {
        db::NativeTransaction outer(cn);
        remove(3);
        {
            db::NativeTransaction joined(cn, Nesting::Joined);
            remove(4);
        }
        EXPECT_NE(errorNumber([&] { outer.commit(); }), 0);
    }
    EXPECT_EQ(count(), "2");

    {
        db::NativeTransaction alone(cn, Nesting::Joined);
        remove(3);
        alone.commit();
    }
    EXPECT_EQ(count(), "1");
}

// Inside a savepoint SQLite writes the pages a deletion frees into the file, as the savepoint
// could give them back; in a joined transaction it leaves them unwritten.
TEST_F(GroupedStepsTest, ADeletionJoinedLeavesTheFreedPagesUnwritten) {
    ASSERT_EQ(other.exec("CREATE TABLE t (a)"), SQLITE_OK);
    // The bytes this process has handed to write calls so far.
    const auto written = [] {
        std::ifstream io("/proc/self/io");
        std::string key;
        long long value = 0;
        while (io >> key >> value) {
            if (key == "wchar:") return value;
        }
        return -1LL;
    };
    long long tableBytes = 0;
    const auto deleteAllInside = [&](db::NativeTransaction::Nesting nesting) {
        EXPECT_EQ(other.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                             "WHERE i < 1000) INSERT INTO t SELECT randomblob(2000) FROM n"),
                  SQLITE_OK);
        tableBytes = std::stoll(other.scalar("SELECT sum(pgsize) FROM dbstat WHERE name = 't'"));
        const long long before = written();
        db::NativeTransaction outer(cn);
        {
            db::NativeTransaction inner(cn, nesting);
            EXPECT_EQ(db::NativeStatement(cn, "DELETE FROM t WHERE rowid > 0").run(), 1000);
            inner.commit();
        }
        outer.commit();
        return written() - before;
    };
    ASSERT_GE(written(), 0) << "no /proc/self/io";
    const long long inSavepoint = deleteAllInside(db::NativeTransaction::Nesting::Savepoint);
    const long long joined = deleteAllInside(db::NativeTransaction::Nesting::Joined);
    EXPECT_EQ(other.scalar("SELECT count(*) FROM t"), "0");
    EXPECT_GT(tableBytes, 2'000'000);
    // Measured: about half the table's pages are freed whole; their bytes are what is saved.
    EXPECT_LT(joined, inSavepoint - tableBytes / 3);
}

// An unconditioned deletion from an empty table writes nothing (SQLite would clear its pages
// and commit); from a table with rows it deletes them all.
TEST_F(DeleteAllTest, AnEmptyTableIsLeftUnwritten) {
    cn.execute("CREATE TABLE t (a TEXT(20))");
    const std::string version = other.scalar("PRAGMA data_version");
    EXPECT_EQ(cn.execute("DELETE FROM t"), 0);
    EXPECT_EQ(other.scalar("PRAGMA data_version"), version);

    ASSERT_EQ(other.exec("INSERT INTO t VALUES ('x'), ('y')"), SQLITE_OK);
    EXPECT_EQ(cn.execute("DELETE FROM t"), 2);
    EXPECT_EQ(other.scalar("SELECT count(*) FROM t"), "0");
    // Held by another program, the deletion fails as a write does.
    ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    const auto wait = db::lockWait();
    db::setLockWait(std::chrono::milliseconds(100));
    EXPECT_EQ(errorNumber([&] { cn.execute("DELETE FROM t"); }),
              errorOf(ErrorCode::LockedByOtherUser));
    db::setLockWait(wait);
    ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
}

}  // namespace
}  // namespace yubin::test
