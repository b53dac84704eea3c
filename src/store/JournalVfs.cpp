// The layer's own SQLite VFS: SQLite's "unix" one, with the writes to a rollback journal
// gathered.
//
// SQLite journals a page as three writes one after the other (the page number, the page, a
// checksum), each a system call; a monthly refresh makes some six thousand of them. Here a run
// of contiguous writes to the journal waits in a small buffer and reaches the file in one
// write. What the journal guarantees stays as it was, because the gathered bytes reach the
// file before anything could need them there:
//  - before the journal is synced, read, truncated or closed, before any file control on it,
//    and before a write to it that does not continue the run;
//  - before its database file is truncated, and before a page is written into the database
//    whose journal record (the original page) lies in the gathered bytes. SQLite writes a page
//    into the database only after its record is in the journal, and unless synchronous is
//    OFF only after a sync of the journal, which has written out the gathered bytes anyway:
//    the database writes in between are pages the journal already holds on disk or need not
//    hold (pages past the database's original end), and they leave the run gathered.
// To know the pages, the journal's writes are read as SQLite makes them: after the header,
// records of a 4-byte page number, the page, a 4-byte checksum. Gathered bytes that are
// anything else are written out before any write to the database.
//
// The header at the journal's start (whose first bytes decide whether the journal is one to
// play back) is never gathered. A write that fails when the gathered bytes go out is reported
// by the call that sent them (the sync, the read, the database write, ...).
#include "store/JournalVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

namespace yubin::db::detail {

namespace {

// Seven journaled pages of 8 KB: large enough that the system calls no longer count, small
// enough to stay in the cache.
constexpr int kGatherBytes = 64 * 1024;
// The journal records a run may hold and name one by one (7 of 8 KB pages fill a run); with
// more, the run counts as not understood.
constexpr int kMaxGatheredRecords = 16;

sqlite3_vfs* unixVfs = nullptr;  // set once, before registration

// What the next write to a journal is, read from the writes so far.
enum class Expect : unsigned char { Number, Page, Checksum, Unknown };

// The bytes of a page in the database file: [from, to).
struct PageBytes {
    sqlite3_int64 from;
    sqlite3_int64 to;
};

// The layer's file: the unix VFS's own file lies after it in the same allocation. Only main
// database files and their rollback journals are wrapped; every other file is the unix VFS's
// own file, placed at the start of the allocation.
struct File {
    sqlite3_file base;  // what SQLite sees: must come first
    sqlite3_file* real;
    // A journal: its database file (null when it has none of ours: its writes then go
    // straight through). A database file: its open journal.
    File* partner;

    // A journal's gathered run: gatheredBytes bytes at gatheredAt.
    char* gathered;  // kGatherBytes, allocated at the first gathered write
    sqlite3_int64 gatheredAt;
    int gatheredBytes;
    // The database pages whose records lie in the run, wholly or in part; `opaque` when the
    // run holds bytes that were not understood as a record's.
    PageBytes gatheredPages[kMaxGatheredRecords];
    int gatheredPageCount;
    bool opaque;

