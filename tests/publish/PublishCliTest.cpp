// `yubinbox publish` and `yubinbox import --publish` through the real executable: exit codes
// with nothing changed, readers during publishes, publishes killed at each step.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "publish/PublishFixture.h"

namespace yubin::test {
namespace {

// A TCP port on 127.0.0.1 where nothing listens.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(fd);
    return ntohs(address.sin_port);
}

class PublishCommand : public PublishFixture {
  protected:
    ProcessResult publish(const std::string& database, const std::string& conninfo,
                          const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> environment = env();
        environment.insert(environment.end(), extraEnv.begin(), extraEnv.end());
        return runYubinbox({"publish", "--db", database, "--to", conninfo}, environment);
    }
};

TEST_F(PublishCommand, FailuresHaveTheirOwnExitCodesAndChangeNothing) {
    const std::string first = importDatabase("first", 1, 2);
    const std::string second = importDatabase("second", 2, 0);
    ProcessResult ok = publish(first, publisherConninfo());
    ASSERT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.out.find("zipall"), std::string::npos) << ok.out;
    expectPublished(first);

    const std::string wrongPasswords = dir.file("wrong-pgpass");
    std::ofstream(wrongPasswords) << "*:*:*:publisher:not-the-password\n";
    ASSERT_EQ(chmod(wrongPasswords.c_str(), 0600), 0);
    ProcessResult wrong = publish(second, publisherConninfo(), {"PGPASSFILE=" + wrongPasswords});
    EXPECT_EQ(wrong.exitCode, 10) << wrong.err;
    EXPECT_NE(wrong.err.find("エラー 20102"), std::string::npos) << wrong.err;

    ProcessResult unreachable =
        publish(second, "host=127.0.0.1 port=" + std::to_string(FreePort()) + " dbname=postal");
    EXPECT_EQ(unreachable.exitCode, 11) << unreachable.err;
    EXPECT_NE(unreachable.err.find("エラー 20103"), std::string::npos) << unreachable.err;

    ProcessResult noRight = publish(second, server->conninfo("noright", "postal"));
    EXPECT_EQ(noRight.exitCode, 12) << noRight.err;
    EXPECT_NE(noRight.err.find("エラー 20104"), std::string::npos) << noRight.err;

    ProcessResult badConninfo = publish(second, "frobnicate=1");
    EXPECT_EQ(badConninfo.exitCode, 2) << badConninfo.err;

    expectPublished(first);
    EXPECT_EQ(schemasLike("yubinbox"), (std::vector<std::string>{"yubinbox"}));
}

TEST_F(PublishCommand, TheSettingsDatabaseIsPublishedAndAnUnfinishedImportRefused) {
    const std::string database = importDatabase("month", 1, 0);
    ASSERT_EQ(runYubinbox({"use", database}, env()).exitCode, 0);
    ProcessResult ok = runYubinbox(
        {"publish", "--to", publisherConninfo(), "--schema", "codes", "--reader-role", "reader"},
        env());
    ASSERT_EQ(ok.exitCode, 0) << ok.err;
    expectPublished(database, "codes");
    EXPECT_EQ(server->rows("postal", "SET ROLE reader; SELECT count(*) FROM codes.都道府県"),
              (Rows{{"47"}}));

    ASSERT_EQ(runYubinbox({"sql", database, "INSERT INTO 登録中 VALUES (3)"}, env()).exitCode, 0);
    ProcessResult refused = publish(database, publisherConninfo());
    EXPECT_EQ(refused.exitCode, 3) << refused.err;
    EXPECT_TRUE(serverTables("yubinbox").empty());
}

