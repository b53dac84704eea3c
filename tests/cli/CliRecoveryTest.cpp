// Through the real executable: an import killed after it deleted the old rows leaves data
// that is said to be incomplete, never dated; a database reached through a symbolic link is
// locked and compacted where it really lies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliFixtures.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

// The national rows another program sees in `database` now; -1 while it cannot read them.
long long VisibleNationalRows(const std::string& database) {
    sqlite3* db = nullptr;
    long long rows = -1;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* count = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM ZIPALL WHERE データ識別 <> '1'", -1,
                               &count, nullptr) == SQLITE_OK &&
            sqlite3_step(count) == SQLITE_ROW) {
            rows = sqlite3_column_int64(count, 0);
        }
        sqlite3_finalize(count);
    }
    sqlite3_close(db);
    return rows;
}

class CliRecoveryTest : public CliFixture {
  protected:
    std::string dump(const std::string& database) {
        std::string all;
        for (const char* table : {"ZIPALL", "都道府県", "市町村", "作成日", "登録中"}) {
            ProcessResult r = yubinbox({"sql", database, std::string("SELECT * FROM ") + table});
            EXPECT_EQ(r.exitCode, 0) << r.err;
            all += r.out;
        }
        return all;
    }
    // The same with its lines sorted: a fresh import after a continued one writes the rows in
    // another order.
    std::string ordered() {
        std::istringstream in(dump(db()));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        std::string all;
        for (const std::string& line : lines) all += line + '\n';
        return all;
    }
};

TEST_F(CliRecoveryTest, AKilledImportLeavesIncompleteDataThatIsNeverDatedUntilTheNextImport) {
    constexpr long long kNationalRows = 47 * 1000;
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(1000));
    writeCp932Lines(dir.file("jigyosyo.csv"), OfficeLines(50));
    const std::vector<std::string> both = {"import",
                                           "--db",
                                           db(),
                                           "--ken-all",
                                           dir.file("ken_all.csv"),
                                           "--jigyosyo",
                                           dir.file("jigyosyo.csv"),
                                           "--yes"};
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ASSERT_EQ(yubinbox(both).exitCode, 0);
    const std::string reference = dump(db());
    const std::string dated = yubinbox({"summary", "--db", db()}).out;
    ASSERT_NE(dated.find("全国版郵便番号データ　　　： 2"), std::string::npos) << dated;

    {
        YubinboxProcess run({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"},
                            env());
        // The old rows' deletion reaches other programs once the file has passed its check (a
        // kill before leaves the database as it was): the kill comes then, among the new rows.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        long long visible = kNationalRows;
        while ((visible == kNationalRows || visible < 0) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            visible = VisibleNationalRows(db());
        }
        ASSERT_LT(visible, kNationalRows);
        ASSERT_GE(visible, 0);
        run.signal(SIGKILL);
        EXPECT_EQ(run.wait(), 128 + SIGKILL);
    }
    const ProcessResult text = yubinbox({"summary", "--db", db()});
    EXPECT_NE(text.out.find("全国版郵便番号データ　　　： 未完了（取込が途中です）"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("全国版のファイルを取り込み直してください。"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("事業所個別郵便番号データ　： 2"), std::string::npos) << text.out;
    const ProcessResult json = yubinbox({"summary", "--db", db(), "--format", "json"});
    EXPECT_NE(json.out.find("\"registered\":{\"national\":null,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"complete\":{\"national\":false,\"office\":true}"), std::string::npos)
        << json.out;

    // One ordinary import: the tables of the reference, dated again.
    const ProcessResult again = yubinbox(both);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(dump(db()), reference);
    EXPECT_EQ(yubinbox({"summary", "--db", db()}).out, dated);
}

TEST_F(CliRecoveryTest, ADatabaseReachedThroughALinkIsCompactedWhereItLiesAndTheLinkStays) {
    fs::create_directories(dir.file("srv"));
    fs::create_directories(dir.file("u"));
    const std::string real = dir.file("srv/yubinbox.mdb");
    const std::string link = dir.file("u/yubinbox.mdb");
    ASSERT_EQ(yubinbox({"createdb", real}).exitCode, 0);
    fs::create_symlink("../srv/yubinbox.mdb", link);
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(2));

    auto linkIntact = [&] {
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), "../srv/yubinbox.mdb");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(real)));
        for (const char* folder : {"srv", "u"}) {
            for (const auto& entry : fs::directory_iterator(dir.file(folder))) {
                const std::string name = entry.path().filename().string();
                EXPECT_TRUE(name == "yubinbox.mdb") << folder << "/" << name << " was left";
            }
        }
    };
    // The import compacts at its end; then the compaction on its own.
    const ProcessResult run =
        yubinbox({"import", "--db", link, "--ken-all", dir.file("ken_all.csv"), "--yes"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    linkIntact();
    EXPECT_EQ(yubinbox({"sql", real, "SELECT COUNT(*) AS N FROM ZIPALL"}).out, "N\n94\n");
    ASSERT_EQ(yubinbox({"compact", link}).exitCode, 0);
    linkIntact();

    // One lock file for both names: a program that holds the database by its real path keeps
    // the compaction through the link out, and the other way round.
    writeCp932Lines(dir.file("big.csv"), KenLines(100));
    for (const auto& [held, compacted] : {std::pair{real, link}, std::pair{link, real}}) {
        YubinboxProcess holder(
            {"import", "--db", held, "--ken-all", dir.file("big.csv"), "--yes", "--pause", "600"},
            env());
        ASSERT_TRUE(holder.waitForProgressLines(11));  // the rows are written; the pause runs
        const ProcessResult refused = yubinbox({"compact", compacted});
        EXPECT_EQ(refused.exitCode, 1) << held;
        EXPECT_NE(refused.err.find("3045"), std::string::npos) << refused.err;
        holder.signal(SIGKILL);
        holder.wait();
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), "../srv/yubinbox.mdb");
}

