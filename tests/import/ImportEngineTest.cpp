#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "import/ImportTestSupport.h"
#include "import/PublishedCounts.h"
#include "settings/Profile.h"

namespace yubin::test {
namespace {

using Table = std::vector<std::vector<std::string>>;

class NationalImportTest : public ImportFixture {};

TEST_F(NationalImportTest, FreshImportWritesOneRowPerGroupWithMastersDateAndPath) {
    const std::string ken = writeKen({
        KenLine("01101", "060  ", "0600000", "以下に掲載がない場合", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ"),
        KenLine("01101", "064  ", "0640941", "旭ケ丘（一", "ｱｻﾋｶﾞｵｶ(1"),
        KenLine("01101", "064  ", "0640941", "二", "2"),
        KenLine("01101", "064  ", "0640941", "三）", "3)"),
        KenLine("01102", "001  ", "0010000", "北区", "ｷﾀｸ", "0", "北海道", "札幌市北区"),
        KenLine("02201", "030  ", "0300000", "青森市", "ｱｵﾓﾘｼ", "0", "青森県", "青森市"),
    });
    run(ken, "");

    const Table rows = Rows(database, "SELECT * FROM ZIPALL");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"01101", "064  ", "0640941", "ｱｻﾋｶﾞｵｶ(123)",
                                                 "旭ケ丘（一二三）", "0", "0", "0", "0", "0", "0",
                                                 "", "", "", "", "", "", "2"}));
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][17], std::to_string(i + 1));

    EXPECT_EQ(Rows(database, "SELECT * FROM 都道府県"),
              (Table{{"01", "北海道", "ﾎｯｶｲﾄﾞｳ"}, {"02", "青森県", "ﾎｯｶｲﾄﾞｳ"}}));
    EXPECT_EQ(Rows(database, "SELECT * FROM 市町村"),
              (Table{{"01101", "札幌市中央区", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "0"},
                     {"01102", "札幌市北区", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "0"},
                     {"02201", "青森市", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ", "0"}}));
    EXPECT_EQ(Rows(database, "SELECT * FROM 作成日"),
              (Table{{mdlYubinBox::GetFileDate(ken), "<NULL>"}}));
    EXPECT_EQ(mdFileCreate::ReadKey("csvzpath"), ken);

    // Progress after every line, then the result with the pause counted in the time.
    EXPECT_EQ(view.captionHistory0.size(), 7u);
    EXPECT_EQ(view.captionHistory0[5], "( 100.00% )");
    EXPECT_EQ(view.captions[0], "処理時間：00分05秒  4 件");
    EXPECT_EQ(view.statusMessages.back(), "全国版郵便番号データの取込が終了しました。");
    EXPECT_EQ(view.value[0], view.maximum[0]);
    EXPECT_EQ(progress.intInportMode, 0);
    EXPECT_FALSE(view.busy);
    EXPECT_EQ(view.beeps, 1);

    // The run re-created the keys and the index.
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    std::vector<std::string> keyNames;
    for (const auto& key : connection.keys()) keyNames.push_back(key.name);
    std::sort(keyNames.begin(), keyNames.end());
    EXPECT_EQ(keyNames,
              (std::vector<std::string>{"xJISX0401", "xJISX0402", "xRECNO", "x_郵便番号"}));
}

TEST_F(NationalImportTest, ReplacesNationalRowsAndKeepsBusinessOfficeRowsAndPlaceholders) {
    mdlYubinBox::OpenMdb(database);
    mdlYubinBox::cnMdb->execute(
        "INSERT INTO ZIPALL (団体コード, 郵便番号, データ識別, RECNO) VALUES('01101', '0608621', "
        "'1', 1000001)");
    mdlYubinBox::cnMdb->execute(
        "INSERT INTO 市町村 (JISX0402, 市町村名, 抹消FLAG) VALUES('01101', '仮の名', 1)");
    mdlYubinBox::cnMdb->execute(
        "INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('9999999', '', 7)");
    mdlYubinBox::CloseMdb();

    run(writeKen({KenLine("01101", "060  ", "0600000", "町", "ﾏﾁ")}), "");

    EXPECT_EQ(Rows(database, "SELECT * FROM ZIPALL WHERE データ識別 <> '1'").size(), 1u);
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 = '1'"), 1);
    // The placeholder of the business-office import is found, so it stays as it was.
    EXPECT_EQ(Rows(database, "SELECT * FROM 市町村"), (Table{{"01101", "仮の名", "<NULL>", "1"}}));
}

// A run gives the pages it left free back to the file system with its last commit: the
// compaction at the exit finds none to give back, and commits nothing.
TEST_F(NationalImportTest, ARunEndsWithoutFreePages) {
    std::vector<std::string> lines;
    for (int i = 0; i < 300; ++i) {
        lines.push_back(
            KenLine("01101", "060  ", std::to_string(600000 + i), "町" + std::to_string(i), "ﾏﾁ"));
    }
    const std::string ken = writeKen(lines);
    run(ken, "");
    LeaveFreePages(database);
    run(ken, "");
    EXPECT_EQ(FreePages(database), 0);
    EXPECT_EQ(Count(database, "ZIPALL"), 300);
}

TEST_F(NationalImportTest, KeyThatCannotBeMadeAgainFailsTheRunInsteadOfReportingSuccess) {
    // Two rows with one record number (left by a program that wrote while the key was gone):
    // the key cannot be made again after the run, and the run says so.
    mdlYubinBox::OpenMdb(database);  // a new database has no key yet
    for (int i = 0; i < 2; ++i) {
        mdlYubinBox::cnMdb->execute(
            "INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('0608621', '1', 1000001)");
    }
    mdlYubinBox::CloseMdb();

    try {
        run(writeKen({KenLine("01101", "060  ", "0600000", "町", "ﾏﾁ")}), "");
        FAIL() << "the run reported success without its key";
    } catch (const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::DuplicateKey) << error.description();
    }
    // The national rows are stored all the same.
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 <> '1'"), 1);
}

TEST_F(NationalImportTest, EmptyFileRecordsDateAndPathAndCountsZero) {
    const std::string ken = dir.file("ken_all.csv");
    writeBytes(ken, "");
    run(ken, "");
    EXPECT_EQ(Count(database, "ZIPALL"), 0);
    EXPECT_TRUE(view.captionHistory0.size() == 1u);  // no percentage, only the result
    EXPECT_EQ(view.captions[0], "処理時間：00分05秒  0 件");
    EXPECT_EQ(Rows(database, "SELECT * FROM 作成日")[0][0], mdlYubinBox::GetFileDate(ken));
    EXPECT_EQ(mdFileCreate::ReadKey("csvzpath"), ken);
}

TEST_F(NationalImportTest, CodeWithAQuoteIsLookedUpAsTheTextItIs) {
    run(writeKen({KenLine("01'01", "060  ", "0600000", "町", "ﾏﾁ"),
                  KenLine("01'01", "060  ", "0600001", "町", "ﾏﾁ")}),
        "");
    EXPECT_EQ(Rows(database, "SELECT * FROM 市町村 WHERE JISX0402 = '01''01'").size(), 1u);
    EXPECT_EQ(Count(database, "ZIPALL"), 2);
}

TEST_F(NationalImportTest, BadLineIsRefusedWithFileAndLineBeforeAnyRowIsWritten) {
    const std::string ken = writeKen({
        KenLine("01101", "060  ", "0600000", "町", "ﾏﾁ"),
        KenLine("01101", "060  ", "0600001", "町", "ﾏﾁ"),
        KenLine("01101", "060  ", "0600002", "町", "ﾏﾁ"),
        "01101,\"060  \",\"0600003\"",
    });
    try {
        run(ken, "");
        FAIL() << "the short line was accepted";
    } catch (const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::BadInputLine);
        EXPECT_NE(error.description().find(ken), std::string::npos);
        EXPECT_NE(error.description().find("4 行目"), std::string::npos) << error.description();
    }
    EXPECT_FALSE(view.busy);
    EXPECT_EQ(Count(database, "ZIPALL"), 0);  // the whole file is checked first
    EXPECT_TRUE(Rows(database, "SELECT * FROM 登録中").empty());

    // A corrected file then imports completely.
    resetState();
    view.captions = {};
    run(writeKen({KenLine("01101", "060  ", "0600000", "町", "ﾏﾁ")}), "");
    EXPECT_EQ(Count(database, "ZIPALL"), 1);
}

TEST_F(NationalImportTest, ValueTheTableRefusesNamesFileAndLine) {
    const std::string ken = writeKen({
        KenLine("01101", "060  ", "0600000", "町", "ﾏﾁ"),
        KenLine("01101", "060  ", "06000011", "町", "ﾏﾁ"),
        KenLine("01101", "060  ", "0600002", "町", "ﾏﾁ", "0", "北海道", "札幌市中央区", "300,0,0"),
    });
    try {
        run(ken, "");
        FAIL() << "an eight-digit postal code was accepted";
    } catch (const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::FieldTooSmall);
        EXPECT_NE(error.description().find("2 行目"), std::string::npos) << error.description();
    }
    EXPECT_EQ(Count(database, "ZIPALL"), 0);

    view.captions = {};
    EXPECT_THROW(run(writeKen({KenLine("01101", "060  ", "0600000", "町", "ﾏﾁ", "0", "北海道",
                                       "札幌市中央区", "300,0,0")}),
                     ""),
                 YubinError);
}

