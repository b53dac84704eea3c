// The lock file beside a database (yubinbox.mdb -> yubinbox.ldb) that tells connections,
// compaction and deletion of one another, in this and in other processes.
//
// Linux open-file-description locks (F_OFD_SETLK) on two bytes: byte 0 held shared by every
// open connection ("in use") and exclusively by compaction and deletion (nobody else may have
// the file); byte 1 held exclusively by the connection that runs an import. The locks belong to
// the open file, so two connections of one process exclude each other as two processes do, and
// they never meet SQLite's own POSIX locks on the database file. The kernel drops them when
// the process dies, however it dies.
//
// The last one out removes the lock file: it takes byte 0 exclusively, unlinks the file if the
// path still names the file it holds, and closes. Whoever locks checks afterwards that the path
// still names the file it locked, and starts again otherwise.
#pragma once

#include <string>

namespace yubin::db::detail {

// The database file a path names, every symbolic link on the way resolved; the path itself when
// it names no file (yet). A database reached through a link is locked, compacted and replaced
// where it really lies, beside the lock file every other user of it finds.
std::string resolvedDatabasePath(const std::string& databasePath);

// The lock file of the database the path names (resolvedDatabasePath): yubinbox.ldb beside
// yubinbox.mdb.
std::string lockFilePath(const std::string& databasePath);

class LockFile {
  public:
    enum class Mode { InUse, Exclusive };

    LockFile() = default;
    // FileInUse when the database is held exclusively (InUse) or by anyone (Exclusive). When
    // the folder allows no lock file at all, nothing is locked (isHeld() is false).
    LockFile(const std::string& databasePath, Mode mode);
    ~LockFile();
    LockFile(LockFile&& other) noexcept;
    LockFile& operator=(LockFile&& other) noexcept;
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    bool isHeld() const { return fd_ >= 0; }
    // Byte 1: false when another connection holds it. PermissionDenied without a writable lock
    // file.
    bool tryLockImport();
    void unlockImport();

    // A short note in the lock file (who holds it and why); "" when there is none. Writing
    // needs a writable lock file (nothing is written otherwise).
    void writeTag(const std::string& tag);
    std::string readTag() const;

    void release() noexcept;

  private:
    int fd_ = -1;
    bool writable_ = false;
    std::string path_;
};

}  // namespace yubin::db::detail
