// A data file that cannot be imported to its end never costs the data it was meant to replace,
// and data that a run left unfinished is never shown with a registered date.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>

#include "import/BackgroundCheck.h"
#include "import/DataCompleteness.h"
#include "import/DataFileCheck.h"
#include "import/ImportSession.h"
#include "import/ImportTestSupport.h"
#include "import/KenAllReader.h"
#include "support/ZipSupport.h"

namespace yubin::test {
namespace {

using Table = std::vector<std::vector<std::string>>;

class ReplaceSafetyTest : public ImportFixture {
  protected:
    std::string ken, office;

    void SetUp() override {
        ImportFixture::SetUp();
        ken = writeKen(nationalLines(3));
        office = dir.file("jigyosyo.csv");
        std::vector<std::string> offices;
        for (int i = 0; i < 20; ++i) {
            offices.push_back(OfficeLine(i % 2 ? "01101" : "13101", "社" + std::to_string(i),
                                         std::to_string(2000000 + i)));
        }
        writeCp932Lines(office, offices);
    }

    // `perPrefecture` one-line groups in each of the 47 prefectures.
    static std::vector<std::string> nationalLines(int perPrefecture) {
        std::vector<std::string> lines;
        for (int p = 1; p <= 47; ++p) {
            char code[6];
            std::snprintf(code, sizeof code, "%02d101", p);
            for (int z = 0; z < perPrefecture; ++z) {
                lines.push_back(KenLine(code, "100  ", std::to_string(1000000 + p * 100 + z),
                                        "町" + std::to_string(z), "ﾏﾁ", "0",
                                        "県" + std::to_string(p), "市" + std::to_string(p)));
            }
        }
        return lines;
    }

    Table everything() {
        Table all;
        for (const char* t : {"ZIPALL", "都道府県", "市町村", "作成日", "登録中"}) {
            for (auto& row : Rows(database, std::string("SELECT * FROM ") + t)) all.push_back(row);
        }
        return all;
    }
    // What the change report keeps and has reported; a refused run, whose kept form was made
    // while its file was checked, leaves it as it was.
    Table reportTables() {
        Table all;
        for (const char* t :
             {"変更報告", "変更明細", "変更前データ", "変更前マスタ", "変更前作成日"}) {
            for (auto& row : Rows(database, std::string("SELECT * FROM ") + t)) all.push_back(row);
        }
        return all;
    }
    // A run that must be refused: its error, the tables unchanged.
    YubinError refused(const std::string& national, const std::string& officeFile) {
        const Table before = everything();
        const Table reportBefore = reportTables();
        resetState();
        view.captions = {};
        std::optional<YubinError> error;
        try {
            run(national, officeFile);
        } catch (const YubinError& e) {
            error = e;
        }
        progress.intInportMode = 0;
        EXPECT_EQ(everything(), before);
        EXPECT_EQ(reportTables(), reportBefore);
        if (!error) {
            ADD_FAILURE() << "the run was not refused";
            return YubinError(ErrorCode::InvalidArgument, "not refused");
        }
        return *error;
    }
    std::string summary() {
        mdInport::ShowSakuseibi(view);
        mdlYubinBox::CloseMdb();
        return view.summary;
    }
};

TEST_F(ReplaceSafetyTest, AFileOfTheOtherKindIsRefusedAtItsFirstLineAndDeletesNothing) {
    run(ken, office);
    ASSERT_EQ(Count(database, "ZIPALL"), 141 + 20);

    YubinError error = refused(office, "");
    EXPECT_EQ(error.code(), ErrorCode::BadInputLine);
    EXPECT_EQ(error.file(), office);
    EXPECT_EQ(error.line(), 1);
    EXPECT_NE(error.detail().find("15 個に足りません"), std::string::npos) << error.detail();

    error = refused("", ken);
    EXPECT_EQ(error.code(), ErrorCode::BadInputLine);
    EXPECT_EQ(error.file(), ken);
    EXPECT_EQ(error.line(), 1);
    EXPECT_NE(error.detail().find("13 個より多くあります"), std::string::npos) << error.detail();
}

TEST_F(ReplaceSafetyTest, AFileThatWouldFailAtItsLastLineIsRefusedWithThatLine) {
    run(ken, office);

    // Cut in the middle of the last line, as an interrupted download leaves it.
    const std::string bytes = readBytes(ken);
    const std::string cut = dir.file("cut.csv");
    writeBytes(cut, bytes.substr(0, bytes.size() - 20));
    YubinError error = refused(cut, "");
    EXPECT_EQ(error.code(), ErrorCode::BadInputLine);
    EXPECT_EQ(error.line(), 141);

    // A value its column cannot hold, on the last line: an eight-digit postal code, a flag
    // out of range, an undecodable byte.
    std::vector<std::string> lines = nationalLines(3);
    lines.back() = KenLine("47101", "100  ", "10000011", "町", "ﾏﾁ");
    error = refused(writeKen(lines, "long.csv"), "");
    EXPECT_EQ(error.code(), ErrorCode::FieldTooSmall);
    EXPECT_EQ(error.line(), 141);
    lines.back() = KenLine("47101", "100  ", "1000001", "町", "ﾏﾁ", "0", "県", "市", "300,0,0");
    EXPECT_EQ(refused(writeKen(lines, "flag.csv"), "").code(), ErrorCode::NumericOverflow);
    writeBytes(cut,
               bytes.substr(0, bytes.size() - 10) + "\x85\x40" + bytes.substr(bytes.size() - 8));
    error = refused(cut, "");
    EXPECT_EQ(error.code(), ErrorCode::BadEncoding);
    EXPECT_EQ(error.line(), 141);
}

// A long file is appended while it is still being checked, inside one transaction that
// commits only once the check has passed: a fault near its end undoes every row appended
// before it, and the deletion of the old data, in a first import as in a refresh.
TEST_F(ReplaceSafetyTest, ALongFileAtFaultNearItsEndUndoesEveryRowAppendedBesideTheCheck) {
    std::vector<std::string> lines = nationalLines(70);
    ASSERT_GE(lines.size() * lines.front().size(), 256u * 1024);  // long enough to overlap
    const std::string good = writeKen(lines, "good.csv");
    lines[lines.size() - 5] = KenLine("47101", "100  ", "10000011", "町", "ﾏﾁ");
    const std::string bad = writeKen(lines, "bad.csv");
    const auto expectFault = [&](const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::FieldTooSmall);
        EXPECT_EQ(error.file(), bad);
        EXPECT_EQ(error.line(), static_cast<long>(lines.size() - 4));
    };

