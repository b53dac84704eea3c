// The change report on the published data, through the real executable: a refresh from a
// derived month names exactly the edited codes, and a refresh that is killed or aborted and
// then continued gives the report of one that ran through.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <set>

#include "import/ImportTestSupport.h"
#include "support/DerivedMonth.h"

namespace yubin::test {
namespace {

using Table = std::vector<std::vector<std::string>>;

class PublishedRefreshSlowTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string ken = sharedDataFile("KEN_ALL.CSV");
    std::string office = sharedDataFile("JIGYOSYO.CSV");

    void SetUp() override {
        if (ken.empty() || office.empty()) GTEST_SKIP() << "the published data files are absent";
    }
    std::vector<std::string> env() const {
        return {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + dir.file(".config")};
    }
    ProcessResult yubinbox(const std::vector<std::string>& args) {
        return runYubinbox(args, env());
    }
    std::vector<std::string> importArgs(const std::string& database, const std::string& national,
                                        const std::string& offices) {
        std::vector<std::string> args = {"import", "--db", database, "--yes"};
        if (!national.empty()) args.insert(args.end(), {"--ken-all", national});
        if (!offices.empty()) args.insert(args.end(), {"--jigyosyo", offices});
        return args;
    }
    // A database holding the published month.
    std::string published(const std::string& name) {
        const std::string database = dir.file(name);
        EXPECT_EQ(yubinbox({"createdb", database}).exitCode, 0);
        const ProcessResult first = yubinbox(importArgs(database, ken, office));
        EXPECT_EQ(first.exitCode, 0) << first.err;
        return database;
    }
    DerivedMonth derive() {
        std::filesystem::create_directories(dir.file("month2"));
        return DeriveMonth(ken, office, dir.file("month2"));
    }
    // The codes the report names, by data set and kind of change.
    static std::map<std::string, std::set<std::string>> Named(const std::string& database) {
        std::map<std::string, std::set<std::string>> named;
        for (const auto& row : Rows(database, "SELECT データ, 区分, 郵便番号 FROM 変更明細")) {
            named[row[0] + " " + row[1]].insert(row[2]);
        }
        return named;
    }
    // The report without the time of the import.
    static Table Report(const std::string& database) {
        Table all =
            Rows(database, "SELECT データ, 旧作成日, 新作成日, 追加, 削除, 変更 FROM 変更報告");
        for (auto& row : Rows(database, "SELECT * FROM 変更明細")) all.push_back(row);
        return all;
    }
};

TEST_F(PublishedRefreshSlowTest, RefreshFromAnEditedCopyReportsExactlyTheEditedCodes) {
    const std::string database = published("a.mdb");
    const DerivedMonth month = derive();
    const ProcessResult refresh = yubinbox(importArgs(database, month.ken, month.office));
    ASSERT_EQ(refresh.exitCode, 0) << refresh.err;

    auto named = Named(database);
    EXPECT_EQ(named["ZIPALL 追加"], month.national.added);
    EXPECT_EQ(named["ZIPALL 削除"], month.national.removed);
    EXPECT_EQ(named["ZIPALL 変更"], month.national.changed);
    EXPECT_EQ(named["JIGYOSYO 追加"], month.offices.added);
    EXPECT_EQ(named["JIGYOSYO 削除"], month.offices.removed);
    EXPECT_EQ(named["JIGYOSYO 変更"], month.offices.changed);
    EXPECT_EQ(named.size(), 6u);
    const std::string counts = [&] {
        std::string text;
        for (const auto& row : Rows(database, "SELECT データ, 追加, 削除, 変更 FROM 変更報告")) {
            text +=
                row[0] + " added " + row[1] + " removed " + row[2] + " changed " + row[3] + "\n";
        }
        return text;
    }();
    std::printf("derived month:\n%s", counts.c_str());
    // The command line told the counts at its end.
    const auto told = [&](const char* title, const ExpectedChanges& expected) {
        return std::string(title) + "追加 " + std::to_string(expected.added.size()) + "  削除 " +
               std::to_string(expected.removed.size()) + "  変更 " +
               std::to_string(expected.changed.size());
    };
    EXPECT_NE(refresh.out.find(told("変更報告（全国版）: ", month.national)), std::string::npos)
        << refresh.out;
    EXPECT_NE(refresh.out.find(told("変更報告（事業所個別版）: ", month.offices)),
              std::string::npos)
        << refresh.out;
}

TEST_F(PublishedRefreshSlowTest, KilledOrAbortedRefreshContinuedGivesTheUninterruptedReport) {
    const std::string whole = published("whole.mdb");
    std::filesystem::copy_file(whole, dir.file("killed.mdb"));
    std::filesystem::copy_file(whole, dir.file("aborted.mdb"));
    std::filesystem::copy_file(whole, dir.file("aborted-national.mdb"));
    const DerivedMonth month = derive();
    ASSERT_EQ(yubinbox(importArgs(whole, month.ken, month.office)).exitCode, 0);
    const Table expected = Report(whole);
    ASSERT_GT(expected.size(), 2u);

    // Killed inside the national part (the next run starts afresh on a table that holds part
    // of the new month), and aborted inside either part (continued from there). The reports of
    // the runs that replace a data set whole take its rows as appended; those of the continued
    // runs read the table: one report either way.
    for (const auto& [name, signal, progressLine] :
         {std::tuple{"killed.mdb", SIGKILL, 4}, std::tuple{"aborted.mdb", SIGINT, 15},
          std::tuple{"aborted-national.mdb", SIGINT, 4}}) {
        SCOPED_TRACE(name);
        const std::string database = dir.file(name);
        {
            YubinboxProcess process(importArgs(database, month.ken, month.office), env());
            ASSERT_TRUE(process.waitForProgressLines(progressLine));
            process.signal(signal);
            EXPECT_EQ(process.wait(), signal == SIGKILL ? 128 + SIGKILL : 130);
        }
        ProcessResult next = yubinbox(importArgs(database, month.ken, month.office));
        if (next.exitCode == 3) next = yubinbox(importArgs(database, "", month.office));
        ASSERT_EQ(next.exitCode, 0) << next.err;
        EXPECT_EQ(Report(database), expected);
    }
}

}  // namespace
}  // namespace yubin::test