    // Where the journal's last write ended, what comes next, and the record being written.
    sqlite3_int64 streamEnd;
    Expect expect;
    PageBytes record;
    unsigned pageNumber;
};
static_assert(std::is_standard_layout_v<File> && std::is_trivially_destructible_v<File>);

constexpr int kRealOffset = static_cast<int>((sizeof(File) + alignof(std::max_align_t) - 1) /
                                             alignof(std::max_align_t) * alignof(std::max_align_t));

File* fileOf(sqlite3_file* file) { return reinterpret_cast<File*>(file); }
sqlite3_file* realOf(sqlite3_file* file) { return fileOf(file)->real; }

// Writes out what the journal has gathered; the write's own result.
int flushJournal(File* journal) {
    if (journal->gatheredBytes == 0) return SQLITE_OK;
    const int bytes = journal->gatheredBytes;
    journal->gatheredBytes = 0;
    journal->gatheredPageCount = 0;
    journal->opaque = false;
    return journal->real->pMethods->xWrite(journal->real, journal->gathered, bytes,
                                           journal->gatheredAt);
}

bool isPageSize(int bytes) { return bytes >= 512 && bytes <= 65536 && (bytes & (bytes - 1)) == 0; }

// The record being written lies (partly) in the run when `gathered`.
void noteRecord(File* journal, bool gathered) {
    if (!gathered) return;
    const int n = journal->gatheredPageCount;
    if (n > 0 && journal->gatheredPages[n - 1].from == journal->record.from) return;
    if (n == kMaxGatheredRecords) {
        journal->opaque = true;
        return;
    }
    journal->gatheredPages[n] = journal->record;
    journal->gatheredPageCount = n + 1;
}

// Follows the journal's writes: the records' page numbers and pages. A write that does not
// continue the last one is a header (or its update, or SQLite's name of a super-journal) and
// is followed by records; contiguous writes that break the pattern leave the rest unknown
// until the next header.
void readJournalWrite(File* journal, const void* data, int amount, sqlite3_int64 offset,
                      bool gathered) {
    const bool contiguous = offset != 0 && offset == journal->streamEnd;
    journal->streamEnd = offset + amount;
    if (contiguous) {
        switch (journal->expect) {
            case Expect::Number:
                if (amount == 4) {
                    const auto* b = static_cast<const unsigned char*>(data);
                    journal->pageNumber = (unsigned{b[0]} << 24) | (unsigned{b[1]} << 16) |
                                          (unsigned{b[2]} << 8) | unsigned{b[3]};
                    journal->expect = Expect::Page;
                    return;
                }
                break;  // something else between records: not understood, records follow
            case Expect::Page:
                if (isPageSize(amount) && journal->pageNumber != 0) {
                    const sqlite3_int64 from = sqlite3_int64{journal->pageNumber - 1} * amount;
                    journal->record = {from, from + amount};
                    journal->expect = Expect::Checksum;
                    noteRecord(journal, gathered);
                    return;
                }
                journal->expect = Expect::Unknown;
                break;
            case Expect::Checksum:
                if (amount == 4) {
                    journal->expect = Expect::Number;
                    noteRecord(journal, gathered);
                    return;
                }
                journal->expect = Expect::Unknown;
                break;
            case Expect::Unknown:
                break;
        }
    } else {
        journal->expect = Expect::Number;
    }
    if (gathered) journal->opaque = true;
}

// Writes out the journal's run before a write of [from, to) into its database file that
// overwrites a page whose record the run holds.
int flushBeforeDatabaseWrite(File* journal, sqlite3_int64 from, sqlite3_int64 to) {
    if (journal->gatheredBytes == 0) return SQLITE_OK;
    bool needed = journal->opaque;
    for (int i = 0; i < journal->gatheredPageCount && !needed; ++i) {
        needed = from < journal->gatheredPages[i].to && journal->gatheredPages[i].from < to;
    }
    return needed ? flushJournal(journal) : SQLITE_OK;
}

// --- The rollback journal ---

int journalClose(sqlite3_file* file) {
    File* journal = fileOf(file);
    const int flushed = flushJournal(journal);
    if (journal->partner != nullptr) journal->partner->partner = nullptr;
    const int closed = journal->real->pMethods->xClose(journal->real);
    sqlite3_free(journal->gathered);
    journal->gathered = nullptr;
    return flushed != SQLITE_OK ? flushed : closed;
}

int journalRead(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
    const int rc = flushJournal(fileOf(file));
    if (rc != SQLITE_OK) return rc;
    return realOf(file)->pMethods->xRead(realOf(file), out, amount, offset);
}

int journalWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    File* journal = fileOf(file);
    const bool continuesRun = journal->gatheredBytes > 0 &&
                              offset == journal->gatheredAt + journal->gatheredBytes &&
                              journal->gatheredBytes + amount <= kGatherBytes;
    if (!continuesRun) {
        const int rc = flushJournal(journal);
        if (rc != SQLITE_OK) return rc;
        const bool gather = journal->partner != nullptr && offset > 0 && amount < kGatherBytes;
        if (gather && journal->gathered == nullptr) {
            journal->gathered = static_cast<char*>(sqlite3_malloc(kGatherBytes));
        }
        if (!gather || journal->gathered == nullptr) {
            readJournalWrite(journal, data, amount, offset, false);
            return journal->real->pMethods->xWrite(journal->real, data, amount, offset);
        }
        journal->gatheredAt = offset;
    }
    std::memcpy(journal->gathered + journal->gatheredBytes, data, static_cast<size_t>(amount));
    journal->gatheredBytes += amount;
    readJournalWrite(journal, data, amount, offset, true);
    return SQLITE_OK;
}

int journalTruncate(sqlite3_file* file, sqlite3_int64 size) {
    const int rc = flushJournal(fileOf(file));
    if (rc != SQLITE_OK) return rc;
    return realOf(file)->pMethods->xTruncate(realOf(file), size);
}

int journalSync(sqlite3_file* file, int flags) {
    const int rc = flushJournal(fileOf(file));
    if (rc != SQLITE_OK) return rc;
    return realOf(file)->pMethods->xSync(realOf(file), flags);
}

// The size the file will have once the gathered bytes are written: they continue a run, so
// they end the file or lie inside it.
int journalFileSize(sqlite3_file* file, sqlite3_int64* size) {
    const File* journal = fileOf(file);
    const int rc = journal->real->pMethods->xFileSize(journal->real, size);
    if (rc == SQLITE_OK && journal->gatheredBytes > 0) {
        *size = std::max(*size, journal->gatheredAt + journal->gatheredBytes);
    }
    return rc;
}

int journalFileControl(sqlite3_file* file, int op, void* argument) {
    const int rc = flushJournal(fileOf(file));
    if (rc != SQLITE_OK) return rc;
    return realOf(file)->pMethods->xFileControl(realOf(file), op, argument);
}

int passLock(sqlite3_file* file, int level) {
    return realOf(file)->pMethods->xLock(realOf(file), level);
}
int passUnlock(sqlite3_file* file, int level) {
    return realOf(file)->pMethods->xUnlock(realOf(file), level);
}
int passCheckReservedLock(sqlite3_file* file, int* reserved) {
    return realOf(file)->pMethods->xCheckReservedLock(realOf(file), reserved);
}
int passSectorSize(sqlite3_file* file) { return realOf(file)->pMethods->xSectorSize(realOf(file)); }
int passDeviceCharacteristics(sqlite3_file* file) {
    return realOf(file)->pMethods->xDeviceCharacteristics(realOf(file));
}

// Version 1: SQLite maps and shares no memory of a rollback journal.
const sqlite3_io_methods kJournalMethods = {
    1,
    journalClose,
    journalRead,
    journalWrite,
    journalTruncate,
    journalSync,
    journalFileSize,
    passLock,
    passUnlock,
    passCheckReservedLock,
    journalFileControl,
    passSectorSize,
    passDeviceCharacteristics,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// --- The main database file: everything passes through; its journal's gathered bytes go
// out before the file is truncated or a page that they hold the original of is written. ---

int databaseClose(sqlite3_file* file) {
    File* database = fileOf(file);
    if (database->partner != nullptr) database->partner->partner = nullptr;
    return database->real->pMethods->xClose(database->real);
}

int databaseRead(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
    return realOf(file)->pMethods->xRead(realOf(file), out, amount, offset);
}

int databaseWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    if (File* journal = fileOf(file)->partner; journal != nullptr) {
        const int rc = flushBeforeDatabaseWrite(journal, offset, offset + amount);
        if (rc != SQLITE_OK) return rc;
    }
    return realOf(file)->pMethods->xWrite(realOf(file), data, amount, offset);
}

int databaseTruncate(sqlite3_file* file, sqlite3_int64 size) {
    if (File* journal = fileOf(file)->partner; journal != nullptr) {
        const int rc = flushJournal(journal);
        if (rc != SQLITE_OK) return rc;
    }
    return realOf(file)->pMethods->xTruncate(realOf(file), size);
}

int databaseSync(sqlite3_file* file, int flags) {
    return realOf(file)->pMethods->xSync(realOf(file), flags);
}

int databaseFileSize(sqlite3_file* file, sqlite3_int64* size) {
    return realOf(file)->pMethods->xFileSize(realOf(file), size);
}

int databaseFileControl(sqlite3_file* file, int op, void* argument) {
    return realOf(file)->pMethods->xFileControl(realOf(file), op, argument);
}

int databaseShmMap(sqlite3_file* file, int region, int regionSize, int extend,
                   void volatile** memory) {
    const sqlite3_io_methods* real = realOf(file)->pMethods;
    if (real->iVersion < 2) return SQLITE_IOERR_SHMMAP;
    return real->xShmMap(realOf(file), region, regionSize, extend, memory);
}
int databaseShmLock(sqlite3_file* file, int offset, int n, int flags) {
    const sqlite3_io_methods* real = realOf(file)->pMethods;
    if (real->iVersion < 2) return SQLITE_IOERR_SHMLOCK;
    return real->xShmLock(realOf(file), offset, n, flags);
}
void databaseShmBarrier(sqlite3_file* file) {
    const sqlite3_io_methods* real = realOf(file)->pMethods;
    if (real->iVersion >= 2) real->xShmBarrier(realOf(file));
}
int databaseShmUnmap(sqlite3_file* file, int deleteFlag) {
    const sqlite3_io_methods* real = realOf(file)->pMethods;
    if (real->iVersion < 2) return SQLITE_OK;
    return real->xShmUnmap(realOf(file), deleteFlag);
}
int databaseFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** pages) {
    const sqlite3_io_methods* real = realOf(file)->pMethods;
    if (real->iVersion < 3) {
        *pages = nullptr;  // SQLite reads instead
        return SQLITE_OK;
    }
    return real->xFetch(realOf(file), offset, amount, pages);
}
int databaseUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* pages) {
    const sqlite3_io_methods* real = realOf(file)->pMethods;
    if (real->iVersion < 3) return SQLITE_OK;
    return real->xUnfetch(realOf(file), offset, pages);
}

