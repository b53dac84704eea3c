#include "import/Administration.h"

#include <filesystem>

#include "settings/mdFileCreate.h"
#include "settings/mdGETUNC.h"
#include "store/Error.h"
#include "store/mdlYubinBox.h"

namespace yubin::administration {

namespace fs = std::filesystem;

std::string BackupPath(const std::string& databasePath, const std::string& stamp) {
    return mdlYubinBox::InsertBeforeMdbExtension(databasePath, "_" + stamp);
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
        const std::string backup = BackupPath(database, mdlYubinBox::GetFileDate(database));
        if (fs::exists(backup, ec) && !fs::remove(backup, ec)) {
            throw YubinError(ErrorCode::PathFileAccess,
                             "古いバックアップ " + backup + " を削除できません。");
        }
        fs::rename(database, backup, ec);
        if (ec) {
            throw YubinError(
                ErrorCode::PathFileAccess,
                "データベース " + database + " を " + backup + " に移せません: " + ec.message());
        }
    }
    mdlYubinBox::CreateMdb();
    mdFileCreate::IniFileCreate(database, mdFileCreate::GetLoginUserName());
    return database;
}

void PrepareImportFromSettings() {
    mdFileCreate::SetIniFilePath();
    if (!fs::exists(mdFileCreate::strIniFile)) {
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

    if (!mdlYubinBox::OpenMdb(mdlYubinBox::strMdbFile)) {
        throw YubinError(ErrorCode::CannotOpenDatabase,
                         "データベース " + mdlYubinBox::strMdbFile + " を開けません。");
    }
    bool writable = true;
    try {
        mdlYubinBox::strSQL = "UPDATE DUMMY SET DKEY = '1'";
        mdlYubinBox::cnMdb->execute(mdlYubinBox::strSQL);
    } catch (const YubinError&) {
        writable = false;
    }
    mdlYubinBox::CloseMdb();
    if (!writable) throw YubinError(ErrorCode::PermissionDenied, kNoImportPermission);
}

}  // namespace yubin::administration
