// The search's index as the build stores it, against a plain build made here from its
// definition: every row's folded names marked whole, block by block of 256 rows in storage
// order. Municipalities that span blocks, names that the build cannot split at the place's end,
// rowids with gaps and tables of a few blocks, on one thread and on two; the build read beside
// the commits of the table's keys, with its other reader's connection refused, and stopped.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliFixtures.h"
#include "query/QueryData.h"
#include "query/SearchIndex.h"
#include "store/DerivedRecords.h"
#include "store/Engine.h"
#include "store/TableScan.h"
#include "store/mdlYubinBox.h"
#include "support/WaitsTold.h"

namespace yubin::test {
namespace {

using Records = std::map<long long, std::string>;

constexpr std::size_t kBlockRows = 256;
constexpr int kBucketBits = 14;

void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The records of the index by its definition: the header (format 2, the bucket bits, the
// number of blocks, the first and last rowid of each), then for every word of 64 buckets some
// block has any of, the 64 buckets' bitmaps of one bit per block one after the other.
Records PlainIndex(db::Connection& connection) {
    query::Masters masters(connection);
    query::RowNames names(masters);
    db::TableScan scan(connection, "ZIPALL",
                       std::vector<std::string>(std::begin(query::kSearchedColumns),
                                                std::end(query::kSearchedColumns)));
    std::vector<std::pair<long long, long long>> bounds;
    std::vector<std::set<std::uint32_t>> blocks;
    for (std::size_t row = 0; scan.next(); ++row) {
        if (row % kBlockRows == 0) {
            bounds.emplace_back(scan.rowid(), scan.rowid());
            blocks.emplace_back();
        }
        bounds.back().second = scan.rowid();
        names.setCity(scan.text(0));
        for (std::uint32_t bucket : query::detail::NameBuckets(
                 names.fold(scan.text(1), scan.text(2), scan.text(3), scan.text(4)))) {
            blocks.back().insert(bucket);
        }
    }
    Records records;
    std::string& header = records[-1];
    PutLittleEndian(header, 2, 4);
    PutLittleEndian(header, kBucketBits, 4);
    PutLittleEndian(header, blocks.size(), 4);
    for (const auto& [first, last] : bounds) {
        PutLittleEndian(header, static_cast<std::uint64_t>(first), 8);
        PutLittleEndian(header, static_cast<std::uint64_t>(last), 8);
    }
    const std::size_t bitmapBytes = (blocks.size() + 7) / 8;
    for (std::size_t block = 0; block < blocks.size(); ++block) {
        for (std::uint32_t bucket : blocks[block]) {
            std::string& word = records[bucket / 64];
            if (word.empty()) word.assign(64 * bitmapBytes, '\0');
            char& byte = word[bucket % 64 * bitmapBytes + block / 8];
            byte = static_cast<char>(byte | (1 << (block % 8)));
        }
    }
    return records;
}

Records StoredIndex(db::Connection& connection) {
    db::DerivedRecords index(connection, "search");
    Records records;
    for (auto& [key, data] : index.readAll()) records[key] = std::move(data);
    return records;
}

class SearchIndexBuildTest : public CliFixture {
  protected:
    void SetUp() override {
        // 47 municipalities of 30 rows each, and 600 offices of one.
        importIntoNewDatabase(KenLines(30), OfficeLines(600));
    }

    // One statement with SQLite itself, as another program would write.
    void Change(const std::string& sql) {
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open_v2(db().c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK);
        const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(handle);
        ASSERT_EQ(rc, SQLITE_OK) << sql;
    }

    // The index built on one thread and on two is that of the plain build.
    void ExpectThePlainIndex(const std::string& shape) {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(db()));
        const Records plain = PlainIndex(connection);
        for (unsigned threads : {1u, 2u, 0u}) {
            query::BuildSearchIndex(connection, threads);
            EXPECT_EQ(StoredIndex(connection), plain) << shape << ", threads " << threads;
        }
        EXPECT_TRUE(query::CandidateRanges(connection, {"町"}).has_value()) << shape;
    }
};

TEST_F(SearchIndexBuildTest, TheBuildStoresWhatThePlainBuildMakesOnOneThreadAndOnTwo) {
    ExpectThePlainIndex("as imported");

    // Names a walk over place and town together reads otherwise than over each apart: a place
    // name and a reading that end in a cut character (the town's first bytes complete one), no
    // reading, no municipality; a town that begins with a voiced mark or holds the separator,
    // and no town.
    Change("UPDATE 市町村 SET 市町村名 = 市町村名 || CAST(x'E3' AS TEXT) WHERE JISX0402 = '05101'");
    Change("UPDATE ZIPALL SET 町域名 = CAST(x'8182' AS TEXT) || 町域名 WHERE 団体コード = '05101'");
    Change(
        "UPDATE 市町村 SET 住所かな2 = 住所かな2 || CAST(x'F09F' AS TEXT) "
        "WHERE JISX0402 = '06101'");
    Change("UPDATE 市町村 SET 住所かな2 = NULL WHERE JISX0402 = '07101'");
    Change("UPDATE ZIPALL SET 団体コード = '99999' WHERE rowid BETWEEN 250 AND 262");
    Change("UPDATE ZIPALL SET 町域名 = 'ﾞ町' || char(31) || 'ｶﾞ' WHERE rowid = 300");
    Change("UPDATE ZIPALL SET 町域名 = NULL, 住所かな3 = NULL WHERE rowid = 301");
    ExpectThePlainIndex("odd names");

    // Names the build folds letter by letter and names it folds whole, after letters it took:
    // marks after a blank and at a column's start, full-width letters, a control character, a
    // byte that starts no character, and characters outside kana, kanji and the forms.
    Change("UPDATE ZIPALL SET 住所かな3 = 'ｶ　ﾞｷ ﾞｸﾞ' WHERE rowid = 302");
    Change("UPDATE ZIPALL SET 住所かな3 = 'ﾞﾎﾟ', 町域名 = 'ＡＢ町　東' WHERE rowid = 303");
    Change("UPDATE ZIPALL SET 町域名 = '本町' || char(9) || '‐1' WHERE rowid = 304");
    Change("UPDATE ZIPALL SET 町域名 = '本町' || char(10) || 'ﾞ東' WHERE rowid = 305");
    Change("UPDATE ZIPALL SET 住所かな3 = 'ｶ' || CAST(x'FF' AS TEXT) || 'ﾞ' WHERE rowid = 306");
    Change("UPDATE ZIPALL SET 町域名 = 'é町😀', 住所かな3 = 'ｶﾞ한' WHERE rowid = 307");
    Change("UPDATE ZIPALL SET 事業所名 = 'ｶﾞ' || char(31) || 'ﾞ' WHERE rowid = 308");
    ExpectThePlainIndex("names folded whole after their first letters");

    // Rowids with a gap, then tables of a few blocks, of one and of none.
    Change("DELETE FROM ZIPALL WHERE rowid BETWEEN 400 AND 650");
    ExpectThePlainIndex("a gap");
    // Rowids far apart: room for many more blocks than the rows fill, and rowids too sparse to
    // make room by them at all.
    Change("UPDATE ZIPALL SET rowid = 100000 WHERE rowid = (SELECT max(rowid) FROM ZIPALL)");
    ExpectThePlainIndex("rowids up to 100,000");
    Change("UPDATE ZIPALL SET rowid = 2000000000 WHERE rowid = 100000");
    ExpectThePlainIndex("rowids up to 2,000,000,000");
    for (int rows : {513, 512, 257, 256, 1, 0}) {
        Change(
            "DELETE FROM ZIPALL WHERE rowid NOT IN (SELECT rowid FROM ZIPALL ORDER BY rowid "
            "LIMIT " +
            std::to_string(rows) + ")");
        ExpectThePlainIndex(std::to_string(rows) + " rows");
    }
}

// The statements of an import's end, beside which the build reads: ZIPALL's index and key
// dropped, then made again, each in a transaction of its own.
void DropKeys(db::Connection& connection) {
    connection.execute("DROP INDEX x_郵便番号 ON ZIPALL");
    connection.execute("ALTER TABLE ZIPALL DROP CONSTRAINT xRECNO");
}

TEST_F(SearchIndexBuildTest, TheBuildBesideTheKeysCommitsStoresThePlainIndex) {
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(db()));
    const Records plain = PlainIndex(connection);
    for (int begunAfter = 0; begunAfter < 2; ++begunAfter) {
        DropKeys(connection);
        std::optional<query::SearchIndexBuild> build;
        if (begunAfter == 0) build.emplace(connection, 2);
        connection.execute("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
        if (begunAfter == 1) build.emplace(connection, 2);
        connection.execute("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
        build->finish();
        EXPECT_EQ(StoredIndex(connection), plain) << "begun after statement " << begunAfter;
    }
    // One on its own thread too (the caller's reads everything in finish()).
    query::SearchIndexBuild alone(connection, 1);
    alone.finish();
    EXPECT_EQ(StoredIndex(connection), plain);
}

// The other reader done before finish(): it read every block and made the bitmaps of them,
// which finish() stores as they are, both when the keys were made meanwhile and when not.
TEST_F(SearchIndexBuildTest, BlocksTheOtherReaderReadWholeAreStoredAsItMadeThem) {
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(db()));
    const Records plain = PlainIndex(connection);
    for (bool keys : {true, false}) {
        if (keys) DropKeys(connection);
        query::SearchIndexBuild build(connection, 2);
        if (keys) {
            connection.execute("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
            connection.execute("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
        }
        // Eight blocks: the other reader is through them long before.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        build.finish();
        EXPECT_EQ(StoredIndex(connection), plain) << (keys ? "keys made" : "no keys made");
    }
}

// Rows another program adds after the build counted them, past the room made for the counted
// blocks (64 blocks at a time): the reader that reads alone takes them in, and the blocks it
// had marked stay as they were.
TEST_F(SearchIndexBuildTest, ABuildOnOneThreadTakesInRowsAddedAfterItBegan) {
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(db()));
    DropKeys(connection);
    connection.flush();
    query::SearchIndexBuild build(connection, 1);
    // 2,010 rows (8 blocks) doubled four times: 126 blocks, two tiles' worth.
    for (int i = 0; i < 4; ++i) Change("INSERT INTO ZIPALL SELECT * FROM ZIPALL");
    build.finish();
    const Records stored = StoredIndex(connection);
    EXPECT_EQ(stored, PlainIndex(connection));
    ASSERT_GE(stored.at(-1).size(), 12u);
    EXPECT_EQ(stored.at(-1).substr(8, 4), std::string("\x7e\0\0\0", 4)) << "126 blocks";
}

TEST_F(SearchIndexBuildTest, ABuildLeftUnfinishedStopsItsReaderAndStoresNothing) {
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(db()));
    const Records before = StoredIndex(connection);
    ASSERT_FALSE(before.empty());
    for (int i = 0; i < 3; ++i) {
        // Reading or done: either way it is stopped and waited for.
        query::SearchIndexBuild build(connection, 2);
        connection.execute("CREATE INDEX x_町域名 ON ZIPALL(町域名)");
        connection.execute("DROP INDEX x_町域名 ON ZIPALL");
    }
    EXPECT_EQ(StoredIndex(connection), before);
}

// The other reader's connection cannot be had (no file can be opened when the build begins):
// finish() reads every row itself.
TEST_F(SearchIndexBuildTest, WithoutTheOtherReadersConnectionFinishReadsEveryRow) {
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(db()));
    const Records plain = PlainIndex(connection);
    Change("DELETE FROM __yubinbox_derived_search");
    rlimit usual{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &usual), 0);
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit none = usual;
    none.rlim_cur = static_cast<rlim_t>(lowestFree);
    std::optional<query::SearchIndexBuild> build;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    bool refused = false;
    try {
        db::Connection other;
        other.open(mdlYubinBox::ConnectionString(db()));
    } catch (const YubinError&) {
        refused = true;
    }
    build.emplace(connection, 2);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &usual), 0);
    ASSERT_TRUE(refused);
    build->finish();
    EXPECT_EQ(StoredIndex(connection), plain);
}

