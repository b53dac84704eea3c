// Compaction: a compacted copy of a database written beside it (VACUUM INTO), and in place,
// where the copy replaces the database by one rename, or the free pages go back without one.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "base/SystemError.h"
#include "base/UniqueFd.h"
#include "store/EngineImpl.h"

namespace yubin::db {

namespace detail {

namespace {

// What a compaction writes into the lock file of its temporary file: it marks the file as
// ours, so that a compaction that died leaves a file the next one may remove.
constexpr std::string_view kCompactionTag = "yubinbox compaction";

std::string compactionTag(const struct stat* temporary) {
    std::string tag(kCompactionTag);
    if (temporary != nullptr) {
        tag += " " + std::to_string(temporary->st_dev) + " " + std::to_string(temporary->st_ino);
    }
    return tag + "\n";
}

Message cannotCompact(const std::string& path) {
    return Message("データベース {1} を最適化できません。", path);
}

// Another program holds the lock (the extended code's primary part).
bool isBusy(int extended) {
    return (extended & 0xff) == SQLITE_BUSY || (extended & 0xff) == SQLITE_LOCKED;
}

// The number a PRAGMA that reads a setting answers.
long long pragmaNumber(sqlite3* db, const char* pragma, const std::string& path) {
    StatementPtr statement = prepare(db, pragma);
    const int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_ROW) throwSqlite(db, rc, cannotCompact(path));
    return sqlite3_column_int64(statement.get(), 0);
}

// VACUUM INTO a destination that is missing or empty. The copy is written without waiting
// for the disk: the callers make it durable before anyone may use it, and a copy cut short is
// never used. A small cache serves a copy that reads every page once and writes each once;
// the copy's own cache takes the source's size, so the two together held 4 MB for nothing
// (the compaction ended the import at that peak) where 256 KB each copy as fast. The copy
// has our page size, whatever the source had.
void writeCompactedCopy(const std::string& source, const std::string& destination) {
    DatabasePtr db = openDatabase(source);
    run(db.get(), ("PRAGMA synchronous = OFF; PRAGMA cache_size = -256; PRAGMA page_size = " +
                   std::to_string(kPageSize) + ";")
                      .c_str());
    // The copy of a database without auto-vacuum (one made before we kept them in incremental
    // auto-vacuum) in incremental auto-vacuum: from then on an import gives back what it freed
    // without a copy (compactDatabaseInPlace). On such a database the setting only waits for
    // the copy; on one with auto-vacuum it would write (and wait for the write lock that the
    // compaction in place holds), so a database that has it keeps its own.
    if (pragmaNumber(db.get(), "PRAGMA auto_vacuum", source) == 0) {
        run(db.get(), "PRAGMA auto_vacuum = INCREMENTAL");
    }
    // VACUUM INTO writes only into a missing or empty file.
    struct stat existing {};
    if (::stat(destination.c_str(), &existing) == 0 && existing.st_size > 0) {
        throw YubinError(ErrorCode::FileAlreadyExists,
                         Message("最適化先のファイル {1} は既にあります。", destination));
    }
    StatementPtr vacuum = prepare(db.get(), "VACUUM INTO ?");
    sqlite3_bind_text(vacuum.get(), 1, destination.c_str(), -1, SQLITE_STATIC);
    const int rc = sqlite3_step(vacuum.get());
    if (rc == SQLITE_DONE) return;
    throwSqlite(db.get(), rc, cannotCompact(source));
}

// SQLite's own write lock on a database, held across a compaction in place by a second
// connection of ours in a write transaction that writes nothing: the lock every SQLite program
// honours, where our lock file binds only our own. From BEGIN IMMEDIATE (RESERVED) until the
// compacted copy has replaced the file, no other program can be inside a write transaction,
// so none can commit into the file after the copy has read it. The copy's own connection
// reads beside it (VACUUM INTO needs only a shared lock, which SQLite's unix VFS grants in one
// process beside a RESERVED lock of another connection on the same file), and other programs
// may go on reading. SQLite's locks are POSIX locks, which the process loses on closing any
// descriptor of the file: while this lock is held, the database file is opened only through
// SQLite (the temporary file and the folder are other files).
//
// What happens to another program after the rename rests on SQLite too: a connection that
// holds the old file open (idle, reading, or waiting for this lock) and then writes is refused
// with SQLITE_READONLY_DBMOVED when it opens its rollback journal, the first write of every
// transaction: SQLite sees that the path no longer names its file. Nothing then goes into the
// unlinked file. This holds for the rollback-journal modes that keep the journal in a file
// (DELETE, TRUNCATE, PERSIST). A program that has set journal_mode MEMORY or OFF on its own
// connection opens no journal file, is never told, and writes into the unlinked file: SQLite
// offers no way to reach it. A database left in WAL mode by another program that still has it
// open is refused here, for openDatabase cannot bring it back to a rollback journal.
class DatabaseWriteLock {
    // How long the giving back of free pages waits for other programs' readers.
    static constexpr int kReadersGrace = 250;  // milliseconds

