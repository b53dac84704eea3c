// Derived records as they are stored and read back: every number of records around the number a
// statement stores at once, empty data among them; replaced whole; removed by a change to the
// source table.
#include <map>
#include <string>

#include "StoreTestHelpers.h"
#include "store/DerivedRecords.h"
#include "store/NativeSql.h"

namespace yubin::test {
namespace {

using Records = std::map<long long, std::string>;

class DerivedRecordsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cn.open(fresh.connectionString());
        cn.execute("CREATE TABLE t (a TEXT(20))");
        cn.execute("INSERT INTO t (a) VALUES ('x')");
    }

    // `count` records numbered from -1 on, of data that differs from one to the next (every
    // seventh empty, others up to some hundreds of bytes).
    static Records Made(int count) {
        Records records;
        for (int i = 0; i < count; ++i) {
            records[i - 1] = i % 7 == 3 ? std::string()
                                        : std::string(static_cast<std::size_t>(i * 37 % 300), 'a') +
                                              std::to_string(i);
        }
        return records;
    }

    void Store(const Records& records) {
        auto at = records.begin();
        db::DerivedRecords::store(cn, "test", "t", [&](long long& key, std::string_view& data) {
            if (at == records.end()) return false;
            key = at->first;
            data = at->second;
            ++at;
            return true;
        });
    }

    Records Read() {
        db::DerivedRecords stored(cn, "test");
        Records records;
        for (auto& [key, data] : stored.readAll()) records[key] = std::move(data);
        return records;
    }

    FreshDatabase fresh;
    db::Connection cn;
};

TEST_F(DerivedRecordsTest, EveryRecordIsReadBackAsStoredHoweverManyThereAre) {
    for (int count : {0, 1, 2, 63, 64, 65, 127, 128, 129, 300}) {
        const Records made = Made(count);
        Store(made);
        EXPECT_EQ(Read(), made) << count << " records";
        db::DerivedRecords stored(cn, "test");
        EXPECT_TRUE(stored.present());
        if (count > 3) {
            EXPECT_EQ(stored.read(2), std::string()) << "an empty one, not Null";
        }
        EXPECT_EQ(stored.read(count), std::nullopt) << count << " records";
    }
}

TEST_F(DerivedRecordsTest, AChangeToTheSourceTableRemovesThem) {
    Store(Made(100));
    ASSERT_EQ(Read().size(), 100u);
    cn.execute("UPDATE t SET a = 'y'");
    EXPECT_TRUE(Read().empty());
}

TEST_F(DerivedRecordsTest, TwoRecordsOfOneNumberStoreNone) {
    Store(Made(70));
    Records twice = Made(70);
    auto at = twice.begin();
    const auto next = [&](long long& key, std::string_view& data) {
        if (at == twice.end()) return false;
        // The 11th record takes the number of the 6th, among the first statement's rows.
        key = std::distance(twice.begin(), at) == 10 ? 4 : at->first;
        data = at->second;
        ++at;
        return true;
    };
    EXPECT_NE(errorNumber([&] { db::DerivedRecords::store(cn, "test", "t", next); }), 0);
    EXPECT_EQ(Read(), Made(70)) << "the earlier records stay";
}

// An import takes the database: the records go at once, or, left to it, with its first commit,
// before anything of the source table changes; in a transaction undone they stay.
TEST_F(DerivedRecordsTest, AnImportRemovesThemAtOnceOrWithItsFirstCommit) {
    Store(Made(10));
    cn.lockImport();
    EXPECT_TRUE(Read().empty());
    cn.unlockImport();

    Store(Made(10));
    cn.lockImport(db::Connection::DerivedRecordsOnLock::LeaveToCaller);
    EXPECT_EQ(Read(), Made(10));
    const auto presentToOthers = [&] {
        db::Connection other;
        other.open(fresh.connectionString());
        return db::DerivedRecords(other, "test").present();
    };
    {
        db::NativeTransaction undone(cn);
        db::DerivedRecords::removeAll(cn);
        EXPECT_TRUE(presentToOthers());
    }
    EXPECT_EQ(Read(), Made(10));
    {
        db::NativeTransaction together(cn);
        db::DerivedRecords::removeAll(cn);
        cn.execute("INSERT INTO t (a) VALUES ('y')");
        EXPECT_TRUE(presentToOthers());
        together.commit();
    }
    EXPECT_FALSE(presentToOthers());
    EXPECT_TRUE(Read().empty());
    cn.unlockImport();
}

}  // namespace
}  // namespace yubin::test
