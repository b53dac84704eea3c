// The search with the import's index against the pass over every row, on the whole published
// data, for a few hundred words taken from the rows themselves (kanji, katakana, hiragana,
// half-width kana, words that run on from the municipality into the town area) and a few that
// occur nowhere; the index the import stored against one built alone. Skipped when the files are
// absent.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "query/Normalize.h"
#include "query/QueryData.h"
#include "query/SearchIndex.h"
#include "store/DerivedRecords.h"
#include "store/Engine.h"
#include "store/TableScan.h"
#include "store/mdlYubinBox.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

// The first `letters` characters of UTF-8 text from character `from` on.
std::string Letters(const std::string& text, std::size_t from, std::size_t letters) {
    std::size_t at = 0, index = 0, begin = std::string::npos;
    while (at < text.size()) {
        if (index == from) begin = at;
        if (index == from + letters) break;
        const auto lead = static_cast<unsigned char>(text[at]);
        at += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        ++index;
    }
    if (begin == std::string::npos || index < from + letters) return {};
    return text.substr(begin, at - begin);
}

// Full-width katakana to hiragana (the other letters as they are).
std::string Hiragana(const std::string& katakana) {
    std::string out = katakana;
    for (std::size_t i = 0; i + 2 < out.size(); ++i) {
        const auto a = static_cast<unsigned char>(out[i]),
                   b = static_cast<unsigned char>(out[i + 1]),
                   c = static_cast<unsigned char>(out[i + 2]);
        if (a != 0xE3) continue;
        int code = ((a & 0x0F) << 12) | ((b & 0x3F) << 6) | (c & 0x3F);
        if (code < 0x30A1 || code > 0x30F6) continue;
        code -= 0x60;
        out[i + 1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[i + 2] = static_cast<char>(0x80 | (code & 0x3F));
        i += 2;
    }
    return out;
}

TEST(SearchIndexPublishedTest, TheIndexedSearchFindsWhatThePassOverEveryRowFinds) {
    const std::string kenAll = sharedDataFile("KEN_ALL.CSV");
    const std::string jigyosyo = sharedDataFile("JIGYOSYO.CSV");
    if (kenAll.empty() || jigyosyo.empty()) GTEST_SKIP() << "published data not available";
    TempDir dir;
    const std::string db = dir.file("yubinbox.mdb");
    ASSERT_EQ(runYubinbox({"createdb", db}).exitCode, 0);
    ASSERT_EQ(
        runYubinbox({"import", "--db", db, "--ken-all", kenAll, "--jigyosyo", jigyosyo, "--yes"})
            .exitCode,
        0);
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(db));

    // The import read the index beside the making of the table's key; a build on this thread
    // alone stores the same records.
    const auto stored = [&connection] {
        return db::DerivedRecords(connection, "search").readAll();
    };
    const std::vector<std::pair<long long, std::string>> imported = stored();
    ASSERT_FALSE(imported.empty());
    query::BuildSearchIndex(connection, 1);
    EXPECT_TRUE(stored() == imported);

    // Words from every 1999th row: pieces of the town name, its reading as stored (half-width),
    // in katakana and in hiragana, of the office name, and the municipality run on into the town.
    std::set<std::vector<std::string>> queries;
    query::Masters masters(connection);
    {
        db::TableScan scan(connection, "ZIPALL",
                           {"団体コード", "町域名", "住所かな3", "事業所名", "事業所名かな"});
        for (long row = 0; scan.next(); ++row) {
            if (row % 1999 != 0) continue;
            const std::string town(scan.text(1)), kana(scan.text(2)), office(scan.text(3));
            const std::size_t from = static_cast<std::size_t>(row / 1999 % 3);
            for (std::size_t letters : {1, 2, 3}) {
                if (!Letters(town, from, letters).empty())
                    queries.insert({Letters(town, from, letters)});
            }
            const std::string folded = query::Folded(kana);
            if (!Letters(kana, 0, 4).empty()) queries.insert({Letters(kana, 0, 4)});
            if (!Letters(folded, from, 3).empty()) {
                queries.insert({Letters(folded, from, 3)});
                queries.insert({Hiragana(Letters(folded, from, 3))});
            }
            if (!Letters(office, 1, 3).empty()) queries.insert({Letters(office, 1, 3)});
            const query::Masters::Names* city = masters.municipality(std::string(scan.text(0)));
            if (city != nullptr && !Letters(town, 0, 2).empty()) {
                const std::string name = city->name.toText();
                queries.insert({name + Letters(town, 0, 2)});
                queries.insert({Letters(name, 0, 1), Letters(town, 0, 1)});
            }
        }
    }
    for (const char* none : {"存在しない地名", "ﾝﾝﾝﾝ", "ｚｚ", "東京都大阪"})
        queries.insert({none});
    ASSERT_GT(queries.size(), 200u);
    ASSERT_TRUE(query::CandidateRanges(connection, {"千代田"}).has_value());

    for (const std::vector<std::string>& words : queries) {
        std::vector<std::string> folded;
        for (const std::string& word : words) folded.push_back(query::Folded(word));
        const query::QueryRows indexed = query::SearchRows(connection, masters, folded, 0);
        const query::QueryRows whole = query::SearchRows(connection, masters, folded, 0, true);
        ASSERT_EQ(indexed.rows, whole.rows) << words[0];
        const query::QueryRows limited = query::SearchRows(connection, masters, folded, 5);
        ASSERT_EQ(limited.truncated, whole.rows.size() > 5) << words[0];
    }
}

}  // namespace
}  // namespace yubin::test
