#include <gtest/gtest.h>
#include <utime.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "changes/ChangePrint.h"
#include "changes/ChangeReport.h"
#include "import/ImportTestSupport.h"
#include "query/Summary.h"
#include "store/NativeSql.h"
#include "store/PostalSchema.h"
#include "store/RowRules.h"
#include "support/AppendAgain.h"

namespace yubin::test {
namespace {

using Table = std::vector<std::vector<std::string>>;
using changes::DataSet;

// Sets a file's last-modified time to noon of a local date.
void SetFileDate(const std::string& path, int year, int month, int day) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    const utimbuf times{when, when};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

std::string Pad(int number, int width) {
    std::string text = std::to_string(number);
    return std::string(static_cast<size_t>(width) - text.size(), '0') + text;
}

// A business-office line with its own address and post office.
std::string Office(const std::string& code, const std::string& name, const std::string& zip,
                   const std::string& street, const std::string& postOffice = "札幌中央") {
    return code + ",\"ｶﾌﾞｼｷｶﾞｲｼﾔ\",\"" + name + "\",\"北海道\",\"札幌市中央区\",\"北一条西\",\"" +
           street + "\",\"" + zip + "\",\"060  \",\"" + postOffice + "\",0,0,0";
}

// Two months of data: the first, and the second with one of each kind of change.
class ChangeReportTest : public ImportFixture {
  protected:
    // One code for each of the 47 prefectures, so that the business-office data may follow.
    static std::vector<std::string> Prefectures() {
        std::vector<std::string> lines;
        for (int p = 2; p <= 47; ++p) {
            lines.push_back(KenLine(Pad(p, 2) + "201", "100  ", Pad(1000000 + p, 7), "町", "ﾏﾁ",
                                    "0", "県" + std::to_string(p), "市" + std::to_string(p)));
        }
        return lines;
    }
    static std::vector<std::string> Hokkaido(bool second) {
        const std::string kita = "札幌市北区";
        std::vector<std::string> lines = {
            KenLine("01101", "060  ", "0600001", second ? "北一条西２" : "北一条西",
                    "ｷﾀ1ｼﾞｮｳﾆｼ"),                                           // renamed
            KenLine("01101", "060  ", "0600005", "北五条西", "ｷﾀ5ｼﾞｮｳﾆｼ"),  // unchanged
        };
        if (!second) lines.push_back(KenLine("01101", "060  ", "0600002", "北二条西", "ｷﾀ2ｼﾞｮｳﾆｼ"));
        // A group split over other lines that joins to the same row: no change.
        if (second) {
            lines.push_back(KenLine("01101", "064  ", "0640941", "旭ケ丘（一二", "ｱｻﾋｶﾞｵｶ(12"));
            lines.push_back(KenLine("01101", "064  ", "0640941", "三）", "3)"));
        } else {
            lines.push_back(KenLine("01101", "064  ", "0640941", "旭ケ丘（一", "ｱｻﾋｶﾞｵｶ(1"));
            lines.push_back(KenLine("01101", "064  ", "0640941", "二三）", "23)"));
        }
        // A group whose lines no longer merge: one code, two towns.
        const std::string twoTowns = second ? "1" : "0";
        lines.push_back(KenLine("01101", "064  ", "0640942", "宮の森（一", "ﾐﾔﾉﾓﾘ(1", twoTowns));
        lines.push_back(KenLine("01101", "064  ", "0640942", "二）", "2)", twoTowns));
        // A code that moves to another municipality.
        lines.push_back(second ? KenLine("01102", "001  ", "0600003", "北三条西", "ｷﾀ3ｼﾞｮｳﾆｼ", "0",
                                         "北海道", kita)
                               : KenLine("01101", "060  ", "0600003", "北三条西", "ｷﾀ3ｼﾞｮｳﾆｼ"));
        lines.push_back(KenLine("01102", "001  ", "0010000", "北区", "ｷﾀｸ", "0", "北海道", kita));
        if (second)
            lines.push_back(KenLine("01102", "001  ", "0010999", "新町", "ｼﾝﾏﾁ", "0", "北海道",
                                    kita));  // added
        return lines;
    }
    std::string national(bool second) {
        std::vector<std::string> lines = Hokkaido(second);
        for (const std::string& line : Prefectures()) lines.push_back(line);
        const std::string path = writeKen(lines, second ? "ken_all_2.csv" : "ken_all_1.csv");
        SetFileDate(path, 2024, second ? 12 : 11, second ? 27 : 29);
        return path;
    }
    std::string office(bool second) {
        std::vector<std::string> lines = {
            Office("01101", "札幌商事", "0608621", second ? "７丁目" : "６丁目"),  // moved
            Office("01101", "北海物産", "0608623", "１丁目"),                      // unchanged
            Office("01101", second ? "北海物産販売" : "北海物産販売所", "0608625", "２丁目"),
        };
        if (!second) lines.push_back(Office("01101", "閉店商会", "0608622", "３丁目"));
        if (second) lines.push_back(Office("01101", "開店商会", "0608624", "４丁目"));
        const std::string path = dir.file(second ? "jigyosyo_2.csv" : "jigyosyo_1.csv");
        writeCp932Lines(path, lines);
        SetFileDate(path, 2024, second ? 12 : 11, second ? 27 : 29);
        return path;
    }
    void runAgain(const std::string& ken, const std::string& offices) {
        view.captions = {};
        run(ken, offices);
    }
    Table report() {
        return Rows(database, "SELECT データ, 旧作成日, 新作成日, 追加, 削除, 変更 FROM 変更報告");
    }
    // The report's rows in text order.
    Table details(const std::string& set) {
        Table rows =
            Rows(database,
                 "SELECT 郵便番号, 区分, 新旧, 団体コード, 都道府県名, 住所かな1, 市町村名, "
                 "住所かな2, 町域名, 住所かな3, 事業所名, 事業所名かな, 丁目番地等, 取扱郵便局 "
                 "FROM 変更明細 WHERE データ = '" +
                     set + "'");
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    // Whatever the report tables hold but the time of the import.
    Table everything() {
        Table all = report();
        for (const char* set : {"ZIPALL", "JIGYOSYO"}) {
            for (auto& row : details(set)) all.push_back(row);
        }
        return all;
    }
    std::string printed(changes::ReportFormat format, std::vector<DataSet> sets) {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        std::ostringstream out;
        changes::PrintReports(connection, sets, format, out);
        return out.str();
    }
};

Table Sorted(Table rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

// A national row of the report: the masters' names with the row's town.
std::vector<std::string> NationalRow(const std::string& zip, const std::string& change,
                                     const std::string& side, const std::string& city,
                                     const std::string& cityName, const std::string& town,
                                     const std::string& townKana) {
    return {zip,  change,   side,     city,     "北海道", "ﾎｯｶｲﾄﾞｳ", cityName, "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ",
            town, townKana, "<NULL>", "<NULL>", "<NULL>", "<NULL>"};
}

TEST_F(ChangeReportTest, NationalRefreshReportsEachKindOfChangeWithRowsBeforeAndAfter) {
    run(national(false), "");
    runAgain(national(true), "");

    EXPECT_EQ(report(), (Table{{"ZIPALL", "20241129", "20241227", "1", "1", "3"}}));
    const std::string central = "札幌市中央区", kita = "札幌市北区";
    EXPECT_EQ(
        details("ZIPALL"),
        Sorted(Table{
            NationalRow("0010999", "追加", "新", "01102", kita, "新町", "ｼﾝﾏﾁ"),
            NationalRow("0600001", "変更", "旧", "01101", central, "北一条西", "ｷﾀ1ｼﾞｮｳﾆｼ"),
            NationalRow("0600001", "変更", "新", "01101", central, "北一条西２", "ｷﾀ1ｼﾞｮｳﾆｼ"),
            NationalRow("0600002", "削除", "旧", "01101", central, "北二条西", "ｷﾀ2ｼﾞｮｳﾆｼ"),
            NationalRow("0600003", "変更", "旧", "01101", central, "北三条西", "ｷﾀ3ｼﾞｮｳﾆｼ"),
            NationalRow("0600003", "変更", "新", "01102", kita, "北三条西", "ｷﾀ3ｼﾞｮｳﾆｼ"),
            NationalRow("0640942", "変更", "旧", "01101", central, "宮の森（一二）", "ﾐﾔﾉﾓﾘ(12)"),
            NationalRow("0640942", "変更", "新", "01101", central, "二）", "2)"),
            NationalRow("0640942", "変更", "新", "01101", central, "宮の森（一", "ﾐﾔﾉﾓﾘ(1"),
        }));
    // The kept form is gone once the report is made.
    EXPECT_EQ(Count(database, changes::kKeptTable), 0);
    EXPECT_EQ(Count(database, changes::kKeptStampTable), 0);

    // The same data once more: nothing changed, the last report replaced.
    runAgain(national(true), "");
    EXPECT_EQ(report(), (Table{{"ZIPALL", "20241227", "20241227", "0", "0", "0"}}));
    EXPECT_TRUE(details("ZIPALL").empty());
}

TEST_F(ChangeReportTest, BusinessOfficeRefreshReportsMovedRenamedAddedAndRemovedOffices) {
    run(national(false), office(false));
    runAgain("", office(true));

    // Only the business-office report is new; the national one is that of the first import.
    const Table reports = report();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1],
              (std::vector<std::string>{"JIGYOSYO", "20241129", "20241227", "1", "1", "2"}));
    const auto row = [](const std::string& zip, const std::string& change, const std::string& side,
                        const std::string& name, const std::string& street) {
        return std::vector<std::string>{zip,      change,       side,     "01101",    "<NULL>",
                                        "<NULL>", "<NULL>",     "<NULL>", "北一条西", "<NULL>",
                                        name,     "ｶﾌﾞｼｷｶﾞｲｼﾔ", street,   "札幌中央"};
    };
    EXPECT_EQ(details("JIGYOSYO"), Sorted(Table{
                                       row("0608621", "変更", "旧", "札幌商事", "６丁目"),
                                       row("0608621", "変更", "新", "札幌商事", "７丁目"),
                                       row("0608622", "削除", "旧", "閉店商会", "３丁目"),
                                       row("0608624", "追加", "新", "開店商会", "４丁目"),
                                       row("0608625", "変更", "旧", "北海物産販売所", "２丁目"),
                                       row("0608625", "変更", "新", "北海物産販売", "２丁目"),
                                   }));
}

TEST_F(ChangeReportTest, FirstImportCountsEveryCodeAsAddedWithoutListingThem) {
    run(national(false), "");
    EXPECT_EQ(report(), (Table{{"ZIPALL", "<NULL>", "20241129", "53", "0", "0"}}));
    EXPECT_EQ(Count(database, changes::kDetailTable), 0);
    EXPECT_NE(printed(changes::ReportFormat::Text, {DataSet::National}).find("最初の取り込み"),
              std::string::npos);
}

// The report of one uninterrupted refresh of both data sets.
class InterruptedRefreshTest : public ChangeReportTest {
  protected:
    Table uninterrupted() {
        run(national(false), office(false));
        runAgain(national(true), office(true));
        Table expected = everything();
        EXPECT_EQ(expected.size(), 2u + 9u + 6u);
        mdlYubinBox::CreateMdb();
        resetState();
        view = FakeImportView();
        run(national(false), office(false));
        return expected;
    }
    void abortAt(long long event) {
        view.events = 0;
        view.onEvent = [this, event](long long n) {
            if (n == event) abortImport();
        };
        view.captions = {};
        EXPECT_THROW(run(national(true), office(true)), YubinError);
        view.onEvent = nullptr;
        progress = {};
    }
    void continueImport(bool national) {
        reopen();
        runAgain(national ? this->national(true) : "", office(true));
    }
};

TEST_F(InterruptedRefreshTest, AbortedRefreshContinuedReportsAgainstTheDataBeforeItsFirstAttempt) {
    const Table expected = uninterrupted();
    // Aborted twice inside the national part (the second attempt continues the first), then
    // once inside the business-office part.
    abortAt(20);
    reopen();
    abortAt(25);
    EXPECT_EQ(Count(database, changes::kKeptStampTable), 1);
    reopen();
    abortAt(static_cast<long long>(Hokkaido(true).size() + Prefectures().size()) + 10 + 2);
    EXPECT_GT(reopen().threshold, mdInport::kOfficeRecNoBase);
    continueImport(false);
    EXPECT_EQ(everything(), expected);
}

// A first import counts the codes it appended; one that continues an interrupted first import
// counts those of the whole table, the rows of the earlier attempt included.
TEST_F(InterruptedRefreshTest, FirstImportContinuedCountsEveryCodeOnceAsAnUninterruptedOneDoes) {
    run(national(true), office(true));
    const Table expected = Sorted(report());
    ASSERT_EQ(expected, (Table{{"JIGYOSYO", "<NULL>", "20241227", "4", "0", "0"},
                               {"ZIPALL", "<NULL>", "20241227", "53", "0", "0"}}));
    const long long officePart =
        static_cast<long long>(Hokkaido(true).size() + Prefectures().size()) + 10 + 2;
    for (const long long event : {20LL, officePart}) {
        SCOPED_TRACE("aborted at event " + std::to_string(event));
        mdlYubinBox::CreateMdb();
        resetState();
        view = FakeImportView();
        abortAt(event);
        const bool inNationalPart = reopen().threshold < mdInport::kOfficeRecNoBase;
        EXPECT_EQ(inNationalPart, event == 20);
        continueImport(inNationalPart);
        EXPECT_EQ(Sorted(report()), expected);
    }
}

TEST_F(InterruptedRefreshTest, RefreshThatFailedIsRunAgainFreshAndReportsAgainstTheFirstData) {
    const Table expected = uninterrupted();
    // A refresh that stops at a bad line leaves no resume marker: the next run starts afresh
    // on a table that holds part of the new data.
    std::vector<std::string> lines = Hokkaido(true);
    lines.push_back("01101,\"060  \",\"0600999\"");
    const std::string broken = writeKen(lines, "broken.csv");
    view.captions = {};
    EXPECT_THROW(run(broken, ""), YubinError);
    progress = {};
    EXPECT_EQ(reopen().threshold, 0);
    runAgain(national(true), office(true));
    EXPECT_EQ(everything(), expected);
}

TEST_F(ChangeReportTest, FirstImportCountsEachCodeOnceHoweverManyRowsItHas) {
    // The second month has 54 national rows of 53 codes (0640942 twice); the business-office
    // data follows national data, its own kept side empty.
    run(national(true), office(true));
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 <> '1'"), 54);
    EXPECT_EQ(Sorted(report()), (Table{{"JIGYOSYO", "<NULL>", "20241227", "4", "0", "0"},
                                       {"ZIPALL", "<NULL>", "20241227", "53", "0", "0"}}));
    EXPECT_EQ(Count(database, changes::kDetailTable), 0);
    EXPECT_EQ(Count(database, changes::kKeptTable), 0);
}

// A kept form of one old row to a row, as an earlier version of this program kept it, waiting
// for the report of an import that was cut short: the import that finishes it reports as one
// that kept the form itself.
TEST_F(ChangeReportTest, RowByRowKeptFormOfAnEarlierVersionIsReportedAlike) {
    run(national(false), office(false));
    runAgain(national(true), office(true));
    const Table expected = everything();
    mdlYubinBox::CreateMdb();
    resetState();
    view = FakeImportView();
    run(national(false), office(false));
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        const auto sql = [&](const std::string& statement) {
            db::NativeStatement(connection, statement).run();
        };
        sql("INSERT INTO 変更前データ (データ, 郵便番号, 団体コード, 町域名, 住所かな3) "
            "SELECT 'ZIPALL', 郵便番号, 団体コード, nullif(町域名, ''), nullif(住所かな3, '') "
            "FROM ZIPALL WHERE データ識別 <> '1'");
        sql("INSERT INTO 変更前データ (データ, 郵便番号, 団体コード, 町域名, 事業所名, "
            "事業所名かな, 丁目番地等, 取扱郵便局) SELECT 'JIGYOSYO', 郵便番号, 団体コード, "
            "町域名, 事業所名, 事業所名かな, 丁目番地等, 取扱郵便局 FROM ZIPALL "
            "WHERE データ識別 = '1'");
        sql("INSERT INTO 変更前マスタ SELECT 'ZIPALL', '都道府県', JISX0401, 都道府県名, "
            "住所かな1 FROM 都道府県 UNION ALL SELECT 'ZIPALL', '市町村', JISX0402, 市町村名, "
            "住所かな2 FROM 市町村");
        sql("INSERT INTO 変更前作成日 VALUES ('ZIPALL', '20241129'), ('JIGYOSYO', '20241129')");
        // Both data sets as an import cut short leaves them: their kept forms stay.
        db::setBookkeepingValue(connection, "import.incomplete.national", "ken_all_2.csv");
        db::setBookkeepingValue(connection, "import.incomplete.office", "jigyosyo_2.csv");
    }
    runAgain(national(true), office(true));
    EXPECT_EQ(everything(), expected);
    EXPECT_EQ(Count(database, changes::kKeptTable), 0);
}

// A month's edits: a town renamed, a code removed, one moved to another municipality, a
// municipality renamed in the masters, an office moved, one removed.
constexpr const char* kEditsOfAMonth[] = {
    "UPDATE ZIPALL SET 町域名 = '北一条東' WHERE 郵便番号 = '0600001'",
    "DELETE FROM ZIPALL WHERE 郵便番号 = '0600002'",
    "UPDATE ZIPALL SET 団体コード = '01102' WHERE 郵便番号 = '0600003'",
    "UPDATE 市町村 SET 市町村名 = '札幌市北区' WHERE JISX0402 = '01101'",
    "UPDATE ZIPALL SET 丁目番地等 = '９丁目' WHERE 郵便番号 = '0608621'",
    "DELETE FROM ZIPALL WHERE 郵便番号 = '0608622'"};

// The kept form is read on a second thread beside the rows now: the report is the one read on
// one thread, for both data sets, with every kind of change.
TEST_F(ChangeReportTest, ReportReadOnTwoThreadsIsTheReportReadOnOne) {
    run(national(false), office(false));
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        for (DataSet set : {DataSet::National, DataSet::Office}) {
            ASSERT_TRUE(changes::KeepOldData(connection, set, changes::OldRows::Whole));
        }
        for (const char* statement : kEditsOfAMonth) {
            db::NativeStatement(connection, statement).run();
        }
    }
    const std::string kept = database + ".kept";
    std::filesystem::copy_file(database, kept);
    Table reports[2];
    for (const changes::ReportThreads threads :
         {changes::ReportThreads::One, changes::ReportThreads::Two}) {
        std::filesystem::copy_file(kept, database,
                                   std::filesystem::copy_options::overwrite_existing);
        {
            db::Connection connection;
            connection.open(mdlYubinBox::ConnectionString(database));
            for (DataSet set : {DataSet::National, DataSet::Office}) {
                ASSERT_TRUE(changes::MakeReport(connection, set, "2024-12-27 09:00:00", threads));
            }
        }
        reports[threads == changes::ReportThreads::Two] = everything();
    }
    EXPECT_EQ(reports[1], reports[0]);
    // The renamed municipality changes each of its four codes, one code moved, one removed; an
    // office moved, one removed.
    EXPECT_EQ(report(), (Table{{"ZIPALL", "20241129", "20241129", "0", "1", "5"},
                               {"JIGYOSYO", "20241129", "20241129", "0", "1", "1"}}));
    EXPECT_EQ(Count(database, changes::kKeptTable), 0);
}

