// The reading commands on the whole published data (skipped when the files are absent).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace yubin::test {
namespace {

long CountLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    long lines = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line != "\r") ++lines;
    }
    return lines;
}

long CountOf(const std::string& text, const std::string& what) {
    long count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

class CliPublishedDataTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        kenAll_ = sharedDataFile("KEN_ALL.CSV");
        jigyosyo_ = sharedDataFile("JIGYOSYO.CSV");
        if (kenAll_.empty() || jigyosyo_.empty()) return;
        dir_ = new TempDir();
        const std::string db = dir_->file("yubinbox.mdb");
        imported_ = runYubinbox({"createdb", db}).exitCode == 0 &&
                    runYubinbox({"import", "--db", db, "--ken-all", kenAll_, "--jigyosyo",
                                 jigyosyo_, "--yes"})
                            .exitCode == 0;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (kenAll_.empty() || jigyosyo_.empty()) GTEST_SKIP() << "published data not available";
        ASSERT_TRUE(imported_);
    }
    ProcessResult query(std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--db", dir_->file("yubinbox.mdb")});
        return runYubinbox(args);
    }

    static inline TempDir* dir_ = nullptr;
    static inline std::string kenAll_, jigyosyo_;
    static inline bool imported_ = false;
};

TEST_F(CliPublishedDataTest, SummaryCountsWhatTheFilesHold) {
    ProcessResult json = query({"summary", "--format", "json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    // Every business-office line is one row.
    EXPECT_NE(json.out.find("\"office\":" + std::to_string(CountLines(jigyosyo_)) + ","),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"prefectures\":47,"), std::string::npos);
    EXPECT_NE(json.out.find("\"pending\":false"), std::string::npos);
    EXPECT_NE(json.out.find("\"postal_code\":true,\"recno\":true"), std::string::npos);
}

TEST_F(CliPublishedDataTest, SearchFindsAMunicipalityByNameAndByReading) {
    ProcessResult count =
        runYubinbox({"sql", dir_->file("yubinbox.mdb"),
                     "SELECT COUNT(*) As N FROM ZIPALL WHERE 団体コード = '13101'"});
    ASSERT_EQ(count.exitCode, 0) << count.err;
    const long chiyoda = std::stol(count.out.substr(2));

    ProcessResult kanji = query({"search", "--limit", "0", "東京都千代田区"});
    ProcessResult kana = query({"search", "--limit", "0", "とうきょうと", "ちよだく"});
    ASSERT_EQ(kanji.exitCode, 0) << kanji.err;
    EXPECT_EQ(CountOf(kanji.out, "\t東京都\t千代田区\t"), chiyoda);
    EXPECT_EQ(CountOf(kana.out, "\t東京都\t千代田区\t"), chiyoda);

    ProcessResult limited = query({"search", "ちよだく"});
    EXPECT_EQ(CountOf(limited.out, "\n"), 101);  // the header and the default 100 rows
    EXPECT_NE(limited.err.find("100 件を超えた"), std::string::npos);

    ProcessResult lookup = query({"lookup", "--format", "json", "〒100-0001"});
    EXPECT_EQ(lookup.exitCode, 0);
    EXPECT_NE(lookup.out.find("\"town\":\"千代田\""), std::string::npos) << lookup.out;
    EXPECT_NE(lookup.out.find("\"municipality_kana\":\"ﾁﾖﾀﾞｸ\""), std::string::npos);
}

}  // namespace
}  // namespace yubin::test
