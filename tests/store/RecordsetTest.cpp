// Row sets as the imports use them: appending by name lists, the one row of 作成日, lookups
// and aggregates.
#include <chrono>
#include <thread>

#include "StoreTestHelpers.h"
#include "store/EngineImpl.h"
#include "store/NativeSql.h"

namespace yubin::test {
namespace {

using db::Connection;
using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;

class RecordsetTest : public ::testing::Test {
  protected:
    void SetUp() override { cn.open(fresh.connectionString()); }
    long long count(Connection& connection, const std::string& table) {
        Recordset rs;
        rs.open("SELECT COUNT(*) FROM " + table, connection, CursorType::ForwardOnly,
                LockType::ReadOnly);
        return rs.field(0).value().toNumber();
    }

    FreshDatabase fresh;
    Connection cn;
};

TEST_F(RecordsetTest, CreationDateRowIsAddedOnceAndThenChangedInPlace) {
    {
        Recordset rs;
        rs.open("SELECT * FROM 作成日", cn, CursorType::Static, LockType::Optimistic);
        ASSERT_TRUE(rs.eof());
        rs.addNew();
        rs.field("ZIPALL").setValue("20240131");
        rs.update();
        EXPECT_FALSE(rs.eof());
        EXPECT_EQ(rs.field("ZIPALL").value(), Value("20240131"));
        EXPECT_TRUE(rs.field("JIGYOSYO").value().isNull());
    }
    {
        Recordset rs;
        rs.open("SELECT * FROM 作成日", cn, CursorType::Static, LockType::Optimistic);
        ASSERT_FALSE(rs.eof());
        rs.field("JIGYOSYO").setValue("20240229");
        rs.update();
    }
    Recordset rs;
    rs.open("SELECT * FROM 作成日", cn, CursorType::ForwardOnly, LockType::ReadOnly);
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.field(0).value(), Value("20240131"));
    EXPECT_EQ(rs.field(1).value(), Value("20240229"));
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
}

TEST_F(RecordsetTest, AppendingByNameListsStoresEachRowAtOnce) {
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    std::vector<std::string> names;
    for (int i = 0; i < zip.fieldCount(); ++i) names.push_back(zip.field(i).Name());
    ASSERT_EQ(names.size(), 18u);
    std::vector<Value> row(18, Value(""));
    for (int i : {5, 6, 7, 8, 9, 10}) row[static_cast<size_t>(i)] = Value(0);
    row[0] = Value("01101");
    row[2] = Value("0600000");
    for (int recno = 1; recno <= 3; ++recno) {
        row[17] = Value(recno);
        zip.addNew(names, row);
        // Every later statement of the connection sees the row.
        EXPECT_EQ(count(cn, "ZIPALL"), recno);
    }
    EXPECT_EQ(zip.field("RECNO").value(), Value(3));  // the new row is the current one

    // A name list of fewer columns leaves the others Null; names fold case.
    const std::vector<std::string> some = {"recno", "郵便番号"};
    zip.addNew(some, std::vector<Value>{Value(4), Value("0640941")});
    Recordset rs;
    rs.open("SELECT * FROM ZIPALL WHERE RECNO = 4", cn, CursorType::ForwardOnly,
            LockType::ReadOnly);
    EXPECT_TRUE(rs.field("団体コード").value().isNull());
    EXPECT_EQ(rs.field("郵便番号").value(), Value("0640941"));

    EXPECT_EQ(errorNumber([&] { zip.addNew(some, std::vector<Value>{Value(5)}); }),
              errorOf(ErrorCode::InvalidArgument));
    const std::vector<std::string> unknown = {"NOSUCH"};
    EXPECT_EQ(errorNumber([&] { zip.addNew(unknown, std::vector<Value>{Value(5)}); }),
              errorOf(ErrorCode::ItemNotFound));
    EXPECT_EQ(count(cn, "ZIPALL"), 4);
}

// The rowid of an appended row, or of a row read, is the one native statements find it by.
TEST_F(RecordsetTest, RowidOfTheCurrentRowFindsItInNativeStatements) {
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    const std::vector<std::string> names = {"RECNO", "郵便番号"};
    std::vector<long long> rowids;
    for (int recno = 1; recno <= 3; ++recno) {
        zip.addNew(names,
                   std::vector<Value>{Value(recno), Value("060000" + std::to_string(recno))});
        rowids.push_back(zip.rowid());
    }
    cn.execute("DELETE FROM ZIPALL WHERE RECNO = 2");
    zip.addNew(names, std::vector<Value>{Value(4), Value("0600004")});
    rowids.push_back(zip.rowid());
    db::NativeStatement byRowid(cn, "SELECT \"RECNO\" FROM \"ZIPALL\" WHERE rowid = ?1");
    for (const long long recno : {1, 3, 4}) {
        ASSERT_TRUE(byRowid.bind(1, rowids[static_cast<size_t>(recno - 1)]).step());
        EXPECT_EQ(byRowid.number(0), recno);
        EXPECT_FALSE(byRowid.step());
    }
    EXPECT_FALSE(byRowid.bind(1, rowids[1]).step());  // deleted

    Recordset rs;
    rs.open("SELECT 郵便番号 FROM ZIPALL WHERE RECNO = 3", cn, CursorType::Keyset,
            LockType::Optimistic);
    EXPECT_EQ(rs.rowid(), rowids[2]);
    rs.moveNext();
    EXPECT_EQ(errorNumber([&] { rs.rowid(); }), errorOf(ErrorCode::NoCurrentRecord));
    zip.addNew();
    EXPECT_EQ(errorNumber([&] { zip.rowid(); }), errorOf(ErrorCode::NoCurrentRecord));
    Recordset counted;
    counted.open("SELECT COUNT(*) FROM ZIPALL", cn, CursorType::ForwardOnly, LockType::ReadOnly);
    EXPECT_EQ(errorNumber([&] { counted.rowid(); }), errorOf(ErrorCode::NoCurrentRecord));
}

TEST_F(RecordsetTest, AppendedRowsReachOtherConnectionsWithoutFlush) {
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    const std::vector<std::string> names = {"RECNO"};
    zip.addNew(names, std::vector<Value>{Value(1)});
    // No flush: the event processing that follows the delay stores the row, and so does the
    // next append after it.
    Connection other;
    other.open(fresh.connectionString());
    cn.flushDue();
    EXPECT_EQ(count(other, "ZIPALL"), 0);  // still young
    std::this_thread::sleep_for(db::detail::kFlushDelay);
    cn.flushDue();
    EXPECT_EQ(count(other, "ZIPALL"), 1);
    zip.addNew(names, std::vector<Value>{Value(2)});
    std::this_thread::sleep_for(db::detail::kFlushDelay);
    zip.addNew(names, std::vector<Value>{Value(3)});
    EXPECT_EQ(count(other, "ZIPALL"), 2);
}

// Kept rows leave the due batch to the event processing between them (no clock read a row):
// the rows appended before it are stored there, with the row of the next addNew as ever.
TEST_F(RecordsetTest, KeptRowsReachOtherConnectionsAtTheEventProcessingAfterTheDelay) {
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    const auto names =
        std::make_shared<const std::vector<std::string>>(std::vector<std::string>{"RECNO"});
    db::AppendValues& values = zip.keepAppendValues(names);
    Connection other;
    other.open(fresh.connectionString());
    values.setNumber(0, 1);
    zip.appendKept();
    std::this_thread::sleep_for(db::detail::kFlushDelay);
    values.setNumber(0, 2);
    zip.appendKept();
    db::flushConnections(true);
    EXPECT_EQ(count(other, "ZIPALL"), 2);
    values.setNumber(0, 3);
    zip.appendKept();
    std::this_thread::sleep_for(db::detail::kFlushDelay);
    zip.addNew(names, std::vector<Value>{Value(4)});
    EXPECT_EQ(count(other, "ZIPALL"), 3);
}

// The process-wide flush of due batches skips its pass before the earliest batch falls due:
// a batch begun after a pass, on another connection, and the next batch after a commit are
// each stored once due.
TEST_F(RecordsetTest, EveryDueBatchOfEveryConnectionIsStoredByTheProcessWideFlush) {
    FreshDatabase second;
    Connection cn2;
    cn2.open(second.connectionString());
    Connection other;
    other.open(fresh.connectionString());
    Connection other2;
    other2.open(second.connectionString());
    const std::vector<std::string> names = {"RECNO"};
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    Recordset zip2;
    zip2.open("ZIPALL", cn2, CursorType::Keyset, LockType::Pessimistic);

    // A pass that stores the older batch while the younger one stays open.
    const auto half = db::detail::kFlushDelay / 2 + std::chrono::milliseconds(5);
    zip2.addNew(names, std::vector<Value>{Value(1)});
    std::this_thread::sleep_for(half);
    zip.addNew(names, std::vector<Value>{Value(1)});
    std::this_thread::sleep_for(half);
    db::flushConnections(true);
    EXPECT_EQ(count(other2, "ZIPALL"), 1);
    std::this_thread::sleep_for(half);
    db::flushConnections(true);
    EXPECT_EQ(count(other, "ZIPALL"), 1);

    // A batch begun after a pass that found none open.
    zip2.addNew(names, std::vector<Value>{Value(2)});
    std::this_thread::sleep_for(db::detail::kFlushDelay);
    db::flushConnections(true);
    EXPECT_EQ(count(other2, "ZIPALL"), 2);

    zip.addNew(names, std::vector<Value>{Value(2)});
    zip2.addNew(names, std::vector<Value>{Value(3)});
    std::this_thread::sleep_for(db::detail::kFlushDelay);
    db::flushConnections(true);
    EXPECT_EQ(count(other, "ZIPALL"), 2);
    EXPECT_EQ(count(other2, "ZIPALL"), 3);
}

// A fixed column list is compared by identity; any other list, or names given as a span in
// between, prepares the columns again, so every row lands in the columns it names.
TEST_F(RecordsetTest, AppendsWithAFixedColumnListAndOtherListsBetween) {
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    const auto codeAndNumber = std::make_shared<const std::vector<std::string>>(
        std::vector<std::string>{"郵便番号", "RECNO"});
    const auto numberAndCode = std::make_shared<const std::vector<std::string>>(
        std::vector<std::string>{"RECNO", "郵便番号"});
    zip.addNew(codeAndNumber, std::vector<Value>{Value("1000001"), Value(1)});
    zip.addNew(codeAndNumber, std::vector<Value>{Value("1000002"), Value(2)});
    zip.addNew(numberAndCode, std::vector<Value>{Value(3), Value("1000003")});
    zip.addNew(std::vector<std::string>{"郵便番号", "RECNO"},
               std::vector<Value>{Value("1000004"), Value(4)});
    zip.addNew(numberAndCode, std::vector<Value>{Value(5), Value("1000005")});
    zip.addNew(codeAndNumber, std::vector<Value>{Value("1000006"), Value(6)});
    EXPECT_EQ(errorNumber([&] { zip.addNew(Recordset::ColumnList(), std::vector<Value>{}); }),
              errorOf(ErrorCode::InvalidArgument));
    cn.flush();
    RawSqlite raw(fresh.path());
    EXPECT_EQ(raw.column("SELECT RECNO || ':' || 郵便番号 FROM ZIPALL ORDER BY rowid"),
              (std::vector<std::string>{"1:1000001", "2:1000002", "3:1000003", "4:1000004",
                                        "5:1000005", "6:1000006"}));
}

TEST_F(RecordsetTest, FieldsByNameAndPositionAndTheEndOfTheRows) {
    cn.execute("INSERT INTO 都道府県 VALUES('01', '北海道', 'ﾎｯｶｲﾄﾞｳ')");
    cn.execute("INSERT INTO 都道府県 VALUES('02', '青森県', 'ｱｵﾓﾘｹﾝ')");
    Recordset rs;
    rs.open("都道府県", cn, CursorType::ForwardOnly, LockType::ReadOnly);
    EXPECT_EQ(rs.fieldCount(), 3);
    EXPECT_EQ(rs.field(1).Name(), "都道府県名");
    EXPECT_EQ(rs.field("jisx0401").Name(), "JISX0401");
    EXPECT_EQ(rs.field(0).value(), Value("01"));
    rs.moveNext();
    EXPECT_EQ(rs.field("住所かな1").value(), Value("ｱｵﾓﾘｹﾝ"));
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(rs.field(1).Name(), "都道府県名");  // names are known at the end too
    EXPECT_EQ(errorNumber([&] { (void)rs.field(1).value(); }), errorOf(ErrorCode::NoCurrentRecord));
    EXPECT_EQ(errorNumber([&] { rs.moveNext(); }), errorOf(ErrorCode::NoCurrentRecord));
    EXPECT_EQ(errorNumber([&] { (void)rs.field(3); }), errorOf(ErrorCode::ItemNotFound));
    EXPECT_EQ(errorNumber([&] { (void)rs.field("NOSUCH"); }), errorOf(ErrorCode::ItemNotFound));

    // Aggregates without a name get one of their own.
    Recordset agg;
    agg.open("SELECT COUNT(*), MIN(JISX0401) AS LOW FROM 都道府県", cn, CursorType::ForwardOnly,
             LockType::ReadOnly);
    EXPECT_EQ(agg.field(0).Name(), "Expr1000");
    EXPECT_EQ(agg.field(0).value(), Value(2));
    EXPECT_EQ(agg.field("LOW").value(), Value("01"));
}

TEST_F(RecordsetTest, ReadOnlyRowSetsAndAggregatesRefuseChanges) {
    cn.execute("INSERT INTO 登録中 VALUES(5)");
    Recordset rs;
    rs.open("SELECT * FROM 登録中", cn, CursorType::ForwardOnly, LockType::ReadOnly);
    EXPECT_EQ(errorNumber([&] { rs.field(0).setValue(6); }), errorOf(ErrorCode::ReadOnly));
    EXPECT_EQ(errorNumber([&] { rs.addNew(); }), errorOf(ErrorCode::ReadOnly));
    Recordset agg;
    agg.open("SELECT MAX(RECNO) AS M FROM 登録中", cn, CursorType::Keyset, LockType::Pessimistic);
    EXPECT_EQ(errorNumber([&] { agg.field(0).setValue(6); }), errorOf(ErrorCode::ReadOnly));
    EXPECT_EQ(agg.field(0).value(), Value(5));
}

TEST_F(RecordsetTest, ChangingRowsWhileWalkingTheSet) {
    for (int i = 1; i <= 4; ++i) cn.execute("INSERT INTO 登録中 VALUES(" + std::to_string(i) + ")");
    Recordset rs;
    rs.open("登録中", cn, CursorType::Keyset, LockType::Pessimistic);
    int seen = 0;
    for (; !rs.eof(); rs.moveNext()) {
        ++seen;
        rs.field("RECNO").setValue(rs.field("RECNO").value().toNumber() * 10);
        rs.update();
    }
    EXPECT_EQ(seen, 4);
    Recordset check;
    check.open("SELECT COUNT(*) AS N FROM 登録中 WHERE RECNO = 40", cn, CursorType::ForwardOnly,
               LockType::ReadOnly);
    EXPECT_EQ(check.field("N").value(), Value(1));
    // A value the column refuses leaves the row as it was.
    Recordset again;
    again.open("SELECT * FROM 登録中 WHERE RECNO = 10", cn, CursorType::Keyset,
               LockType::Pessimistic);
    again.field(0).setValue("ten");
    EXPECT_EQ(errorNumber([&] { again.update(); }), errorOf(ErrorCode::TypeMismatch));
}

// The business-office import reads a lookup while it appends to other tables.
TEST_F(RecordsetTest, ReadingAndAppendingInterleave) {
    cn.execute("INSERT INTO 市町村 (JISX0402) VALUES('01101')");
    cn.execute("INSERT INTO 市町村 (JISX0402) VALUES('01102')");
    Recordset lookup;
    lookup.open("市町村", cn, CursorType::Keyset, LockType::Pessimistic);
    EXPECT_EQ(lookup.field(0).value(), Value("01101"));  // the read stands in the middle

    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    const std::vector<std::string> names = {"RECNO"};
    for (int i = 1; i <= 3; ++i) zip.addNew(names, std::vector<Value>{Value(i)});
    cn.flush();
    lookup.addNew(std::vector<std::string>{"JISX0402", "抹消FLAG"},
                  std::vector<Value>{Value("01103"), Value(1)});
    cn.execute("UPDATE DUMMY SET DKEY = '1'");

    Recordset walk;
    walk.open("SELECT * FROM 市町村 WHERE 抹消FLAG = 1", cn, CursorType::ForwardOnly,
              LockType::ReadOnly);
    EXPECT_EQ(walk.field("JISX0402").value(), Value("01103"));
    Connection other;
    other.open(fresh.connectionString());
    EXPECT_EQ(count(other, "ZIPALL"), 3);
    EXPECT_EQ(count(cn, "市町村"), 3);
}

// The lookups of the imports differ only in their literals; each one reads by its own.
TEST_F(RecordsetTest, LookupsOfOneShapeReadByTheirOwnLiterals) {
    cn.execute("INSERT INTO 市町村 VALUES('01101', 'O''Brien', 'ｵﾌﾞﾗｲｴﾝ', 0)");
    cn.execute("INSERT INTO 市町村 VALUES('01102', '札幌市北区', 'ｻｯﾎﾟﾛｼｷﾀｸ', 1)");
    auto name = [&](const std::string& source) {
        Recordset rs;
        rs.open(source, cn, CursorType::Keyset, LockType::Pessimistic);
        return rs.eof() ? std::string("<none>") : rs.field("市町村名").value().toText();
    };
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE JISX0402 = '01102'"), "札幌市北区");
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE JISX0402 = '01101'"), "O'Brien");
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE JISX0402 = '01103'"), "<none>");
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE 市町村名 = 'O''Brien'"), "O'Brien");
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE 市町村名 = 'O'"), "<none>");
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE 抹消FLAG = '1'"), "札幌市北区");
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE 抹消FLAG = 0"), "O'Brien");
        EXPECT_EQ(errorNumber([&] { name("SELECT * FROM 市町村 WHERE 抹消FLAG = 'x'"); }),
                  errorOf(ErrorCode::TypeMismatch));
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE JISX0402 = '01102' AND 抹消FLAG = '1'"),
                  "札幌市北区");
        EXPECT_EQ(name("SELECT * FROM 市町村 WHERE JISX0402 = '01102' AND 抹消FLAG = '0'"),
                  "<none>");
        EXPECT_EQ(errorNumber([&] { name("SELECT * FROM 市町村 WHERE JISX0402 = '011"); }),
                  errorOf(ErrorCode::SyntaxError));
        // The schema changes under the lookups, here and through another connection.
        if (round == 0) {
            cn.execute("ALTER TABLE 市町村 ADD CONSTRAINT xJISX0402 PRIMARY KEY(JISX0402)");
        }
    }
    Connection other;
    other.open(fresh.connectionString());
    other.execute("ALTER TABLE 市町村 DROP CONSTRAINT xJISX0402");
    other.execute("INSERT INTO 市町村 VALUES('01102', '二つ目', 'ﾌﾀﾂﾒ', 1)");
    Recordset rs;
    rs.open("SELECT * FROM 市町村 WHERE JISX0402 = '01102'", cn, CursorType::Keyset,
            LockType::Pessimistic);
    int found = 0;
    for (; !rs.eof(); rs.moveNext()) ++found;
    EXPECT_EQ(found, 2);
    EXPECT_TRUE(cn.keys().empty());
}

