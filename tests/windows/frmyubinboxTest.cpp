// The import window: loading, browsing, 実行 with its questions, the abort and the exit, on
// real engines over small files; the session's end through the real executable.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include <QButtonGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <sqlite3.h>

#include "base/VectorState.h"
#include "import/DataFile.h"
#include "import/ImportTestSupport.h"
#include "store/Engine.h"
#include "support/OtherProgram.h"
#include "support/VectorStateMark.h"
#include "windows/ErrorGuard.h"
#include "windows/MessageBox.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"
#include "windows/frmFilename.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;
using import::ImportSession;
using test::KenLine;
using test::OfficeLine;

const QString kCaption = QStringLiteral("yubinbox - frmyubinbox 【郵便番号データ取込】");

// n groups for each of the 47 prefectures, one line each.
std::vector<std::string> KenLines(int perPrefecture) {
    std::vector<std::string> lines;
    for (int p = 1; p <= 47; ++p) {
        char code[6];
        std::snprintf(code, sizeof code, "%02d101", p);
        for (int z = 0; z < perPrefecture; ++z) {
            lines.push_back(KenLine(code, "100  ", std::to_string(1000000 + p * 10000 + z),
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

ino_t Inode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

// What the database file holds, read by SQLite itself: the schema without its page numbers and
// every table's rows, sorted; or only the rows of the tables other programs read. The search's
// derived records, a cache that any change of its table removes, are left out.
// The tables of derived records (the search's index) in the file, read by SQLite itself.
long long DerivedTables(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_stmt* count = nullptr;
    long long tables = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db,
                           "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name "
                           "LIKE '\\_\\_yubinbox\\_derived\\_%' ESCAPE '\\'",
                           -1, &count, nullptr) == SQLITE_OK &&
        sqlite3_step(count) == SQLITE_ROW) {
        tables = sqlite3_column_int64(count, 0);
    }
    sqlite3_finalize(count);
    sqlite3_close(db);
    return tables;
}

enum class Held { Everything, PostalRows };
std::vector<std::string> Snapshot(const std::string& path, Held held = Held::Everything) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {"cannot open " + path};
    }
    const auto read = [db](const std::string& sql) {
        std::vector<std::string> rows;
        const auto collect = [](void* sink, int count, char** values, char**) {
            std::string row;
            for (int i = 0; i < count; ++i)
                row += std::string(values[i] ? values[i] : "NULL") + "|";
            static_cast<std::vector<std::string>*>(sink)->push_back(row);
            return 0;
        };
        if (sqlite3_exec(db, sql.c_str(), collect, &rows, nullptr) != SQLITE_OK) {
            rows.push_back("cannot read: " + sql);
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    const std::string kept = held == Held::Everything
                                 ? "name NOT LIKE '\\_\\_yubinbox\\_derived\\_%' ESCAPE '\\'"
                                 : "name NOT LIKE '\\_\\_%' ESCAPE '\\'";
    std::vector<std::string> lines;
    if (held == Held::Everything) {
        lines = read("SELECT type, name, tbl_name, sql FROM sqlite_schema WHERE " + kept);
    }
    for (const std::string& table :
         read("SELECT name FROM sqlite_schema WHERE type = 'table' AND " + kept)) {
        const std::string name = table.substr(0, table.size() - 1);  // without the last "|"
        lines.push_back("== " + name);
        for (const std::string& row : read("SELECT * FROM \"" + name + "\"")) lines.push_back(row);
    }
    sqlite3_close(db);
    return lines;
}

class frmyubinboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OverrideProgramName(QStringLiteral("yubinbox"));
        OverrideProgramFolder(QString::fromStdString(dir.path().string()));
        // The tests act at a given line: events run after every line.
        savedEventInterval = frmyubinbox::SetEventInterval(0);
        test::writeBytes(marker(), "");
        setenv("HOME", dir.path().c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        mdFileCreate::SetIniFilePath();
        database = dir.file("yubinbox.mdb");
        mdlYubinBox::strMdbFile = database;
        mdlYubinBox::CreateMdb();
        previousHook = frmFilename::SetModalHook([this](frmFilename& chooser) {
            chooserStartDirs.push_back(window->session().state().strStartDir);
            if (!chosen.empty()) chooser.AcceptDataFile(chosen);
            if (chooser.isLoaded()) chooser.unload();
        });
        SetBeepHook([this] { ++beeps; });
    }
    void TearDown() override {
        frmyubinbox::SetEventInterval(savedEventInterval);
        for (QTimer* timer : timers) delete timer;
        WindowBase::DeleteLoadedWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        frmFilename::SetModalHook(std::move(previousHook));
        SetBeepHook({});
        mdlYubinBox::CloseMdb();
        SetDefaultPointer();
        OverrideProgramFolder(QString());
        OverrideProgramName(QString());
    }

    std::string marker() const { return (dir.path() / "checkfile.txt").string(); }
    std::string write(const std::string& name, const std::vector<std::string>& lines) {
        test::writeCp932Lines(dir.file(name), lines);
        return dir.file(name);
    }
    void sql(const std::string& statement) {
        db::Connection connection;
        connection.open(mdlYubinBox::ConnectionString(database));
        connection.execute(statement);
    }
    std::vector<std::vector<std::string>> rows(const std::string& select) {
        return test::Rows(database, select);
    }

    frmyubinbox& open() {
        window = new frmyubinbox;
        mdInport::Environment& env = window->session().environment();
        env.pauseSeconds = 5.0;
        env.monotonicSeconds = [this] { return seconds; };
        env.idle = [this] { seconds += 0.5; };
        window->show();
        return *window;
    }
    const import::ImportWindowState& state() const { return window->session().state(); }
    const mdInport::ImportProgress& progress() const { return state().progress; }
    void choose(int index, const std::string& path) {
        chosen = path;
        window->cmdCSVFILE(index).click();
    }
    // Runs `action` once, inside the engines' event processing, as soon as `when` holds.
    void during(std::function<bool()> when, std::function<void()> action) {
        auto* timer = new QTimer;
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, [this, timer, when, action] {
            if (!window || progress().intInportMode == 0 || !when()) return;
            timer->stop();
            action();
        });
        timer->start();
        timers.push_back(timer);
    }
    // The window's deferred deletion after it has unloaded itself.
    void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    QString status() const { return window->statusBar1().panel(QStringLiteral("msg")).text(); }

    test::TempDir dir;
    MessageBoxResponder boxes;
    ScopedEndProgramHook end;
    ScopedClockSource clock{[] { return QTime(10, 30); }};
    frmFilename::ModalHook previousHook;
    double seconds = 1000.0;
    int savedEventInterval = 0;
    int beeps = 0;
    std::string database;
    std::string chosen;
    std::vector<std::string> chooserStartDirs;
    std::vector<QTimer*> timers;
    QPointer<frmyubinbox> window;
};

TEST_F(frmyubinboxTest, LoadingLaysOutTheWindowAndHidesWhatHasNoValueYet) {
    frmyubinbox& w = open();
    EXPECT_EQ(w.windowTitle(), kCaption);
    EXPECT_EQ(w.size(), QSize(655, 494));
    for (const char* name :
         {"Image1",       "Label1",       "Label2",       "Label3",       "Label5",
          "Shape1",       "Shape2",       "ProgressBar1", "ProgressBar2", "MCOUNT",
          "JCOUNT",       "lblSAKUSEIBI", "cmdCSVFILE_0", "cmdCSVFILE_1", "txtCSVFILE_0",
          "txtCSVFILE_1", "lblCSVDATE_0", "lblCSVDATE_1", "cmdBTN_0",     "cmdBTN_1",
          "StatusBar1"}) {
        EXPECT_NE(w.findChild<QWidget*>(QString::fromUtf8(name)), nullptr) << name;
    }
    EXPECT_EQ(w.cmdCSVFILEGroup().button(1), &w.cmdCSVFILE(1));
    EXPECT_EQ(w.cmdBTNGroup().button(0), &w.cmdBTN(0));
    EXPECT_EQ(w.Label3().text().count(QLatin1Char('\n')), 8);
    EXPECT_TRUE(w.Label3().text().startsWith(QStringLiteral("・郵便事業株式会社のサイトから")));
    EXPECT_EQ(w.cmdCSVFILE(0).text(), QStringLiteral("参照：全国版郵便番号データ(&K)"));
    EXPECT_EQ(w.cmdBTN(1).text(), QStringLiteral("終了(&X)"));

    // Beside each browse button: the bar on its upper half, the count and the date below.
    for (int i = 0; i < 2; ++i) {
        const QRect button = w.cmdCSVFILE(i).geometry();
        QProgressBar& bar = i == 0 ? w.ProgressBar1() : w.ProgressBar2();
        QLabel& count = i == 0 ? w.MCOUNT() : w.JCOUNT();
        EXPECT_EQ(bar.geometry(), QRect(Px(5820), button.top(), Px(3615), button.height() / 2));
        EXPECT_EQ(count.geometry(), QRect(bar.x(), button.top() + button.height() / 2, bar.width(),
                                          button.height() / 2));
        EXPECT_EQ(w.lblCSVDATE(i).geometry().top(), button.top() + button.height() / 2);
        EXPECT_EQ(w.lblCSVDATE(i).x(), Px(4200));
        EXPECT_TRUE(w.txtCSVFILE(i).text().isEmpty());
        EXPECT_FALSE(bar.isVisible());
        EXPECT_FALSE(count.isVisible());
        EXPECT_FALSE(w.lblCSVDATE(i).isVisible());
        EXPECT_TRUE(w.cmdCSVFILE(i).isEnabled());
    }
    EXPECT_FALSE(w.lblSAKUSEIBI().isVisible());  // nothing registered
    EXPECT_EQ(w.lblSAKUSEIBI().toolTip(),
              QStringLiteral("日本郵政公社がCSVファイルを作成した日です。"));
    EXPECT_TRUE(status().isEmpty());
    EXPECT_EQ(w.cmdBTN(0).toolTip(), QString());
    EXPECT_EQ(w.cmdBTN(1).toolTip(), QStringLiteral("プログラムを終了します。"));
    EXPECT_FALSE(state().blnCompact);
    EXPECT_TRUE(IsDefaultPointer());
}

TEST_F(frmyubinboxTest, PendingBusinessOfficeResumeDisablesTheNationalChoice) {
    sql("INSERT INTO 作成日 (ZIPALL, JIGYOSYO) VALUES('20240228', '20240331')");
    sql("INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('1000001', '1', 1000001)");
    sql("INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('1000002', '1', 1000002)");
    sql("INSERT INTO 登録中 VALUES(1000001)");
    frmyubinbox& w = open();
    EXPECT_FALSE(w.cmdCSVFILE(0).isEnabled());
    EXPECT_TRUE(w.cmdCSVFILE(1).isEnabled());
    EXPECT_EQ(w.cmdBTN(0).toolTip(), QStringLiteral("継続スタートです。"));
    EXPECT_EQ(state().lngResumeRecNo, 1000002);
    EXPECT_TRUE(w.lblSAKUSEIBI().isVisible());
    EXPECT_TRUE(w.lblSAKUSEIBI().text().endsWith(QStringLiteral("2024年03月31日")));
}

TEST_F(frmyubinboxTest, BrowseOpensInTheFolderImportedLastAndCancelChangesNothing) {
    frmyubinbox& w = open();
    choose(0, "");
    ASSERT_EQ(chooserStartDirs.size(), 1u);
    EXPECT_EQ(chooserStartDirs[0], "");  // no key: the chooser's default folder
    EXPECT_TRUE(w.txtCSVFILE(0).text().isEmpty());
    EXPECT_FALSE(w.lblCSVDATE(0).isVisible());

    mdFileCreate::StoreImportPath("csvjpath", "/srv/post/2024/jigyosyo.csv");
    const std::string office = write("jigyosyo.csv", OfficeLines(1));
    choose(1, office);
    EXPECT_EQ(chooserStartDirs[1], "/srv/post/2024");
    EXPECT_EQ(w.txtCSVFILE(1).text().toStdString(), office);
    EXPECT_TRUE(w.lblCSVDATE(1).isVisible());
    const std::string stamp = import::DataFileStamp(office);
    EXPECT_EQ(w.lblCSVDATE(1).text().toStdString(), mdInport::FormatStamp(stamp));
    EXPECT_EQ(state().strCsvDate[1], stamp);
    EXPECT_EQ(state().strSelFile, office);

    EXPECT_EQ(w.session().browse(0).title, "全国版郵便番号データ(&K)ファイルの選択  (ken_all.csv)");
    EXPECT_EQ(w.session().browse(1).title,
              "事業所個別郵便番号データ(&J)ファイルの選択  (jigyosyo.csv)");
    EXPECT_EQ(w.session().browse(1).expectedFile, "jigyosyo.csv");
}

TEST_F(frmyubinboxTest, RunWithNothingChosenShowsTheCriticalMessageOnly) {
    frmyubinbox& w = open();
    w.cmdBTN(0).click();
    ASSERT_EQ(boxes.asked().size(), 1u);
    EXPECT_EQ(boxes.asked()[0].text,
              QStringLiteral("郵便番号データファイルがどちらも選択されていません。\n"
                             "どちらかまたは両方を選択してください。"));
    EXPECT_EQ(boxes.asked()[0].style, 16);
    EXPECT_EQ(boxes.asked()[0].title, kCaption);
    EXPECT_EQ(w.lastRun().result, import::RunResult::NothingChosen);
    EXPECT_FALSE(w.ProgressBar1().isVisible());
    EXPECT_EQ(beeps, 0);
    boxes.clear();
}

TEST_F(frmyubinboxTest, DateQuestionsEqualCountsAsOlderAndANoStopsTheRun) {
    const std::string ken = write("ken_all.csv", KenLines(1));
    const std::string office = write("jigyosyo.csv", OfficeLines(2));
    const std::string stamp = import::DataFileStamp(ken);
    sql("INSERT INTO 作成日 (ZIPALL, JIGYOSYO) VALUES('" + stamp + "', '" + stamp + "')");
    frmyubinbox& w = open();
    choose(0, ken);
    choose(1, office);

    // Yes to the national question, No to the business-office one: nothing runs, but the
    // national browse button has been disabled already.
    boxes.setNextAnswer(Answer::Yes);
    boxes.setNextAnswer(Answer::No);
    w.cmdBTN(0).click();
    ASSERT_EQ(boxes.asked().size(), 2u);
    EXPECT_EQ(boxes.asked()[0].text.toStdString(), ImportSession::kOlderDataQuestions[0]);
    EXPECT_EQ(boxes.asked()[1].text.toStdString(), ImportSession::kOlderDataQuestions[1]);
    EXPECT_EQ(boxes.asked()[1].style, 260);
    EXPECT_EQ(boxes.asked()[1].title, kCaption);
    EXPECT_EQ(w.lastRun().result, import::RunResult::Declined);
    EXPECT_FALSE(w.cmdCSVFILE(0).isEnabled());
    EXPECT_TRUE(w.cmdCSVFILE(1).isEnabled());
    EXPECT_FALSE(w.ProgressBar1().isVisible());
    EXPECT_EQ(test::Count(database, "ZIPALL"), 0);

    // The next 実行 asks the business-office question only, and imports both.
    boxes.clear();
    boxes.setNextAnswer(Answer::Yes);
    w.cmdBTN(0).click();
    ASSERT_EQ(boxes.asked().size(), 1u);
    EXPECT_EQ(boxes.asked()[0].text.toStdString(), ImportSession::kOlderDataQuestions[1]);
    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 47 + 2);
    boxes.clear();
}

