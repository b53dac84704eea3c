// yubinbox lookup [CODE...] [--db FILE] [--format tsv|csv|json]: the rows of postal codes, from
// the arguments or else from standard input, one code a line, each answer written at once.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/QueryOptions.h"
#include "cli/RowOutput.h"
#include "query/Normalize.h"
#include "query/QueryData.h"

namespace yubin::cli {

namespace {

struct LookupOptions {
    std::string database;
    std::string format = "tsv";
    std::vector<std::string> codes;
};

void PrintCodeError(const std::string& written) {
    std::cerr << "yubinbox: 「" << written
              << "」は郵便番号ではありません。7 桁の数字で指定してください（例: 100-0001）。"
              << std::endl;
}

int RunLookup(const LookupOptions& options) {
    // Arguments are checked before anything is read; lines of standard input one by one.
    for (const std::string& written : options.codes) {
        if (!query::NormalizePostalCode(written)) {
            PrintCodeError(written);
            return kExitUsage;
        }
    }
    auto connection = Connect(DatabaseFromOptionOrSettings(options.database));
    const query::Masters masters(*connection);
    RowWriter writer(std::cout, FormatOf(options.format), masters);
    bool someNotFound = false, someMalformed = false;
    const auto lookUp = [&](const std::string& written) {
        const std::optional<std::string> code = query::NormalizePostalCode(written);
        if (!code) {
            PrintCodeError(written);
            someMalformed = true;
            return;
        }
        const query::QueryRows rows = query::RowsOfPostalCode(*connection, *code);
        writer.write(rows);
        std::cout.flush();  // a program reading the answers line by line gets each at once
        if (rows.rows.empty()) {
            std::cerr << "yubinbox: 該当する郵便番号はありません: " << written << std::endl;
            someNotFound = true;
        }
    };
    if (!options.codes.empty()) {
        for (const std::string& written : options.codes) lookUp(written);
    } else {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            lookUp(line);
        }
    }
    if (someMalformed) return kExitUsage;
    return someNotFound ? kExitFailure : kExitOk;
}

}  // namespace

CommandRun SetupLookup(CLI::App& command) {
    auto options = std::make_shared<LookupOptions>();
    command.add_option("CODE", options->codes,
                       "7 桁の郵便番号（100-0001、〒１００－０００１ も可） / seven digits");
    AddDatabaseOption(command, options->database);
    AddFormatOption(command, options->format, "tsv（既定）、csv、json / output format",
                    {"tsv", "csv", "json"});
    return [options] { return RunLookup(*options); };
}

}  // namespace yubin::cli
