// The layer's VFS gathers the writes to a rollback journal: the journal must still restore
// what a killed process left, SQLite must read back what it wrote, and a failed write must
// fail the statement that needed it.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <stdexcept>

#include "StoreTestHelpers.h"
#include "store/EngineImpl.h"
#include "store/JournalVfs.h"

namespace yubin::test {
namespace {

using db::detail::DatabasePtr;

// A plain SQLite database (none of ours: no bookkeeping) opened as the layer opens its own.
DatabasePtr openThroughLayerVfs(const std::string& path) {
    db::detail::initializeSqlite();
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                   db::detail::sqliteVfs());
    DatabasePtr db(raw);
    if (rc != SQLITE_OK) throw std::runtime_error("cannot open " + path);
    return db;
}

// Runs statements; throws with SQLite's message (so that it also works in a child process).
void exec(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message != nullptr ? message : "";
    sqlite3_free(message);
    if (rc != SQLITE_OK) throw std::runtime_error(sql + ": " + text);
}

// The result code of statements.
int execCode(sqlite3* db, const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
}

long long fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The size of the connection's open journal as SQLite sees it through the VFS.
long long journalSizeThroughVfs(sqlite3* db) {
    sqlite3_file* journal = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &journal) != SQLITE_OK ||
        journal == nullptr || journal->pMethods == nullptr) {
        return -1;
    }
    sqlite3_int64 size = 0;
    if (journal->pMethods->xFileSize(journal, &size) != SQLITE_OK) return -1;
    return size;
}

// A table `t` of `rows` rows of 3000 random bytes.
void makeTable(const std::string& path, int rows, int pageSize) {
    DatabasePtr db = openThroughLayerVfs(path);
    exec(db.get(), "PRAGMA page_size = " + std::to_string(pageSize) +
                       "; CREATE TABLE t (id INTEGER PRIMARY KEY, body BLOB);"
                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                       std::to_string(rows) + ") INSERT INTO t SELECT i, randomblob(3000) FROM n");
}

TEST(LayerConnections, OpenTheirDatabasesThroughTheGatheringVfs) {
    FreshDatabase fresh;
    DatabasePtr db = db::detail::openDatabase(fresh.path());
    sqlite3_vfs* vfs = nullptr;
    ASSERT_EQ(sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_VFS_POINTER, &vfs), SQLITE_OK);
    ASSERT_NE(vfs, nullptr);
    EXPECT_STREQ(vfs->zName, db::detail::kJournalVfsName);
    // Not the default: other SQLite connections of the process are not affected.
    EXPECT_STRNE(sqlite3_vfs_find(nullptr)->zName, db::detail::kJournalVfsName);
}

struct KilledWriter {
    const char* synchronous;
    const char* journalMode;
};

void PrintTo(const KilledWriter& mode, std::ostream* out) {
    *out << "synchronous " << mode.synchronous << ", journal " << mode.journalMode;
}

class KilledWriterTest : public ::testing::TestWithParam<KilledWriter> {};

// A process that had written many changed pages into the database under its journal (a small
// cache spills them) and is killed before COMMIT: the next open plays the journal back and
// the file is again exactly what it was. With synchronous OFF no sync of the journal comes
// before the pages are written: the gathered records must go out first all the same. Pages of
// 4 KB (a row each): a run of the journal gathers more of them than the cache holds, so the
// cache spills pages whose records are still gathered.
TEST_P(KilledWriterTest, NextOpenRestoresTheFileExactly) {
    TempDir dir;
    const std::string path = dir.file("plain.db");
    makeTable(path, 400, 4096);
    const std::string original = readBytes(path);
    {
        const KilledWriter mode = GetParam();
        ChildProcess child([&](const std::function<void()>& ready) {
            DatabasePtr db = openThroughLayerVfs(path);
            exec(db.get(), std::string("PRAGMA synchronous = ") + mode.synchronous +
                               "; PRAGMA journal_mode = " + mode.journalMode +
                               "; PRAGMA cache_size = 10; BEGIN;"
                               "UPDATE t SET body = randomblob(3000);");
            ready();
            pause();
        });
        ASSERT_TRUE(child.waitReady());
        // Changed pages were written into the database before the kill.
        ASSERT_NE(readBytes(path), original);
        child.kill();
    }
    {
        RawSqlite raw(path);  // SQLite's own VFS plays the journal back
        EXPECT_EQ(raw.scalar("PRAGMA integrity_check"), "ok");
        EXPECT_EQ(raw.scalar("SELECT count(*) FROM t"), "400");
    }
    EXPECT_EQ(readBytes(path), original);
}

