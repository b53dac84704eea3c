// The import session without a window: loading, browse, 実行 with its questions, 終了, the
// close request, the abort and a failed run, on real engines over small files. The view only
// records what it is told and answers the questions it is asked.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>

#include "import/ChosenFile.h"
#include "import/ImportSession.h"
#include "import/ImportTestSupport.h"

namespace yubin::test {
namespace {

using import::ExitReason;
using import::ExitResult;
using import::ImportSession;
using import::Question;
using import::RunResult;
using Table = std::vector<std::vector<std::string>>;

struct Asked {
    Question question;
    std::string text;
    int style;
};

// The window's side of the session, recording: the engines' controls (FakeImportView), the
// window's own controls, the questions with their answers given in advance (No when none is
// left), and the messages.
class FakeSessionView : public import::SessionView {
  public:
    FakeImportView engines;
    std::array<bool, 2> browseEnabled{true, true};
    std::array<std::string, 2> shownPath, shownDate;
    std::string runToolTip = "unset", exitToolTip = "unset";
    std::vector<Asked> asked;
    std::deque<bool> answers;
    std::vector<std::pair<std::string, int>> told;
    // Runs inside doEvents (a click of the person during the run).
    std::function<void()> onEvent;
    // The program has ended inside doEvents: the engine must not go on.
    bool ended = false;

    void setStatusMessage(const std::string& text) override { engines.setStatusMessage(text); }
    void setProgressVisible(int i, bool v) override { engines.setProgressVisible(i, v); }
    void setProgressRange(int i, std::uint64_t lo, std::uint64_t hi) override {
        engines.setProgressRange(i, lo, hi);
    }
    void setProgressValue(int i, std::uint64_t v) override { engines.setProgressValue(i, v); }
    void setCountVisible(int i, bool v) override { engines.setCountVisible(i, v); }
    void setCountBorderStyle(int i, int s) override { engines.setCountBorderStyle(i, s); }
    void setCountCaption(int i, const std::string& c) override { engines.setCountCaption(i, c); }
    void setRunEnabled(bool e) override { engines.setRunEnabled(e); }
    void setSummaryCaption(const std::string& c) override { engines.setSummaryCaption(c); }
    void setSummaryVisible(bool v) override { engines.setSummaryVisible(v); }
    void setBusyPointer(bool b) override { engines.setBusyPointer(b); }
    void beep() override { engines.beep(); }
    int messageBox(const std::string& text, int style, const std::string& title) override {
        return engines.messageBox(text, style, title);
    }
    void doEvents() override {
        engines.doEvents();
        if (onEvent) onEvent();
        if (ended) throw YubinError(ErrorCode::ImportAborted, "aborted");
    }

    void setBrowseEnabled(int i, bool e) override { browseEnabled[At(i)] = e; }
    void showChosenFile(int i, const std::string& path, const std::string& date) override {
        shownPath[At(i)] = path;
        shownDate[At(i)] = date;
    }
    void setRunToolTip(const std::string& t) override { runToolTip = t; }
    void setExitToolTip(const std::string& t) override { exitToolTip = t; }
    bool ask(Question question, const std::string& text, int style) override {
        asked.push_back({question, text, style});
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void tell(const std::string& text, int style) override { told.emplace_back(text, style); }

  private:
    static size_t At(int i) { return i == 0 ? 0 : 1; }
};

// n groups for each of the 47 prefectures.
std::vector<std::string> KenLines(int perPrefecture) {
    std::vector<std::string> lines;
    for (int p = 1; p <= 47; ++p) {
        char code[6];
        std::snprintf(code, sizeof code, "%02d101", p);
        for (int z = 0; z < perPrefecture; ++z) {
            lines.push_back(KenLine(code, "100  ", std::to_string(1000000 + p * 100 + z),
                                    "町" + std::to_string(z), "ﾏﾁ"));
        }
    }
    return lines;
}

std::vector<std::string> OfficeLines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        lines.push_back(OfficeLine("01101", "社" + std::to_string(i), std::to_string(9000000 + i)));
    }
    return lines;
}

class ImportSessionTest : public ImportFixture {
  protected:
    FakeSessionView shown;
    ImportSession session{shown};

