// yubinbox settings: the settings file's path and its keys.
#include <iostream>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "settings/mdFileCreate.h"

namespace yubin::cli {

CommandRun SetupSettings(CLI::App&) {
    return [] {
        mdFileCreate::SetIniFilePath();
        std::cout << mdFileCreate::strIniFile << '\n';
        for (const char* key : {"path", "author", "csvzpath", "csvjpath"}) {
            std::cout << key << '=' << mdFileCreate::ReadKey(key) << '\n';
        }
        return kExitOk;
    };
}

}  // namespace yubin::cli