// Appended rows take the values as they stand at the call, whatever the caller does with its
// values afterwards, and however much they repeat the row before.
TEST_F(RecordsetTest, AppendedRowsTakeTheValuesOfTheirCall) {
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    const std::vector<std::string> names = {"団体コード", "郵便番号", "町域名", "flag1", "RECNO"};
    std::vector<Value> row = {Value("01101"), Value("0600000"), Value("北一条西"), Value(0),
                              Value(1)};
    zip.addNew(names, row);
    row[2].assignText("北二条西");
    row[4] = Value(2);
    zip.addNew(names, row);
    row[1] = Value("12345678");  // too long: refused, nothing stored
    row[4] = Value(3);
    EXPECT_EQ(errorNumber([&] { zip.addNew(names, row); }), errorOf(ErrorCode::FieldTooSmall));
    row[1] = Value("0600000");
    row[2] = Value();
    row[3] = Value("1");  // the text of a number, stored as the number
    zip.addNew(names, row);
    row = {Value("01101"), Value("0600000"), Value("北一条西"), Value(0), Value(4)};
    zip.addNew(names, row);
    row[1] = Value(600001);  // a number for a text column, stored as its text, twice
    row[4] = Value(5);
    zip.addNew(names, row);
    row[4] = Value(6);
    zip.addNew(names, row);
    row[0].assignText("99999");  // changed after the call: the stored row keeps 01101
    row[2].assignText("変えた");
    cn.flush();

    RawSqlite raw(fresh.path());
    EXPECT_EQ(raw.column("SELECT 団体コード || '|' || 郵便番号 || '|' || coalesce(町域名, 'NULL') "
                         "|| '|' || flag1 || '|' || RECNO FROM ZIPALL ORDER BY rowid"),
              (std::vector<std::string>{"01101|0600000|北一条西|0|1", "01101|0600000|北二条西|0|2",
                                        "01101|0600000|NULL|1|3", "01101|0600000|北一条西|0|4",
                                        "01101|600001|北一条西|0|5", "01101|600001|北一条西|0|6"}));
    EXPECT_EQ(raw.scalar("SELECT typeof(flag1) FROM ZIPALL WHERE RECNO = 3"), "integer");
    EXPECT_EQ(raw.scalar("SELECT group_concat(typeof(郵便番号)) FROM ZIPALL WHERE RECNO > 4"),
              "text,text");
}