class OfficeImportTest : public ImportFixture {
  protected:
    // A national import of 47 prefectures, one municipality each.
    void importNational() {
        std::vector<std::string> lines;
        for (int p = 1; p <= 47; ++p) {
            char code[6];
            std::snprintf(code, sizeof code, "%02d101", p);
            lines.push_back(KenLine(code, "100  ", std::to_string(1000000 + p), "町", "ﾏﾁ", "0",
                                    "県" + std::to_string(p), "市" + std::to_string(p)));
        }
        run(writeKen(lines), "");
        view.captions = {};
    }
};

// Rows of both sets written by another program in turn, and rows of no data identifier among
// them: each import replaces exactly its own set's rows, whether they lie in a few runs of
// rowids or in many.
class InterleavedSetsTest : public OfficeImportTest {
  protected:
    void replaceBothSets(int turns) {
        importNational();
        mdlYubinBox::OpenMdb(database);
        const auto insert = [](const std::string& code, const std::string& kind, int recno) {
            mdlYubinBox::cnMdb->execute("INSERT INTO ZIPALL (団体コード, 郵便番号" +
                                        std::string(kind.empty() ? "" : ", データ識別") +
                                        ", RECNO) VALUES('01101', '" + code + "'" +
                                        (kind.empty() ? "" : ", '" + kind + "'") + ", " +
                                        std::to_string(recno) + ")");
        };
        for (int i = 0; i < turns; ++i) {
            insert("0600001", "1", 1000001 + i);
            insert("0600002", "0", 100 + i);
            if (i % 2 == 0) insert("0600003", "", 5000 + i);
        }
        mdlYubinBox::CloseMdb();
        const long long withoutKind = (turns + 1) / 2;

        importNational();
        EXPECT_EQ(Count(database, "ZIPALL", "データ識別 <> '1'"), 47);
        EXPECT_EQ(Count(database, "ZIPALL", "データ識別 = '1'"), turns);
        EXPECT_EQ(Count(database, "ZIPALL", "郵便番号 = '0600003'"), withoutKind);

        const std::string office = dir.file("jigyosyo.csv");
        writeCp932Lines(office, {"01101,ｲﾁ,一,北海道,札幌市中央区,町,１,0608621,060  ,局,0,0,0"});
        run("", office);
        EXPECT_EQ(Rows(database, "SELECT 郵便番号 FROM ZIPALL WHERE データ識別 = '1'"),
                  (Table{{"0608621"}}));
        EXPECT_EQ(Count(database, "ZIPALL", "データ識別 <> '1'"), 47);
        EXPECT_EQ(Count(database, "ZIPALL", "郵便番号 = '0600002'"), 0);
        EXPECT_EQ(Count(database, "ZIPALL", "郵便番号 = '0600003'"), withoutKind);
        EXPECT_EQ(Count(database, "ZIPALL"), 48 + withoutKind);
    }
};