TEST_F(frmyubinboxTest, ChosenFileOfALaterDayThanTheRegisteredDataAsksNothing) {
    const std::string ken = write("ken_all.csv", KenLines(1));
    sql("INSERT INTO 作成日 (ZIPALL) VALUES('20000101')");
    frmyubinbox& w = open();
    choose(0, ken);
    w.cmdBTN(0).click();
    EXPECT_TRUE(boxes.asked().empty());
    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
}

TEST_F(frmyubinboxTest, RunShowsTheStatesOfTheWindowAndTheExitCompacts) {
    const std::string ken = write("ken_all.csv", KenLines(2));
    const std::string office = write("jigyosyo.csv", OfficeLines(3));
    frmyubinbox& w = open();
    choose(0, ken);
    choose(1, office);
    EXPECT_TRUE(w.lblCSVDATE(0).isVisible());

    bool sawNational = false, sawOffice = false;
    during([this] { return progress().intInportMode == 1 && progress().lngRecCount == 10; },
           [&] {
               sawNational = true;
               EXPECT_FALSE(IsDefaultPointer());
               EXPECT_FALSE(w.cmdCSVFILE(0).isEnabled());
               EXPECT_FALSE(w.cmdCSVFILE(1).isEnabled());
               EXPECT_TRUE(w.ProgressBar1().isVisible());
               EXPECT_FALSE(w.ProgressBar2().isVisible());
               EXPECT_TRUE(w.MCOUNT().text().startsWith(QStringLiteral("( ")));
               EXPECT_EQ(w.MCOUNT().frameShape(), QFrame::Box);
               EXPECT_GT(w.ProgressBar1().value(), 0);
               EXPECT_EQ(status(), QStringLiteral("全国版郵便番号データを取り込んでいます。"));
               w.cmdBTN(0).click();  // ignored while the run goes on
           });
    // The business-office engine's bar shows once its file has been checked.
    during([this] { return progress().intInportMode == 2 && !progress().checking; },
           [&] {
               sawOffice = true;
               EXPECT_TRUE(w.ProgressBar2().isVisible());
               EXPECT_TRUE(w.MCOUNT().text().startsWith(QStringLiteral("処理時間：")));
           });
    w.cmdBTN(0).click();
    EXPECT_TRUE(sawNational);
    EXPECT_TRUE(sawOffice);
    EXPECT_TRUE(boxes.asked().empty());
    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(w.lastRun().imported, (std::array<bool, 2>{true, true}));

    // After the run.
    EXPECT_TRUE(IsDefaultPointer());
    EXPECT_EQ(progress().intInportMode, 0);
    EXPECT_EQ(w.MCOUNT().text(), QStringLiteral("処理時間：00分05秒  94 件"));
    EXPECT_EQ(w.JCOUNT().text(), QStringLiteral("処理時間：00分05秒  3 件"));
    EXPECT_TRUE(w.lblSAKUSEIBI().isVisible());
    EXPECT_EQ(w.cmdBTN(1).toolTip(), QStringLiteral("データベースを最適化して終了します。"));
    EXPECT_TRUE(state().blnCompact);
    EXPECT_EQ(beeps, 2);  // the business-office engine's and the run's
    EXPECT_EQ(test::Count(database, "ZIPALL"), 97);

    // 終了: the status text, the marker cleared, the database compacted, the program ended.
    sql("INSERT INTO 登録中 VALUES(7)");
    test::LeaveFreePages(database);
    w.cmdBTN(1).click();
    EXPECT_EQ(status(), QStringLiteral("データベースを最適化して終了します。"));
    EXPECT_EQ(test::FreePages(database), 0);
    EXPECT_EQ(rows("SELECT * FROM 登録中").size(), 0u);
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(end.calls(), 1);
    EXPECT_EQ(end.exitCode(), 0);
    EXPECT_FALSE(w.isLoaded());
    EXPECT_EQ(test::Count(database, "ZIPALL"), 97);
}