// Kept values: each row stores the values as they stand, those set again unchanged included; a
// value refused stays refused until it is changed, and a value set while another was refused is
// not lost.
TEST_F(RecordsetTest, AppendedRowsOfKeptValuesStoreTheValuesAsTheyStand) {
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    const auto names = std::make_shared<const std::vector<std::string>>(
        std::vector<std::string>{"団体コード", "郵便番号", "町域名", "flag1", "RECNO"});
    db::AppendValues& values = zip.keepAppendValues(names);
    ASSERT_EQ(values.size(), 5u);
    EXPECT_TRUE(values[2].isNull());
    values.setText(0, "01101");
    values.setText(1, "0600000");
    values.setText(2, "北一条西");
    values.setNumber(3, 0);
    values.setNumber(4, 1);
    zip.appendKept();
    values.setText(2, "北二条西");
    values.setNumber(4, 2);
    zip.appendKept();
    values.setText(2, "北一条西");  // back to the value of the first row
    values.setText(0, "01101");     // the same again
    values.setNumber(4, 3);
    zip.appendKept();
    values.setText(1, "12345678");  // too long: refused, nothing stored
    values.setText(2, "南一条西");  // after the refused one in the list
    values.setNumber(4, 4);
    EXPECT_EQ(errorNumber([&] { zip.appendKept(); }), errorOf(ErrorCode::FieldTooSmall));
    EXPECT_EQ(errorNumber([&] { zip.appendKept(); }), errorOf(ErrorCode::FieldTooSmall));
    values.setText(1, "0600001");
    zip.appendKept();
    values.setText(3, "1");      // the text of a number, stored as the number
    values.setText(0, "01102");  // a text of the same length, its last byte changed
    values.setNumber(4, 5);
    zip.appendKept();
    EXPECT_EQ(values[2], Value("南一条西"));
    cn.flush();

    RawSqlite raw(fresh.path());
    EXPECT_EQ(raw.column("SELECT 団体コード || '|' || 郵便番号 || '|' || 町域名 || '|' || flag1 "
                         "|| '|' || RECNO FROM ZIPALL ORDER BY rowid"),
              (std::vector<std::string>{"01101|0600000|北一条西|0|1", "01101|0600000|北二条西|0|2",
                                        "01101|0600000|北一条西|0|3", "01101|0600001|南一条西|0|4",
                                        "01102|0600001|南一条西|1|5"}));
}