TEST_F(PublishCommand, ImportWithPublishPublishesOnlyAfterASuccessfulImport) {
    const std::string database = importDatabase("month", 1, 0);
    const std::string ken = dir.file("more-ken.csv");
    writeCp932Lines(ken, {"01101,\"060  \",\"0600000\",\"ﾎｯｶｲﾄﾞｳ\",\"ｻｯﾎﾟﾛｼ\",\"ｲｶ\",\"北海道\","
                          "\"札幌市\",\"以下に掲載がない場合\",0,0,0,0,0,0"});
    ProcessResult done = runYubinbox({"import", "--db", database, "--ken-all", ken, "--yes",
                                      "--publish", publisherConninfo(), "--reader-role", "reader"},
                                     env());
    ASSERT_EQ(done.exitCode, 0) << done.err;
    expectPublished(database);
    EXPECT_EQ(server->rows("postal", "SELECT count(*) FROM yubinbox.zipall"), (Rows{{"1"}}));

    const std::string broken = dir.file("broken.csv");
    writeCp932Lines(broken, {"01101,\"060  \",\"0600001\""});
    ProcessResult failed = runYubinbox({"import", "--db", database, "--ken-all", broken, "--yes",
                                        "--publish", publisherConninfo()},
                                       env());
    EXPECT_EQ(failed.exitCode, 1) << failed.err;
    EXPECT_EQ(server->rows("postal", "SELECT count(*) FROM yubinbox.zipall"), (Rows{{"1"}}));
}

// One connection of the test's own, for statements inside a transaction that it keeps open.
class Session {
  public:
    explicit Session(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
        EXPECT_EQ(PQstatus(conn_), CONNECTION_OK) << PQerrorMessage(conn_);
    }
    ~Session() { PQfinish(conn_); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // The first value of the statement's answer; the server's message when it failed.
    std::string value(const std::string& sql) {
        PGresult* r = PQexec(conn_, sql.c_str());
        const ExecStatusType status = PQresultStatus(r);
        std::string out = status == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0)
                          : status == PGRES_COMMAND_OK
                              ? ""
                              : "error: " + std::string(PQresultErrorMessage(r));
        PQclear(r);
        return out;
    }

    int pid() const { return PQbackendPID(conn_); }

  private:
    PGconn* conn_;
};