// A refresh's report takes the rows now as appended: it is the report of the rows read back,
// for both data sets and every kind of change, names of the masters included.
TEST_F(ChangeReportTest, ReportOfTheRowsAsAppendedIsTheReportOfTheRowsReadBack) {
    run(national(false), office(false));
    std::optional<changes::AppendedRows> appended[2];
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        for (DataSet set : {DataSet::National, DataSet::Office}) {
            ASSERT_TRUE(changes::KeepOldData(connection, set, changes::OldRows::Whole));
        }
        const std::string copyRow =
            "INSERT INTO ZIPALL SELECT 団体コード, 旧郵便番号, ?1, 住所かな3, 町域名, flag1, "
            "flag2, flag3, ダブり, flag4, flag5, 事業所名かな, 事業所名, 取扱郵便局, 種別, "
            "丁目番地等, データ識別, RECNO + 100 FROM ZIPALL WHERE 郵便番号 = ?2";
        db::NativeStatement(connection, copyRow).bind(1, "0600099").bind(2, "0600005").run();
        db::NativeStatement(connection, copyRow).bind(1, "0608699").bind(2, "0608623").run();
        for (const char* statement : kEditsOfAMonth) {
            db::NativeStatement(connection, statement).run();
        }
        for (DataSet set : {DataSet::National, DataSet::Office}) {
            appended[set == DataSet::Office].emplace(AppendAgain(connection, set));
            EXPECT_EQ(appended[set == DataSet::Office]->rowCount(),
                      set == DataSet::National ? 53u : 4u);
        }
    }
    const std::string readBack = database + ".read-back";
    std::filesystem::copy_file(database, readBack);
    Table reports[2];
    for (const bool asAppended : {true, false}) {
        if (!asAppended) {
            std::filesystem::copy_file(readBack, database,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        {
            db::Connection connection;
            connection.open(mdlYubinBox::ConnectionString(database));
            for (DataSet set : {DataSet::National, DataSet::Office}) {
                changes::AppendedRows* rows = &*appended[set == DataSet::Office];
                ASSERT_TRUE(changes::MakeReport(connection, set, "2024-12-27 09:00:00",
                                                changes::ReportThreads::Two,
                                                asAppended ? rows : nullptr));
                EXPECT_EQ(rows->rowCount(), 0u);  // taken away
            }
        }
        reports[asAppended] = everything();
    }
    EXPECT_EQ(reports[true], reports[false]);
    // The renamed municipality changes each of its four codes, one code moved, one added, one
    // removed; an office moved, one added, one removed.
    EXPECT_EQ(report(), (Table{{"ZIPALL", "20241129", "20241129", "1", "1", "5"},
                               {"JIGYOSYO", "20241129", "20241129", "1", "1", "1"}}));
    EXPECT_EQ(details("ZIPALL").size(), 1u + 1u + 2u * 5u);
    EXPECT_EQ(details("JIGYOSYO").size(), 1u + 1u + 2u);
}

// Rows reduced to their codes (as an import that found nothing kept appends them) cannot be
// compared with kept rows: the report reads the rows back, and is the same.
TEST_F(ChangeReportTest, RowsReducedToTheirCodesAreReadBackWhereRowsWereKept) {
    run(national(false), "");
    std::optional<changes::AppendedRows> codesOnly;
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        ASSERT_TRUE(changes::KeepOldData(connection, DataSet::National, changes::OldRows::Whole));
        for (const char* statement : kEditsOfAMonth) {
            db::NativeStatement(connection, statement).run();
        }
        codesOnly.emplace(AppendAgain(connection, DataSet::National,
                                      changes::AppendedRows::Reduction::CodesOnly));
        EXPECT_FALSE(codesOnly->comparable());
    }
    const std::string before = database + ".before";
    std::filesystem::copy_file(database, before);
    Table reports[2];
    for (const bool reduced : {true, false}) {
        std::filesystem::copy_file(before, database,
                                   std::filesystem::copy_options::overwrite_existing);
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        ASSERT_TRUE(changes::MakeReport(connection, DataSet::National, "2024-12-27 09:00:00",
                                        changes::ReportThreads::Two,
                                        reduced ? &*codesOnly : nullptr));
        connection.close();
        reports[reduced] = everything();
    }
    EXPECT_EQ(reports[true], reports[false]);
    EXPECT_EQ(report(), (Table{{"ZIPALL", "20241129", "20241129", "0", "1", "5"}}));
}