  public:
    // FileInUse when another program holds the database, within the lock wait.
    explicit DatabaseWriteLock(const std::string& path) : path_(path) {
        try {
            db_ = openDatabase(path);
        } catch (const YubinError& error) {
            endReportedWait();
            if (error.code() != ErrorCode::LockedByOtherUser) throw;
            throw inUse(SQLITE_BUSY);
        }
        lock();
    }
    // Nothing was written: the rollback only ends the transaction and gives the lock back.
    ~DatabaseWriteLock() { (void)sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr); }

    // A database kept in incremental auto-vacuum (every one we make or compact) gives its free
    // pages back to the file system without a copy: pages from the file's end move into the
    // free ones and the file is cut short, in this transaction, committed. Another program
    // reading keeps that commit waiting (nobody may read a file being cut): after a short wait
    // the pages stay free, and the copy, which needs only to read, gives them back instead.
    // The lock is then taken again; a program that commits in between is read by whatever
    // follows. No-op for a database without auto-vacuum, or without a free page (the lock is
    // kept as it is).
    void giveBackFreePages() {
        if (pragmaNumber(db_.get(), "PRAGMA freelist_count", path_) == 0) return;
        sqlite3_busy_timeout(db_.get(), kReadersGrace);  // in place of the wait handler
        int rc = sqlite3_exec(db_.get(), "PRAGMA incremental_vacuum", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
        installWaitHandlers(db_.get());
        if (rc != SQLITE_OK) {
            const int extended = sqlite3_extended_errcode(db_.get());
            if (!isBusy(extended)) throwSqlite(db_.get(), extended, cannotCompact(path_));
            (void)sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
        lock();
    }
    // Whether a compacted copy would be worth writing: more than one page in a hundred free,
    // or a page size other than ours (the copy takes ours). Rows appended in order and indexes
    // built after them fill their pages as the copy would, so a database whose free pages went
    // back in place, or that an import filled from empty, has next to none, and the copy of
    // all its megabytes gives back nothing. Read under the lock, as the copy will find it.
    bool copyReclaimsSpace() {
        const long long pageSize = pragmaNumber(db_.get(), "PRAGMA page_size", path_);
        const long long pages = pragmaNumber(db_.get(), "PRAGMA page_count", path_);
        const long long freePages = pragmaNumber(db_.get(), "PRAGMA freelist_count", path_);
        return pageSize != kPageSize || freePages * 100 > pages;
    }
    DatabaseWriteLock(const DatabaseWriteLock&) = delete;
    DatabaseWriteLock& operator=(const DatabaseWriteLock&) = delete;

  private:
    // BEGIN IMMEDIATE, waiting as every statement does; FileInUse when it cannot be had.
    void lock() {
        const int rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        endReportedWait();
        if (rc == SQLITE_OK) return;
        const int extended = sqlite3_extended_errcode(db_.get());
        if (isBusy(extended)) throw inUse(extended);
        throwSqlite(db_.get(), extended, cannotCompact(path_));
    }
    YubinError inUse(int rc) const {
        return YubinError(ErrorCode::FileInUse,
                          sqliteError(db_.get(), rc, cannotCompact(path_)).detailMessage());
    }

    std::string path_;
    DatabasePtr db_;
};

// Claims the temporary file of a compaction: holds its lock file (so a second compaction
// sees this one running), removes what a compaction that died left there, refuses anything
// else, and leaves an empty file marked as ours (VACUUM INTO writes into an empty file).
LockFile claimTemporaryFile(const std::string& temporary) {
    const auto taken = [&] {
        return YubinError(ErrorCode::FileAlreadyExists,
                          Message("最適化先のファイル {1} は既にあります。", temporary));
    };
    LockFile lock;
    try {
        lock = LockFile(temporary, LockFile::Mode::Exclusive);
    } catch (const YubinError& error) {
        if (error.code() != ErrorCode::FileInUse) throw;
        throw YubinError(
            ErrorCode::FileInUse,
            Message("最適化用の一時ファイル {1} は他の最適化が使用中です。", temporary));
    }
    struct stat st {};
    if (::lstat(temporary.c_str(), &st) == 0) {
        const std::string tag = lock.isHeld() ? lock.readTag() : std::string();
        const bool leftover =
            S_ISREG(st.st_mode) &&
            (tag == compactionTag(&st) || (tag == compactionTag(nullptr) && st.st_size == 0));
        if (!leftover) throw taken();
        if (::unlink(temporary.c_str()) != 0) {
            throw FileSystemError(errno, Message("前回の最適化の一時ファイルを削除できません"),
                                  temporary);
        }
        ::unlink((temporary + "-journal").c_str());
    }
    if (lock.isHeld()) lock.writeTag(compactionTag(nullptr));
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
        if (errno == EEXIST) throw taken();
        throw FileSystemError(errno, Message("最適化用の一時ファイルを作れません"), temporary);
    }
    if (lock.isHeld() && ::fstat(fd.get(), &st) == 0) lock.writeTag(compactionTag(&st));
    return lock;
}

// Whether anything lies at the temporary path or beside it as its lock file: a compaction that
// runs, one that died, or a file of someone else's, each to be found out (claimTemporaryFile)
// before anything changes.
bool temporaryPathTaken(const std::string& temporary) {
    struct stat st {};
    for (const std::string& path : {temporary, lockFilePath(temporary)}) {
        if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) return true;
    }
    return false;
}

}  // namespace

}  // namespace detail

