#include "cli/CliChanges.h"

#include <iostream>
#include <memory>
#include <vector>

#include "changes/ChangePrint.h"
#include "changes/ChangeReport.h"
#include "cli/CliSupport.h"

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

void AddChangesCommand(CLI::App& app, std::function<int()>& action) {
    auto options = std::make_shared<ChangesOptions>();
    auto* command = app.add_subcommand(
        "changes",
        "最後の取り込みの変更報告（追加・削除・変更された郵便番号） / the change report "
        "of the last import");
    command->add_option("--db", options->database,
                        "データベースファイル（省略時は設定ファイルの path） / database file");
    command->add_option("--format", options->format, "text（既定）、tsv、csv、json / output format")
        ->check(CLI::IsMember({"text", "tsv", "csv", "json"}));
    command
        ->add_option("--kind", options->kind,
                     "national（全国版）または office（事業所個別版）。省略時は両方 / one data "
                     "set only")
        ->check(CLI::IsMember({"national", "office"}));
    command->callback([&action, options] { action = [options] { return RunChanges(*options); }; });
}

void PrintReportCounts(const std::string& database, const std::string& since, std::ostream& out) {
    auto connection = Connect(database);
    for (changes::DataSet set : {changes::DataSet::National, changes::DataSet::Office}) {
        const auto summary = changes::ReadSummary(*connection, set);
        if (!summary || summary->importedAt < since) continue;
        out << (set == changes::DataSet::National ? "変更報告（全国版）: "
                                                  : "変更報告（事業所個別版）: ")
            << "追加 " << summary->counts.added << "  削除 " << summary->counts.removed << "  変更 "
            << summary->counts.changed << "（一覧は yubinbox changes）" << std::endl;
    }
}

}  // namespace yubin::cli
