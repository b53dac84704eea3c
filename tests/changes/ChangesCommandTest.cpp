#include <gtest/gtest.h>

#include "store/NativeSql.h"
#include "store/mdlYubinBox.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

// `yubinbox changes` and the counts of `yubinbox import`, through the real executable.
class ChangesCommandTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string db() const { return dir.file("yubinbox.mdb"); }
    ProcessResult yubinbox(const std::vector<std::string>& args) {
        return runYubinbox(args,
                           {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + dir.file(".cfg")});
    }
    std::string ken(const std::vector<std::string>& towns) {
        std::vector<std::string> lines;
        for (size_t i = 0; i < towns.size(); ++i) {
            lines.push_back("13101,\"100  \",\"100000" + std::to_string(i) +
                            "\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ﾏﾁ\",\"東京都\",\"千代田区\",\"" + towns[i] +
                            "\",0,0,0,0,0,0");
        }
        const std::string path = dir.file("ken_all_" + std::to_string(++files_) + ".csv");
        writeCp932Lines(path, lines);
        return path;
    }
    int files_ = 0;
};

TEST_F(ChangesCommandTest, ImportTellsTheCountsAndChangesPrintsTheReportInEachFormat) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    // No import has reported yet.
    ProcessResult none = yubinbox({"changes", "--db", db()});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.out.find("変更報告はありません"), std::string::npos) << none.out;

    ASSERT_EQ(yubinbox({"import", "--db", db(), "--ken-all", ken({"丸の内", "大手町", "内幸町"}),
                        "--yes"})
                  .exitCode,
              0);
    ProcessResult refresh = yubinbox({"import", "--db", db(), "--ken-all",
                                      ken({"丸の内", "大手町２", "内幸町", "有楽町"}), "--yes"});
    ASSERT_EQ(refresh.exitCode, 0) << refresh.err;
    EXPECT_NE(refresh.out.find("変更報告（全国版）: 追加 1  削除 0  変更 1"), std::string::npos)
        << refresh.out;
    EXPECT_EQ(refresh.out.find("事業所個別版）:"), std::string::npos) << refresh.out;

    ProcessResult text = yubinbox({"changes", "--db", db()});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("    13 東京都  追加 1  削除 0  変更 1\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  1000001 変更\n    旧 13101 東京都 千代田区 大手町"),
              std::string::npos)
        << text.out;
    // The business-office data has no report yet; asked for alone, that is a failure.
    EXPECT_NE(text.out.find("変更報告はありません"), std::string::npos);
    EXPECT_EQ(yubinbox({"changes", "--db", db(), "--kind", "office"}).exitCode, 1);

    ProcessResult json =
        yubinbox({"changes", "--db", db(), "--kind", "national", "--format", "json"});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out.rfind("{\"national\":{\"data\":\"ZIPALL\"", 0), 0u) << json.out;
    EXPECT_EQ(json.out.find("\"office\""), std::string::npos);

    ProcessResult csv = yubinbox({"changes", "--db", db(), "--format", "csv"});
    EXPECT_NE(csv.out.find("\r\nZIPALL,1000003,追加,新,13101,東京都,"), std::string::npos)
        << csv.out;
    EXPECT_EQ(yubinbox({"changes", "--db", db(), "--format", "xml"}).exitCode, 2);

    // Other programs read the report with the engine's own SQL.
    ProcessResult sql = yubinbox({"sql", db(), "SELECT データ, 追加, 削除, 変更 FROM 変更報告"});
    EXPECT_EQ(sql.out, "データ\t追加\t削除\t変更\nZIPALL\t1\t0\t1\n");
}

// A report that cannot be made (its table refuses the row) does not fail the import: the
// import succeeds, says that it has no report, and `changes` shows none rather than an older one.
TEST_F(ChangesCommandTest, ImportWhoseReportCannotBeMadeSucceedsAndSaysSo) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ASSERT_EQ(yubinbox({"import", "--db", db(), "--ken-all", ken({"丸の内"}), "--yes"}).exitCode,
              0);
    ASSERT_EQ(yubinbox({"changes", "--db", db()}).exitCode, 0);
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(db()));
        db::NativeStatement(connection,
                            "CREATE TRIGGER refuse BEFORE INSERT ON 変更報告 "
                            "BEGIN SELECT RAISE(ABORT, 'full'); END")
            .run();
    }
    ProcessResult refresh =
        yubinbox({"import", "--db", db(), "--ken-all", ken({"丸の内", "大手町"}), "--yes"});
    EXPECT_EQ(refresh.exitCode, 0) << refresh.err;
    EXPECT_NE(refresh.out.find("変更報告（全国版）: この取り込みの変更報告は作成されませんでした"),
              std::string::npos)
        << refresh.out;
    EXPECT_EQ(yubinbox({"changes", "--db", db()}).exitCode, 1);
    ProcessResult rows = yubinbox({"lookup", "--db", db(), "1000001"});
    EXPECT_EQ(rows.exitCode, 0) << rows.err;
}

}  // namespace
}  // namespace yubin::test
