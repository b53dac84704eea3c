#include "cli/CliSupport.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "cli/SafeText.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace fs = std::filesystem;

void PrintError(const YubinError& error) {
    // Descriptions name paths and lines that came from outside: shown, never obeyed.
    std::cerr << "yubinbox: エラー " << error.number() << ": " << Printable(error.description())
              << std::endl;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

std::string ForTerminal(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

void RequireExistingFile(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        throw YubinError(ErrorCode::BadSettingsValue,
                         "パス " + path.substr(0, path.find('\0')) +
                             "… に NUL 文字が含まれています。正しいパスを指定してください。");
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        switch (error) {
            case ENOENT:
            case ENOTDIR:
                throw YubinError(ErrorCode::FileNotFound, "ファイル " + path + " がありません。");
            case EACCES:
                throw YubinError(ErrorCode::PermissionDenied,
                                 "ファイル " + path + " を調べる権限がありません。");
            default:
                // A name too long, too many links, an I/O fault: said with the system's number.
                throw YubinError(ErrorCode::PathFileAccess,
                                 "ファイル " +
                                     (path.size() > 200 ? path.substr(0, 200) + "…" : path) +
                                     " を調べられません（" + std::strerror(error) + "、errno " +
                                     std::to_string(error) + "）。");
        }
    }
    if (S_ISREG(st.st_mode)) return;
    const char* what = S_ISDIR(st.st_mode)    ? "フォルダ"
                       : S_ISFIFO(st.st_mode) ? "名前付きパイプ（FIFO）"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "デバイス"
                       : S_ISSOCK(st.st_mode)                       ? "ソケット"
                                              : "通常のファイルではないもの";
    throw YubinError(ErrorCode::PathFileAccess, path + " は" + what +
                                                    "です。データベースのファイルを指定してくだ"
                                                    "さい。");
}

void RequireExistingDatabase(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        throw YubinError(ErrorCode::FileNotFound,
                         "データベース " + path +
                             " がありません。先に作成してください: yubinbox createdb " + path +
                             "（空のデータベース）、または yubinbox newdb フォルダ（フォルダに "
                             "yubinbox.mdb を作り、設定ファイルにあなたを作成者として記録）。");
    }
    RequireExistingFile(path);
}

int FinishStandardOutput(int exitCode) {
    std::cout.flush();
    const bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (!failed) return exitCode;
    // The failing write may lie far back; its error number is gone by now.
    std::cerr
        << "yubinbox: 標準出力に書き込めません（ディスクがいっぱいか、出力先が閉じています）。"
        << std::endl;
    return exitCode == kExitOk ? kExitFailure : exitCode;
}

std::string DatabaseFromOptionOrSettings(const std::string& option) {
    if (!option.empty()) return option;
    mdFileCreate::SetIniFilePath();
    std::string path = mdFileCreate::ReadKey("path");
    if (path.empty()) {
        throw YubinError(ErrorCode::FileNotFound,
                         "設定ファイル " + mdFileCreate::strIniFile + " に path がありません。");
    }
    return path;
}

std::unique_ptr<db::Connection> Connect(const std::string& path) {
    RequireExistingFile(path);
    auto connection = std::make_unique<db::Connection>();
    connection->open(mdlYubinBox::ConnectionString(path));
    return connection;
}

}  // namespace yubin::cli
