// The search's index: made by an import through the real executable, kept by compaction, gone
// when another program changes the rows or an import takes the database; the rows found with
// it are those of the pass over the whole table.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "cli/CliFixtures.h"
#include "query/Normalize.h"
#include "query/QueryData.h"
#include "query/SearchIndex.h"
#include "store/Engine.h"
#include "store/mdlYubinBox.h"

namespace yubin::test {
namespace {

// One statement with SQLite itself, as another program would write.
void RunBehindTheLayer(const std::string& path, const std::string& sql) {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(handle);
    ASSERT_EQ(rc, SQLITE_OK) << sql;
}

class SearchIndexTest : public CliFixture {
  protected:
    void SetUp() override {
        std::vector<std::string> lines = KenLines(3);
        // A town whose name and reading a word can only find across the place names.
        lines.push_back(
            "13101,\"100  \",\"1000099\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ｶﾞｯｺｳﾏｴ\",\"東京都\","
            "\"千代田区\",\"学校前\",0,0,0,0,0,0");
        importIntoNewDatabase(lines, OfficeLines(600));
    }

    void open() { connection.open(mdlYubinBox::ConnectionString(db())); }

    bool indexed(const std::vector<std::string>& words) {
        return query::CandidateRanges(connection, Fold(words)).has_value();
    }

    static std::vector<std::string> Fold(const std::vector<std::string>& words) {
        std::vector<std::string> folded;
        for (const std::string& word : words) folded.push_back(query::Folded(word));
        return folded;
    }

    // The codes of the rows found, with the index and by reading every row.
    std::pair<std::vector<std::string>, std::vector<std::string>> Both(
        const std::vector<std::string>& words, std::size_t limit = 0) {
        query::Masters masters(connection);
        const auto codes = [](const query::QueryRows& rows) {
            std::vector<std::string> out;
            for (const query::Row& row : rows.rows)
                out.push_back(row[2].toText() + row[17].toText());
            return out;
        };
        return {codes(query::SearchRows(connection, masters, Fold(words), limit)),
                codes(query::SearchRows(connection, masters, Fold(words), limit, true))};
    }

    db::Connection connection;
};

TEST_F(SearchIndexTest, AnImportMakesItAndItFindsWhatTheWholePassFinds) {
    open();
    EXPECT_TRUE(indexed({"千代田"}));
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"千代田"},
                                               {"ちよだ"},
                                               {"ﾁﾖﾀﾞ"},
                                               {"町2"},
                                               {"都47千代田区町1"},
                                               {"社599"},
                                               {"社5", "ｼﾔ"},
                                               {"学校"},
                                               {"がっこうまえ"},
                                               {"千代田区学校前"},
                                               {"ナイ"},
                                               {"1"}}) {
        const auto [withIndex, whole] = Both(words);
        EXPECT_EQ(withIndex, whole) << words[0];
        const auto [limited, wholeLimited] = Both(words, 7);
        EXPECT_EQ(limited, wholeLimited) << words[0];
    }
    EXPECT_EQ(Both({"学校前"}).first.size(), 1u);
    EXPECT_EQ(Both({"社"}).first.size(), 600u);
    EXPECT_TRUE(Both({"存在しない"}).first.empty());
    // A word the index cannot answer for (no character of UTF-8) reads every row.
    EXPECT_FALSE(indexed({"\x80"}));
}

TEST_F(SearchIndexTest, AChangeByAnotherProgramRemovesItAndTheSearchSeesTheChange) {
    RunBehindTheLayer(db(), "UPDATE ZIPALL SET 町域名 = '新しい町' WHERE 郵便番号 = '1000099'");
    open();
    EXPECT_FALSE(indexed({"新しい町"}));
    EXPECT_EQ(Both({"新しい町"}).first.size(), 1u);
    connection.close();

    // The next import makes it again (and the compaction at its end keeps it); a delete
    // removes it as an update does.
    ASSERT_EQ(yubinbox({"import", "--db", db(), "--jigyosyo", dir.file("JIGYOSYO.CSV"), "--yes"})
                  .exitCode,
              0);
    open();
    EXPECT_TRUE(indexed({"新しい町"}));
    connection.close();
    RunBehindTheLayer(db(), "DELETE FROM ZIPALL WHERE 郵便番号 = '1000099'");
    open();
    EXPECT_FALSE(indexed({"千代田"}));
    EXPECT_TRUE(Both({"新しい町"}).first.empty());
}

// Records of another layout (an index that an earlier version made, a record per bucket) are
// not read: the search reads every row and finds the same rows.
TEST_F(SearchIndexTest, RecordsOfAnotherLayoutAreNotRead) {
    const auto setHeaderFormat = [this](const char* format) {
        RunBehindTheLayer(db(), std::string("UPDATE __yubinbox_derived_search SET data = CAST(x'") +
                                    format + "' || substr(data, 5) AS BLOB) WHERE key = -1");
    };
    const auto expectTheWholePass = [this](const char* layout) {
        open();
        EXPECT_FALSE(indexed({"千代田"})) << layout;
        const auto [withIndex, whole] = Both({"千代田"});
        EXPECT_EQ(withIndex, whole) << layout;
        EXPECT_FALSE(withIndex.empty()) << layout;
        connection.close();
    };
    setHeaderFormat("01000000");
    expectTheWholePass("the earlier header");
    setHeaderFormat("02000000");
    open();
    EXPECT_TRUE(indexed({"千代田"}));
    connection.close();
    RunBehindTheLayer(db(),
                      "UPDATE __yubinbox_derived_search SET data = substr(data, 1, 8) "
                      "WHERE key >= 0");
    expectTheWholePass("a bitmap per record");
}

TEST_F(SearchIndexTest, AnImportTakingTheDatabaseRemovesItFirst) {
    open();
    ASSERT_TRUE(indexed({"千代田"}));
    connection.lockImport();
    EXPECT_FALSE(indexed({"千代田"}));
    connection.unlockImport();
    EXPECT_FALSE(indexed({"千代田"}));
}

}  // namespace
}  // namespace yubin::test
