#include "import/Administration.h"

#include <filesystem>

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
        throw YubinError(ErrorCode::PathNotFound, "フォルダ " + folder + " がありません。");
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
        throw YubinError(ErrorCode::FileNotFound, "ファイル " + databasePath + " がありません。");
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
            return true;
        default:
            return false;
    }
}

void PrepareImportFromSettings() {
    mdFileCreate::SetIniFilePath();
    std::error_code ec;
    if (!fs::exists(mdFileCreate::strIniFile, ec)) {
        throw YubinError(ErrorCode::FileNotFound,
                         "設定ファイル " + mdFileCreate::strIniFile + " がありません。");
    }
    if (mdFileCreate::ReadKey("author") !=
        mdFileCreate::AuthorValue(mdFileCreate::GetLoginUserName())) {
        throw YubinError(ErrorCode::PermissionDenied, kNoImportPermission);
    }
    mdlYubinBox::strMdbFile = mdFileCreate::ReadKey("path");
    if (mdlYubinBox::strMdbFile.empty()) {
        throw YubinError(ErrorCode::FileNotFound, "設定ファイルに path がありません。");
    }
    if (!fs::exists(mdlYubinBox::strMdbFile)) mdlYubinBox::CreateMdb();

    switch (ProbeDatabase(mdlYubinBox::strMdbFile)) {
        case DatabaseAccess::DoesNotOpen:
            throw YubinError(ErrorCode::CannotOpenDatabase,
                             "データベース " + mdlYubinBox::strMdbFile + " を開けません。");
        case DatabaseAccess::ReadOnly:
            throw YubinError(ErrorCode::PermissionDenied, kNoImportPermission);
        case DatabaseAccess::Writable:
            break;
    }
}

DatabaseAccess ProbeDatabase(const std::string& databasePath) {
    if (!mdlYubinBox::OpenMdb(databasePath)) {
        mdlYubinBox::cnMdb.reset();
        return DatabaseAccess::DoesNotOpen;
    }
    bool writable = true;
    try {
        mdlYubinBox::strSQL = "UPDATE DUMMY SET DKEY = '1'";
        mdlYubinBox::cnMdb->execute(mdlYubinBox::strSQL);
    } catch (const YubinError&) {
        writable = false;  // the verdict rests on the update alone
    }
    try {
        mdlYubinBox::CloseMdb();
    } catch (const YubinError&) {
        // A connection that refused the update may refuse its closing too; it is released.
    }
    return writable ? DatabaseAccess::Writable : DatabaseAccess::ReadOnly;
}

}  // namespace yubin::administration