// The toolkit's painting may leave the AVX mark set (base/VectorState.h), under which the
// engines' SSE code, and every thread they start, runs several times slower. Here every paint
// leaves it: the engines' own code, each time it runs after the window's event processing and
// painting (the clock it reads, the idle steps of the closing pause), finds it cleared.
TEST_F(frmyubinboxTest, TheEnginesGoOnWithoutTheVectorMarkThatPaintingLeaves) {
    if (!test::MarkUpperVectorStateInUse()) GTEST_SKIP() << "the processor does not tell the mark";
    ClearUpperVectorState();
    struct MarkWhenPainted : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                ++paints;
                test::MarkUpperVectorStateInUse();
            }
            return false;
        }
    } painting;
    qApp->installEventFilter(&painting);

    const std::string ken = write("ken_all.csv", KenLines(2));
    const std::string office = write("jigyosyo.csv", OfficeLines(3));
    frmyubinbox& w = open();
    choose(0, ken);
    choose(1, office);
    int engineSteps = 0, markedSteps = 0;
    const auto engineStep = [&] {
        ++engineSteps;
        if (UpperVectorStateInUse().value_or(false)) ++markedSteps;
    };
    mdInport::Environment& env = w.session().environment();
    env.monotonicSeconds = [this, engineStep] {
        engineStep();
        return seconds;
    };
    env.idle = [this, engineStep] {
        engineStep();
        seconds += 0.5;
    };
    const int paintsBefore = painting.paints;
    w.cmdBTN(0).click();
    qApp->removeEventFilter(&painting);
    ClearUpperVectorState();

    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
    EXPECT_GT(painting.paints, paintsBefore);
    EXPECT_GE(engineSteps, 20);  // two closing pauses of ten idle steps, and their clock
    EXPECT_EQ(markedSteps, 0);
}