const sqlite3_io_methods kDatabaseMethods = {
    3,
    databaseClose,
    databaseRead,
    databaseWrite,
    databaseTruncate,
    databaseSync,
    databaseFileSize,
    passLock,
    passUnlock,
    passCheckReservedLock,
    databaseFileControl,
    passSectorSize,
    passDeviceCharacteristics,
    databaseShmMap,
    databaseShmLock,
    databaseShmBarrier,
    databaseShmUnmap,
    databaseFetch,
    databaseUnfetch,
};

// --- The VFS: files opened as above, everything else is the unix VFS's. ---

int openFile(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    const bool database = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    const bool journal = (flags & SQLITE_OPEN_MAIN_JOURNAL) != 0;
    if (!database && !journal) return unixVfs->xOpen(unixVfs, name, file, flags, outFlags);

    File* ours = new (file) File{};
    ours->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kRealOffset);
    ours->real->pMethods = nullptr;
    const int rc = unixVfs->xOpen(unixVfs, name, ours->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (ours->real->pMethods != nullptr) ours->real->pMethods->xClose(ours->real);
        ours->base.pMethods = nullptr;  // SQLite then calls no xClose
        return rc;
    }
    ours->base.pMethods = database ? &kDatabaseMethods : &kJournalMethods;
    if (journal && name != nullptr) {
        // The database file of the same connection, opened through this VFS before.
        sqlite3_file* owner = sqlite3_database_file_object(name);
        if (owner != nullptr && owner->pMethods == &kDatabaseMethods &&
            fileOf(owner)->partner == nullptr) {
            ours->partner = fileOf(owner);
            fileOf(owner)->partner = ours;
        }
    }
    return SQLITE_OK;
}

