// What the documents and the program say about the command line agrees: the subcommands of
// the help, of the man page and of the message without a display are the same. A new
// subcommand is added to the command line's table, to the man page's SUBCOMMANDS section
// (one ".TP" entry whose first word is its name) and nowhere else: the message without a
// display lists the table.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliMessages.h"
#include "cli/HelpColumns.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

using Names = std::set<std::string>;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The first word of each ".TP" entry of the man page's SUBCOMMANDS section; entries nested
// between ".RS" and ".RE" (a subcommand's own list, such as its formats) are not subcommands.
Names ManPageSubcommands(const std::string& page) {
    Names names;
    std::istringstream lines(page);
    std::string line;
    bool inSection = false, entryNext = false;
    int nesting = 0;
    const std::regex firstWord(R"(^\.B[IR]?\s+"?([a-z][a-z0-9-]*))");
    while (std::getline(lines, line)) {
        if (line.rfind(".SH", 0) == 0) {
            inSection = line.find("SUBCOMMANDS") != std::string::npos;
            continue;
        }
        if (!inSection) continue;
        if (line.rfind(".RS", 0) == 0) ++nesting;
        if (line.rfind(".RE", 0) == 0 && nesting > 0) --nesting;
        if (nesting > 0) continue;
        if (line == ".TP") {
            entryNext = true;
            continue;
        }
        std::smatch match;
        if (entryNext && std::regex_search(line, match, firstWord)) names.insert(match[1]);
        entryNext = false;
    }
    return names;
}

// The names listed under the help's subcommand heading ("  name  description").
Names HelpSubcommands(const std::string& help) {
    Names names;
    std::istringstream lines(help);
    std::string line;
    bool inSection = false;
    const std::regex entry(R"(^  ([a-z][a-z0-9-]*)(\s|$))");
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != ' ') {
            inSection = line.find("サブコマンド") != std::string::npos ||
                        line.find("Subcommands") != std::string::npos ||
                        line.find("SUBCOMMANDS") != std::string::npos;
            continue;
        }
        std::smatch match;
        if (inSection && std::regex_search(line, match, entry)) names.insert(match[1]);
    }
    return names;
}

// The comma-separated list of the message without a display ("  createdb, sql, ...").
Names NoDisplaySubcommands(const std::string& message) {
    Names names;
    std::istringstream lines(message);
    std::string line;
    const std::regex list(R"(^\s+([a-z][a-z0-9-]*(, [a-z][a-z0-9-]*)+)\s*$)");
    while (std::getline(lines, line)) {
        std::smatch match;
        if (!std::regex_match(line, match, list)) continue;
        std::string text = match[1];
        for (size_t start = 0; start < text.size();) {
            const size_t comma = text.find(", ", start);
            names.insert(text.substr(start, comma - start));
            start = comma == std::string::npos ? text.size() : comma + 2;
        }
    }
    return names;
}

TEST(CliDocumentsTest, HelpManPageAndNoDisplayMessageNameTheSameSubcommands) {
    const ProcessResult help = runYubinbox({"--help"});
    ASSERT_EQ(help.exitCode, 0) << help.err;
    const Names inHelp = HelpSubcommands(help.out);
    const Names inManPage = ManPageSubcommands(ReadText(YUBIN_SOURCE_DIR "/data/yubinbox.1"));
    const ProcessResult noDisplay =
        runYubinbox({}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    const Names inNoDisplay = NoDisplaySubcommands(noDisplay.err);

    for (const char* name : {"createdb", "import", "summary", "lookup", "search"}) {
        EXPECT_EQ(inHelp.count(name), 1u) << name << " missing from the help:\n" << help.out;
    }
    EXPECT_EQ(inManPage, inHelp) << "the man page's SUBCOMMANDS and the help differ";
    EXPECT_EQ(inNoDisplay, inHelp) << "the message without a display:\n" << noDisplay.err;
}

// Where a help line names a Japanese label (文字列, 必須) before its description, the
// description still starts in the same terminal column as on the other lines.
TEST(CliDocumentsTest, HelpDescriptionsStartInOneColumnWhateverTheLabels) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--help"}, std::vector<std::string>{"lookup", "--help"},
          std::vector<std::string>{"import", "--help"}}) {
        const ProcessResult help = runYubinbox(arguments);
        const std::set<size_t> columns = DescriptionColumns(help.out);
        EXPECT_EQ(columns.size(), 1u) << arguments[0] << ":\n" << help.out;
    }
}

}  // namespace
}  // namespace yubin::test