TEST_F(frmyubinboxTest, ExitWithoutARunGivesUpThePendingResumeWithoutCompacting) {
    sql("INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('1000001', '', 5)");
    sql("INSERT INTO 登録中 VALUES(5)");
    frmyubinbox& w = open();
    EXPECT_EQ(w.cmdBTN(0).toolTip(), QStringLiteral("継続スタートです。"));
    test::LeaveFreePages(database);
    const ino_t before = Inode(database);
    w.cmdBTN(1).click();
    EXPECT_EQ(status(), QStringLiteral("プログラムを終了します。"));
    EXPECT_EQ(Inode(database), before);
    EXPECT_GT(test::FreePages(database), 40);
    EXPECT_EQ(rows("SELECT * FROM 登録中").size(), 0u);
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(end.calls(), 1);
    EXPECT_TRUE(boxes.asked().empty());
}

TEST_F(frmyubinboxTest, OfficeFileChosenDuringTheNationalPartIsImportedByTheSameRun) {
    const std::string ken = write("ken_all.csv", KenLines(2));
    const std::string office = write("jigyosyo.csv", OfficeLines(4));
    frmyubinbox& w = open();
    choose(0, ken);
    during([this] { return progress().intInportMode == 1 && progress().lngRecCount == 20; },
           [&] { choose(1, office); });
    w.cmdBTN(0).click();
    EXPECT_TRUE(boxes.asked().empty());
    EXPECT_EQ(w.JCOUNT().text(), QStringLiteral("処理時間：00分05秒  4 件"));
    EXPECT_EQ(test::Count(database, "ZIPALL", "データ識別 = '1'"), 4);
}

TEST_F(frmyubinboxTest, AbortYesWritesTheMarkerEndsAndTheNextLoadingContinues) {
    const std::string ken = write("ken_all.csv", KenLines(10));
    frmyubinbox& w = open();
    choose(0, ken);
    long atAbort = -1;
    during([this] { return progress().lngRecCount >= 200; },
           [&] {
               atAbort = progress().lngRecCount;
               boxes.setNextAnswer(Answer::Yes);
               w.cmdBTN(1).click();
           });
    w.cmdBTN(0).click();
    ASSERT_EQ(boxes.asked().size(), 1u);
    EXPECT_EQ(boxes.asked()[0].text.toStdString(), ImportSession::kAbortQuestion);
    EXPECT_EQ(boxes.asked()[0].style, 292);
    EXPECT_EQ(boxes.asked()[0].title, kCaption);
    EXPECT_EQ(end.calls(), 1);
    EXPECT_EQ(end.exitCode(), 0);
    // The engine never went on; the marker and the rows are on disk, the connection closed.
    ASSERT_FALSE(window.isNull());
    EXPECT_EQ(progress().lngRecCount, atAbort);
    EXPECT_EQ(mdlYubinBox::cnMdb, nullptr);
    EXPECT_EQ(rows("SELECT * FROM 登録中"),
              (std::vector<std::vector<std::string>>{{std::to_string(atAbort)}}));
    EXPECT_EQ(test::Count(database, "ZIPALL"), atAbort);
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_TRUE(IsDefaultPointer());
    settle();
    EXPECT_TRUE(window.isNull());
    boxes.clear();

    // The next loading continues from the highest national RECNO written.
    frmyubinbox& next = open();
    EXPECT_EQ(next.cmdBTN(0).toolTip(), QStringLiteral("継続スタートです。"));
    EXPECT_EQ(state().lngResumeRecNo, atAbort);
    EXPECT_TRUE(next.cmdCSVFILE(0).isEnabled());
    choose(0, ken);
    next.cmdBTN(0).click();
    EXPECT_EQ(next.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 470);
    std::vector<long> numbers;
    for (const auto& row : rows("SELECT RECNO FROM ZIPALL")) numbers.push_back(std::stol(row[0]));
    std::sort(numbers.begin(), numbers.end());
    ASSERT_EQ(numbers.size(), 470u);
    for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], static_cast<long>(i + 1));
    EXPECT_EQ(next.MCOUNT().text(), QStringLiteral("処理時間：00分05秒  470 件"));
}

