// The command line through the real executable, with a temporary home folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "cli/CliFixtures.h"
#include "support/TestSupport.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

// SQLite's own verdict on the file, read without our layer. Opened for writing as any program
// opens it: the transaction a killed process left in its journal is rolled back first (a
// read-only connection cannot, and reports the file busy).
std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            verdict = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return verdict;
}

class CliTest : public CliFixture {};

TEST_F(CliTest, SqlRunsStatementsAndReportsRefusals) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    EXPECT_EQ(yubinbox({"createdb", db()}).exitCode, 1);  // exists
    EXPECT_EQ(yubinbox({"createdb", db(), "--force"}).exitCode, 0);

    EXPECT_EQ(
        yubinbox({"sql", db(), "INSERT INTO 都道府県 VALUES('01', '北海道', 'ﾎｯｶｲﾄﾞｳ')"}).exitCode,
        0);
    EXPECT_EQ(
        yubinbox({"sql", db(), "INSERT INTO 都道府県 VALUES('13', 'O''Hare', NULL)"}).exitCode, 0);
    ProcessResult select = yubinbox({"sql", db(), "select * from 都道府県 where jisx0401 <> '01'"});
    EXPECT_EQ(select.exitCode, 0) << select.err;
    EXPECT_EQ(select.out, "JISX0401\t都道府県名\t住所かな1\n13\tO'Hare\t\n");

    ProcessResult tooLong =
        yubinbox({"sql", db(), "INSERT INTO 市町村 (JISX0402) VALUES('123456')"});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_NE(tooLong.err.find("エラー 3163"), std::string::npos) << tooLong.err;

    ProcessResult garbage = yubinbox({"sql", db(), "DELETE 都道府県; DROP TABLE ZIPALL"});
    EXPECT_EQ(garbage.exitCode, 1);
    EXPECT_NE(garbage.err.find("エラー 3075"), std::string::npos) << garbage.err;

    ProcessResult count = yubinbox({"sql", db(), "SELECT COUNT(*) As DCOUNT FROM 都道府県"});
    EXPECT_EQ(count.out, "DCOUNT\n2\n");
}

TEST_F(CliTest, TablesHidesTheHiddenOnesAndCompactKeepsTheData) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    EXPECT_EQ(yubinbox({"tables", db()}).out, "登録中\n");
    ProcessResult all = yubinbox({"tables", db(), "--all"});
    EXPECT_NE(all.out.find("ZIPALL\thidden"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("DUMMY\thidden"), std::string::npos);

    ASSERT_EQ(yubinbox({"sql", db(), "INSERT INTO 登録中 VALUES(5)"}).exitCode, 0);
    ASSERT_EQ(yubinbox({"compact", db()}).exitCode, 0);
    EXPECT_FALSE(fs::exists(dir.file("yubinboxJRO.mdb")));
    EXPECT_EQ(yubinbox({"sql", db(), "SELECT * FROM 登録中"}).out, "RECNO\n5\n");

    EXPECT_EQ(yubinbox({"sql", dir.file("missing.mdb"), "SELECT * FROM DUMMY"}).exitCode, 1);
    writeBytes(dir.file("text.mdb"), "not a database\n");
    ProcessResult notOurs = yubinbox({"sql", dir.file("text.mdb"), "SELECT * FROM DUMMY"});
    EXPECT_EQ(notOurs.exitCode, 1);
    EXPECT_NE(notOurs.err.find("3343"), std::string::npos) << notOurs.err;
}

TEST_F(CliTest, AdministratorJobFromNewDatabaseToLookup) {
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(2));
    writeCp932Lines(dir.file("jigyosyo.csv"), OfficeLines(3));

    ProcessResult made = yubinbox({"newdb", dir.path().string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    ProcessResult settings = yubinbox({"settings"});
    EXPECT_NE(settings.out.find("path=" + db()), std::string::npos) << settings.out;

    ProcessResult run = yubinbox(
        {"import", "--ken-all", dir.file("ken_all.csv"), "--jigyosyo", dir.file("jigyosyo.csv")});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("全国版: 処理時間："), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("94 件"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("事業所個別版: 処理時間："), std::string::npos);
    EXPECT_NE(run.out.find("データベースを最適化して終了します。"), std::string::npos);

    ProcessResult summary = yubinbox({"summary"});
    EXPECT_NE(summary.out.find("全国版郵便番号データ　　　： "), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("事業所個別郵便番号データ　： "), std::string::npos);

    ProcessResult found = yubinbox({"lookup", "101-0000"});
    ASSERT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.out.find("1010000\t全国\t都01\t千代田区\t町0"), std::string::npos) << found.out;
    EXPECT_NE(yubinbox({"lookup", "9000001"}).out.find("事業所"), std::string::npos);
    EXPECT_EQ(yubinbox({"lookup", "1234567"}).exitCode, 1);
    EXPECT_EQ(yubinbox({"lookup", "12-34"}).exitCode, 2);

    // The same files again: the dates are not newer, and without a terminal that is refused.
    ProcessResult again = yubinbox({"import", "--ken-all", dir.file("ken_all.csv")});
    EXPECT_EQ(again.exitCode, 3) << again.err;
    EXPECT_EQ(yubinbox({"import", "--ken-all", dir.file("ken_all.csv"), "--yes"}).exitCode, 0);

    // A second newdb keeps the old database under its dated name.
    ASSERT_EQ(yubinbox({"newdb", dir.path().string()}).exitCode, 0);
    int backups = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (entry.path().filename().string().rfind("yubinbox_", 0) == 0) ++backups;
    }
    EXPECT_EQ(backups, 1);
}