void compactDatabase(std::string_view sourceConnectionString,
                     std::string_view destinationConnectionString) {
    const std::string source = parseConnectionString(sourceConnectionString).dataSource;
    const std::string destination = parseConnectionString(destinationConnectionString).dataSource;
    detail::checkDatabaseFile(source);
    struct stat st {};
    if (::lstat(destination.c_str(), &st) == 0) {
        throw YubinError(ErrorCode::FileAlreadyExists,
                         Message("最適化先のファイル {1} は既にあります。", destination));
    }
    const std::string folder = detail::parentFolder(destination);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        throw YubinError(ErrorCode::PathNotFound,
                         Message("最適化先のフォルダ {1} がありません。", folder));
    }
    // No connection of ours may hold the source, in this process or another.
    detail::LockFile lock(source, detail::LockFile::Mode::Exclusive);
    try {
        detail::writeCompactedCopy(source, destination);
    } catch (const YubinError& error) {
        if (error.code() == ErrorCode::FileAlreadyExists) throw;
        ::unlink(destination.c_str());
        throw;
    }
    // SQLite leaves the copy in the page cache of the system; it must be on disk before the
    // caller replaces the source by it.
    detail::syncPath(destination, false);
    detail::syncPath(folder, true);
}

bool compactDatabaseInPlace(std::string_view connectionString,
                            std::string_view temporaryConnectionString, CompactionNeed need) {
    const std::string path = parseConnectionString(connectionString).dataSource;
    const std::string temporary = parseConnectionString(temporaryConnectionString).dataSource;
    detail::checkDatabaseFile(path);
    if (detail::parentFolder(path) != detail::parentFolder(temporary) || temporary == path) {
        throw YubinError(ErrorCode::InvalidArgument,
                         Message("最適化用の一時ファイル {1} はデータベース {2} と同じフォルダの別"
                                 "の名前でなければなりません。",
                                 temporary, path));
    }
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        throw YubinError(
            ErrorCode::PermissionDenied,
            Message("データベース ファイル {1} に書き込む権限がないため、最適化できません。",
                    path));
    }
    // No connection of ours may hold the database until its compacted copy has replaced it.
    detail::LockFile lock(path, detail::LockFile::Mode::Exclusive);
    struct stat original {};
    if (::stat(path.c_str(), &original) != 0) {
        throw FileSystemError(errno, Message("データベース ファイルを読めません"), path);
    }
    // The temporary file is claimed first when something lies there (a leftover to remove, a
    // file to refuse, a compaction at work); at a free path, only when the copy is written:
    // a database with nothing to give back leaves the folder without a file made and removed.
    std::optional<detail::LockFile> temporaryLock;
    if (need == CompactionNeed::Always || detail::temporaryPathTaken(temporary)) {
        temporaryLock = detail::claimTemporaryFile(temporary);
    }
    try {
        // Held from the reading of the free pages until the copy has replaced the database: no
        // other program commits in between.
        detail::DatabaseWriteLock writeLock(path);
        if (need == CompactionNeed::OnlyToReclaimSpace) {
            writeLock.giveBackFreePages();
            if (!writeLock.copyReclaimsSpace()) {
                if (temporaryLock) ::unlink(temporary.c_str());
                return false;
            }
            // Claimed by nobody since it was found free, unless a file came there meanwhile,
            // which is refused as ever; only free pages went back then.
            if (!temporaryLock) temporaryLock = detail::claimTemporaryFile(temporary);
        }
        detail::writeCompactedCopy(path, temporary);
        UniqueFd fd(::open(temporary.c_str(), O_RDWR | O_CLOEXEC));
        if (!fd) throw FileSystemError(errno, Message("最適化したファイルを開けません"), temporary);
        // The owner and group first (a change of owner clears the set-id bits), then the mode;
        // an owner the process may not give is kept as it is, the group where it may.
        if (::fchown(fd.get(), original.st_uid, original.st_gid) != 0 &&
            ::fchown(fd.get(), static_cast<uid_t>(-1), original.st_gid) != 0) {
            // Neither may be given: the copy keeps the process's own owner and group.
        }
        if (::fchmod(fd.get(), original.st_mode & 07777) != 0) {
            throw FileSystemError(errno, Message("最適化したファイルの属性を設定できません"),
                                  temporary);
        }
        if (::fsync(fd.get()) != 0) {
            throw FileSystemError(errno, Message("ファイルをディスクに書き込めません"), temporary);
        }
        // One rename: the path names the old database until it names the new one.
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            throw FileSystemError(
                errno, Message("最適化したファイルでデータベースを置き換えられません"), path);
        }
    } catch (...) {
        // Only a file of ours: one found there before the claim is somebody's.
        if (temporaryLock) {
            ::unlink(temporary.c_str());
            ::unlink((temporary + "-journal").c_str());
        }
        throw;
    }
    detail::syncPath(detail::parentFolder(path), true);
    return true;
}

}  // namespace yubin::db