TEST_F(frmyubinboxTest, AbortNoAndTheCloseBoxAnsweredNoKeepTheImportGoing) {
    const std::string ken = write("ken_all.csv", KenLines(4));
    frmyubinbox& w = open();
    choose(0, ken);
    bool stayed = false;
    during([this] { return progress().lngRecCount >= 50; },
           [&] {
               boxes.setNextAnswer(Answer::No);
               w.cmdBTN(1).click();
               boxes.setNextAnswer(Answer::No);
               stayed = !w.close();
           });
    w.cmdBTN(0).click();
    EXPECT_TRUE(stayed);
    ASSERT_EQ(boxes.asked().size(), 2u);
    EXPECT_EQ(boxes.asked()[1].style, 292);
    EXPECT_EQ(end.calls(), 0);
    EXPECT_TRUE(w.isLoaded());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 188);
    EXPECT_EQ(rows("SELECT * FROM 登録中").size(), 0u);
    EXPECT_TRUE(fs::exists(marker()));
    boxes.clear();
}

TEST_F(frmyubinboxTest, CloseBoxAnsweredYesDuringTheOfficeImportWritesItsMarker) {
    const std::string ken = write("ken_all.csv", KenLines(1));
    const std::string office = write("jigyosyo.csv", OfficeLines(40));
    frmyubinbox& w = open();
    choose(0, ken);
    choose(1, office);
    during([this] { return progress().intInportMode == 2 && progress().lngRecCount == 25; },
           [&] {
               boxes.setNextAnswer(Answer::Yes);
               w.close();
           });
    w.cmdBTN(0).click();
    EXPECT_EQ(end.calls(), 1);
    EXPECT_EQ(rows("SELECT * FROM 登録中"), (std::vector<std::vector<std::string>>{{"1000025"}}));
    EXPECT_FALSE(fs::exists(marker()));
    settle();
    boxes.clear();

    frmyubinbox& next = open();
    EXPECT_FALSE(next.cmdCSVFILE(0).isEnabled());
    EXPECT_EQ(state().lngResumeRecNo, 1000025);
}

TEST_F(frmyubinboxTest, UntrappedErrorShowsFileAndLineAndLeavesTheWindowUsable) {
    std::vector<std::string> lines = KenLines(2);
    lines.insert(lines.begin() + 5, "01101,\"100  \",\"1010099\"");
    const std::string ken = write("ken_all.csv", lines);
    frmyubinbox& w = open();
    choose(0, ken);
    w.cmdBTN(0).click();
    ASSERT_EQ(w.lastRun().result, import::RunResult::Failed);
    EXPECT_EQ(w.lastRun().error->file(), ken);
    EXPECT_EQ(w.lastRun().error->line(), 6);
    ASSERT_EQ(boxes.asked().size(), 1u);
    EXPECT_NE(boxes.asked()[0].text.toStdString().find(ken + " の 6 行目"), std::string::npos)
        << boxes.asked()[0].text.toStdString();
    EXPECT_EQ(boxes.asked()[0].style, 16);
    EXPECT_EQ(boxes.asked()[0].title, kCaption);
    EXPECT_EQ(end.calls(), 0);
    EXPECT_TRUE(w.isLoaded());
    EXPECT_TRUE(IsDefaultPointer());
    EXPECT_EQ(progress().intInportMode, 0);
    EXPECT_EQ(rows("SELECT * FROM 登録中").size(), 0u);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 0);  // the file was refused before any row
    EXPECT_TRUE(w.cmdCSVFILE(0).isEnabled());
    boxes.clear();

    // A good file then imports everything once.
    lines.erase(lines.begin() + 5);
    write("ken_all.csv", lines);
    choose(0, ken);
    w.cmdBTN(0).click();
    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 94);
}

TEST_F(frmyubinboxTest, AfterARunThatFailedMidwayTheWindowShowsItsRealState) {
    // The file is cut while the national engine runs, past the reader's first buffer: the
    // engine fails with its bar, count and status text showing.
    const std::string ken = write("ken_all.csv", KenLines(20));
    const std::string office = write("jigyosyo.csv", OfficeLines(5));
    frmyubinbox& w = open();
    choose(0, ken);
    choose(1, office);
    bool seenRunning = false;
    during([this] { return progress().intInportMode == 1 && progress().lngRecCount == 25; },
           [&] {
               seenRunning =
                   w.ProgressBar1().isVisible() && w.MCOUNT().isVisible() && !status().isEmpty();
               ASSERT_EQ(::truncate(ken.c_str(), 0), 0);
           });
    w.cmdBTN(0).click();
    ASSERT_EQ(w.lastRun().result, import::RunResult::Failed);
    EXPECT_EQ(w.lastRun().error->code(), ErrorCode::DataFileChanged);
    EXPECT_TRUE(seenRunning);

    EXPECT_TRUE(status().isEmpty()) << status().toStdString();
    EXPECT_FALSE(w.ProgressBar1().isVisible());
    EXPECT_EQ(w.ProgressBar1().value(), 0);
    EXPECT_FALSE(w.MCOUNT().isVisible());
    EXPECT_EQ(w.MCOUNT().frameStyle(), QFrame::NoFrame);
    EXPECT_FALSE(w.ProgressBar2().isVisible());  // the business-office engine never began
    EXPECT_FALSE(w.JCOUNT().isVisible());
    EXPECT_EQ(state().display, import::ProgressDisplay());
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(w.cmdCSVFILE(i).isEnabled()) << i;
    EXPECT_TRUE(w.cmdBTN(0).isEnabled());
    EXPECT_TRUE(IsDefaultPointer());
    boxes.clear();

    // Both files chosen again, the run goes through.
    write("ken_all.csv", KenLines(20));
    choose(0, ken);
    choose(1, office);
    w.cmdBTN(0).click();
    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 945);
}

