// yubinbox tables FILE [--all]: the tables of a database, one a line.
#include <iostream>
#include <memory>
#include <string>

#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "store/Engine.h"

namespace yubin::cli {

namespace {

struct TablesOptions {
    std::string file;
    bool all = false;  // the hidden tables too
};

int RunTables(const TablesOptions& options) {
    auto connection = Connect(options.file);
    for (const db::TableInfo& table : connection->tables(options.all)) {
        std::cout << table.name << (table.hidden ? "\thidden" : "") << '\n';
    }
    return kExitOk;
}

}  // namespace

CommandRun SetupTables(CLI::App& command) {
    auto options = std::make_shared<TablesOptions>();
    command.add_option("FILE", options->file, Tr("データベースファイル"))->required();
    command.add_flag("--all", options->all, Tr("隠しテーブルも表示"));
    return [options] { return RunTables(*options); };
}

}  // namespace yubin::cli
