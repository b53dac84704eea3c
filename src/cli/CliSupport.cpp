#include "cli/CliSupport.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "base/Message.h"
#include "cli/SafeText.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace fs = std::filesystem;

void PrintError(const YubinError& error) {
    // Descriptions name paths and lines that came from outside: shown, never obeyed.
    std::cerr << "yubinbox: "
              << Format(Tr("エラー {1}: {2}"), error.number(),
                        Printable(error.translatedDescription()))
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
        throw YubinError(
            ErrorCode::BadSettingsValue,
            Message("パス {1}… に NUL 文字が含まれています。正しいパスを指定してください。",
                    path.substr(0, path.find('\0'))));
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int error = errno;
        switch (error) {
            case ENOENT:
            case ENOTDIR:
                throw YubinError(ErrorCode::FileNotFound,
                                 Message("ファイル {1} がありません。", path));
            case EACCES:
                throw YubinError(ErrorCode::PermissionDenied,
                                 Message("ファイル {1} を調べる権限がありません。", path));
            default:
                // A name too long, too many links, an I/O fault: said with the system's number.
                throw YubinError(ErrorCode::PathFileAccess,
                                 Message("ファイル {1} を調べられません（{2}、errno {3}）。",
                                         path.size() > 200 ? path.substr(0, 200) + "…" : path,
                                         std::strerror(error), error));
        }
    }
    if (S_ISREG(st.st_mode)) return;
    const char* what =
        S_ISDIR(st.st_mode)
            ? TrMark("{1} はフォルダです。データベースのファイルを指定してください。")
        : S_ISFIFO(st.st_mode)
            ? TrMark("{1} は名前付きパイプ（FIFO）です。データベースのファイルを指定してください。")
        : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)
            ? TrMark("{1} はデバイスです。データベースのファイルを指定してください。")
        : S_ISSOCK(st.st_mode)
            ? TrMark("{1} はソケットです。データベースのファイルを指定してください。")
            : TrMark(
                  "{1} "
                  "は通常のファイルではないものです。データベースのファイルを指定してください。");
    throw YubinError(ErrorCode::PathFileAccess, Message(what, path));
}

void RequireExistingDatabase(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        throw YubinError(ErrorCode::FileNotFound,
                         Message("データベース {1} がありません。先に作成してください: yubinbox "
                                 "createdb {1}（空のデータベース）、または yubinbox newdb フォルダ"
                                 "（フォルダに yubinbox.mdb を作り、設定ファイルにあなたを作成者と"
                                 "して記録）。",
                                 path));
    }
    RequireExistingFile(path);
}

int FinishStandardOutput(int exitCode) {
    std::cout.flush();
    const bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (!failed) return exitCode;
    // The failing write may lie far back; its error number is gone by now.
    std::cerr << "yubinbox: "
              << Tr("標準出力に書き込めません（ディスクがいっぱいか、出力先が閉じています）。")
              << std::endl;
    return exitCode == kExitOk ? kExitFailure : exitCode;
}

std::string DatabaseFromOptionOrSettings(const std::string& option) {
    if (!option.empty()) return option;
    mdFileCreate::SetIniFilePath();
    std::string path = mdFileCreate::ReadKey("path");
    if (path.empty()) {
        throw YubinError(ErrorCode::FileNotFound, Message("設定ファイル {1} に path がありません。",
                                                          mdFileCreate::strIniFile));
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