// Each engine reads its file through before it changes anything; the window lives during that
// check as during the import: what is posted as 実行 is clicked is handled before anything is
// deleted, and 終了 or the close box answered Yes there stops the run with the database as it
// was and the window usable.
TEST_F(frmyubinboxTest, TheFileCheckRunsEventsAndAnAbortThereChangesNothing) {
    const std::string ken = write("ken_all.csv", KenLines(10));
    const std::string office = write("jigyosyo.csv", OfficeLines(40));
    {
        frmyubinbox& first = open();
        choose(0, ken);
        choose(1, office);
        first.cmdBTN(0).click();
        ASSERT_EQ(first.lastRun().result, import::RunResult::Finished);
        first.cmdBTN(1).click();
        settle();
        ASSERT_EQ(end.calls(), 1);
    }
    const std::vector<std::string> before = Snapshot(database);
    const std::vector<std::string> rowsBefore = Snapshot(database, Held::PostalRows);
    frmyubinbox& w = open();
    choose(0, ken);
    choose(1, office);
    short modeWhenHandled = -1;
    std::vector<std::string> whenHandled;
    during([] { return true; },
           [&] {
               modeWhenHandled = progress().intInportMode;
               whenHandled = Snapshot(database, Held::PostalRows);
               boxes.setNextAnswer(Answer::Yes);
               w.cmdBTN(1).click();
           });
    boxes.setNextAnswer(Answer::Yes);  // the same dates as registered: replace both
    boxes.setNextAnswer(Answer::Yes);
    w.cmdBTN(0).click();
    EXPECT_EQ(modeWhenHandled, 1);
    EXPECT_EQ(whenHandled, rowsBefore);
    ASSERT_EQ(boxes.asked().size(), 3u);
    EXPECT_EQ(boxes.asked()[2].text.toStdString(), ImportSession::kAbortQuestion);
    EXPECT_EQ(end.calls(), 1);  // the window stays
    EXPECT_TRUE(w.isLoaded());
    EXPECT_EQ(Snapshot(database), before);
    // The search's index, removed as the run took the database, is there again.
    EXPECT_GT(DerivedTables(database), 0);
    EXPECT_TRUE(IsDefaultPointer());
    EXPECT_EQ(progress().intInportMode, 0);
    EXPECT_TRUE(status().isEmpty()) << status().toStdString();
    EXPECT_FALSE(w.ProgressBar1().isVisible());
    EXPECT_FALSE(w.MCOUNT().isVisible());
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(w.cmdCSVFILE(i).isEnabled()) << i;
    EXPECT_TRUE(w.cmdBTN(0).isEnabled());
    boxes.clear();

    // The close box: No during the national check goes on; Yes during the business-office
    // check stops the run there, the national part imported, the business-office data as it
    // was.
    const auto officeRows = rows("SELECT * FROM ZIPALL WHERE データ識別 = '1'");
    const auto dates = rows("SELECT * FROM 作成日");
    bool closedOnNo = true, closedOnYes = true;
    during([this] { return progress().intInportMode == 1 && progress().lngRecCount == 0; },
           [&] {
               boxes.setNextAnswer(Answer::No);
               closedOnNo = w.close();
           });
    during([this] { return progress().intInportMode == 2 && progress().lngRecCount == 0; },
           [&] {
               boxes.setNextAnswer(Answer::Yes);
               closedOnYes = w.close();
           });
    boxes.setNextAnswer(Answer::Yes);
    boxes.setNextAnswer(Answer::Yes);
    w.cmdBTN(0).click();
    EXPECT_FALSE(closedOnNo);
    EXPECT_FALSE(closedOnYes);
    ASSERT_EQ(boxes.asked().size(), 4u);
    EXPECT_EQ(boxes.asked()[3].text.toStdString(), ImportSession::kAbortQuestion);
    EXPECT_EQ(end.calls(), 1);
    EXPECT_TRUE(w.isLoaded());
    EXPECT_TRUE(w.MCOUNT().text().startsWith(QStringLiteral("処理時間：")))
        << w.MCOUNT().text().toStdString();
    EXPECT_FALSE(w.JCOUNT().isVisible());
    EXPECT_EQ(rows("SELECT * FROM ZIPALL WHERE データ識別 = '1'"), officeRows);
    EXPECT_EQ(rows("SELECT * FROM 作成日"), dates);
    EXPECT_TRUE(rows("SELECT * FROM 登録中").empty());
    EXPECT_FALSE(w.lblSAKUSEIBI().text().contains(QStringLiteral("未完了")));
    EXPECT_FALSE(w.cmdCSVFILE(0).isEnabled());  // imported in this window
    EXPECT_TRUE(w.cmdCSVFILE(1).isEnabled());
    boxes.clear();

    // The business-office file then imports.
    boxes.setNextAnswer(Answer::Yes);
    w.cmdBTN(0).click();
    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 470 + 40);
}

TEST_F(frmyubinboxTest, SessionEndDuringARunAbortsWithoutAQuestion) {
    const std::string ken = write("ken_all.csv", KenLines(2));
    frmyubinbox& w = open();
    choose(0, ken);
    during([this] { return progress().lngRecCount >= 30; }, [] { WindowBase::EndSession(); });
    w.cmdBTN(0).click();
    EXPECT_TRUE(boxes.asked().empty());
    EXPECT_EQ(end.calls(), 1);
    EXPECT_EQ(rows("SELECT * FROM 登録中"), (std::vector<std::vector<std::string>>{{"30"}}));
    EXPECT_FALSE(fs::exists(marker()));
}