// A table of some hundred blocks, read while the caller's connection commits again and again:
// no commit waits long, none is shown as a wait for another program, and the index is the
// plain one.
class SearchIndexBesideCommitsTest : public CliFixture {
  protected:
    void SetUp() override {
        writeCp932Lines(dir.file("KEN_ALL.CSV"), KenLines(1000));
        ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
        ASSERT_EQ(yubinbox({"import", "--db", db(), "--ken-all", dir.file("KEN_ALL.CSV"), "--yes"})
                      .exitCode,
                  0);
    }
};

TEST_F(SearchIndexBesideCommitsTest, CommitsWhileTheOtherReaderReadsNeitherLockNorShowAWait) {
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(db()));
    const Records plain = PlainIndex(connection);
    const WaitsTold told;
    // A commit that waited for the reader for good would fail here, not hang the test.
    const std::chrono::milliseconds usualWait = db::lockWait();
    db::setLockWait(std::chrono::seconds(5));

    DropKeys(connection);
    {
        query::SearchIndexBuild build(connection, 2);
        for (int i = 0; i < 8; ++i) {
            connection.execute("CREATE INDEX x_町域名 ON ZIPALL(町域名)");
            connection.execute("DROP INDEX x_町域名 ON ZIPALL");
        }
        connection.execute("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
        connection.execute("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
        build.finish();
    }
    connection.flush();
    EXPECT_TRUE(told.reports.empty());
    EXPECT_EQ(told.ticks, 0);
    EXPECT_EQ(StoredIndex(connection), plain);

    db::setLockWait(usualWait);
}

}  // namespace
}  // namespace yubin::test