    // Into the new database (no report tables yet).
    std::optional<YubinError> first;
    try {
        run(bad, "");
    } catch (const YubinError& error) {
        first = error;
    }
    progress.intInportMode = 0;
    ASSERT_TRUE(first.has_value());
    expectFault(*first);
    for (const char* table : {"ZIPALL", "都道府県", "市町村", "登録中"}) {
        EXPECT_EQ(Count(database, table), 0) << table;
    }

    resetState();
    run(good, office);
    ASSERT_EQ(Count(database, "ZIPALL"), static_cast<long long>(lines.size()) + 20);
    expectFault(refused(bad, ""));  // the refresh keeps the data it would have replaced
    // The masters' keys, dropped beside the check with the rows appended, are undone with them.
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    std::vector<std::string> keys;
    for (const db::KeyInfo& key : connection.keys()) keys.push_back(key.name);
    for (const char* key : {"xJISX0401", "xJISX0402"}) {
        EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
    }
}

// An exit while the long file is still being checked beside the rows appended so far waits
// for the check's end: the rows are then committed, and the exit finds nothing held open.
TEST_F(ReplaceSafetyTest, AnExitBesideTheCheckCommitsTheRowsOnceTheCheckHasPassed) {
    const std::string good = writeKen(nationalLines(200), "good.csv");
    std::optional<long> settledAt;
    long long committed = -1;
    view.onCheckEvent = [&] {
        if (settledAt || progress.lngRecCount == 0) return;  // not yet appending
        settledAt = progress.lngRecCount;
        mdInport::SettleFileCheck();
        EXPECT_FALSE(progress.checking);
        committed = Count(database, "ZIPALL");  // another connection's view
    };
    run(good, "");
    view.onCheckEvent = nullptr;
    EXPECT_EQ(Count(database, "ZIPALL"), 47 * 200);
    // The check may have ended before the first row on a busy machine: nothing to settle then.
    if (settledAt) {
        EXPECT_EQ(committed, *settledAt);
    }
}

TEST_F(ReplaceSafetyTest, APlaceholderMunicipalityWithoutANameIsRefusedOnlyWhereOneIsAdded) {
    run(ken, office);
    // 01101 is a national municipality: its name is not needed. 88888 is missing: the
    // placeholder would need the empty name.
    const std::string known = dir.file("known.csv");
    writeCp932Lines(known, {OfficeLine("01101", "社", "2100000", "")});
    resetState();
    view.captions = {};
    run("", known);
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 = '1'"), 1);

    const std::string missing = dir.file("missing.csv");
    writeCp932Lines(missing, {OfficeLine("01101", "社", "2100000", ""),
                              OfficeLine("88888", "社", "2100001", "")});
    const YubinError error = refused("", missing);
    EXPECT_EQ(error.code(), ErrorCode::ZeroLengthNotAllowed);
    EXPECT_EQ(error.line(), 2);
}

TEST_F(ReplaceSafetyTest, AnArchiveWithAFlippedByteIsRefusedBeforeAnythingIsDeleted) {
    run(ken, office);
    // Lines that do not repeat, so that the deflated data fills most of the archive.
    std::vector<std::string> lines = nationalLines(40);
    for (size_t i = 0; i < lines.size(); ++i) {
        lines[i] = KenLine("13101", "100  ", std::to_string(1000000 + i * 7919 % 8999999),
                           "町" + std::to_string(i * 104729 % 1000003), "ﾏﾁ");
    }
    const std::string csv = writeKen(lines, "KEN_ALL.CSV");
    const std::string zip = dir.file("ken_all.zip");
    writeZip(zip, {{"KEN_ALL.CSV", readBytes(csv), localNoon(2024, 2, 28)}});
    const std::string intact = readBytes(zip);

    // A byte of the compressed data flipped at 90 %: whatever the inflated bytes then look
    // like, the run is refused before anything changes.
    std::string bytes = intact;
    bytes[bytes.size() * 9 / 10] ^= 0x20;
    writeBytes(zip, bytes);
    const ErrorCode code = refused(zip, "").code();
    EXPECT_TRUE(code == ErrorCode::BadArchive || code == ErrorCode::BadEncoding ||
                code == ErrorCode::BadInputLine)
        << static_cast<int>(code);

    // Data that inflates cleanly but is not what was packed: only the CRC after the last
    // byte tells. The CRC is changed in the local and the central header.
    bytes = intact;
    const size_t central = bytes.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(central, std::string::npos);
    bytes[14] ^= 0x01;
    bytes[central + 16] ^= 0x01;
    writeBytes(zip, bytes);
    const YubinError error = refused(zip, "");
    EXPECT_EQ(error.code(), ErrorCode::BadArchive) << error.description();
}

TEST_F(ReplaceSafetyTest, DataARunLeftUnfinishedIsNeverShownWithADate) {
    run(ken, office);
    const std::string dates = summary();
    EXPECT_EQ(dates.find("未完了"), std::string::npos) << dates;

    // The national import aborted in the middle: the national date is gone (for other
    // programs too), the office date stays, and the summary says how to finish.
    resetState();
    view.captions = {};
    view.onEvent = [this, start = view.events](long long n) {
        if (n == start + 50) abortImport();
    };
    EXPECT_THROW(run(ken, ""), YubinError);
    view.onEvent = nullptr;
    progress.intInportMode = 0;
    EXPECT_EQ(Rows(database, "SELECT ZIPALL FROM 作成日"), (Table{{"<NULL>"}}));
    std::string text = summary();
    EXPECT_NE(text.find("　全国版郵便番号データ　　　： 未完了（取込が途中です）"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("全国版のファイルを取り込むと、続きから取り込みます。"), std::string::npos)
        << text;
    EXPECT_NE(text.find("事業所個別郵便番号データ　： " +
                        mdInport::FormatStamp(mdlYubinBox::GetFileDate(office))),
              std::string::npos)
        << text;

    // Continued to the end: whole again, dated again.
    resetState();
    view.captions = {};
    reopen();
    run(ken, "");
    EXPECT_EQ(summary(), dates);

    // An office import aborted and then given up by an idle exit (the resume marker
    // cleared): the office data stays flagged, also after a national import.
    resetState();
    view.captions = {};
    view.onEvent = [this, start = view.events](long long n) {
        if (n == start + 5) abortImport();
    };
    EXPECT_THROW(run("", office), YubinError);
    view.onEvent = nullptr;
    progress.intInportMode = 0;
    mdlYubinBox::OpenMdb(database);
    mdInport::ClearResumePoint();
    mdlYubinBox::CloseMdb();
    resetState();
    view.captions = {};
    run(ken, "");
    text = summary();
    EXPECT_NE(text.find("　事業所個別郵便番号データ　： 未完了（取込が途中です）"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("事業所個別版のファイルを取り込み直してください。"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("全国版郵便番号データ　　　： 未完了"), std::string::npos) << text;
}

// The session's side of a window, recording what it is told; the engines' part goes to the
// fixture's view.
class RecordingSessionView : public import::SessionView {
  public:
    explicit RecordingSessionView(FakeImportView& engine) : engine_(engine) {}
    void setStatusMessage(const std::string& t) override { engine_.setStatusMessage(t); }
    void setProgressVisible(int i, bool v) override { engine_.setProgressVisible(i, v); }
    void setProgressRange(int i, std::uint64_t a, std::uint64_t b) override {
        engine_.setProgressRange(i, a, b);
    }
    void setProgressValue(int i, std::uint64_t v) override { engine_.setProgressValue(i, v); }
    void setCountVisible(int i, bool v) override { engine_.setCountVisible(i, v); }
    void setCountBorderStyle(int i, int s) override { engine_.setCountBorderStyle(i, s); }
    void setCountCaption(int i, const std::string& c) override { engine_.setCountCaption(i, c); }
    void setRunEnabled(bool e) override { engine_.setRunEnabled(e); }
    void setSummaryCaption(const std::string& c) override { engine_.setSummaryCaption(c); }
    void setSummaryVisible(bool v) override { engine_.setSummaryVisible(v); }
    void setBusyPointer(bool b) override { engine_.setBusyPointer(b); }
    void beep() override { engine_.beep(); }
    int messageBox(const std::string& t, int s, const std::string& title) override {
        return engine_.messageBox(t, s, title);
    }
    void doEvents() override { engine_.doEvents(); }
    void setBrowseEnabled(int, bool) override {}
    void showChosenFile(int, const std::string&, const std::string&) override {}
    void setRunToolTip(const std::string&) override {}
    void setExitToolTip(const std::string&) override {}
    bool ask(import::Question, const std::string&, int) override { return true; }
    void tell(const std::string&, int) override {}

  private:
    FakeImportView& engine_;
};

TEST_F(ReplaceSafetyTest, AWindowWhoseRunFailedAfterTheDeletionShowsTheDataIncomplete) {
    run(ken, office);
    resetState();
    view.captions = {};
    RecordingSessionView sessionView(view);
    import::ImportSession session(sessionView);
    session.environment() = environment();
    session.environment().view = &sessionView;
    view.progress = &session.state().progress;  // the session's run: its checks counted apart
    session.load();
    ASSERT_NE(view.summary.find("全国版郵便番号データ　　　： 2"), std::string::npos);
    // A fault of the database in the middle of the national part (a full disk, say).
    session.browseResult(0, import::ChosenDataFile(ken, import::DataKind::National));
    view.onEvent = [start = view.events](long long n) {
        if (n == start + 50) throw YubinError(ErrorCode::EngineFailure, "disk full");
    };
    const import::RunOutcome outcome = session.run();
    view.onEvent = nullptr;
    EXPECT_EQ(outcome.result, import::RunResult::Failed);
    EXPECT_NE(view.summary.find("全国版郵便番号データ　　　： 未完了（取込が途中です）"),
              std::string::npos)
        << view.summary;
    EXPECT_EQ(session.state().strSakuseibi[0], "");  // nothing to be older than: no question
    EXPECT_NE(session.state().strSakuseibi[1], "");
}

// The business-office engine reads only the part of ZIPALL below the bound the national engine
// of the run left; a row that another program adds meanwhile is still found and replaced.
TEST_F(ReplaceSafetyTest, AnOfficeRowAnotherProgramAddsDuringTheNationalImportIsReplacedToo) {
    run(ken, office);
    const long long officeRows = Count(database, "ZIPALL", "データ識別 = '1'");
    ASSERT_GT(officeRows, 0);
    resetState();
    view.captions = {};
    bool added = false;
    view.onEvent = [&](long long) {
        if (added || progress.intInportMode != 1 || progress.lngRecCount < 50) return;
        added = true;
        mdlYubinBox::Flush();  // the batch stored: the other program may write
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(database.c_str(), &other), SQLITE_OK);
        // As programs do: a moment's read of the import's own reader ahead is waited for.
        sqlite3_busy_timeout(other, 5000);
        EXPECT_EQ(sqlite3_exec(other,
                               "INSERT INTO ZIPALL (団体コード, 郵便番号, データ識別, RECNO) "
                               "VALUES ('13101', '9999999', '1', 1999999)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(other);
        sqlite3_close(other);
    };
    run(ken, office);
    EXPECT_TRUE(added);
    EXPECT_EQ(Count(database, "ZIPALL", "RECNO = 1999999"), 0);
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 = '1'"), officeRows);
}

// Read on a worker, the check gives what it gives on the caller's thread: the counts, or the
// fault at its line, again at every wait; and it can be left before it has read to the end.
TEST_F(ReplaceSafetyTest, ACheckOnAWorkerGivesWhatTheCheckOnThisThreadGives) {
    run(ken, office);
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    const auto same = [&](const std::string& file, import::DataKind kind) {
        const import::CheckedFile here =
            import::CheckDataFileForImport(file, kind, connection, false);
        import::BackgroundCheck check(import::DataFileCheck(file, kind, connection, false));
        int ticks = 0;
        const import::CheckedFile there = check.wait([&] { ++ticks; });
        EXPECT_GE(ticks, 1);
        EXPECT_EQ(there.records, here.records);
        EXPECT_EQ(there.lines, here.lines);
        EXPECT_EQ(there.length, here.length);
    };
    same(ken, import::DataKind::National);
    same(office, import::DataKind::Office);

    std::vector<std::string> lines = nationalLines(3);
    lines[100] = KenLine("35101", "100  ", "10000011", "町", "ﾏﾁ");
    const std::string bad = writeKen(lines, "bad.csv");
    import::BackgroundCheck check(
        import::DataFileCheck(bad, import::DataKind::National, connection, false));
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            check.wait({});
            ADD_FAILURE() << "the bad file passed";
        } catch (const YubinError& error) {
            EXPECT_EQ(error.code(), ErrorCode::FieldTooSmall);
            EXPECT_EQ(error.file(), bad);
            EXPECT_EQ(error.line(), 101);
        }
    }
    // Left at once: the destructor stops the reading wherever it is.
    import::BackgroundCheck left(import::DataFileCheck(
        writeKen(nationalLines(200), "long.csv"), import::DataKind::National, connection, false));
}

// The check's verdict on the published files, and that it leaves the line count alone.
TEST(DataFileCheckPublishedSlow, ThePublishedFilesPass) {
    const std::string ken = sharedDataFile("KEN_ALL.CSV");
    const std::string office = sharedDataFile("JIGYOSYO.CSV");
    if (ken.empty() || office.empty()) GTEST_SKIP() << "the published data is not available";
    TempDir dir;
    const std::string database = dir.file("yubinbox.mdb");
    mdlYubinBox::strMdbFile = database;
    mdlYubinBox::CreateMdb();
    db::Connection connection;
    connection.open(mdlYubinBox::ConnectionString(database));
    const long long lines = import::lngLineCount;
    const import::CheckedFile national =
        import::CheckDataFileForImport(ken, import::DataKind::National, connection, false);
    EXPECT_EQ(import::lngLineCount, lines);
    EXPECT_EQ(national.length, std::filesystem::file_size(ken));
    EXPECT_GT(national.records, 100000);
    const import::CheckedFile offices =
        import::CheckDataFileForImport(office, import::DataKind::Office, connection, false);
    EXPECT_EQ(offices.records, offices.lines);
}

}  // namespace
}  // namespace yubin::test