// A table whose municipality code is a column of numbers stores the code's number: the rows
// appended are read back as the report reads the kept ones.
TEST_F(ChangeReportTest, MunicipalityCodeStoredAsANumberIsReportedAsItReadsBack) {
    {
        db::deleteDatabaseFile(database);
        db::createDatabase(mdlYubinBox::ConnectionString(database));
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        const std::string textCode = "団体コード Text(5)";
        for (std::string statement : mdlYubinBox::kSchemaStatements) {
            if (statement.find("CREATE TABLE ZIPALL") == 0) {
                statement.replace(statement.find(textCode), textCode.size(), "団体コード Long");
            }
            connection.execute(statement);
        }
        for (const char* column : mdlYubinBox::kZeroLengthColumns) {
            connection.setAllowZeroLength("ZIPALL", column, true);
        }
        ASSERT_EQ(connection.columns("ZIPALL")[0].kind, db::ColumnKind::Long);
    }
    run(national(false), "");
    runAgain(national(true), "");
    EXPECT_EQ(report(), (Table{{"ZIPALL", "20241129", "20241227", "1", "1", "3"}}));
    const Table rows = details("ZIPALL");
    ASSERT_EQ(rows.size(), 9u);
    for (const auto& row : rows) EXPECT_TRUE(row[3] == "1101" || row[3] == "1102") << row[3];
}