// Counts ZIPALL and 市町村 in one statement, again and again, naming them in one order and then
// the other, so that the reader locks the tables in both orders.
class CountingReader {
  public:
    explicit CountingReader(const std::string& conninfo)
        : thread_([this, conninfo] { loop(conninfo); }) {}
    ~CountingReader() { stop(); }
    void stop() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Waits until `more` further queries have answered.
    void waitForQueries(int more) {
        const long target = queries_ + more;
        while (queries_ < target && !done_)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::set<std::pair<std::string, std::string>> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    std::vector<std::string> errors() {
        std::lock_guard lock(mutex_);
        return errors_;
    }

  private:
    void loop(const std::string& conninfo) {
        PGconn* conn = PQconnectdb(conninfo.c_str());
        for (bool zipallFirst = true; !done_ && PQstatus(conn) == CONNECTION_OK;
             zipallFirst = !zipallFirst) {
            PGresult* r =
                PQexec(conn, zipallFirst ? "SELECT (SELECT count(*) FROM yubinbox.zipall), "
                                           "(SELECT count(*) FROM yubinbox.市町村)"
                                         : "SELECT c2, c1 FROM (SELECT count(*) FROM "
                                           "yubinbox.市町村) a(c1), (SELECT count(*) FROM "
                                           "yubinbox.zipall) b(c2)");
            {
                std::lock_guard lock(mutex_);
                if (PQresultStatus(r) == PGRES_TUPLES_OK) {
                    seen_.insert({PQgetvalue(r, 0, 0), PQgetvalue(r, 0, 1)});
                } else {
                    errors_.push_back(PQresultErrorMessage(r));
                }
            }
            PQclear(r);
            ++queries_;
        }
        if (PQstatus(conn) != CONNECTION_OK) {
            std::lock_guard lock(mutex_);
            errors_.push_back(PQerrorMessage(conn));
        }
        PQfinish(conn);
        done_ = true;
    }

    std::atomic<bool> done_{false};
    std::atomic<long> queries_{0};
    std::mutex mutex_;
    std::set<std::pair<std::string, std::string>> seen_;
    std::vector<std::string> errors_;
    std::thread thread_;
};

TEST_F(PublishCommand, SlowReaderCountingDuringPublishesSeesTheOldOrTheNewMonthOnly) {
    const std::string small = importDatabase("small", 40, 10);
    const std::string large = importDatabase("large", 120, 300);
    ASSERT_EQ(publish(small, publisherConninfo()).exitCode, 0);
    CountingReader counting(server->conninfo("yubin_admin", "postal"));
    for (const std::string& database : {large, small, large, small, large, small}) {
        counting.waitForQueries(3);
        ProcessResult run = publish(database, publisherConninfo());
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    counting.waitForQueries(3);
    counting.stop();
    EXPECT_TRUE(counting.errors().empty()) << counting.errors().front();
    const std::set<std::pair<std::string, std::string>> whole = {
        {std::to_string(47 * 40 + 10), "47"}, {std::to_string(47 * 120 + 300), "47"}};
    EXPECT_EQ(counting.seen(), whole);
}

// A reader whose transaction holds one of the live tables (the one a swap that locks by name
// locks last) and then reads a table that the swap holds waits for the swap while the swap waits
// for it. The swap gives way: the reader reads the old month whole without an error, and the
// publish ends once the reader is done.
TEST_F(PublishCommand, ReaderAndSwapWaitingForEachOtherEndWithTheOldMonthReadAndTheNewPublished) {
    const std::string old = importDatabase("old", 2, 3);
    const std::string next = importDatabase("next", 4, 9);
    ASSERT_EQ(publish(old, publisherConninfo()).exitCode, 0);
    // The old month's rows, by the names the server gives the live tables.
    std::map<std::string, std::string> oldRows;
    for (const auto& row : server->rows("postal",
                                        "SELECT oid::regclass::text FROM pg_class WHERE relkind = "
                                        "'r' AND relnamespace = 'yubinbox'::regnamespace")) {
        oldRows[row[0]] = server->rows("postal", "SELECT count(*) FROM " + row[0])[0][0];
    }
    const std::string last = server->rows("postal",
                                          "SELECT oid::regclass::text FROM pg_class WHERE relkind "
                                          "= 'r' AND relnamespace = 'yubinbox'::regnamespace "
                                          "ORDER BY relname COLLATE \"C\" DESC LIMIT 1")[0][0];

    Session reader(server->conninfo("yubin_admin", "postal"));
    ASSERT_EQ(reader.value("BEGIN"), "");
    ASSERT_EQ(reader.value("SELECT count(*) FROM " + last), oldRows[last]);
    YubinboxProcess running({"publish", "--db", next, "--to", publisherConninfo()}, env());
    // Watched in one look at the lock table: a live table the swap holds while it waits.
    Session watcher(server->conninfo("yubin_admin", "postal"));
    const std::string heldWhileWaiting =
        "SELECT CASE WHEN bool_or(NOT l.granted) THEN min(l.relation::regclass::text) FILTER ("
        "WHERE l.granted AND l.mode = 'AccessExclusiveLock' AND c.relkind = 'r' AND "
        "c.relnamespace = 'yubinbox'::regnamespace) END FROM pg_locks l JOIN pg_stat_activity a "
        "ON a.pid = l.pid LEFT JOIN pg_class c ON c.oid = l.relation "
        "WHERE a.application_name = 'yubinbox publish'";
    std::string held;  // empty while the swap does not wait holding one
    for (int look = 0; look < 6000 && held.empty() && running.running(); ++look) {
        held = watcher.value(heldWhileWaiting);
        if (held.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(held.empty()) << "the swap never held a live table while waiting";

    ASSERT_EQ(oldRows.count(held), 1u) << held;
    EXPECT_EQ(reader.value("SELECT count(*) FROM " + held), oldRows[held]);
    EXPECT_EQ(reader.value("SELECT count(*) FROM " + last), oldRows[last]);
    ASSERT_EQ(reader.value("COMMIT"), "");
    EXPECT_EQ(running.wait(), 0);
    expectPublished(next);
    EXPECT_EQ(schemasLike("yubinbox"), (std::vector<std::string>{"yubinbox"}));
}

TEST_F(PublishCommand, ReaderHoldingATablePastTheLockWaitRefusesThePublishNamingTheReader) {
    const std::string old = importDatabase("old", 2, 3);
    const std::string next = importDatabase("next", 4, 9);
    ASSERT_EQ(publish(old, publisherConninfo()).exitCode, 0);
    Session reader(server->conninfo("yubin_admin", "postal") + " application_name=month-report");
    ASSERT_EQ(reader.value("BEGIN"), "");
    const std::string rows = server->rows("postal", "SELECT count(*) FROM yubinbox.zipall")[0][0];
    ASSERT_EQ(reader.value("SELECT count(*) FROM yubinbox.zipall"), rows);

    ProcessResult refused = runYubinbox(
        {"--lock-wait", "1", "publish", "--db", next, "--to", publisherConninfo()}, env());
    EXPECT_EQ(refused.exitCode, 3) << refused.err;
    EXPECT_NE(refused.err.find("エラー 20105"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("yubinbox.zipall（PID " + std::to_string(reader.pid())),
              std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("month-report"), std::string::npos) << refused.err;
    ASSERT_EQ(reader.value("COMMIT"), "");
    expectPublished(old);
    EXPECT_EQ(schemasLike("yubinbox"), (std::vector<std::string>{"yubinbox"}));
}

TEST_F(PublishCommand, SlowPublishKilledAtEachStepThenRunAgainEndsWithTheNewData) {
    const std::string old = importDatabase("old", 2, 3);
    const std::string next = importDatabase("next", 30, 200);
    ASSERT_EQ(publish(old, publisherConninfo()).exitCode, 0);
    for (const char* step :
         {"connected", "staging", "copying:ZIPALL", "copied:ZIPALL", "indexed", "swapping"}) {
        SCOPED_TRACE(step);
        std::vector<std::string> environment = env();
        environment.push_back(std::string("YUBIN_PUBLISH_PAUSE_AT=") + step);
        YubinboxProcess killed({"publish", "--db", next, "--to", publisherConninfo()}, environment);
        ASSERT_TRUE(killed.waitForLine(std::string("paused at ") + step));
        killed.signal(SIGKILL);
        EXPECT_EQ(killed.wait(), 128 + SIGKILL);
        expectPublished(old);

        ProcessResult again = publish(next, publisherConninfo());
        ASSERT_EQ(again.exitCode, 0) << again.err;
        expectPublished(next);
        EXPECT_EQ(schemasLike("yubinbox"), (std::vector<std::string>{"yubinbox"}));
        EXPECT_EQ(server->rows("postal",
                               "SELECT count(*) FROM pg_stat_activity WHERE "
                               "application_name = 'yubinbox publish'"),
                  (Rows{{"0"}}));
        ASSERT_EQ(publish(old, publisherConninfo()).exitCode, 0);
    }
}

TEST_F(PublishCommand, SlowPublishedDataReadsBackEqualTableByTable) {
    const std::string ken = sharedDataFile("KEN_ALL.CSV");
    const std::string office = sharedDataFile("JIGYOSYO.CSV");
    if (ken.empty() || office.empty()) GTEST_SKIP() << "the published data is absent";
    const std::string database = dir.file("published.mdb");
    ASSERT_EQ(runYubinbox({"createdb", database}, env()).exitCode, 0);
    ProcessResult imported = runYubinbox(
        {"import", "--db", database, "--ken-all", ken, "--jigyosyo", office, "--yes"}, env());
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    ProcessResult published = publish(database, publisherConninfo());
    ASSERT_EQ(published.exitCode, 0) << published.err;
    expectPublished(database);
}

}  // namespace
}  // namespace yubin::test