// Another program holds the database while the run waits: the wait lets the window live.
class LockWaitTest : public frmyubinboxTest {
  protected:
    void SetUp() override {
        frmyubinboxTest::SetUp();
        previousWait = db::lockWait();
    }
    void TearDown() override {
        other.reset();
        db::setLockWait(previousWait);
        frmyubinboxTest::TearDown();
    }
    void holdDatabase() {
        other = std::make_unique<test::OtherProgram>(database, "BEGIN IMMEDIATE;");
        ASSERT_TRUE(other->ready());
    }
    // Counts its firings from the moment it starts, as any timer of the window would fire.
    QTimer& ticker(std::function<void()> onTick) {
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, onTick);
        timers.push_back(timer);
        return *timer;
    }

    std::unique_ptr<test::OtherProgram> other;
    std::chrono::milliseconds previousWait{};
};

TEST_F(LockWaitTest, ExitDuringAWaitEndsItAsAnAbortWithTheMarkerRight) {
    db::setLockWait(std::chrono::seconds(60));
    const std::string ken = write("ken_all.csv", KenLines(10));
    frmyubinbox& w = open();
    choose(0, ken);
    int firings = 0;
    bool waitingShown = false;
    QTimer& timer = ticker([&] {
        ++firings;
        waitingShown = waitingShown || status().toStdString() == mdInport::kWaitingForOtherProgram;
        if (!waitingShown || firings < 5) return;
        if (!other) {
            w.cmdBTN(1).click();  // a second 終了 while the exit is carried out is ignored
            return;
        }
        // Inside the wait: events run, the waiting text is shown; 終了 is answered Yes.
        boxes.setNextAnswer(Answer::Yes);
        w.cmdBTN(1).click();
        EXPECT_EQ(end.calls(), 0);  // carried out once the statement has returned
        other.reset();
    });
    during([this] { return progress().lngRecCount >= 100; },
           [&] {
               mdlYubinBox::Flush();  // the rows so far are on disk; the next write waits
               holdDatabase();
               timer.start();
           });
    const auto started = std::chrono::steady_clock::now();
    w.cmdBTN(0).click();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_TRUE(waitingShown);
    EXPECT_GE(firings, 5);
    ASSERT_EQ(boxes.asked().size(), 1u);
    EXPECT_EQ(boxes.asked()[0].text.toStdString(), ImportSession::kAbortQuestion);
    EXPECT_EQ(end.calls(), 1);
    EXPECT_EQ(end.exitCode(), 0);
    EXPECT_EQ(mdlYubinBox::cnMdb, nullptr);
    EXPECT_TRUE(IsDefaultPointer());
    EXPECT_FALSE(fs::exists(marker()));
    // The marker of the national import, and every row written stays.
    const long written = test::Count(database, "ZIPALL");
    EXPECT_GE(written, 100);
    ASSERT_EQ(rows("SELECT * FROM 登録中").size(), 1u);
    EXPECT_LT(std::stol(rows("SELECT * FROM 登録中")[0][0]), mdInport::kOfficeRecNoBase);
    timer.stop();  // it clicked the window that has gone
    settle();
    boxes.clear();

    // The next loading continues after the last row written, and completes without gaps.
    frmyubinbox& next = open();
    EXPECT_EQ(state().lngResumeRecNo, written);
    choose(0, ken);
    next.cmdBTN(0).click();
    EXPECT_EQ(next.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 470);
    EXPECT_EQ(rows("SELECT MAX(RECNO) FROM ZIPALL"),
              (std::vector<std::vector<std::string>>{{"470"}}));
}

TEST_F(LockWaitTest, AWaitThatRunsOutLeavesEveryControlAsUsableAsBeforeTheRun) {
    db::setLockWait(std::chrono::milliseconds(1500));
    const std::string ken = write("ken_all.csv", KenLines(1));
    frmyubinbox& w = open();
    choose(0, ken);
    holdDatabase();  // before the run takes the database
    int firings = 0;
    ticker([&] { ++firings; }).start();
    w.cmdBTN(0).click();
    EXPECT_GT(firings, 10);  // the window's timers ran throughout the wait
    ASSERT_EQ(w.lastRun().result, import::RunResult::Failed);
    EXPECT_EQ(w.lastRun().error->code(), ErrorCode::LockedByOtherUser);
    EXPECT_EQ(end.calls(), 0);
    EXPECT_TRUE(IsDefaultPointer());
    EXPECT_TRUE(w.cmdCSVFILE(0).isEnabled());
    EXPECT_TRUE(w.cmdCSVFILE(1).isEnabled());
    EXPECT_TRUE(w.cmdBTN(0).isEnabled());
    EXPECT_TRUE(w.cmdBTN(1).isEnabled());
    EXPECT_EQ(progress().intInportMode, 0);
    boxes.clear();

    // Free again: the same choice imports.
    other->end();
    w.cmdBTN(0).click();
    EXPECT_EQ(w.lastRun().result, import::RunResult::Finished);
    EXPECT_EQ(test::Count(database, "ZIPALL"), 47);
}