TEST_F(InterleavedSetsTest, FewRunsOfRowids) { replaceBothSets(3); }
TEST_F(InterleavedSetsTest, ManyRunsOfRowids) { replaceBothSets(40); }

TEST_F(OfficeImportTest, RecordBecomesBusinessOfficeRowAndPlaceholderIsAddedOnce) {
    importNational();
    const std::string office = dir.file("jigyosyo.csv");
    writeCp932Lines(office, {
                                "01101,\"ｲﾁ\",\"株式会社　一\",\"北海道\",\"札幌市中央区\","
                                "\"北一条西\",\"２丁目８－１\","
                                "\"0608621\",\"060  \",\"札幌中央\",0,0,0",
                                "99999,ﾆ,二,県,新しい市,町,１,0608622,060  ,局,1,0,1",
                                "99999,ﾆ,三,県,別の名,町,１,0608623,060  ,局,0,1,0",
                            });
    run("", office);

    const Table rows = Rows(database, "SELECT * FROM ZIPALL WHERE データ識別 = '1'");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"01101", "060", "0608621", "", "北一条西", "0",
                                                 "0", "0", "0", "0", "0", "ｲﾁ", "株式会社　一",
                                                 "札幌中央", "0", "２丁目８－１", "1", "1000001"}));
    EXPECT_EQ(rows[1][8], "0");
    EXPECT_EQ(rows[1][9], "1");
    EXPECT_EQ(rows[1][14], "1");
    EXPECT_EQ(rows[2][17], "1000003");
    EXPECT_EQ(Rows(database, "SELECT * FROM 市町村 WHERE 抹消FLAG = 1"),
              (Table{{"99999", "新しい市", "<NULL>", "1"}}));
    EXPECT_EQ(Rows(database, "SELECT * FROM 作成日")[0][1], mdlYubinBox::GetFileDate(office));
    EXPECT_EQ(mdFileCreate::ReadKey("csvjpath"), office);
    EXPECT_EQ(view.captions[1], "処理時間：00分05秒  3 件");
    EXPECT_EQ(view.captionHistory1.size(), 4u);  // three lines, then the result

    // A fresh run replaces the business-office rows and placeholders, keeps the national ones.
    writeCp932Lines(office, {"01101,ｲﾁ,一,北海道,札幌市中央区,町,１,0608621,060  ,局,0,0,0"});
    view.captions = {};
    run("", office);
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 = '1'"), 1);
    EXPECT_EQ(Count(database, "市町村", "抹消FLAG = 1"), 0);
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 <> '1'"), 47);
}

