#include "store/SqliteHandle.h"

#include <mutex>

#include "store/JournalVfs.h"

namespace yubin::db::detail {

namespace {
const char* layerVfs = nullptr;  // SQLite's default until registered
}  // namespace

void initializeSqlite() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Refused (harmlessly) when some other code of the process started SQLite first.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        // A sort may hold up to 8 MB before it spills into temporary files, whatever the
        // small page cache: the import's index builds then sort in one pass.
        sqlite3_config(SQLITE_CONFIG_PMASZ, 8 * 1024 * 1024 / kPageSize);
        sqlite3_initialize();
        if (registerJournalVfs()) layerVfs = kJournalVfsName;
    });
}

const char* sqliteVfs() { return layerVfs; }

YubinError sqliteError(sqlite3* db, int rc, std::string_view what) {
    return sqliteError(db, rc, Message::Verbatim(std::string(what)));
}

YubinError sqliteError(sqlite3* db, int rc, const Message& what) {
    const int primary = rc & 0xff;
    const char* detail = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    const Message message =
        primary == SQLITE_BUSY
            ? Message(
                  "{1}他のプログラムがデータベースを使用しているため、待ちましたが処理できませ"
                  "んでした。そのプログラムを終了してから、もう一度実行してください。",
                  what)
        : detail != nullptr && *detail != '\0' ? Message("{1}（{2}）", what, detail)
                                               : what;
    ErrorCode code = ErrorCode::EngineFailure;
    switch (primary) {
        case SQLITE_READONLY:
            code = ErrorCode::ReadOnly;
            break;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            code = ErrorCode::LockedByOtherUser;
            break;
        case SQLITE_PERM:
        case SQLITE_AUTH:
            code = ErrorCode::PermissionDenied;
            break;
        case SQLITE_CANTOPEN:
            code = ErrorCode::CannotOpenDatabase;
            break;
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            code = ErrorCode::NotOurDatabase;
            break;
        case SQLITE_CONSTRAINT:
            if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY) {
                code = ErrorCode::DuplicateKey;
            } else if (rc == SQLITE_CONSTRAINT_TRIGGER || rc == SQLITE_CONSTRAINT_NOTNULL) {
                code = ErrorCode::IndexNullValue;
            } else {
                code = ErrorCode::InvalidArgument;
            }
            break;
        default:
            break;
    }
    return YubinError(code, message);
}

void throwSqlite(sqlite3* db, int rc, std::string_view what) { throw sqliteError(db, rc, what); }

void throwSqlite(sqlite3* db, int rc, const Message& what) { throw sqliteError(db, rc, what); }

StatementPtr prepare(sqlite3* db, std::string_view sql, bool persistent) {
    sqlite3_stmt* statement = nullptr;
    const int rc =
        sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                           persistent ? SQLITE_PREPARE_PERSISTENT : 0, &statement, nullptr);
    StatementPtr owned(statement);
    if (rc != SQLITE_OK) throwSqlite(db, rc, Message("SQL 文を準備できません。"));
    return owned;
}

void run(sqlite3* db, const char* sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    sqlite3_free(error);
    if (rc != SQLITE_OK)
        throwSqlite(db, sqlite3_extended_errcode(db),
                    Message("データベースの操作に失敗しました。"));
}

void runPrepared(sqlite3* db, sqlite3_stmt* statement, std::string_view what) {
    StatementReset reset(statement);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) throwSqlite(db, sqlite3_extended_errcode(db), what);
}

std::string quoteIdentifier(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out += '"';
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

Transaction::Transaction(sqlite3* db) : db_(db), nested_(sqlite3_get_autocommit(db) == 0) {
    run(db_, nested_ ? kBeginNested : "BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (done_) return;
    sqlite3_exec(db_, nested_ ? kRollbackNested : "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    run(db_, nested_ ? kCommitNested : "COMMIT");
    done_ = true;
}

}  // namespace yubin::db::detail