// The older report's rows, deleted, outgrow the page cache, which spills into the file under an
// exclusive lock: by then the second thread has read the kept form (it would wait for the lock
// and fail).
TEST_F(ChangeReportTest, AnOlderReportOfManyRowsIsDeletedAfterTheSecondThreadHasRead) {
    run(national(false), office(false));
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    {
        db::NativeTransaction transaction(connection);
        db::NativeStatement insert(connection,
                                   "INSERT INTO 変更明細 (データ, 郵便番号, 区分, 新旧, 町域名) "
                                   "VALUES ('ZIPALL', ?1, '変更', '旧', ?2)");
        const std::string town(300, 'x');
        for (int i = 0; i < 20000; ++i) insert.bind(1, Pad(i, 7)).bind(2, town).run();
        transaction.commit();
    }
    ASSERT_TRUE(changes::KeepOldData(connection, DataSet::National, changes::OldRows::Whole));
    db::NativeStatement(connection,
                        "UPDATE ZIPALL SET 町域名 = '北一条東' WHERE 郵便番号 = '0600001'")
        .run();
    const std::chrono::milliseconds wait = db::lockWait();
    db::setLockWait(std::chrono::milliseconds(200));  // a wait would fail soon
    std::optional<changes::ReportSummary> summary;
    EXPECT_NO_THROW(summary =
                        changes::MakeReport(connection, DataSet::National, "2024-12-27 09:00:00",
                                            changes::ReportThreads::Two));
    db::setLockWait(wait);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->counts.changed, 1);
    EXPECT_EQ(details("ZIPALL").size(), 2u);
}