// The rows of an addNew between kept rows are stored as given; the kept rows after it take the
// kept values again. Another list, or closing, ends the kept values.
TEST_F(RecordsetTest, KeptValuesAndRowsOfAddNewBetweenThem) {
    Recordset zip;
    zip.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
    const auto names = std::make_shared<const std::vector<std::string>>(
        std::vector<std::string>{"郵便番号", "RECNO"});
    db::AppendValues& values = zip.keepAppendValues(names);
    values.setText(0, "1000001");
    values.setNumber(1, 1);
    zip.appendKept();
    zip.addNew(names, std::vector<Value>{Value("1000002"), Value(2)});
    values.setText(0, "1000003");
    values.setNumber(1, 3);
    zip.appendKept();
    zip.addNew(names, std::vector<Value>{Value("1000003"), Value(4)});
    values.setNumber(1, 5);  // the kept text is the one the addNew gave
    zip.appendKept();
    zip.addNew(std::vector<std::string>{"RECNO"}, std::vector<Value>{Value(6)});
    EXPECT_EQ(errorNumber([&] { zip.appendKept(); }), errorOf(ErrorCode::InvalidArgument));
    db::AppendValues& again = zip.keepAppendValues(names);
    EXPECT_TRUE(again[0].isNull());
    again.setText(0, "1000007");
    again.setNumber(1, 7);
    zip.appendKept();
    zip.close();
    EXPECT_EQ(errorNumber([&] { zip.appendKept(); }), errorOf(ErrorCode::ObjectClosed));
    cn.flush();

    RawSqlite raw(fresh.path());
    EXPECT_EQ(
        raw.column("SELECT coalesce(郵便番号, '-') || ':' || RECNO FROM ZIPALL ORDER BY rowid"),
        (std::vector<std::string>{"1000001:1", "1000002:2", "1000003:3", "1000003:4", "1000003:5",
                                  "-:6", "1000007:7"}));
}