// The published files through the chooser, 実行 and 終了, against a headless import.
// 終了 with no run going deletes the resume marker and, after a run, compacts: while another
// program holds the database these wait with the window live, and a second 終了 or the close
// box gives the wait up.
TEST_F(LockWaitTest, ExitWaitingForAnotherProgramLetsTheWindowLiveAndMayBeGivenUp) {
    db::setLockWait(std::chrono::seconds(20));
    const auto started = std::chrono::steady_clock::now();
    sql("INSERT INTO 登録中 VALUES(5)");
    frmyubinbox& w = open();
    holdDatabase();  // a write transaction kept open: the marker's deletion waits
    int firingsWhileWaiting = 0;
    QTimer& timer = ticker([&] {
        if (status().toStdString() != mdInport::kWaitingForOtherProgram) return;
        switch (++firingsWhileWaiting) {
            case 3:
                w.cmdBTN(0).click();  // 実行 is ignored while the exit runs
                break;
            case 4:
                w.cmdCSVFILE(0).click();  // so is a browse button
                break;
            case 6:
                EXPECT_FALSE(w.close());  // the close box: the exit waits no longer
                break;
            default:
                break;
        }
    });
    timer.start();
    w.cmdBTN(1).click();
    timer.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_GE(firingsWhileWaiting, 6);
    EXPECT_TRUE(boxes.asked().empty());
    EXPECT_TRUE(chooserStartDirs.empty());
    EXPECT_EQ(end.calls(), 1);
    EXPECT_FALSE(fs::exists(marker()));
    other.reset();
    // Given up: the pending resume stays for the next run.
    EXPECT_EQ(rows("SELECT * FROM 登録中"), (std::vector<std::vector<std::string>>{{"5"}}));
    settle();

    // After a run the exit compacts; the database held whole (nothing can be read) and then
    // freed during the wait: the window lived meanwhile, and the exit ends as always.
    test::writeBytes(marker(), "");
    const std::string ken = write("ken_all.csv", KenLines(1));
    frmyubinbox& after = open();
    choose(0, ken);
    after.cmdBTN(0).click();
    ASSERT_EQ(after.lastRun().result, import::RunResult::Finished);
    test::LeaveFreePages(database);
    other = std::make_unique<test::OtherProgram>(database, "BEGIN EXCLUSIVE;");
    ASSERT_TRUE(other->ready());
    int waited = 0;
    QTimer& freeing = ticker([&] {
        if (status().toStdString() == mdInport::kWaitingForOtherProgram && ++waited == 5) {
            other.reset();
        }
    });
    freeing.start();
    after.cmdBTN(1).click();
    freeing.stop();
    EXPECT_GE(waited, 5);
    EXPECT_EQ(end.calls(), 2);
    EXPECT_EQ(end.exitCode(), 0);
    EXPECT_TRUE(rows("SELECT * FROM 登録中").empty());
    EXPECT_EQ(test::FreePages(database), 0);  // compacted
    EXPECT_EQ(test::Count(database, "ZIPALL"), 47);
    EXPECT_EQ(after.statusBar1().panel(QStringLiteral("msg")).text(),
              QString::fromUtf8(ImportSession::kCompactExitToolTip));
    settle();
}

TEST_F(frmyubinboxTest, Slow_PublishedDataGivesTheTablesOfTheHeadlessImport) {
    const std::string ken = test::sharedDataFile("KEN_ALL.CSV");
    const std::string office = test::sharedDataFile("JIGYOSYO.CSV");
    if (ken.empty() || office.empty()) GTEST_SKIP() << "published data files are absent";
    frmyubinbox& w = open();
    choose(0, ken);
    choose(1, office);
    w.cmdBTN(0).click();
    ASSERT_EQ(w.lastRun().result, import::RunResult::Finished);
    w.cmdBTN(1).click();
    EXPECT_EQ(end.calls(), 1);

    const std::string headless = dir.file("headless.mdb");
    const std::vector<std::string> home = {"HOME=" + dir.path().string()};
    ASSERT_EQ(test::runYubinbox({"createdb", headless}, home).exitCode, 0);
    test::ProcessResult run = test::runYubinbox(
        {"import", "--db", headless, "--ken-all", ken, "--jigyosyo", office, "--yes"}, home);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* select :
         {"SELECT * FROM ZIPALL", "SELECT * FROM 都道府県", "SELECT * FROM 市町村",
          "SELECT * FROM 作成日", "SELECT * FROM 登録中"}) {
        EXPECT_TRUE(test::Rows(database, select) == test::Rows(headless, select)) << select;
    }
    EXPECT_EQ(test::Count(database, "ZIPALL"), test::Count(headless, "ZIPALL"));
}

// ---- The session's end through the real executable ------------------------------------------

class SessionEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OverrideProgramFolder(
            QString::fromStdString(fs::path(test::yubinboxExecutable()).parent_path().string()));
        markerPath = CheckFilePath().toStdString();
        OverrideProgramFolder(QString());
    }
    std::vector<std::string> env() const {
        return {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + dir.file(".config"),
                "QT_QPA_PLATFORM=offscreen"};
    }
    // Waits until the predicate holds (true) or ten seconds have passed (false).
    static bool WaitFor(const std::function<bool()>& predicate) {
        for (int i = 0; i < 1000; ++i) {
            if (predicate()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    test::TempDir dir;
    std::string markerPath;
};

// One test: both programs use the single-instance marker of the build folder.
TEST_F(SessionEndTest, TermClosesTheWindowsDeletesTheMarkerAndAbortsARunningImport) {
    if (fs::exists(markerPath)) GTEST_SKIP() << "another instance runs from the build folder";
    // SIGINT is Ctrl-C in the terminal that started the program: the same end as SIGTERM.
    for (const int signal : {SIGTERM, SIGINT}) {
        test::YubinboxProcess program({}, env());
        ASSERT_TRUE(WaitFor([&] { return fs::exists(markerPath); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the event loop runs
        program.signal(signal);
        EXPECT_EQ(program.wait(), 0) << signal;
        EXPECT_FALSE(fs::exists(markerPath)) << signal;
    }

    test::writeCp932Lines(dir.file("ken_all.csv"), KenLines(2));
    for (const int signal : {SIGHUP, SIGINT}) {
        const std::string database = dir.file("yubinbox" + std::to_string(signal) + ".mdb");
        ASSERT_EQ(test::runYubinbox({"createdb", database}, env()).exitCode, 0);
        test::YubinboxProcess program({"import-window", "--db", database, "--ken-all",
                                       dir.file("ken_all.csv"), "--pause", "600"},
                                      env());
        // The file is read and its date recorded: the window waits in the closing pause.
        ASSERT_TRUE(WaitFor([&] {
            return test::runYubinbox({"sql", database, "SELECT ZIPALL FROM 作成日"}, env())
                       .out.size() > std::string("ZIPALL\n\n").size();
        }));
        EXPECT_TRUE(fs::exists(markerPath));
        program.signal(signal);
        EXPECT_EQ(program.wait(), 0) << signal;
        EXPECT_FALSE(fs::exists(markerPath)) << signal;
        EXPECT_EQ(test::runYubinbox({"sql", database, "SELECT * FROM 登録中"}, env()).out,
                  "RECNO\n94\n")
            << signal;
        EXPECT_EQ(
            test::runYubinbox({"sql", database, "SELECT COUNT(*) AS N FROM ZIPALL"}, env()).out,
            "N\n94\n");
    }
}

}  // namespace
}  // namespace yubin::app
