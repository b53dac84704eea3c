#include "cli/CliSupport.h"

#include <filesystem>
#include <iostream>

#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace fs = std::filesystem;

void PrintError(const YubinError& error) {
    std::cerr << "yubinbox: エラー " << error.number() << ": " << error.description() << std::endl;
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
    if (!fs::is_regular_file(path)) {
        throw YubinError(ErrorCode::FileNotFound, "ファイル " + path + " がありません。");
    }
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