INSTANTIATE_TEST_SUITE_P(SyncAndJournalModes, KilledWriterTest,
                         ::testing::Values(KilledWriter{"FULL", "PERSIST"},
                                           KilledWriter{"FULL", "DELETE"},
                                           KilledWriter{"NORMAL", "TRUNCATE"},
                                           KilledWriter{"OFF", "PERSIST"},
                                           KilledWriter{"OFF", "DELETE"}),
                         [](const ::testing::TestParamInfo<KilledWriter>& info) {
                             return std::string(info.param.synchronous) + info.param.journalMode;
                         });

// A rollback to a savepoint reads back the originals of the pages changed since the
// savepoint, which the journal has just been given and holds gathered.
TEST(GatheredJournal, RollbackToSavepointReadsWhatItHolds) {
    TempDir dir;
    const std::string path = dir.file("plain.db");
    makeTable(path, 60, db::detail::kPageSize);  // two rows a page
    DatabasePtr db = openThroughLayerVfs(path);
    exec(db.get(), "PRAGMA journal_mode = PERSIST; PRAGMA cache_size = -8192");
    RawSqlite before(path);
    const std::vector<std::string> kept = before.column("SELECT hex(body) FROM t WHERE id > 40");
    ASSERT_EQ(kept.size(), 20u);

    exec(db.get(),
         "BEGIN; UPDATE t SET body = zeroblob(3000) WHERE id <= 20; SAVEPOINT s;"
         "UPDATE t SET body = zeroblob(3000) WHERE id > 40 AND id <= 46");
    // The last records are not in the file yet, but the journal's size counts them.
    const long long onDisk = fileSize(path + "-journal");
    const long long seen = journalSizeThroughVfs(db.get());
    EXPECT_GT(seen, onDisk);
    EXPECT_GT(seen, 10 * db::detail::kPageSize);
    exec(db.get(), "ROLLBACK TO s; RELEASE s; COMMIT");

    EXPECT_EQ(before.column("SELECT hex(body) FROM t WHERE id > 40"), kept);
    EXPECT_EQ(before.scalar("SELECT count(*) FROM t WHERE id <= 20 AND body = zeroblob(3000)"),
              "20");
    EXPECT_EQ(before.scalar("PRAGMA integrity_check"), "ok");
}

// Files of the process may grow to `limit` bytes only (writes past it fail with EFBIG instead
// of a signal), until the end of the scope.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lowered{limit, previous_.rlim_max};
        if (setrlimit(RLIMIT_FSIZE, &lowered) != 0) ADD_FAILURE() << "setrlimit";
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

// The journal's last gathered records cannot be written (the file may not grow that far),
// while every page of the database lies below the limit: the commit that needed the records
// fails, nothing of the transaction reaches the database, and the file stays as it was.
TEST(GatheredJournal, WriteThatFailsWhenGatheredBytesGoOutFailsTheCommit) {
    TempDir dir;
    const std::string path = dir.file("plain.db");
    // One row whose value fills 800 small pages: a change of it rewrites every page of the
    // file, and the journal (the originals, each with its number and checksum) ends past the
    // file's end.
    const char* change = "BEGIN; UPDATE t SET body = randomblob(400000); COMMIT";
    {
        DatabasePtr db = openThroughLayerVfs(path);
        exec(db.get(),
             "PRAGMA page_size = 512; PRAGMA journal_mode = PERSIST;"
             "CREATE TABLE t (id INTEGER PRIMARY KEY, body BLOB);"
             "INSERT INTO t VALUES (1, randomblob(400000));");
        exec(db.get(), change);  // the journal file keeps the size this change gives it
    }
    const std::string original = readBytes(path);
    const long long journalEnd = fileSize(path + "-journal");
    const long long databaseEnd = static_cast<long long>(original.size());
    ASSERT_GT(journalEnd, databaseEnd + 2048);
    {
        DatabasePtr db = openThroughLayerVfs(path);
        exec(db.get(), "PRAGMA journal_mode = PERSIST; PRAGMA cache_size = -8192");
        int rc = SQLITE_OK;
        {
            FileSizeLimit limit(static_cast<rlim_t>((journalEnd + databaseEnd) / 2));
            rc = execCode(db.get(), change);
        }
        EXPECT_TRUE((rc & 0xff) == SQLITE_IOERR || (rc & 0xff) == SQLITE_FULL) << rc;
        (void)execCode(db.get(), "ROLLBACK");
    }
    {
        RawSqlite raw(path);
        EXPECT_EQ(raw.scalar("PRAGMA integrity_check"), "ok");
    }
    EXPECT_EQ(readBytes(path), original);
}

}  // namespace
}  // namespace yubin::test