TEST_F(OfficeImportTest, WithoutNationalDataTheRunIsRefusedAndKeysStayDropped) {
    const std::string office = dir.file("jigyosyo.csv");
    writeCp932Lines(office, {"01101,ｲﾁ,一,北海道,札幌市中央区,町,１,0608621,060  ,局,0,0,0"});
    run("", office);
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].text, "全国版郵便番号データを取り込んでください。");
    EXPECT_EQ(view.boxes[0].style, 16);
    EXPECT_EQ(view.boxes[0].title, "郵便番号データ取込処理");
    EXPECT_TRUE(view.runEnabled);
    EXPECT_EQ(Count(database, "ZIPALL"), 0);
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    EXPECT_TRUE(connection.keys().empty());
}

TEST_F(OfficeImportTest, ShortLineStopsWithFileAndLine) {
    importNational();
    const std::string office = dir.file("jigyosyo.csv");
    writeCp932Lines(office, {"01101,ｲﾁ,一,北海道,札幌市中央区,町,１,0608621,060  ,局,0,0,0",
                             "01101,ｲﾁ,一,北海道"});
    try {
        run("", office);
        FAIL();
    } catch (const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::BadInputLine);
        EXPECT_NE(error.description().find("2 行目"), std::string::npos) << error.description();
    }
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 = '1'"), 0);
}