    void SetUp() override {
        ImportFixture::SetUp();
        useTestClock(session);
    }
    void useTestClock(ImportSession& importSession) {
        mdInport::Environment& env = importSession.environment();
        env.monotonicSeconds = [this] { return clock; };
        env.idle = [this] { clock += 0.5; };
    }
    void sql(const std::string& statement) {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        connection.execute(statement);
    }
    std::string write(const std::string& name, const std::vector<std::string>& lines) {
        writeCp932Lines(dir.file(name), lines);
        return dir.file(name);
    }
    // A browse button and the chooser closing with the file (nothing: cancelled).
    bool choose(int index, const std::string& path) {
        const import::BrowseRequest request = session.browse(index);
        if (path.empty()) return session.browseResult(index, std::nullopt);
        return session.browseResult(index, import::ChosenDataFile(path, request.kind));
    }
    const mdInport::ImportProgress& progress() const { return session.state().progress; }
};

TEST_F(ImportSessionTest, LoadingShowsTheRegisteredDatesAndAPendingBusinessOfficeResume) {
    session.load();
    EXPECT_FALSE(shown.engines.summaryVisible);
    EXPECT_EQ(shown.exitToolTip, ImportSession::kExitToolTip);
    EXPECT_EQ(shown.runToolTip, "");
    EXPECT_EQ(shown.browseEnabled, (std::array<bool, 2>{true, true}));
    EXPECT_FALSE(session.state().blnCompact);
    EXPECT_EQ(session.state().lngResumeRecNo, 0);

    sql("INSERT INTO 作成日 (ZIPALL, JIGYOSYO) VALUES('20240228', '20240331')");
    sql("INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('1000001', '1', 1000001)");
    sql("INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('1000002', '1', 1000002)");
    sql("INSERT INTO 登録中 VALUES(1000001)");
    FakeSessionView again;
    ImportSession reloaded(again);
    reloaded.load();
    EXPECT_TRUE(again.engines.summaryVisible);
    EXPECT_EQ(again.engines.summary, mdInport::SummaryText("20240228", "20240331"));
    EXPECT_EQ(reloaded.state().strSakuseibi, (mdInport::Sakuseibi{"20240228", "20240331"}));
    EXPECT_EQ(reloaded.state().lngResumeRecNo, 1000002);
    EXPECT_EQ(again.browseEnabled, (std::array<bool, 2>{false, true}));
    EXPECT_FALSE(reloaded.browseEnabled(0));
    EXPECT_EQ(again.runToolTip, ImportSession::kContinuation);
}

TEST_F(ImportSessionTest, BrowseOpensInTheFolderImportedLastAndKeepsTheChosenValue) {
    session.load();
    mdFileCreate::StoreImportPath("csvjpath", "/srv/post/2024/jigyosyo.csv");
    const import::BrowseRequest national = session.browse(0);
    EXPECT_EQ(national.startDir, "");  // no key: the chooser's default folder
    EXPECT_EQ(national.title, "全国版郵便番号データ(&K)ファイルの選択  (ken_all.csv)");
    EXPECT_EQ(national.expectedFile, "ken_all.csv");
    EXPECT_EQ(national.kind, import::DataKind::National);
    EXPECT_FALSE(session.browseResult(0, std::nullopt));  // cancelled: nothing changes
    EXPECT_EQ(shown.shownPath[0], "");
    EXPECT_TRUE(session.state().chosen[0].empty());

    const import::BrowseRequest office = session.browse(1);
    EXPECT_EQ(office.startDir, "/srv/post/2024");
    EXPECT_EQ(session.state().strStartDir, "/srv/post/2024");
    EXPECT_EQ(office.expectedFile, "jigyosyo.csv");
    // The chosen value's own stamp is kept; the date shown is never read back.
    const import::ChosenFile file{"/data/jigyosyo.csv", import::DataKind::Office, "20240331",
                                  "shown as anything"};
    EXPECT_TRUE(session.browseResult(1, file));
    EXPECT_EQ(shown.shownPath[1], "/data/jigyosyo.csv");
    EXPECT_EQ(shown.shownDate[1], "shown as anything");
    EXPECT_EQ(session.state().strCsvDate[1], "20240331");
    EXPECT_EQ(session.state().strSelFile, "/data/jigyosyo.csv");
    EXPECT_EQ(session.state().strSelFileDate, "shown as anything");
    EXPECT_EQ(session.state().chosen[1].path, "/data/jigyosyo.csv");
    // The next browse empties the chooser's result before it opens.
    session.browse(0);
    EXPECT_EQ(session.state().strSelFile, "");
}

TEST_F(ImportSessionTest, RunAsksForOlderDataRunsOnceAndAFinishedEngineIsNotRunAgain) {
    const std::string ken = write("ken_all.csv", KenLines(1));
    const std::string office = write("jigyosyo.csv", OfficeLines(2));
    const std::string stamp = import::DataFileStamp(ken);
    sql("INSERT INTO 作成日 (ZIPALL, JIGYOSYO) VALUES('" + stamp + "', '" + stamp + "')");
    session.load();
    EXPECT_EQ(session.run().result, RunResult::NothingChosen);
    ASSERT_EQ(shown.told.size(), 1u);
    EXPECT_EQ(shown.told[0], std::make_pair(std::string(ImportSession::kNothingChosen), 16));

    ASSERT_TRUE(choose(0, ken));
    ASSERT_TRUE(choose(1, office));
    // Yes to the national question, No to the business-office one: nothing runs, the national
    // browse button is disabled already.
    shown.answers = {true, false};
    EXPECT_EQ(session.run().result, RunResult::Declined);
    ASSERT_EQ(shown.asked.size(), 2u);
    EXPECT_EQ(shown.asked[0].question, Question::ReplaceOlderNational);
    EXPECT_EQ(shown.asked[1].question, Question::ReplaceOlderOffice);
    EXPECT_EQ(shown.asked[1].style, 260);
    EXPECT_EQ(shown.browseEnabled, (std::array<bool, 2>{false, true}));
    EXPECT_EQ(Count(database, "ZIPALL"), 0);

    shown.asked.clear();
    shown.answers = {true};
    const import::RunOutcome first = session.run();
    EXPECT_EQ(first.result, RunResult::Finished);
    EXPECT_EQ(first.imported, (std::array<bool, 2>{true, true}));
    ASSERT_EQ(shown.asked.size(), 1u);  // the business-office question only
    EXPECT_EQ(progress().finished, (std::array<bool, 2>{true, true}));
    EXPECT_EQ(progress().intInportMode, 0);
    EXPECT_TRUE(session.state().blnCompact);
    EXPECT_EQ(shown.exitToolTip, ImportSession::kCompactExitToolTip);
    EXPECT_EQ(shown.engines.captions[1], "処理時間：00分05秒  2 件");
    EXPECT_EQ(Count(database, "ZIPALL"), 47 + 2);

    // A second 実行 imports nothing again: the run only drops and re-creates the index and key.
    sql("DELETE FROM ZIPALL WHERE データ識別 = '1'");
    const size_t captions = shown.engines.captionHistory0.size();
    const import::RunOutcome second = session.run();
    EXPECT_EQ(second.result, RunResult::Finished);
    EXPECT_EQ(second.imported, (std::array<bool, 2>{false, false}));
    EXPECT_EQ(shown.engines.captionHistory0.size(), captions);
    EXPECT_EQ(Count(database, "ZIPALL"), 47);
}

TEST_F(ImportSessionTest, OfficeFileChosenDuringTheNationalPartIsImportedByTheSameRun) {
    const std::string ken = write("ken_all.csv", KenLines(2));
    const std::string office = write("jigyosyo.csv", OfficeLines(3));
    session.load();
    ASSERT_TRUE(choose(0, ken));
    shown.onEvent = [&] {
        if (progress().intInportMode == 1 && progress().lngRecCount == 20) choose(1, office);
    };
    const import::RunOutcome outcome = session.run();
    EXPECT_EQ(outcome.result, RunResult::Finished);
    EXPECT_EQ(outcome.imported, (std::array<bool, 2>{true, true}));
    EXPECT_TRUE(shown.asked.empty());  // no date question for the late choice
    EXPECT_EQ(Count(database, "ZIPALL", "データ識別 = '1'"), 3);
}

TEST_F(ImportSessionTest, ExitClearsTheMarkerAndCompactsOnlyAfterARun) {
    sql("INSERT INTO 登録中 VALUES(5)");
    session.load();
    const import::ExitOutcome outcome = session.exit(ExitReason::User);
    EXPECT_EQ(outcome.result, ExitResult::Ended);
    EXPECT_FALSE(outcome.aborted);
    EXPECT_FALSE(outcome.compacted);
    EXPECT_EQ(shown.engines.statusMessages.back(), ImportSession::kExitToolTip);
    EXPECT_TRUE(Rows(database, "SELECT * FROM 登録中").empty());
    EXPECT_EQ(session.exit(ExitReason::User).result, ExitResult::Ignored);  // already ended
    EXPECT_EQ(session.run().result, RunResult::Ignored);

    FakeSessionView afterRun;
    ImportSession next(afterRun);
    next.environment().pauseSeconds = 0;
    next.load();
    next.browseResult(
        0, import::ChosenDataFile(write("ken_all.csv", KenLines(1)), import::DataKind::National));
    ASSERT_EQ(next.run().result, RunResult::Finished);
    sql("INSERT INTO 登録中 VALUES(7)");
    const import::ExitOutcome compacted = next.exit(ExitReason::User);
    EXPECT_TRUE(compacted.compacted);
    EXPECT_EQ(afterRun.engines.statusMessages.back(), ImportSession::kCompactExitToolTip);
    EXPECT_TRUE(Rows(database, "SELECT * FROM 登録中").empty());
    EXPECT_EQ(Count(database, "ZIPALL"), 47);
}

TEST_F(ImportSessionTest, CloseRequestDuringARunAnsweredNoGoesOnAndYesAbortsWithTheMarker) {
    const std::string ken = write("ken_all.csv", KenLines(4));
    session.load();
    ASSERT_TRUE(choose(0, ken));
    std::optional<import::ExitOutcome> declined, accepted;
    shown.onEvent = [&] {
        if (!declined && progress().lngRecCount >= 30) {
            declined = session.exit(ExitReason::User);  // answered No
        } else if (!accepted && progress().lngRecCount >= 100) {
            shown.answers = {true};
            accepted = session.exit(ExitReason::User);
            shown.ended = accepted->result == ExitResult::Ended;
        }
    };
    const import::RunOutcome outcome = session.run();
    ASSERT_TRUE(declined && accepted);
    EXPECT_EQ(declined->result, ExitResult::Cancelled);
    EXPECT_EQ(accepted->result, ExitResult::Ended);
    EXPECT_TRUE(accepted->aborted);
    EXPECT_FALSE(accepted->compacted);
    ASSERT_EQ(shown.asked.size(), 2u);
    EXPECT_EQ(shown.asked[0].question, Question::AbortImport);
    EXPECT_EQ(shown.asked[0].text, ImportSession::kAbortQuestion);
    EXPECT_EQ(shown.asked[0].style, 292);
    EXPECT_EQ(outcome.result, RunResult::Aborted);
    EXPECT_EQ(progress().lngRecCount, 100);  // the engine never went on
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"), (Table{{"100"}}));
    EXPECT_EQ(Count(database, "ZIPALL"), 100);
    EXPECT_FALSE(shown.engines.busy);

    // The next loading continues after the rows written.
    FakeSessionView next;
    ImportSession continued(next);
    continued.load();
    EXPECT_EQ(continued.state().lngResumeRecNo, 100);
    EXPECT_EQ(next.runToolTip, ImportSession::kContinuation);
}

// While an engine checks its file nothing has been changed yet: the session's end then asks
// nothing and keeps nothing for a resume, the marker found stays as it was. (The person's Yes
// there, which stops the run and keeps the window, is tested with the window.) The session
// ends at the `atCheckEvent`th event of the check of a short file: the first comes before the
// check begins, the second while it is waited for.
class SessionEndDuringTheCheckTest : public ImportSessionTest {
  protected:
    void endAtCheckEvent(int atCheckEvent) {
        const std::string ken = write("ken_all.csv", KenLines(2));
        sql("INSERT INTO 登録中 VALUES(5)");  // a marker without rows behind it: a fresh start
        session.load();
        ASSERT_TRUE(choose(0, ken));
        std::optional<import::ExitOutcome> ended;
        int checkEvents = 0;
        shown.onEvent = [&] {
            if (progress().checking && ++checkEvents == atCheckEvent && !ended) {
                ended = session.exit(ExitReason::SessionEnd);
                shown.ended = true;
            }
        };
        EXPECT_EQ(session.run().result, RunResult::Aborted);
        ASSERT_TRUE(ended);
        EXPECT_EQ(ended->result, ExitResult::Ended);
        EXPECT_FALSE(ended->aborted);
        EXPECT_TRUE(shown.asked.empty());
        EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"), (Table{{"5"}}));
        EXPECT_EQ(Count(database, "ZIPALL"), 0);
        EXPECT_EQ(Count(database, "都道府県"), 0);
    }
};

TEST_F(SessionEndDuringTheCheckTest, BeforeItBeginsChangesNothing) { endAtCheckEvent(1); }

// Nothing is held beside the check of a short file: the exit does not wait for its end.
TEST_F(SessionEndDuringTheCheckTest, WhileItIsWaitedForChangesNothing) { endAtCheckEvent(2); }

TEST_F(ImportSessionTest, SessionEndDuringTheBusinessOfficePartAbortsWithoutAQuestion) {
    const std::string ken = write("ken_all.csv", KenLines(1));
    const std::string office = write("jigyosyo.csv", OfficeLines(40));
    session.load();
    ASSERT_TRUE(choose(0, ken));
    ASSERT_TRUE(choose(1, office));
    shown.onEvent = [&] {
        if (progress().intInportMode == 2 && progress().lngRecCount == 25 && !shown.ended) {
            shown.ended = session.exit(ExitReason::SessionEnd).result == ExitResult::Ended;
        }
    };
    EXPECT_EQ(session.run().result, RunResult::Aborted);
    EXPECT_TRUE(shown.asked.empty());
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"), (Table{{"1000025"}}));
}

TEST_F(ImportSessionTest, FailedRunNamesFileAndLineAndLeavesTheSessionUsable) {
    std::vector<std::string> lines = KenLines(2);
    lines.insert(lines.begin() + 5, "01101,\"100  \",\"1010099\"");
    const std::string ken = write("ken_all.csv", lines);
    session.load();
    ASSERT_TRUE(choose(0, ken));
    const import::RunOutcome failed = session.run();
    ASSERT_EQ(failed.result, RunResult::Failed);
    EXPECT_EQ(failed.error->file(), ken);
    EXPECT_EQ(failed.error->line(), 6);
    EXPECT_EQ(progress().intInportMode, 0);
    EXPECT_EQ(progress().finished, (std::array<bool, 2>{false, false}));
    EXPECT_EQ(shown.engines.captions[0], "");  // the count label emptied
    EXPECT_TRUE(shown.browseEnabled[0]);
    EXPECT_FALSE(shown.engines.busy);
    EXPECT_FALSE(session.state().blnCompact);
    EXPECT_EQ(session.state().lngResumeRecNo, 0);
    EXPECT_EQ(Count(database, "ZIPALL"), 0);  // the whole file is checked before any row

    lines.erase(lines.begin() + 5);
    write("ken_all.csv", lines);
    ASSERT_TRUE(choose(0, ken));
    EXPECT_EQ(session.run().result, RunResult::Finished);
    EXPECT_EQ(Count(database, "ZIPALL"), 94);
}

// Another import, in a second window on the same database, between this window's loading and
// its 実行: the run reads the resume point and the dates again once it holds the database.
class ConcurrentImportTest : public ImportSessionTest {
  protected:
    // A window that imports the files to the end and exits (the marker cleared).
    void importElsewhere(const std::string& ken, const std::string& office) {
        FakeSessionView other;
        other.answers = {true, true};
        ImportSession elsewhere(other);
        useTestClock(elsewhere);
        elsewhere.load();
        if (!ken.empty())
            elsewhere.browseResult(0, import::ChosenDataFile(ken, import::DataKind::National));
        if (!office.empty())
            elsewhere.browseResult(1, import::ChosenDataFile(office, import::DataKind::Office));
        ASSERT_EQ(elsewhere.run().result, RunResult::Finished);
        ASSERT_EQ(elsewhere.exit(ExitReason::User).result, ExitResult::Ended);
    }
    // A window whose import of these files is aborted once `mode`'s engine has `rows` records.
    void abortElsewhere(const std::string& ken, const std::string& office, short mode, long rows) {
        FakeSessionView other;
        other.answers = {true, true};
        ImportSession elsewhere(other);
        useTestClock(elsewhere);
        elsewhere.load();
        if (!ken.empty())
            elsewhere.browseResult(0, import::ChosenDataFile(ken, import::DataKind::National));
        if (!office.empty())
            elsewhere.browseResult(1, import::ChosenDataFile(office, import::DataKind::Office));
        other.onEvent = [&] {
            const mdInport::ImportProgress& now = elsewhere.state().progress;
            if (!other.ended && now.intInportMode == mode && now.lngRecCount >= rows) {
                other.answers = {true};
                other.ended = elsewhere.exit(ExitReason::User).result == ExitResult::Ended;
            }
        };
        ASSERT_EQ(elsewhere.run().result, RunResult::Aborted);
    }
};

TEST_F(ConcurrentImportTest,
       ImportFinishedElsewhereIsImportedAfreshOrLeftAsItIsNeverAppendedTwice) {
    const std::string ken = write("ken_all.csv", KenLines(3));
    for (const bool replace : {true, false}) {
        SCOPED_TRACE(replace ? "answered Yes" : "answered No");
        abortElsewhere(ken, "", 1, 50);
        ASSERT_EQ(Count(database, "ZIPALL"), 50);

        FakeSessionView waiting;
        ImportSession late(waiting);
        useTestClock(late);
        late.load();  // reads the resume point: continue after row 50
        ASSERT_EQ(late.state().lngResumeRecNo, 50);
        ASSERT_TRUE(late.browseResult(0, import::ChosenDataFile(ken, import::DataKind::National)));
        importElsewhere(ken, "");
        ASSERT_EQ(Count(database, "ZIPALL"), 141);

        // The data is registered with the chosen file's date by now: the question comes.
        waiting.answers = {replace};
        const import::RunOutcome outcome = late.run();
        ASSERT_EQ(waiting.asked.size(), 1u);
        EXPECT_EQ(waiting.asked[0].question, Question::ReplaceOlderNational);
        EXPECT_EQ(outcome.result, replace ? RunResult::Finished : RunResult::Declined);
        EXPECT_EQ(Count(database, "ZIPALL"), 141);
        EXPECT_EQ(late.state().lngResumeRecNo, 0);
        EXPECT_EQ(waiting.browseEnabled[0], !replace);  // after a No the file may be chosen again
        mdlYubinBox::CloseMdb();
    }
}

TEST_F(ConcurrentImportTest, NationalFileIsRefusedWhenABusinessOfficeImportWasAbortedMeanwhile) {
    const std::string ken = write("ken_all.csv", KenLines(1));
    const std::string office = write("jigyosyo.csv", OfficeLines(40));
    session.load();
    ASSERT_TRUE(choose(0, ken));
    abortElsewhere(ken, office, 2, 25);
    const long rows = Count(database, "ZIPALL");

    EXPECT_EQ(session.run().result, RunResult::Declined);
    ASSERT_EQ(shown.told.size(), 1u);
    EXPECT_EQ(shown.told[0].first, ImportSession::kNationalRefusedWhileOfficePending);
    EXPECT_TRUE(shown.asked.empty());
    EXPECT_FALSE(shown.browseEnabled[0]);
    EXPECT_TRUE(shown.browseEnabled[1]);
    EXPECT_EQ(shown.runToolTip, ImportSession::kContinuation);
    EXPECT_EQ(Count(database, "ZIPALL"), rows);
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"), (Table{{"1000025"}}));

    // The business-office file alone continues the import.
    ASSERT_TRUE(choose(1, office));
    EXPECT_EQ(session.run().result, RunResult::Finished);
    EXPECT_EQ(Count(database, "ZIPALL"), rows + 15);
}

}  // namespace
}  // namespace yubin::test
