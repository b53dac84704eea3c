// Database files: checking, opening, creating, moving and deleting them (compaction:
// Compaction.cpp).
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/SystemError.h"
#include "base/UniqueFd.h"
#include "store/EngineImpl.h"

namespace yubin::db {

namespace detail {

namespace {

constexpr char kSqliteHeader[16] = "SQLite format 3";  // with its terminating zero

}  // namespace

std::string parentFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

void syncPath(const std::string& path, bool folder) {
    UniqueFd fd(::open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDWR) | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0) {
        if (!folder)
            throw FileSystemError(errno, Message("ファイルをディスクに書き込めません"), path);
    }
}

namespace {

// Renames without ever replacing what is at `to` (EEXIST then).
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system without the flag: a hard link fails as well when the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0) return -1;
    return ::unlink(from.c_str());
}

}  // namespace

void checkDatabaseFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            throw YubinError(ErrorCode::DatabaseNotFound,
                             Message("データベース ファイル {1} が見つかりません。", path));
        }
        throw YubinError(
            ErrorCode::CannotOpenDatabase,
            Message("データベース ファイル {1} を開けません（{2}）。", path, std::strerror(error)));
    }
    if (!S_ISREG(st.st_mode)) {
        throw YubinError(
            ErrorCode::CannotOpenDatabase,
            Message("{1} はファイルではないため、データベースとして開けません。", path));
    }
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        throw YubinError(
            ErrorCode::CannotOpenDatabase,
            Message("データベース ファイル {1} を開けません（{2}）。", path, std::strerror(errno)));
    }
    char header[sizeof kSqliteHeader] = {};
    const ssize_t n = ::pread(fd.get(), header, sizeof header, 0);
    if (n != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, kSqliteHeader, sizeof header) != 0) {
        throw YubinError(ErrorCode::NotOurDatabase,
                         Message("{1} は yubinbox のデータベース ファイルではありません。", path));
    }
}

DatabasePtr openDatabase(const std::string& path) {
    initializeSqlite();
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                   sqliteVfs());
    DatabasePtr db(raw);
    if (rc != SQLITE_OK) {
        throw YubinError(ErrorCode::CannotOpenDatabase,
                         Message("データベース ファイル {1} を開けません（{2}）。", path,
                                 raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    }
    sqlite3_extended_result_codes(db.get(), 1);
    installWaitHandlers(db.get());
    bool ours = false;
    try {
        ours = hasBookkeeping(db.get());
    } catch (const YubinError& error) {
        // Held by another program for longer than the lock wait: the file is fine, only busy.
        if (error.code() == ErrorCode::LockedByOtherUser) throw;
        if (error.code() != ErrorCode::NotOurDatabase) {
            throw YubinError(ErrorCode::CannotOpenDatabase,
                             Message("データベース ファイル {1} を開けません: {2}", path,
                                     error.detailMessage()));
        }
    }
    if (!ours) {
        throw YubinError(ErrorCode::NotOurDatabase,
                         Message("{1} は yubinbox のデータベース ファイルではありません。", path));
    }
    // A rollback journal (never WAL): the file may lie on a file-server share. Every commit
    // reaches the disk before it returns. A small page cache: a batch of appended rows that
    // outgrows it spills into the file under the journal (still all or nothing), and sorts
    // have memory of their own (initializeSqlite); a larger cache made the import no faster,
    // only heavier (16 MB more at its peak).
    //
    // Every value this layer writes has passed the column rules in bindable(), which are the
    // rules of the tables' CHECK constraints; SQLite need not check them a second time on
    // our own writes (it costs a third of the appending time). Other programs' writes are
    // still checked, the null guards and unique indexes of keys still apply, and the table
    // rebuild, which copies rows written by anyone, turns the checks back on.
    //
    // Deleted rows are not overwritten (Debian's SQLite does it by default): the file holds
    // published postal data, and the compaction that ends an import leaves no free page. The
    // monthly refresh deletes every row; overwriting them cost a third of its deletion.
    run(db.get(),
        "PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL; PRAGMA secure_delete = OFF; "
        "PRAGMA cache_size = -2048; PRAGMA ignore_check_constraints = ON;");
    return db;
}

}  // namespace detail

void createDatabase(std::string_view connectionString) {
    const std::string path = parseConnectionString(connectionString).dataSource;
    {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd) {
            const int error = errno;
            if (error == EEXIST) {
                throw YubinError(ErrorCode::DatabaseExists,
                                 Message("データベース ファイル {1} は既にあります。", path));
            }
            throw FileSystemError(error, Message("データベース ファイルを作れません"), path);
        }
    }
    // A journal beside a file that did not exist belongs to no database: it must not be
    // played back into the new one.
    ::unlink((path + "-journal").c_str());
    try {
        detail::initializeSqlite();
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(
            path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, detail::sqliteVfs());
        detail::DatabasePtr db(raw);
        if (rc != SQLITE_OK)
            detail::throwSqlite(raw, rc, Message("データベース ファイルを作れません: {1}", path));
        sqlite3_extended_result_codes(db.get(), 1);
        detail::installWaitHandlers(db.get());
        detail::run(db.get(), ("PRAGMA page_size = " + std::to_string(detail::kPageSize) +
                               "; PRAGMA auto_vacuum = INCREMENTAL; PRAGMA application_id = " +
                               std::to_string(detail::kApplicationId) +
                               "; PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL;")
                                  .c_str());
        detail::run(db.get(), "BEGIN IMMEDIATE");
        detail::run(db.get(), detail::bookkeepingSchema());
        detail::run(db.get(), "COMMIT");
    } catch (...) {
        ::unlink(path.c_str());
        throw;
    }
    detail::syncPath(detail::parentFolder(path), true);
}

void moveDatabaseFile(std::string_view fromText, std::string_view toText) {
    const std::string from(fromText);
    const std::string to(toText);
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) {
        throw YubinError(ErrorCode::FileNotFound, Message("ファイル {1} が見つかりません。", from));
    }
    detail::LockFile lock(from, detail::LockFile::Mode::Exclusive);
    if (detail::renameNoReplace(from, to) != 0) {
        const int error = errno;
        if (error == EEXIST) {
            throw YubinError(ErrorCode::FileAlreadyExists,
                             Message("ファイル {1} は既にあります。", to));
        }
        throw FileSystemError(error, Message("データベース {1} を移せません", from), to);
    }
    // A journal that a crash left belongs to the moved file.
    (void)detail::renameNoReplace(from + "-journal", to + "-journal");
    detail::syncPath(detail::parentFolder(to), true);
}

void deleteDatabaseFile(std::string_view pathText) {
    const std::string path(pathText);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        throw YubinError(ErrorCode::FileNotFound, Message("ファイル {1} が見つかりません。", path));
    }
    detail::LockFile lock(path, detail::LockFile::Mode::Exclusive);
    if (::unlink(path.c_str()) != 0) {
        throw FileSystemError(errno, Message("ファイルを削除できません"), path);
    }
    // A journal left by a crash belongs to the deleted file only.
    ::unlink((path + "-journal").c_str());
}

}  // namespace yubin::db
