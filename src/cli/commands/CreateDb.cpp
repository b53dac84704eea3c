// yubinbox createdb FILE [--force]: an empty database of the system's schema.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "base/Error.h"
#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace {

struct CreateDbOptions {
    std::string file;
    bool force = false;
};

int RunCreateDb(const CreateDbOptions& options) {
    if (!options.force && std::filesystem::exists(options.file)) {
        throw YubinError(
            ErrorCode::DatabaseExists,
            Message("ファイル {1} は既にあります（置き換えるには --force）。", options.file));
    }
    mdlYubinBox::strMdbFile = options.file;
    mdlYubinBox::CreateMdb();
    std::cout << options.file << std::endl;
    return kExitOk;
}

}  // namespace

CommandRun SetupCreateDb(CLI::App& command) {
    auto options = std::make_shared<CreateDbOptions>();
    command.add_option("FILE", options->file, Tr("データベースファイル"))->required();
    command.add_flag("--force", options->force, Tr("既存のファイルを置き換える"));
    return [options] { return RunCreateDb(*options); };
}

}  // namespace yubin::cli