TEST_F(CliTest, OrdinaryUserMayNotImportAndOfficeDataNeedsNationalData) {
    writeCp932Lines(dir.file("jigyosyo.csv"), OfficeLines(2));
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ASSERT_EQ(yubinbox({"use", db()}).exitCode, 0);
    ProcessResult refused = yubinbox({"import", "--jigyosyo", dir.file("jigyosyo.csv")});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.err.find("あなたには、データ取り込みを実行する権限がありません。"),
              std::string::npos);

    ProcessResult office =
        yubinbox({"import", "--db", db(), "--jigyosyo", dir.file("jigyosyo.csv")});
    EXPECT_EQ(office.exitCode, 4);
    EXPECT_NE(office.err.find("全国版郵便番号データを取り込んでください。"), std::string::npos)
        << office.err;
}

TEST_F(CliTest, SecondImportOnTheSameDatabaseIsRefusedWhileOneRuns) {
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(100));
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    YubinboxProcess first(
        {"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--pause", "60"}, env());
    ASSERT_TRUE(first.waitForProgressLines(11));  // the file is read; the closing pause runs
    ProcessResult second =
        yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"});
    EXPECT_EQ(second.exitCode, 3) << second.err;
    EXPECT_NE(second.err.find("取込中です"), std::string::npos) << second.err;
    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 130);
    // The interrupted run is continued and completes.
    EXPECT_EQ(
        yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"}).exitCode,
        0);
    EXPECT_EQ(yubinbox({"sql", db(), "SELECT COUNT(*) As N FROM ZIPALL"}).out, "N\n4700\n");
}

TEST_F(CliTest, SignalAfterTheEnginesEndsAsTheExitDoesAndClearsTheResumeMarker) {
    // A marker left by an earlier abort; this run's engines have finished when the signal
    // comes (the business-office part refused for want of national data).
    writeCp932Lines(dir.file("jigyosyo.csv"), OfficeLines(2));
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ASSERT_EQ(yubinbox({"sql", db(), "INSERT INTO 登録中 VALUES(5)"}).exitCode, 0);
    YubinboxProcess run({"import", "--db", db(), "--jigyosyo", dir.file("jigyosyo.csv")}, env());
    ASSERT_TRUE(run.waitForLine("全国版郵便番号データを取り込んでください。"));
    run.signal(SIGSTOP);  // the signal lands before the exit path, wherever the run stopped
    run.signal(SIGTERM);
    run.signal(SIGCONT);
    EXPECT_EQ(run.wait(), 4);
    EXPECT_EQ(yubinbox({"sql", db(), "SELECT * FROM 登録中"}).out, "RECNO\n");
    ProcessResult next = yubinbox({"import", "--db", db(), "--jigyosyo", dir.file("jigyosyo.csv")});
    EXPECT_EQ(next.out.find("継続スタートです。"), std::string::npos) << next.out;
}

