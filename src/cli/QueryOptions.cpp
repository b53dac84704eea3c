#include "cli/QueryOptions.h"

#include "base/Message.h"
#include "cli/CliMessages.h"

namespace yubin::cli {

namespace {

CLI::Validator FormatValidator(std::vector<std::string> allowed) {
    std::string names;
    for (const std::string& name : allowed) names += (names.empty() ? "" : "|") + name;
    return CLI::Validator(
        [allowed, names](std::string& value) -> std::string {
            for (const std::string& name : allowed) {
                if (value == name) return {};
            }
            return OwnCheckFailed(
                Format(Tr("出力形式 {1} はありません（{2} のどれか）"), value, names));
        },
        "");
}

}  // namespace

void AddDatabaseOption(CLI::App& command, std::string& database) {
    command.add_option("--db", database, Tr("データベースファイル（省略時は設定ファイルの path）"));
}

void AddFormatOption(CLI::App& command, std::string& format, const char* help,
                     std::vector<std::string> allowed) {
    command.add_option("--format", format, help)->check(FormatValidator(std::move(allowed)));
}

OutputFormat FormatOf(const std::string& format) {
    return ParseOutputFormat(format).value_or(OutputFormat::Tsv);
}

}  // namespace yubin::cli