TEST_F(ChangeReportTest, ReportTablesAreListedTheKeptOnesHiddenAndAllSurviveCompaction) {
    run(national(false), "");
    runAgain(national(true), "");
    const Table before = everything();
    mdlYubinBox::CompactMdb(database);
    EXPECT_EQ(everything(), before);

    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    std::vector<std::string> shown, all;
    for (const auto& table : connection.tables(false)) shown.push_back(table.name);
    for (const auto& table : connection.tables(true)) all.push_back(table.name);
    EXPECT_EQ(shown, (std::vector<std::string>{"登録中", "変更報告", "変更明細"}));
    EXPECT_EQ(all.size(), 11u);
    const auto summary = changes::ReadSummary(connection, DataSet::National);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->counts, (changes::ChangeCounts{1, 1, 3}));
    EXPECT_FALSE(changes::ReadSummary(connection, DataSet::Office));
}

TEST_F(ChangeReportTest, KeptTableLeftVisibleByAnEndedProcessIsHiddenAgain) {
    run(national(false), "");
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        connection.setTableAttributes(changes::kKeptTable, 0);
    }
    runAgain(national(true), "");
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    std::vector<std::string> shown;
    for (const auto& table : connection.tables(false)) shown.push_back(table.name);
    EXPECT_EQ(shown, (std::vector<std::string>{"登録中", "変更報告", "変更明細"}));
}

