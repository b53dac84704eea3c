// yubinbox changes [--db FILE] [--format text|tsv|csv|json] [--kind national|office]: the last
// change report of each data set.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/Message.h"
#include "changes/ChangePrint.h"
#include "changes/ChangeReport.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"

namespace yubin::cli {

namespace {

struct ChangesOptions {
    std::string database;
    std::string format = "text";
    std::string kind;
};

int RunChanges(const ChangesOptions& options) {
    auto connection = Connect(DatabaseFromOptionOrSettings(options.database));
    std::vector<changes::DataSet> sets;
    if (options.kind != "office") sets.push_back(changes::DataSet::National);
    if (options.kind != "national") sets.push_back(changes::DataSet::Office);
    const int found = changes::PrintReports(*connection, sets,
                                            *changes::ParseReportFormat(options.format), std::cout);
    return found > 0 ? kExitOk : kExitFailure;
}

}  // namespace

CommandRun SetupChanges(CLI::App& command) {
    auto options = std::make_shared<ChangesOptions>();
    command.add_option("--db", options->database,
                       Tr("データベースファイル（省略時は設定ファイルの path）"));
    command.add_option("--format", options->format, Tr("text（既定）、tsv、csv、json"))
        ->check(CLI::IsMember({"text", "tsv", "csv", "json"}));
    command
        .add_option("--kind", options->kind,
                    Tr("national（全国版）または office（事業所個別版）。省略時は両方"))
        ->check(CLI::IsMember({"national", "office"}));
    return [options] { return RunChanges(*options); };
}

}  // namespace yubin::cli