// An import aborted after `events` lines, then continued, ends with the tables of one
// uninterrupted import.
class ResumeTest : public OfficeImportTest {
  protected:
    // Events of the national part: one per line, then ten during the closing pause.
    static constexpr long long kNationalEvents = 47 * 4 + 10;
    std::string ken, office;
    void SetUp() override {
        OfficeImportTest::SetUp();
        std::vector<std::string> lines;
        for (int p = 1; p <= 47; ++p) {
            char code[6];
            std::snprintf(code, sizeof code, "%02d101", p);
            for (int z = 0; z < 3; ++z) {
                lines.push_back(KenLine(code, "100  ", std::to_string(1000000 + p * 10 + z),
                                        "町" + std::to_string(z), "ﾏﾁ", "0"));
            }
            lines.push_back(lines.back());  // a continuation line
        }
        ken = writeKen(lines);
        office = dir.file("jigyosyo.csv");
        std::vector<std::string> offices;
        for (int i = 0; i < 30; ++i) {
            offices.push_back(OfficeLine(i % 2 ? "01101" : "88" + std::to_string(100 + i),
                                         "社" + std::to_string(i), std::to_string(2000000 + i)));
        }
        writeCp932Lines(office, offices);
    }
    Table everything() {
        Table all;
        for (const char* t : {"ZIPALL", "都道府県", "市町村", "作成日"}) {
            for (auto& row : Rows(database, std::string("SELECT * FROM ") + t)) all.push_back(row);
        }
        return all;
    }
    void abortAt(long long event) {
        view.onEvent = [this, event](long long n) {
            if (n == event) abortImport();
        };
        EXPECT_THROW(run(ken, office), YubinError);
        view.onEvent = nullptr;
        progress.intInportMode = 0;
    }
};

TEST_F(ResumeTest, AbortedNationalAndBusinessOfficeImportsContinueToTheSameTables) {
    run(ken, office);
    const Table expected = everything();
    ASSERT_EQ(Count(database, "ZIPALL"), 47 * 3 + 30);

    mdlYubinBox::CreateMdb();
    resetState();
    view = FakeImportView();
    abortAt(60);  // inside the national import
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"),
              (Table{{std::to_string(progress.lngRecCount)}}));
    mdInport::ResumeState state = reopen();
    EXPECT_TRUE(state.continuation);
    EXPECT_FALSE(state.nationalChoiceDisabled);
    EXPECT_EQ(state.threshold,
              std::stol(Rows(database, "SELECT MAX(RECNO) AS M FROM ZIPALL")[0][0]));

    view.events = 0;
    abortAt(kNationalEvents +
            12);  // the national part completes, then the business office is aborted
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"),
              (Table{{std::to_string(1000000 + progress.lngRecCount)}}));
    state = reopen();
    EXPECT_TRUE(state.nationalChoiceDisabled);
    EXPECT_GT(state.threshold, 1000000);

    run("", office);
    EXPECT_EQ(everything(), expected);
}

// Each engine reads its file through and checks it before it changes anything; meanwhile its
// thread processes events (every few milliseconds, and once at least however short the check).
TEST_F(ResumeTest, EachFileCheckProcessesEvents) {
    run(ken, office);
    EXPECT_GE(view.checkEvents, 2);
    EXPECT_EQ(view.events, kNationalEvents + 30 + 10);
    EXPECT_FALSE(progress.checking);
}

TEST_F(ResumeTest, AbortBeforeTheFirstGroupReadsAsAFreshImport) {
    abortAt(1);
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"), (Table{{"0"}}));
    EXPECT_EQ(reopen().threshold, 0);
}

TEST_F(ResumeTest, AbortBeforeTheFirstBusinessOfficeRowReadsAsTheNationalThreshold) {
    abortAt(kNationalEvents + 1);
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"), (Table{{"1000000"}}));
    const mdInport::ResumeState state = reopen();
    EXPECT_EQ(state.threshold, 47 * 3);
    EXPECT_FALSE(state.nationalChoiceDisabled);
}

TEST_F(ResumeTest, AbortDuringTheClosingPauseWritesTheFullCount) {
    view.onEvent = [&](long long n) {
        if (n > 47 * 4 && progress.intInportMode == 1) abortImport();
    };
    EXPECT_THROW(run(ken, ""), YubinError);
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"), (Table{{std::to_string(47 * 3)}}));
}