int deleteFile(sqlite3_vfs*, const char* name, int syncFolder) {
    return unixVfs->xDelete(unixVfs, name, syncFolder);
}
int access(sqlite3_vfs*, const char* name, int flags, int* result) {
    return unixVfs->xAccess(unixVfs, name, flags, result);
}
int fullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return unixVfs->xFullPathname(unixVfs, name, size, out);
}
void* dlOpen(sqlite3_vfs*, const char* name) { return unixVfs->xDlOpen(unixVfs, name); }
void dlError(sqlite3_vfs*, int size, char* out) { unixVfs->xDlError(unixVfs, size, out); }
void (*dlSym(sqlite3_vfs*, void* library, const char* symbol))(void) {
    return unixVfs->xDlSym(unixVfs, library, symbol);
}
void dlClose(sqlite3_vfs*, void* library) { unixVfs->xDlClose(unixVfs, library); }
int randomness(sqlite3_vfs*, int size, char* out) {
    return unixVfs->xRandomness(unixVfs, size, out);
}
int sleep(sqlite3_vfs*, int microseconds) { return unixVfs->xSleep(unixVfs, microseconds); }
int currentTime(sqlite3_vfs*, double* now) { return unixVfs->xCurrentTime(unixVfs, now); }
int getLastError(sqlite3_vfs*, int size, char* out) {
    return unixVfs->xGetLastError(unixVfs, size, out);
}
int currentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) {
    return unixVfs->xCurrentTimeInt64(unixVfs, now);
}
int setSystemCall(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call) {
    return unixVfs->xSetSystemCall(unixVfs, name, call);
}
sqlite3_syscall_ptr getSystemCall(sqlite3_vfs*, const char* name) {
    return unixVfs->xGetSystemCall(unixVfs, name);
}
const char* nextSystemCall(sqlite3_vfs*, const char* name) {
    return unixVfs->xNextSystemCall(unixVfs, name);
}

