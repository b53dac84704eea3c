// yubinbox lookup [CODE...] [--db FILE] [--format tsv|csv|json]: the rows of postal codes, from
// the arguments or else from standard input, one code a line, each answer written at once.
#include <sys/stat.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/QueryOptions.h"
#include "cli/RowOutput.h"
#include "cli/SafeText.h"
#include "query/Normalize.h"
#include "query/QueryData.h"

namespace yubin::cli {

namespace {

struct LookupOptions {
    std::string database;
    std::string format = "tsv";
    std::vector<std::string> codes;
};

// The longest line of standard input that is looked at: a postal code as people write it,
// with room to spare.
constexpr std::size_t kMaxInputLineBytes = 1024;

// What identifies the database file's content from outside: another program's import, a
// compaction or a new database changes it.
struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modified = 0;  // nanoseconds
    bool operator==(const FileState&) const = default;
};
FileState StateOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

void PrintCodeError(const std::string& written) {
    std::cerr << "yubinbox: "
              << Format(Tr("「{1}」は郵便番号ではありません。7 桁の数字で指定してください（例: "
                           "100-0001）。"),
                        Printable(written))
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
    const std::string database = DatabaseFromOptionOrSettings(options.database);
    auto connection = Connect(database);
    FileState loaded = StateOf(database);
    query::Masters masters(*connection);
    RowWriter writer(std::cout, FormatOf(options.format), masters);
    bool someNotFound = false, someMalformed = false;
    const auto lookUp = [&](const std::string& written) {
        // Standard input may be answered for hours: the masters are read again once another
        // program has changed the database (an import deletes and adds them).
        if (const FileState now = StateOf(database); !(now == loaded)) {
            masters.forget();
            loaded = now;
        }
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
            std::cerr << "yubinbox: "
                      << Format(Tr("該当する郵便番号はありません: {1}"), Printable(written))
                      << std::endl;
            someNotFound = true;
        }
    };
    if (!options.codes.empty()) {
        for (const std::string& written : options.codes) lookUp(written);
    } else {
        std::string line;
        for (long long number = 1;; ++number) {
            const InputLine read = ReadBoundedLine(std::cin, line, kMaxInputLineBytes);
            if (read == InputLine::End) break;
            if (read == InputLine::TooLong) {
                std::cerr << "yubinbox: "
                          << Format(Tr("標準入力の {1} 行目が {2} バイトを超えているため、読み飛ば"
                                       "しました。"),
                                    number, kMaxInputLineBytes)
                          << std::endl;
                someMalformed = true;
                continue;
            }
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
                       Tr("7 桁の郵便番号（100-0001、〒１００－０００１ も可）"));
    AddDatabaseOption(command, options->database);
    AddFormatOption(command, options->format, Tr("tsv（既定）、csv、json"), {"tsv", "csv", "json"});
    return [options] { return RunLookup(*options); };
}

}  // namespace yubin::cli
