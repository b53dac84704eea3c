// The English catalogue (po/en.po) against the program's sources: every message of the command
// line and of the core it prints has its translation, and each translation keeps the places of
// the values its message names. A new message cannot ship untranslated.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

namespace yubin::test {
namespace {

// The text of a PO string line ("..." with C escapes).
std::string Unquoted(const std::string& line) {
    const size_t first = line.find('"');
    const size_t last = line.rfind('"');
    std::string out;
    for (size_t i = first + 1; i < last; ++i) {
        if (line[i] != '\\' || i + 1 >= last) {
            out += line[i];
            continue;
        }
        const char c = line[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

// msgid -> msgstr of a PO file (the header's empty msgid left out).
std::map<std::string, std::string> ReadCatalogue(const std::string& path) {
    std::ifstream in(path);
    std::map<std::string, std::string> entries;
    std::string line, id, str, *current = nullptr;
    const auto finish = [&] {
        if (!id.empty()) entries[id] = str;
        id.clear();
        str.clear();
    };
    while (std::getline(in, line)) {
        if (line.rfind("msgid ", 0) == 0) {
            finish();
            id = Unquoted(line);
            current = &id;
        } else if (line.rfind("msgstr ", 0) == 0) {
            str = Unquoted(line);
            current = &str;
        } else if (line.rfind('"', 0) == 0 && current != nullptr) {
            *current += Unquoted(line);
        }
    }
    finish();
    return entries;
}

std::set<std::string> Places(const std::string& text) {
    std::set<std::string> places;
    const std::regex place(R"(\{[1-9]\})");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), place);
         it != std::sregex_iterator(); ++it) {
        places.insert(it->str());
    }
    return places;
}

std::string RunCommand(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    status = ::pclose(pipe);
    return output;
}

TEST(CatalogueTest, EveryMessageHasItsTranslationWithTheSamePlaces) {
    int status = 0;
    RunCommand("xgettext --version && msgcmp --version", status);
    if (status != 0) GTEST_SKIP() << "gettext's tools are not installed";

    // The messages of the sources, as the keywords mark them (Tr, TrMark, Message); the windows
    // keep their Japanese and are left out.
    TempDir dir;
    const std::string pot = dir.file("messages.pot");
    const std::string extracted =
        RunCommand("bash '" YUBIN_SOURCE_DIR "/tools/messages.sh' template '" + pot + "'", status);
    ASSERT_EQ(status, 0) << extracted;

    // msgcmp counts an untranslated entry of the catalogue as missing.
    const std::string catalogue = std::string(YUBIN_SOURCE_DIR) + "/po/en.po";
    const std::string compared = RunCommand("msgcmp '" + catalogue + "' '" + pot + "'", status);
    EXPECT_EQ(status, 0) << "messages without a translation in po/en.po:\n" << compared;

    const std::map<std::string, std::string> messages = ReadCatalogue(pot);
    const std::map<std::string, std::string> translations = ReadCatalogue(catalogue);
    EXPECT_GT(messages.size(), 100u);
    for (const auto& [id, translation] : translations) {
        EXPECT_FALSE(translation.empty()) << id;
        EXPECT_EQ(Places(translation), Places(id)) << id << "\n -> " << translation;
    }
    for (const auto& [id, ignored] : messages) {
        EXPECT_EQ(translations.count(id), 1u) << "not in po/en.po: " << id;
    }
}

}  // namespace
}  // namespace yubin::test
