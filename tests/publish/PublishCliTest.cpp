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

// Counts ZIPALL and 市町村 in one statement, again and again, as the reader role.
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
        while (!done_ && PQstatus(conn) == CONNECTION_OK) {
            PGresult* r = PQexec(conn,
                                 "SELECT (SELECT count(*) FROM yubinbox.zipall), "
                                 "(SELECT count(*) FROM yubinbox.市町村)");
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
        if (PQstatus(conn) != CONNECTION_OK) errors_.push_back(PQerrorMessage(conn));
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
    const std::string reader = server->conninfo("yubin_admin", "postal");
    CountingReader counting(reader);
    for (const std::string& database : {large, small, large, small}) {
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