TEST(ImportTexts, CaptionsAndSummary) {
    EXPECT_EQ(mdInport::FormatElapsed(9), "00分09秒");
    EXPECT_EQ(mdInport::FormatElapsed(3 * 60 + 27), "03分27秒");
    EXPECT_EQ(mdInport::FormatElapsed(3600 + 2 * 60 + 3), "01:02分03秒");
    EXPECT_EQ(mdInport::FormatElapsed(10 * 3600 + 5), "10:00分05秒");
    EXPECT_EQ(mdInport::FormatCount(0), "0");
    EXPECT_EQ(mdInport::FormatCount(22012), "22,012");
    EXPECT_EQ(mdInport::FormatCount(1234567), "1,234,567");
    EXPECT_EQ(mdInport::FormatPercent(98, 2000), "( 4.90% )");
    EXPECT_EQ(mdInport::FormatPercent(2000, 2000), "( 100.00% )");
    EXPECT_EQ(mdInport::FormatPercent(1, 3), "( 33.33% )");

    EXPECT_EQ(mdInport::SummaryText("20240228", ""),
              "【現在、登録されている郵便番号データの作成日】\r\n"
              "　全国版郵便番号データ　　　： 2024年02月28日");
    EXPECT_EQ(mdInport::SummaryText("20240228", "20240331"),
              "【現在、登録されている郵便番号データの作成日】\r\n"
              "　全国版郵便番号データ　　　： 2024年02月28日\r\n"
              "　事業所個別郵便番号データ　： 2024年03月31日");
    EXPECT_EQ(mdInport::SummaryText("", "20240331"),
              "【現在、登録されている郵便番号データの作成日】\r\n"
              "　事業所個別郵便番号データ　： 2024年03月31日");
}

class SummaryTest : public ImportFixture {};

TEST_F(SummaryTest, NoRowLeavesLabelHiddenAndStampsEmpty) {
    EXPECT_EQ(mdInport::ShowSakuseibi(view), (mdInport::Sakuseibi{"", ""}));
    EXPECT_FALSE(view.summaryVisible);
}

TEST_F(SummaryTest, RegisteredStampsAreShownAndKept) {
    mdlYubinBox::OpenMdb(database);
    mdlYubinBox::cnMdb->execute("INSERT INTO 作成日 (ZIPALL) VALUES('20240228')");
    mdlYubinBox::CloseMdb();
    EXPECT_EQ(mdInport::ShowSakuseibi(view), (mdInport::Sakuseibi{"20240228", ""}));
    EXPECT_TRUE(view.summaryVisible);
    EXPECT_EQ(view.summary, mdInport::SummaryText("20240228", ""));
}

// The published files, imported whole (skipped when they are absent).
class PublishedDataSlowTest : public ImportFixture {};

TEST_F(PublishedDataSlowTest, ImportsTheWholePublishedFiles) {
    const std::string ken = sharedDataFile("KEN_ALL.CSV");
    const std::string office = sharedDataFile("JIGYOSYO.CSV");
    if (ken.empty() || office.empty()) GTEST_SKIP() << "published data files are absent";
    pauseSeconds = 0;
    run(ken, office);
    const PublishedCounts expected = countPublished(ken, office);
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 <> '1'"), expected.nationalGroups);
    EXPECT_EQ(Rows(database, "SELECT MAX(RECNO) AS M FROM ZIPALL WHERE データ識別 <> '1'")[0][0],
              std::to_string(expected.nationalGroups));
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 = '1'"), expected.officeRecords);
    EXPECT_EQ(Rows(database, "SELECT MAX(RECNO) AS M FROM ZIPALL WHERE データ識別 = '1'")[0][0],
              std::to_string(1000000 + expected.officeRecords));
    EXPECT_EQ(expected.prefectures.size(), 47u);
    EXPECT_EQ(Count(database, "都道府県"), 47);
    EXPECT_EQ(Count(database, "市町村"),
              static_cast<long long>(expected.municipalities.size() +
                                     expected.placeholderMunicipalities.size()));
    EXPECT_EQ(Count(database, "市町村", "抹消FLAG = 0"),
              static_cast<long long>(expected.municipalities.size()));
    EXPECT_EQ(Rows(database, "SELECT * FROM 作成日"),
              (Table{{mdlYubinBox::GetFileDate(ken), mdlYubinBox::GetFileDate(office)}}));
    EXPECT_EQ(mdFileCreate::ReadKey("csvzpath"), ken);
    EXPECT_EQ(mdFileCreate::ReadKey("csvjpath"), office);
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    EXPECT_EQ(connection.keys().size(), 4u);
}

}  // namespace
}  // namespace yubin::test
