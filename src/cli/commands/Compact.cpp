// yubinbox compact FILE: the database compacted in place.
#include <memory>
#include <string>

#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

CommandRun SetupCompact(CLI::App& command) {
    auto file = std::make_shared<std::string>();
    command.add_option("FILE", *file, Tr("データベースファイル"))->required();
    return [file] {
        RequireExistingFile(*file);
        mdlYubinBox::CompactMdb(*file);
        return kExitOk;
    };
}

}  // namespace yubin::cli