TEST_F(ChangeReportTest, PrintedReportsGiveCountsFirstThenTheCodes) {
    run(national(false), office(false));
    runAgain(national(true), office(true));
    const std::vector<DataSet> both = {DataSet::National, DataSet::Office};

    const std::string text = printed(changes::ReportFormat::Text, both);
    EXPECT_NE(text.find("作成日: 20241129 -> 20241227"), std::string::npos) << text;
    EXPECT_NE(text.find("  追加 1  削除 1  変更 3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    01 北海道  追加 1  削除 1  変更 3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  0600003 変更\n    旧 01101 北海道 札幌市中央区 北三条西"),
              std::string::npos)
        << text;
    EXPECT_LT(text.find("都道府県別"), text.find("0010999"));

    const std::string tsv = printed(changes::ReportFormat::Tsv, both);
    EXPECT_EQ(tsv.substr(0, tsv.find('\n')),
              "データ\t取込日時\t旧作成日\t新作成日\t都道府県\t都道府県名\t追加\t削除\t変更");
    EXPECT_NE(tsv.find("\t20241129\t20241227\t01\t北海道\t1\t1\t3\n"), std::string::npos);
    EXPECT_NE(tsv.find("\n\nデータ\t郵便番号\t区分\t新旧\t団体コード"), std::string::npos);
    EXPECT_NE(tsv.find("JIGYOSYO\t0608624\t追加\t新\t01101\t\t\t\t\t北一条西\t\t開店商会"),
              std::string::npos)
        << tsv;

    const std::string csv = printed(changes::ReportFormat::Csv, {DataSet::Office});
    EXPECT_NE(csv.find("\r\n\r\nデータ,郵便番号,区分,新旧,"), std::string::npos);

    const std::string json = printed(changes::ReportFormat::Json, {DataSet::Office});
    EXPECT_EQ(json.rfind("{\"office\":{\"data\":\"JIGYOSYO\"", 0), 0u) << json;
    EXPECT_NE(json.find("\"added\":1,\"removed\":1,\"changed\":2,\"prefectures\":[{\"code\":"
                        "\"01\",\"name\":\"北海道\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("{\"code\":\"0608622\",\"change\":\"removed\",\"before\":[{"
                        "\"団体コード\":\"01101\",\"町域名\":\"北一条西\",\"事業所名\":"
                        "\"閉店商会\""),
              std::string::npos)
        << json;
    EXPECT_EQ(changes::ParseReportFormat("xml"), std::nullopt);
}

// The report is made once the data is whole: a report that cannot be made (its table refuses
// the row) leaves the import finished with its keys and index, takes the older report away,
// and the next refresh reports against the data as that import left it.
TEST_F(ChangeReportTest, ReportThatCannotBeMadeLeavesTheImportWholeAndTheNextReportRight) {
    run(national(false), office(false));
    const auto sql = [this](const std::string& statement) {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        db::NativeStatement(connection, statement).run();
    };
    sql("CREATE TRIGGER refuse BEFORE INSERT ON 変更報告 BEGIN SELECT RAISE(ABORT, 'full'); END");
    runAgain(national(true), office(true));
    EXPECT_TRUE(progress.finished[0] && progress.finished[1]);
    EXPECT_TRUE(view.boxes.empty());
    EXPECT_EQ(report(), Table{});
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        const query::SummaryFacts facts = query::ReadSummaryFacts(connection);
        EXPECT_EQ(facts.nationalStamp, "20241227");
        EXPECT_EQ(facts.officeStamp, "20241227");
        ASSERT_FALSE(facts.keys.empty());
        for (const auto& key : facts.keys) EXPECT_TRUE(key.present) << key.index;
    }

    sql("DROP TRIGGER refuse");
    runAgain(national(true), office(true));
    EXPECT_EQ(Sorted(report()), (Table{{"JIGYOSYO", "20241227", "20241227", "0", "0", "0"},
                                       {"ZIPALL", "20241227", "20241227", "0", "0", "0"}}));
}

// A long file is appended inside the transaction that keeps the old rows, which commits once
// the file's check has passed: the kept form's digests are read from then on, never from the
// file as it was before (it held no kept form at all).
TEST_F(ChangeReportTest, RefreshOfALongFileReportsAgainstTheRowsItReplaced) {
    run(national(false), "");
    std::vector<std::string> lines = Hokkaido(true);
    for (const std::string& line : Prefectures()) lines.push_back(line);
    for (int i = 0; i < 3000; ++i) {
        lines.push_back(KenLine("01102", "001  ", "002" + Pad(i, 4), "町" + std::string(100, 'x'),
                                "ﾏﾁ", "0", "北海道", "札幌市北区"));
    }
    const std::string path = writeKen(lines, "long.csv");
    ASSERT_GE(std::filesystem::file_size(path), 256u * 1024u);
    SetFileDate(path, 2024, 12, 27);
    runAgain(path, "");
    EXPECT_EQ(report(), (Table{{"ZIPALL", "20241129", "20241227", "3001", "1", "3"}}));
}

