#include "import/Administration.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "base/Error.h"
#include "settings/mdFileCreate.h"
#include "settings/mdGETUNC.h"
#include "store/mdlYubinBox.h"

namespace yubin::administration {

namespace fs = std::filesystem;

std::string BackupPath(const std::string& databasePath, const std::string& stamp) {
    for (int number = 1;; ++number) {
        const std::string suffix =
            "_" + stamp + (number == 1 ? std::string() : "_" + std::to_string(number));
        const std::string candidate = mdlYubinBox::InsertBeforeMdbExtension(databasePath, suffix);
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
}

std::string MakeNewDatabase(const std::string& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw YubinError(ErrorCode::PathNotFound, Message("フォルダ {1} がありません。", folder));
    }
    mdlYubinBox::strMdbFile = (fs::path(folder) / "yubinbox.mdb").string();
    const std::string& database = mdlYubinBox::strMdbFile;
    // A path the settings file could not give back is refused before anything is moved.
    mdFileCreate::CheckIniFileValues(database, mdFileCreate::GetLoginUserName());
    if (fs::exists(database, ec)) {
        // A backup is never replaced: the move refuses a name that was taken meanwhile, and
        // refuses a database that any connection of ours holds (an import running on it).
        const std::string stamp = mdlYubinBox::GetFileDate(database);
        for (;;) {
            try {
                db::moveDatabaseFile(database, BackupPath(database, stamp));
                break;
            } catch (const YubinError& error) {
                if (error.code() != ErrorCode::FileAlreadyExists) throw;
            }
        }
    }
    mdlYubinBox::CreateMdb();
    mdFileCreate::IniFileCreate(database, mdFileCreate::GetLoginUserName());
    return database;
}

void PointSettingsAtDatabase(const std::string& databasePath) {
    mdFileCreate::CheckIniFileValues(databasePath, "");
    std::error_code ec;
    if (!fs::is_regular_file(databasePath, ec)) {
        throw YubinError(ErrorCode::FileNotFound,
                         Message("ファイル {1} がありません。", databasePath));
    }
    {
        db::Connection connection;  // refuses a file that is no database of ours
        connection.open(mdlYubinBox::ConnectionString(databasePath));
        connection.close();
    }
    mdFileCreate::IniFileCreate(databasePath, "");
}

bool IsDatabaseRefusal(const YubinError& error) {
    switch (error.code()) {
        case ErrorCode::FileNotFound:
        case ErrorCode::DatabaseNotFound:
        case ErrorCode::NotOurDatabase:
        case ErrorCode::CannotOpenDatabase:
        case ErrorCode::LockedByOtherUser:
            return true;
        default:
            return false;
    }
}

void PrepareImportFromSettings(std::optional<std::chrono::milliseconds> probeWait) {
    mdFileCreate::SetIniFilePath();
    std::error_code ec;
    if (!fs::exists(mdFileCreate::strIniFile, ec)) {
        throw YubinError(ErrorCode::FileNotFound,
                         Message("設定ファイル {1} がありません。", mdFileCreate::strIniFile));
    }
    if (mdFileCreate::ReadKey("author") !=
        mdFileCreate::AuthorValue(mdFileCreate::GetLoginUserName())) {
        throw YubinError(ErrorCode::PermissionDenied, Message(kNoImportPermission));
    }
    mdlYubinBox::strMdbFile = mdFileCreate::ReadKey("path");
    if (mdlYubinBox::strMdbFile.empty()) {
        throw YubinError(ErrorCode::FileNotFound, Message("設定ファイルに path がありません。"));
    }
    if (!fs::exists(mdlYubinBox::strMdbFile)) mdlYubinBox::CreateMdb();

    switch (ProbeDatabase(mdlYubinBox::strMdbFile, probeWait)) {
        case DatabaseAccess::DoesNotOpen:
            throw YubinError(ErrorCode::CannotOpenDatabase,
                             Message("データベース {1} を開けません。", mdlYubinBox::strMdbFile));
        case DatabaseAccess::ReadOnly:
            throw YubinError(ErrorCode::PermissionDenied, Message(kNoImportPermission));
        case DatabaseAccess::Busy:
            throw YubinError(ErrorCode::LockedByOtherUser, Message(kDatabaseInUse));
        case DatabaseAccess::Writable:
            break;
    }
}

namespace {

// A shorter wait for another program for the object's life.
class ShorterLockWait {
  public:
    explicit ShorterLockWait(std::optional<std::chrono::milliseconds> wait)
        : previous_(db::lockWait()) {
        if (wait) db::setLockWait(std::min(*wait, previous_));
    }
    ~ShorterLockWait() { db::setLockWait(previous_); }
    ShorterLockWait(const ShorterLockWait&) = delete;
    ShorterLockWait& operator=(const ShorterLockWait&) = delete;

  private:
    std::chrono::milliseconds previous_;
};

bool HeldByOtherProgram(const YubinError& error) {
    return error.code() == ErrorCode::LockedByOtherUser;
}

}  // namespace

DatabaseAccess ProbeDatabase(const std::string& databasePath,
                             std::optional<std::chrono::milliseconds> wait) {
    const ShorterLockWait shorter(wait);
    mdlYubinBox::CloseMdb();
    try {
        mdlYubinBox::cnMdb = std::make_unique<db::Connection>();
        mdlYubinBox::cnMdb->open(mdlYubinBox::ConnectionString(databasePath));
    } catch (const YubinError& error) {
        mdlYubinBox::cnMdb.reset();
        return HeldByOtherProgram(error) ? DatabaseAccess::Busy : DatabaseAccess::DoesNotOpen;
    } catch (const std::exception&) {
        mdlYubinBox::cnMdb.reset();
        return DatabaseAccess::DoesNotOpen;
    }
    DatabaseAccess access = DatabaseAccess::Writable;
    try {
        mdlYubinBox::strSQL = "UPDATE DUMMY SET DKEY = '1'";
        mdlYubinBox::cnMdb->execute(mdlYubinBox::strSQL);
    } catch (const YubinError& error) {
        // The verdict rests on the update alone; a wait that ran out is no verdict.
        access = HeldByOtherProgram(error) ? DatabaseAccess::Busy : DatabaseAccess::ReadOnly;
    }
    try {
        mdlYubinBox::CloseMdb();
    } catch (const YubinError&) {
        // A connection that refused the update may refuse its closing too; it is released.
    }
    return access;
}

}  // namespace yubin::administration
