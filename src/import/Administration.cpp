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

void PrepareImportFromSettings() {
    mdFileCreate::SetIniFilePath();
    std::error_code ec;
    if (!fs::exists(mdFileCreate::strIniFile, ec)) {
        throw YubinError(ErrorCode::FileNotFound,
                         "設定ファイル " + mdFileCreate::strIniFile + " がありません。");
    }
    if (mdFileCreate::ReadKey("author") != mdFileCreate::GetLoginUserName() + "\t0") {
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
