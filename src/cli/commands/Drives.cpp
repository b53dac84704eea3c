// yubinbox drives: the places a database may be created, as the creation window lists them.
#include <iostream>
#include <string>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "settings/mdGETUNC.h"

namespace yubin::cli {

CommandRun SetupDrives(CLI::App&) {
    return [] {
        for (const std::string& entry : mdGETUNC::GetDriveList()) std::cout << entry << '\n';
        return kExitOk;
    };
}

}  // namespace yubin::cli
