// yubinbox use DBFILE: the settings file pointed at an existing database of ours.
#include <iostream>
#include <memory>
#include <string>

#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "import/Administration.h"
#include "settings/mdFileCreate.h"

namespace yubin::cli {

namespace {

int RunUse(const std::string& file) {
    administration::PointSettingsAtDatabase(Absolute(file));
    mdFileCreate::SetIniFilePath();
    std::cout << mdFileCreate::strIniFile << std::endl;
    return kExitOk;
}

}  // namespace

CommandRun SetupUse(CLI::App& command) {
    auto file = std::make_shared<std::string>();
    command.add_option("DBFILE", *file, Tr("データベースファイル"))->required();
    return [file] { return RunUse(*file); };
}

}  // namespace yubin::cli
