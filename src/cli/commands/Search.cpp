// yubinbox search WORDS... [--db FILE] [--format tsv|csv|json] [--limit N]: the rows whose
// names contain every word.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/QueryOptions.h"
#include "cli/RowOutput.h"
#include "query/Normalize.h"
#include "query/QueryData.h"

namespace yubin::cli {

namespace {

// The search's default limit on the rows printed.
constexpr long long kDefaultSearchLimit = 100;

struct SearchOptions {
    std::string database;
    std::string format = "tsv";
    std::vector<std::string> words;
    long long limit = kDefaultSearchLimit;
};

int RunSearch(const SearchOptions& options) {
    std::vector<std::string> words;
    for (const std::string& word : options.words) {
        std::string folded = query::Folded(word);
        if (!folded.empty()) words.push_back(std::move(folded));
    }
    if (words.empty()) {
        std::cerr << "yubinbox: " << Tr("検索する語を指定してください。") << std::endl;
        return kExitUsage;
    }
    auto connection = Connect(DatabaseFromOptionOrSettings(options.database));
    query::Masters masters(*connection);
    const query::QueryRows rows =
        query::SearchRows(*connection, masters, words, static_cast<std::size_t>(options.limit));
    RowWriter(std::cout, FormatOf(options.format), masters).write(rows);
    std::cout.flush();
    if (rows.truncated) {
        std::cerr << "yubinbox: "
                  << Format(Tr("該当する行が {1} 件を超えたため、ここまでを表示しました（すべて"
                               "表示するには --limit 0）。"),
                            options.limit)
                  << std::endl;
    }
    if (rows.rows.empty()) {
        std::cerr << "yubinbox: " << Tr("該当するデータはありません。") << std::endl;
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

CommandRun SetupSearch(CLI::App& command) {
    auto options = std::make_shared<SearchOptions>();
    command
        .add_option("WORDS", options->words,
                    Tr("都道府県・市町村・町域・事業所の名前（漢字またはかな）"))
        ->required();
    AddDatabaseOption(command, options->database);
    AddFormatOption(command, options->format, Tr("tsv（既定）、csv、json"), {"tsv", "csv", "json"});
    command.add_option("--limit", options->limit, Tr("表示する最大件数（既定 100、0 で無制限）"))
        ->check(CLI::NonNegativeNumber.description(""));
    return [options] { return RunSearch(*options); };
}

}  // namespace yubin::cli
