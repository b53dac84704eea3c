// yubinbox newdb FOLDER: yubinbox.mdb made in the folder as the creation window makes it (an
// older one kept under a dated name) and the settings file pointed at it.
#include <iostream>
#include <memory>
#include <string>

#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "import/Administration.h"
#include "settings/mdFileCreate.h"

namespace yubin::cli {

CommandRun SetupNewDb(CLI::App& command) {
    auto folder = std::make_shared<std::string>();
    command.add_option("FOLDER", *folder, Tr("フォルダー"))->required();
    return [folder] {
        const std::string database = administration::MakeNewDatabase(Absolute(*folder));
        mdFileCreate::SetIniFilePath();
        std::cout << database << '\n' << mdFileCreate::strIniFile << std::endl;
        return kExitOk;
    };
}

}  // namespace yubin::cli
