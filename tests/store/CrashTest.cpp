// A process killed while it appends leaves a sound file holding a prefix of its rows.
#include "StoreTestHelpers.h"

namespace yubin::test {
namespace {

using db::Connection;
using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;

// Appends national-shaped rows with RECNO continuing after the highest one, forever.
void appendForever(const std::string& connectionString, const std::function<void()>& ready) {
    Connection cn;
    cn.open(connectionString);
    long long next = 1;
    {
        Recordset max;
        max.open("SELECT MAX(RECNO) AS MAXNO FROM ZIPALL", cn, CursorType::ForwardOnly,
                 LockType::ReadOnly);
        if (!max.field("MAXNO").value().isNull()) next = max.field("MAXNO").value().toNumber() + 1;
    }
    Recordset rs;
    rs.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    std::vector<std::string> names;
    for (int i = 0; i < rs.fieldCount(); ++i) names.push_back(rs.field(i).Name());
    std::vector<Value> row = {"01101",
                              "060  ",
                              "0600000",
                              "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ",
                              "以下に掲載がない場合",
                              0,
                              0,
                              1,
                              0,
                              0,
                              0,
                              "",
                              "",
                              "",
                              "",
                              "",
                              "",
                              0};
    for (bool first = true;; first = false) {
        row[17] = Value(next++);
        rs.addNew(names, row);
        if (first) ready();
    }
}

TEST(CrashSlowTest, KilledAppenderLeavesAnIntactPrefix) {
    FreshDatabase fresh;
    long long previous = 0;
    // Kills before the first commit, around the commits of the batches and between them.
    for (int delayMs : {40, 165, 230, 330, 470, 610}) {
        {
            ChildProcess child([&](const std::function<void()>& ready) {
                appendForever(fresh.connectionString(), ready);
            });
            ASSERT_TRUE(child.waitReady());
            usleep(static_cast<useconds_t>(delayMs) * 1000);
            child.kill();
        }
        // Our layer opens it (rolling back an interrupted commit) ...
        {
            Connection cn;
            cn.open(fresh.connectionString());
            EXPECT_EQ(cn.tables(true).size(), 6u);
        }
        // ... and SQLite finds it sound, with RECNO exactly 1..k.
        RawSqlite raw(fresh.path());
        EXPECT_EQ(raw.scalar("PRAGMA integrity_check"), "ok");
        const long long k = std::stoll(raw.scalar("SELECT count(*) FROM ZIPALL"));
        EXPECT_EQ(raw.scalar("SELECT count(DISTINCT RECNO) FROM ZIPALL"), std::to_string(k));
        if (k > 0) {
            EXPECT_EQ(raw.scalar("SELECT min(RECNO) FROM ZIPALL"), "1");
            EXPECT_EQ(raw.scalar("SELECT max(RECNO) FROM ZIPALL"), std::to_string(k));
        }
        EXPECT_GE(k, previous) << "committed rows were lost";
        previous = k;
    }
    EXPECT_GT(previous, 0);
}

}  // namespace
}  // namespace yubin::test