sqlite3_vfs layerVfs = {};

}  // namespace

bool registerJournalVfs() {
    unixVfs = sqlite3_vfs_find("unix");
    // The methods forwarded below are those of version 3.
    if (unixVfs == nullptr || unixVfs->iVersion < 3) return false;
    layerVfs.iVersion = 3;
    layerVfs.szOsFile = kRealOffset + unixVfs->szOsFile;
    layerVfs.mxPathname = unixVfs->mxPathname;
    layerVfs.zName = kJournalVfsName;
    layerVfs.xOpen = openFile;
    layerVfs.xDelete = deleteFile;
    layerVfs.xAccess = access;
    layerVfs.xFullPathname = fullPathname;
    layerVfs.xDlOpen = dlOpen;
    layerVfs.xDlError = dlError;
    layerVfs.xDlSym = dlSym;
    layerVfs.xDlClose = dlClose;
    layerVfs.xRandomness = randomness;
    layerVfs.xSleep = sleep;
    layerVfs.xCurrentTime = currentTime;
    layerVfs.xGetLastError = getLastError;
    layerVfs.xCurrentTimeInt64 = currentTimeInt64;
    layerVfs.xSetSystemCall = setSystemCall;
    layerVfs.xGetSystemCall = getSystemCall;
    layerVfs.xNextSystemCall = nextSystemCall;
    return sqlite3_vfs_register(&layerVfs, 0) == SQLITE_OK;
}

}  // namespace yubin::db::detail