TEST_F(RecordsetTest, ClosingTheConnectionClosesItsRowSets) {
    Recordset rs;
    rs.open("DUMMY", cn, CursorType::ForwardOnly, LockType::ReadOnly);
    EXPECT_FALSE(rs.eof());
    cn.close();
    EXPECT_FALSE(rs.isOpen());
    EXPECT_EQ(errorNumber([&] { rs.eof(); }), errorOf(ErrorCode::ObjectClosed));
    EXPECT_EQ(errorNumber([&] { cn.execute("UPDATE DUMMY SET DKEY = '1'"); }),
              errorOf(ErrorCode::ObjectClosed));
    EXPECT_EQ(
        errorNumber([&] { rs.open("DUMMY", cn, CursorType::ForwardOnly, LockType::ReadOnly); }),
        errorOf(ErrorCode::ObjectClosed));
}

TEST_F(RecordsetTest, SourcesThatAreNeitherTableNorSelectAreRefused) {
    Recordset rs;
    EXPECT_EQ(
        errorNumber([&] { rs.open("NOSUCH", cn, CursorType::ForwardOnly, LockType::ReadOnly); }),
        errorOf(ErrorCode::TableNotFound));
    EXPECT_EQ(errorNumber([&] {
                  rs.open("DELETE FROM DUMMY", cn, CursorType::ForwardOnly, LockType::ReadOnly);
              }),
              errorOf(ErrorCode::InvalidArgument));
    EXPECT_EQ(errorNumber([&] {
                  rs.open("SELECT * FROM 市町村 WHERE JISX0402 = 1101", cn, CursorType::Keyset,
                          LockType::Pessimistic);
              }),
              errorOf(ErrorCode::TypeMismatch));
    EXPECT_EQ(count(cn, "DUMMY"), 1);
}

}  // namespace
}  // namespace yubin::test