TEST_F(CliTest, BadFileStopsTheImportNamingFileAndLineAndKeepsTheDatabaseIntact) {
    std::vector<std::string> lines = KenLines(2);
    lines.insert(lines.begin() + 5, "01101,\"100  \",\"1010099\"");
    writeCp932Lines(dir.file("ken_all.csv"), lines);
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ProcessResult bad = yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv")});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find(dir.file("ken_all.csv") + " の 6 行目"), std::string::npos) << bad.err;
    // The whole file is checked before anything is deleted or appended.
    EXPECT_EQ(yubinbox({"sql", db(), "SELECT COUNT(*) As N FROM ZIPALL"}).out, "N\n0\n");
    EXPECT_EQ(IntegrityCheck(db()), "ok");

    // Bytes that are not code page 932.
    writeBytes(dir.file("bad.csv"), toCp932(KenLines(1)[0]) + "\r\n01101,\"\x80\x80\"\r\n");
    ProcessResult encoding = yubinbox({"import", "--db", db(), "--ken-all", dir.file("bad.csv")});
    EXPECT_EQ(encoding.exitCode, 1);
    EXPECT_NE(encoding.err.find("2 行目"), std::string::npos) << encoding.err;

    lines.erase(lines.begin() + 5);
    writeCp932Lines(dir.file("ken_all.csv"), lines);
    ProcessResult good =
        yubinbox({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv"), "--yes"});
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_EQ(yubinbox({"sql", db(), "SELECT COUNT(*) As N FROM ZIPALL"}).out, "N\n94\n");
}

TEST_F(CliTest, UseSettingsAndDrives) {
    EXPECT_EQ(yubinbox({"use", db()}).exitCode, 1);  // no such database
    // A file that is no database of ours: the chooser's settings mode refuses it alike.
    writeBytes(db(), "not a database");
    ProcessResult stranger = yubinbox({"use", db()});
    EXPECT_EQ(stranger.exitCode, 1);
    EXPECT_NE(stranger.err.find(db() + " は yubinbox のデータベース ファイルではありません。"),
              std::string::npos)
        << stranger.err;
    fs::remove(db());
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ProcessResult use = yubinbox({"use", db()});
    ASSERT_EQ(use.exitCode, 0) << use.err;
    const std::string ini = dir.path().string() + "/Documents/yubinbox.ini";
    EXPECT_EQ(use.out, ini + "\n");
    ProcessResult settings = yubinbox({"settings"});
    EXPECT_EQ(settings.out, ini + "\npath=" + db() + "\nauthor=\t0\ncsvzpath=\ncsvjpath=\n");
    const std::string text = readBytes(ini);
    EXPECT_EQ(text.rfind("'yubinbox.mdb ファイルのファイルパス指定\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("[yubinbox]\r\npath=" + db() + "\r\nauthor=\t0\r\n"), std::string::npos);

    ProcessResult drives = yubinbox({"drives"});
    EXPECT_EQ(drives.exitCode, 0);
}

// Kills or interrupts the import at several points of each engine, continues it, and compares
// the tables with those of an import that ran through.
class InterruptedImportSlowTest : public CliTest {
  protected:
    void SetUp() override {
        writeCp932Lines(dir.file("ken_all.csv"), KenLines(400));
        writeCp932Lines(dir.file("jigyosyo.csv"), OfficeLines(6000));
    }
    std::vector<std::string> importArgs() const {
        return {"import",
                "--db",
                db(),
                "--ken-all",
                dir.file("ken_all.csv"),
                "--jigyosyo",
                dir.file("jigyosyo.csv"),
                "--yes"};
    }
    std::string dump() {
        std::string all;
        for (const char* table : {"ZIPALL", "都道府県", "市町村", "作成日", "登録中"}) {
            ProcessResult r = yubinbox({"sql", db(), std::string("SELECT * FROM ") + table});
            EXPECT_EQ(r.exitCode, 0) << r.err;
            all += r.out;
        }
        return all;
    }
};

TEST_F(InterruptedImportSlowTest, KilledOrAbortedImportsEndWithTheTablesOfOneUninterruptedImport) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ProcessResult whole = yubinbox(importArgs());
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    const std::string expected = dump();

    // Progress lines: 11 per engine (0 % to 100 %); the points lie in both engines.
    for (int point : {2, 7, 14, 19}) {
        for (int sig : {SIGKILL, SIGINT}) {
            SCOPED_TRACE("signal " + std::to_string(sig) + " after progress line " +
                         std::to_string(point));
            ASSERT_EQ(yubinbox({"createdb", db(), "--force"}).exitCode, 0);
            {
                YubinboxProcess process(importArgs(), env());
                ASSERT_TRUE(process.waitForProgressLines(point));
                process.signal(sig);
                const int code = process.wait();
                // The last point leaves a few milliseconds of work: on a busy machine the
                // run may end before the signal reaches it, and must then have done it all.
                if (code == 0 && point == 19) {
                    EXPECT_EQ(dump(), expected);
                    continue;
                }
                EXPECT_EQ(code, sig == SIGKILL ? 128 + SIGKILL : 130);
            }
            EXPECT_EQ(IntegrityCheck(db()), "ok");
            ProcessResult marker = yubinbox({"sql", db(), "SELECT * FROM 登録中"});
            if (sig == SIGKILL) {
                EXPECT_EQ(marker.out, "RECNO\n");  // no marker: the next run is a fresh import
            } else {
                EXPECT_NE(marker.out, "RECNO\n");
            }
            // The next run: after a business-office abort only that file may be given.
            std::vector<std::string> args = importArgs();
            ProcessResult next = yubinbox(args);
            if (next.exitCode == 3) {
                next = yubinbox(
                    {"import", "--db", db(), "--jigyosyo", dir.file("jigyosyo.csv"), "--yes"});
            }
            ASSERT_EQ(next.exitCode, 0) << next.err;
            EXPECT_EQ(dump(), expected);
        }
    }
}

}  // namespace
}  // namespace yubin::test
