// The postal database file: creation, the shared connection, date stamps and compaction.
#include "store/mdlYubinBox.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "store/LockFile.h"
#include "store/PostalSchema.h"
#include "store/TextRules.h"

namespace yubin::mdlYubinBox {

const char* const kConnectionPrefix = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";

std::unique_ptr<db::Connection> cnMdb;
std::string strSQL;
std::string strMdbFile;

std::string ConnectionString(const std::string& path) {
    // A path holding ";" or a quote is quoted, so that the whole path is the data source.
    return std::string(kConnectionPrefix) + db::quoteConnectionValue(path) + ";" +
           "Jet OLEDB:Database Password=;";
}

namespace {

db::Connection& sharedConnection() {
    if (!cnMdb) {
        throw YubinError(ErrorCode::ObjectClosed, Message("データベースへの接続がありません。"));
    }
    return *cnMdb;
}

}  // namespace

void CreateMdb() {
    // 1. Remove the old file; a missing or busy one is no fault here.
    try {
        db::deleteDatabaseFile(strMdbFile);
    } catch (const YubinError&) {
    }

    // 2. An empty database.
    strSQL = kConnectionPrefix;
    db::createDatabase(ConnectionString(strMdbFile));

    // 3. The shared connection; a failure shows at the first statement.
    OpenMdb(strMdbFile);

    // 4. Tables and the one DUMMY row.
    for (const char* statement : kSchemaStatements) {
        strSQL = statement;
        sharedConnection().execute(strSQL);
    }

    // 5. The columns that accept the empty text.
    for (const char* column : kZeroLengthColumns) {
        sharedConnection().setAllowZeroLength("ZIPALL", column, true);
    }

    // 6. No connection stays open.
    CloseMdb();

    // 7. The hidden marks, through a connection of their own.
    db::Connection catalog;
    catalog.open(ConnectionString(strMdbFile));
    for (const char* table : kHiddenTables) catalog.setTableAttributes(table, 1);
    catalog.close();
}

bool OpenMdb(const std::string& path) {
    // The connection it replaces is closed first, outside the trap: a failure to store its
    // appended rows is the caller's to report, never lost in a destructor.
    CloseMdb();
    try {
        cnMdb = std::make_unique<db::Connection>();
        strSQL = kConnectionPrefix;
        cnMdb->open(ConnectionString(path));
        return true;
    } catch (...) {
        return false;
    }
}

std::string GetFileDate(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        throw YubinError(ErrorCode::FileNotFound, Message("ファイル {1} が見つかりません。", path));
    }
    std::tm local{};
    if (localtime_r(&st.st_mtime, &local) == nullptr) {
        throw YubinError(ErrorCode::InvalidArgument,
                         Message("ファイル {1} の更新日時を読めません。", path));
    }
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%Y%m%d", &local);
    return stamp;
}

void CompactMdb(const std::string& path, db::CompactionNeed need) {
    // Copy, deletion and rename in one: the compacted copy replaces the file by one rename.
    // Reached through a symbolic link, the real file is compacted in its own folder and the
    // link stays a link: replacing the link by a file would cut every other user off.
    const std::string real = db::detail::resolvedDatabasePath(path);
    const std::string temporary = InsertBeforeMdbExtension(real, "JRO");
    db::compactDatabaseInPlace(ConnectionString(real), ConnectionString(temporary), need);
}

void FlushDue() { db::flushConnections(true); }

void Flush() { db::flushConnections(false); }

void CloseMdb() {
    if (!cnMdb) return;
    std::unique_ptr<db::Connection> connection = std::move(cnMdb);
    connection->close();
}

std::string InsertBeforeMdbExtension(const std::string& path, const std::string& infix) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(path).substr(nameStart);
    constexpr std::string_view kExtension = ".mdb";
    if (name.size() >= kExtension.size() &&
        db::detail::namesEqual(name.substr(name.size() - kExtension.size()), kExtension)) {
        const size_t at = path.size() - kExtension.size();
        return path.substr(0, at) + infix + path.substr(at);
    }
    return path + infix;
}

}  // namespace yubin::mdlYubinBox
