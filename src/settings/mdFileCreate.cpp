#include "settings/mdFileCreate.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "base/Error.h"
#include "base/Program.h"
#include "settings/FileIo.h"
#include "settings/Profile.h"
#include "settings/mdGETUNC.h"

namespace yubin::mdFileCreate {

namespace fs = std::filesystem;

std::string strIniFile;

// Examples of the two usual places, as paths of this system: a file of the user's own and a
// file server's share where it is mounted.
const std::array<const char*, 7> kCommentLines = {
    "'yubinbox.mdb ファイルのファイルパス指定",
    "'ファイルサーバーに置いたときは、修正してください。",
    "'(例1)",
    "'path=/home/ユーザー名/Documents/yubinbox.mdb",
    "'(例2)",
    "'path=/mnt/サーバ名/共有フォルダ名/yubinbox.mdb",
    "'",
};

namespace {

std::optional<std::string>& ExecutableNameOverride() {
    static std::optional<std::string> name;
    return name;
}

}  // namespace

// Only named here: reading the settings makes no folder; writing them does.
void SetIniFilePath() { strIniFile = mdGETUNC::DocumentsFolderPath() + "/yubinbox.ini"; }

void SetExecutableBaseNameForTesting(std::optional<std::string> name) {
    ExecutableNameOverride() = std::move(name);
}

std::string ExecutableBaseName() {
    if (ExecutableNameOverride()) return *ExecutableNameOverride();
    return RunningExecutableBaseName();
}

namespace {

// The file IniFileCreate writes: the documents folder + "/" + the executable's name + ".ini".
std::string IniFileCreatePath() {
    return mdGETUNC::GetMyDocumentsPath() + "/" + ExecutableBaseName() + ".ini";
}

// `pattern` names the value ({1}) and the problem ({2}).
[[noreturn]] void RefuseValue(const char* pattern, const std::string& value,
                              const Message& problem) {
    throw YubinError(ErrorCode::BadSettingsValue, Message(pattern, value, problem));
}

}  // namespace

std::string AuthorValue(const std::string& userName) { return userName + "\t0"; }

void CheckIniFileValues(const std::string& databasePath, const std::string& userName) {
    if (const std::optional<Message> problem = profile::ValueProblem(databasePath)) {
        RefuseValue(TrMark("データベースのパス {1} は設定ファイルに書けません（{2}）。何も変更して"
                           "いません。"),
                    databasePath, *problem);
    }
    if (const std::optional<Message> problem = profile::ValueProblem(AuthorValue(userName))) {
        RefuseValue(TrMark("ユーザー名 {1} は設定ファイルに書けません（{2}）。何も変更していませ"
                           "ん。"),
                    userName, *problem);
    }
    settings::CheckReplaceableSettingsFile(IniFileCreatePath());
}

void IniFileCreate(const std::string& databasePath, const std::string& userName) {
    CheckIniFileValues(databasePath, userName);
    const std::string author = AuthorValue(userName);
    const std::string file = IniFileCreatePath();
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        std::string block;
        for (const char* line : kCommentLines) block += std::string(line) + "\r\n";
        settings::CreateFileAtomically(file, block);
    }
    profile::WritePrivateProfileString(kSection, "path", databasePath, file);
    profile::WritePrivateProfileString(kSection, "author", author, file);
}

std::string ReadKey(const std::string& key) {
    return profile::GetPrivateProfileString(kSection, key, "", strIniFile);
}

void CheckImportPath(const std::string& key, const std::string& path) {
    if (const std::optional<Message> problem = profile::ValueProblem(path)) {
        throw YubinError(ErrorCode::BadSettingsValue,
                         Message("データファイルのパス {1} は設定ファイル（キー {2}）に書けません"
                                 "（{3}）。取り込みは始めていません。",
                                 path, key, *problem));
    }
    if (!strIniFile.empty()) settings::CheckReplaceableSettingsFile(strIniFile);
}

void StoreImportPath(const std::string& key, const std::string& path) {
    if (strIniFile.empty()) {
        throw YubinError(
            ErrorCode::PathFileAccess,
            Message("設定ファイルの場所が決まっていないため、{1} を記録できません。", key));
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(strIniFile).parent_path(), ec);
    profile::WritePrivateProfileString(kSection, key, path, strIniFile);
}

std::string GetLoginUserName() {
    const uid_t uid = ::geteuid();
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc == 0 && found != nullptr && found->pw_name != nullptr && *found->pw_name != '\0') {
            return found->pw_name;
        }
        return std::to_string(uid);
    }
}

}  // namespace yubin::mdFileCreate