// The kept forms' digests read ahead, on a thread and a connection of their own, while the rows
// now are written: the report takes them only while they are still those of the kept form.
class ReadAheadTest : public ChangeReportTest {
  protected:
    // The first month imported, both data sets kept, then the month's edits: a copy of the file
    // as a report would find it.
    std::string keptWithEdits() {
        run(national(false), office(false));
        {
            db::Connection connection;
            connection.open(mdlYubinBox::ConnectionString(database));
            for (DataSet set : {DataSet::National, DataSet::Office}) {
                EXPECT_TRUE(changes::KeepOldData(connection, set, changes::OldRows::Whole));
            }
            for (const char* statement : kEditsOfAMonth) {
                db::NativeStatement(connection, statement).run();
            }
        }
        const std::string kept = database + ".kept";
        std::filesystem::copy_file(database, kept);
        return kept;
    }
    void restore(const std::string& copy) {
        std::filesystem::copy_file(copy, database,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    // The reports made from `copy`: `between(connection, set)` runs after the reading ahead (if
    // any) has begun and before the report is made.
    using Between = std::function<void(db::Connection&, DataSet)>;
    Table reports(const std::string& copy, bool readAhead, const Between& between = {}) {
        restore(copy);
        {
            db::Connection connection;
            connection.open(mdlYubinBox::ConnectionString(database));
            for (DataSet set : {DataSet::National, DataSet::Office}) {
                std::optional<changes::KeptDigestsAhead> ahead;
                if (readAhead) {
                    ahead.emplace(connection, set);
                    EXPECT_TRUE(ahead->reading());
                    EXPECT_TRUE(ahead->waitForReading());
                }
                if (between) between(connection, set);
                EXPECT_TRUE(changes::MakeReport(connection, set, "2024-12-27 09:00:00",
                                                changes::ReportThreads::One, nullptr,
                                                ahead ? &*ahead : nullptr));
            }
        }
        return everything();
    }
    // The digests the reading ahead gives inside a report's transaction (nullopt: refused).
    static std::optional<changes::CodeDigests> taken(changes::KeptDigestsAhead& ahead,
                                                     db::Connection& connection) {
        db::NativeTransaction transaction(connection);
        db::NativeStatement waiting(connection, "SELECT count(*) FROM 変更前作成日");
        EXPECT_TRUE(waiting.step());
        return ahead.take(connection);
    }
};

TEST_F(ReadAheadTest, ReportOfDigestsReadAheadIsTheReportReadAfterwards) {
    const std::string kept = keptWithEdits();
    const Table afterwards = reports(kept, false);
    EXPECT_EQ(reports(kept, true), afterwards);
    EXPECT_EQ(report(), (Table{{"ZIPALL", "20241129", "20241129", "0", "1", "5"},
                               {"JIGYOSYO", "20241129", "20241129", "0", "1", "1"}}));
}

// Kept forms of many packed rows and of one row to a row, read in pieces: every row is read,
// each once.
TEST_F(ReadAheadTest, KeptFormsOfManyPiecesAreReadWhole) {
    std::vector<std::string> lines = Prefectures();
    for (int i = 0; i < 3000; ++i) {
        lines.push_back(KenLine("01101", "060  ", "06" + Pad(i, 5), "町" + std::string(40, 'x'),
                                "ﾏﾁ" + std::to_string(i)));
    }
    run(writeKen(lines, "many.csv"), "");
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    ASSERT_TRUE(changes::KeepOldData(connection, DataSet::National, changes::OldRows::Whole));
    ASSERT_GT(Count(database, changes::kKeptTable), 2);
    // A second kept form, one row to a row, as an earlier version kept it.
    db::NativeStatement(connection,
                        "INSERT INTO 変更前データ (データ, 郵便番号, 団体コード, 町域名) SELECT "
                        "'JIGYOSYO', 郵便番号, 団体コード, 町域名 FROM ZIPALL")
        .run();
    db::NativeStatement(connection, "INSERT INTO 変更前作成日 VALUES ('JIGYOSYO', '20241129')")
        .run();
    for (DataSet set : {DataSet::National, DataSet::Office}) {
        changes::KeptDigestsAhead ahead(connection, set);
        ASSERT_TRUE(ahead.waitForReading());
        const std::optional<changes::CodeDigests> digests = taken(ahead, connection);
        ASSERT_TRUE(digests);
        EXPECT_EQ(digests->rowCount(), 3000u + Prefectures().size());
        EXPECT_EQ(digests->codeCount(), 3000u + Prefectures().size());
    }
}

// A kept form of many packed rows, read ahead: the report reads back only the packed rows that
// hold the changed codes, and it is the report read whole: codes changed in rows far apart, one
// whose rows span two packed rows, one removed, one added, and a changed code whose short hash
// an unchanged code in another packed row shares.
TEST_F(ReadAheadTest, OldRowsOfCodesInManyPackedRowsAreReportedAsWhenTheKeptFormIsReadWhole) {
    constexpr const char* kSameHashA = "BQV3C8R";
    constexpr const char* kSameHashB = "T8O7QNW";
    ASSERT_EQ(changes::ShortKeyHash(changes::CodeKey(kSameHashA)),
              changes::ShortKeyHash(changes::CodeKey(kSameHashB)));
    std::vector<std::string> lines = Prefectures();
    for (int i = 0; i < 3000; ++i) {
        lines.push_back(KenLine("01101", "060  ", "06" + Pad(i, 5), "町" + std::string(40, 'x'),
                                "ﾏﾁ" + std::to_string(i)));
    }
    run(writeKen(lines, "many.csv"), office(false));
    std::string kept;
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        const auto sql = [&](const std::string& statement) {
            db::NativeStatement(connection, statement).run();
        };
        // 800 rows of one code, over two packed rows; the two codes of one hash far apart.
        sql("UPDATE ZIPALL SET 郵便番号 = '0700000' WHERE 郵便番号 BETWEEN '0601000' AND "
            "'0601799'");
        sql(std::string("UPDATE ZIPALL SET 郵便番号 = '") + kSameHashA +
            "' WHERE 郵便番号 = '0600010'");
        sql(std::string("UPDATE ZIPALL SET 郵便番号 = '") + kSameHashB +
            "' WHERE 郵便番号 = '0602990'");
        for (DataSet set : {DataSet::National, DataSet::Office}) {
            ASSERT_TRUE(changes::KeepOldData(connection, set, changes::OldRows::Whole));
        }
        {
            changes::KeptDigestsAhead ahead(connection, DataSet::National);
            ASSERT_TRUE(ahead.waitForReading());
            ASSERT_TRUE(taken(ahead, connection));
            const std::optional<changes::KeptRowIndex> index = ahead.takeRowIndex();
            ASSERT_TRUE(index);
            EXPECT_TRUE(index->whole());
            EXPECT_EQ(index->rowCount(), 3000u + Prefectures().size());
            EXPECT_GE(index->packedRowCount(), 4u);
            EXPECT_FALSE(ahead.takeRowIndex()) << "taken once";
        }
        for (const char* statement : {
                 "UPDATE ZIPALL SET 町域名 = '本町' WHERE 郵便番号 IN ('0600005', '0601900', "
                 "'0602900')",
                 "UPDATE ZIPALL SET 住所かな3 = 'ﾎﾝﾏﾁ' WHERE rowid = (SELECT max(rowid) FROM "
                 "ZIPALL WHERE 郵便番号 = '0700000')",
                 "DELETE FROM ZIPALL WHERE 郵便番号 = '0602000'",
                 "UPDATE ZIPALL SET 郵便番号 = '0609999' WHERE 郵便番号 = '0602500'",
                 "UPDATE ZIPALL SET 町域名 = '本町' WHERE 郵便番号 = 'BQV3C8R'",
             }) {
            sql(statement);
        }
        kept = database + ".kept";
        std::filesystem::copy_file(database, kept);
    }
    const Table whole = reports(kept, false);
    EXPECT_EQ(reports(kept, true), whole);
    EXPECT_EQ(Rows(database, "SELECT 追加, 削除, 変更 FROM 変更報告 WHERE データ = 'ZIPALL'"),
              (Table{{"1", "2", "5"}}));
    std::set<std::string> codes;
    for (const auto& row : details("ZIPALL")) codes.insert(row[0]);
    EXPECT_EQ(codes, (std::set<std::string>{"0600005", "0601900", "0602900", "0700000", "0602000",
                                            "0602500", "0609999", kSameHashA}));
    // Every row of 0700000 before and after.
    EXPECT_EQ(details("ZIPALL").size(), 2u * 4u + 2u * 800u + 2u + 1u);
}

// Digests read before anything changed the kept form are refused: after another connection's
// commit, after this process kept the data set again, on another connection. A new kept form of
// the other data set leaves them as they are.
TEST_F(ReadAheadTest, DigestsAreRefusedOnceTheKeptFormMayHaveChanged) {
    keptWithEdits();
    db::Connection connection, other;
    connection.open(mdlYubinBox::ConnectionString(database));
    other.open(mdlYubinBox::ConnectionString(database));
    const auto readAhead = [&](DataSet set) {
        auto ahead = std::make_unique<changes::KeptDigestsAhead>(connection, set);
        EXPECT_TRUE(ahead->waitForReading());
        return ahead;
    };
    {
        auto ahead = readAhead(DataSet::National);
        EXPECT_TRUE(taken(*ahead, connection));
        EXPECT_FALSE(taken(*ahead, connection)) << "taken once";
    }
    {
        auto ahead = readAhead(DataSet::National);
        db::NativeStatement(other, "UPDATE 変更前マスタ SET 名前 = '札幌市' WHERE コード = '01101'")
            .run();
        EXPECT_FALSE(taken(*ahead, connection));
    }
    {
        auto ahead = readAhead(DataSet::National);
        EXPECT_FALSE(taken(*ahead, other));
    }
    {
        auto national = readAhead(DataSet::National);
        auto office = readAhead(DataSet::Office);
        ASSERT_TRUE(changes::KeepOldData(connection, DataSet::Office, changes::OldRows::Whole));
        EXPECT_TRUE(taken(*national, connection));
        EXPECT_FALSE(taken(*office, connection));
    }
    // Inside a transaction the kept form the connection sees may not be in the file yet.
    db::NativeTransaction transaction(connection);
    EXPECT_FALSE(changes::KeptDigestsAhead(connection, DataSet::National).reading());
}

// Kept forms changed or replaced after their digests were read: the report compares what the
// kept form holds when it is made, as one made without reading ahead.
TEST_F(ReadAheadTest, KeptFormChangedAfterItsDigestsWereReadIsReadAgainForTheReport) {
    const std::string kept = keptWithEdits();
    const std::vector<std::pair<const char*, Between>> changes = {
        {"another connection renames a kept municipality that is otherwise unchanged",
         [this](db::Connection&, DataSet) {
             db::Connection other;
             other.open(mdlYubinBox::ConnectionString(database));
             db::NativeStatement(other,
                                 "UPDATE 変更前マスタ SET 名前 = '旧北区' WHERE コード = '01102'")
                 .run();
         }},
        {"another connection keeps the rows now in place of the kept ones",
         [this](db::Connection&, DataSet set) {
             db::Connection other;
             other.open(mdlYubinBox::ConnectionString(database));
             db::NativeStatement(other,
                                 "UPDATE ZIPALL SET 取扱郵便局 = '札幌北' WHERE "
                                 "郵便番号 = '0608623'")
                 .run();
             ASSERT_TRUE(changes::KeepOldData(other, set, changes::OldRows::Whole));
         }},
        {"the same connection keeps the rows now in place of the kept ones",
         [](db::Connection& connection, DataSet set) {
             ASSERT_TRUE(changes::KeepOldData(connection, set, changes::OldRows::Whole));
             db::NativeStatement(connection,
                                 "UPDATE ZIPALL SET 町域名 = '北五条東' WHERE 郵便番号 = '0600005'")
                 .run();
         }},
    };
    for (const auto& [what, between] : changes) {
        SCOPED_TRACE(what);
        const Table afterwards = reports(kept, false, between);
        EXPECT_EQ(reports(kept, true, between), afterwards);
        EXPECT_NE(afterwards, reports(kept, false)) << "the change shows in the report";
    }
}

// The report's connection holds the file for itself, as an appending one does once its pages
// spill into the file: a reading ahead begun then waits. When it fails (it waited longer than
// the lock wait), or the program's ways out stop it (at once, not after the lock wait, its
// thread joined), the report's own thread reads the kept form and makes the same report.
TEST_F(ReadAheadTest, ReadingThatFailedOrWasStoppedLeavesTheKeptFormToTheReport) {
    const std::string kept = keptWithEdits();
    const Table afterwards = reports(kept, false);
    restore(kept);
    const std::chrono::milliseconds wait = db::lockWait();
    {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        for (DataSet set : {DataSet::National, DataSet::Office}) {
            const bool stopped = set == DataSet::Office;
            db::setLockWait(stopped ? std::chrono::seconds(20) : std::chrono::milliseconds(100));
            db::NativeStatement(connection, "BEGIN EXCLUSIVE").run();
            changes::KeptDigestsAhead ahead(connection, set);
            EXPECT_TRUE(ahead.reading());
            if (stopped) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));  // it waits by now
                const auto started = std::chrono::steady_clock::now();
                changes::StopReadingAhead();
                EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
            }
            EXPECT_FALSE(ahead.waitForReading());
            db::NativeStatement(connection, "ROLLBACK").run();
            db::setLockWait(wait);
            EXPECT_TRUE(changes::MakeReport(connection, set, "2024-12-27 09:00:00",
                                            changes::ReportThreads::One, nullptr, &ahead));
        }
    }
    EXPECT_EQ(everything(), afterwards);
}

TEST_F(ChangeReportTest, DatabaseWithoutAReportPrintsThatThereIsNone) {
    EXPECT_EQ(printed(changes::ReportFormat::Json, {DataSet::National, DataSet::Office}),
              "{\"national\":null,\n\"office\":null}\n");
    const std::string text = printed(changes::ReportFormat::Text, {DataSet::National});
    EXPECT_NE(text.find("変更報告はありません"), std::string::npos);
}

}  // namespace
}  // namespace yubin::test