TEST_F(CliRecoveryTest, AnImportWaitingAtItsQuestionDecidesAgainAfterAnotherImportFinished) {
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(300));
    writeCp932Lines(dir.file("jigyosyo.csv"), OfficeLines(50));
    const std::vector<std::string> national = {"import", "--db", db(), "--ken-all",
                                               dir.file("ken_all.csv")};
    std::vector<std::string> both = national;
    both.insert(both.end(), {"--jigyosyo", dir.file("jigyosyo.csv")});
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    std::vector<std::string> bothYes = both;
    bothYes.push_back("--yes");
    ASSERT_EQ(yubinbox(bothYes).exitCode, 0);
    const std::string reference = ordered();

    {  // Ctrl-C: the next import continues after the rows written
        std::vector<std::string> args = national;
        args.push_back("--yes");
        YubinboxProcess interrupted(args, env());
        ASSERT_TRUE(interrupted.waitForProgressLines(3));
        interrupted.signal(SIGINT);
        ASSERT_EQ(interrupted.wait(), 130);
    }
    ASSERT_NE(yubinbox({"sql", db(), "SELECT * FROM 登録中"}).out, "RECNO\n");

    // A second import has read that point and waits at its question about the office data...
    YubinboxProcess waiting(both, env(), YubinboxProcess::Input::Terminal);
    ASSERT_TRUE(
        waiting.waitForText("事業所個別版：作成日の古いデータを取り込もうとしています。"
                            "置き換えしますか？ [y/N] "));
    // ...while a third one continues the national import to its end.
    std::vector<std::string> third = national;
    third.push_back("--yes");
    const ProcessResult finished = yubinbox(third);
    // Complete; only the compaction waits, for the second holds the file open.
    ASSERT_EQ(finished.exitCode, 5) << finished.err;
    ASSERT_TRUE(ordered() == reference);

    // The second goes on: it reads the database again and, the national data now being
    // registered with the file's date, asks about it instead of appending from the old point.
    waiting.type("y\n");
    ASSERT_TRUE(
        waiting.waitForText("全国版：作成日の古いデータを取り込もうとしています。"
                            "置き換えしますか？ [y/N] "));
    waiting.type("y\n");
    EXPECT_EQ(waiting.wait(), 0);
    EXPECT_TRUE(ordered() == reference);  // no row twice, none missing
}

}  // namespace
}  // namespace yubin::test
