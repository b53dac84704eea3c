// The pass over a table's rows that the search and its index read: storage order and its
// reverse, with gaps in the rowids, and a range of rowids in either order.
#include "StoreTestHelpers.h"
#include "store/TableScan.h"

namespace yubin::test {
namespace {

using db::TableScan;

class TableScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cn.open(fresh.connectionString());
        cn.execute("CREATE TABLE t (a TEXT(20), b LONG)");
        for (int i = 1; i <= 9; ++i) {
            cn.execute("INSERT INTO t (a, b) VALUES ('row" + std::to_string(i) + "', " +
                       std::to_string(i * 10) + ")");
        }
        cn.execute("DELETE FROM t WHERE b = 30");
        cn.execute("DELETE FROM t WHERE b = 70");
    }

    // The rowid and the named column's text of every row the scan reads.
    static std::vector<std::pair<long long, std::string>> Read(TableScan& scan) {
        std::vector<std::pair<long long, std::string>> rows;
        while (scan.next()) rows.emplace_back(scan.rowid(), std::string(scan.text(0)));
        return rows;
    }

    FreshDatabase fresh;
    db::Connection cn;
};

TEST_F(TableScanTest, StorageOrderAndItsReverse) {
    const std::vector<std::pair<long long, std::string>> forward = {
        {1, "row1"}, {2, "row2"}, {4, "row4"}, {5, "row5"}, {6, "row6"}, {8, "row8"}, {9, "row9"}};
    TableScan storage(cn, "T", {"A"});
    EXPECT_EQ(Read(storage), forward);
    TableScan reversed(cn, "t", {"a"}, TableScan::Order::Reversed);
    EXPECT_EQ(Read(reversed), std::vector(forward.rbegin(), forward.rend()));
}

TEST_F(TableScanTest, ARangeOfRowidsInTheScansOrder) {
    TableScan storage(cn, "t", {"a", "b"});
    ASSERT_TRUE(storage.next());
    storage.restrict(3, 8);
    std::vector<long long> numbers;
    while (storage.next()) numbers.push_back(storage.number(1));
    EXPECT_EQ(numbers, (std::vector<long long>{40, 50, 60, 80}));

    TableScan reversed(cn, "t", {"a", "b"}, TableScan::Order::Reversed);
    reversed.restrict(2, 6);
    numbers.clear();
    while (reversed.next()) numbers.push_back(reversed.number(1));
    EXPECT_EQ(numbers, (std::vector<long long>{60, 50, 40, 20}));
}

}  // namespace
}  // namespace yubin::test
