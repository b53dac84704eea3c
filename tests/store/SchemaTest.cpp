// The database CreateMdb makes, and the column and key rules it enforces.
#include <algorithm>

#include "StoreTestHelpers.h"

namespace yubin::test {
namespace {

using db::Connection;
using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;

class SchemaTest : public ::testing::Test {
  protected:
    void SetUp() override { cn.open(fresh.connectionString()); }

    // Appends one ZIPALL row with the given columns set.
    void appendZip(const std::vector<std::string>& names, const std::vector<Value>& values) {
        Recordset rs;
        rs.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
        rs.addNew(names, values);
    }
    long long count(const std::string& table) {
        Recordset rs;
        rs.open("SELECT COUNT(*) As N FROM " + table, cn, CursorType::ForwardOnly,
                LockType::ReadOnly);
        return rs.field("N").value().toNumber();
    }

    FreshDatabase fresh;
    Connection cn;
};

TEST_F(SchemaTest, FreshDatabaseHasTheSixTablesTheDummyRowAndNoKeys) {
    std::vector<std::string> names;
    for (const auto& t : cn.tables(true)) names.push_back(t.name);
    EXPECT_EQ(names, (std::vector<std::string>{"DUMMY", "作成日", "都道府県", "市町村", "ZIPALL",
                                               "登録中"}));
    EXPECT_TRUE(cn.keys().empty());

    Recordset rs;
    rs.open("SELECT * FROM DUMMY", cn, CursorType::ForwardOnly, LockType::ReadOnly);
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.field("dkey").value(), Value("1"));
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    for (const char* table : {"作成日", "都道府県", "市町村", "ZIPALL", "登録中"}) {
        EXPECT_EQ(count(table), 0) << table;
    }

    EXPECT_EQ(cn.columnNames("ZIPALL"),
              (std::vector<std::string>{"団体コード", "旧郵便番号", "郵便番号", "住所かな3",
                                        "町域名", "flag1", "flag2", "flag3", "ダブり", "flag4",
                                        "flag5", "事業所名かな", "事業所名", "取扱郵便局", "種別",
                                        "丁目番地等", "データ識別", "RECNO"}));
    EXPECT_EQ(cn.columnNames("都道府県"),
              (std::vector<std::string>{"JISX0401", "都道府県名", "住所かな1"}));
    EXPECT_EQ(cn.columnNames("市町村"),
              (std::vector<std::string>{"JISX0402", "市町村名", "住所かな2", "抹消FLAG"}));
}

TEST_F(SchemaTest, ExactlyNineZipallColumnsAllowTheEmptyText) {
    const std::vector<std::string> expected = {"旧郵便番号",   "住所かな3",  "町域名",
                                               "事業所名かな", "事業所名",   "取扱郵便局",
                                               "種別",         "丁目番地等", "データ識別"};
    for (const auto& table : cn.tables(true)) {
        Recordset rs;
        rs.open(table.name, cn, CursorType::ForwardOnly, LockType::ReadOnly);
        for (const std::string& column : cn.columnNames(table.name)) {
            bool allowed = false;
            if (errorNumber([&] { allowed = cn.allowZeroLength(table.name, column); }) != 0) {
                continue;  // number columns have no such property
            }
            const bool listed =
                table.name == "ZIPALL" && std::count(expected.begin(), expected.end(), column) == 1;
            EXPECT_EQ(allowed, listed) << table.name << "." << column;
        }
    }
}

TEST_F(SchemaTest, FiveTablesAreHiddenAndOnlyTheRegistrationTableIsListed) {
    std::vector<std::string> visible;
    for (const auto& t : cn.tables(false)) visible.push_back(t.name);
    EXPECT_EQ(visible, std::vector<std::string>{"登録中"});
    for (const char* table : {"DUMMY", "ZIPALL", "都道府県", "市町村", "作成日"}) {
        EXPECT_EQ(cn.tableAttributes(table), 1) << table;
    }
    EXPECT_EQ(cn.tableAttributes("登録中"), 0);
    // Hidden tables are read and written by name as any other.
    EXPECT_EQ(cn.execute("UPDATE DUMMY SET DKEY = '1'"), 1);
}

TEST_F(SchemaTest, EmptyTextGoesOnlyWhereTheColumnAllowsIt) {
    appendZip({"取扱郵便局", "RECNO"}, {"", 1});
    EXPECT_EQ(errorNumber([&] {
                  appendZip({"郵便番号", "RECNO"}, {"", 2});
              }),
              errorOf(ErrorCode::ZeroLengthNotAllowed));
    EXPECT_EQ(errorNumber([&] { cn.execute("INSERT INTO 作成日 (ZIPALL) VALUES('')"); }),
              errorOf(ErrorCode::ZeroLengthNotAllowed));
    // Null is accepted in both.
    appendZip({"郵便番号", "RECNO"}, {Value(), 3});
    cn.execute("INSERT INTO 作成日 (ZIPALL, JIGYOSYO) VALUES(NULL, '20240101')");
    EXPECT_EQ(count("ZIPALL"), 2);
    EXPECT_EQ(count("作成日"), 1);
}

TEST_F(SchemaTest, TooLongTextAndOutOfRangeNumbersAreRefusedNotCut) {
    EXPECT_EQ(errorNumber([&] { cn.execute("INSERT INTO 市町村 (JISX0402) VALUES('011011')"); }),
              errorOf(ErrorCode::FieldTooSmall));
    EXPECT_EQ(errorNumber([&] { appendZip({"flag1"}, {256}); }),
              errorOf(ErrorCode::NumericOverflow));
    EXPECT_EQ(errorNumber([&] { appendZip({"flag1"}, {-1}); }),
              errorOf(ErrorCode::NumericOverflow));
    EXPECT_EQ(errorNumber([&] { appendZip({"RECNO"}, {2147483648LL}); }),
              errorOf(ErrorCode::NumericOverflow));
    EXPECT_EQ(errorNumber([&] { appendZip({"flag1"}, {"x"}); }), errorOf(ErrorCode::TypeMismatch));
    EXPECT_EQ(count("市町村"), 0);
    EXPECT_EQ(count("ZIPALL"), 0);

    // Sizes count characters: five kanji fit Text(5); the bounds of each type fit.
    cn.execute("INSERT INTO 市町村 (JISX0402, 抹消FLAG) VALUES('札幌市中央', 255)");
    appendZip({"flag1", "RECNO"}, {"0", -2147483648LL});
    appendZip({"flag1", "RECNO"}, {255, "2147483647"});
    Recordset rs;
    rs.open("SELECT MAX(RECNO) AS MAXNO FROM ZIPALL WHERE flag1 = 255", cn, CursorType::ForwardOnly,
            LockType::ReadOnly);
    EXPECT_EQ(rs.field("MAXNO").value(), Value(2147483647LL));
}

TEST_F(SchemaTest, ErrorDescriptionsNameTableAndColumn) {
    try {
        appendZip({"郵便番号"}, {"12345678"});
        FAIL() << "not refused";
    } catch (const YubinError& e) {
        EXPECT_EQ(e.code(), ErrorCode::FieldTooSmall);
        EXPECT_NE(e.description().find("ZIPALL.郵便番号"), std::string::npos) << e.description();
        EXPECT_NE(e.description().find("7"), std::string::npos) << e.description();
    }
}

TEST_F(SchemaTest, PrimaryKeyRefusesDuplicatesAndNull) {
    appendZip({"RECNO"}, {1});
    appendZip({"RECNO"}, {2});
    cn.execute("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
    cn.execute("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
    const auto keys = cn.keys();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].name, "xRECNO");
    EXPECT_TRUE(keys[0].primaryKey);
    EXPECT_EQ(keys[1].name, "x_郵便番号");
    EXPECT_FALSE(keys[1].primaryKey);

    EXPECT_EQ(errorNumber([&] { appendZip({"RECNO"}, {2}); }), errorOf(ErrorCode::DuplicateKey));
    EXPECT_EQ(errorNumber([&] { appendZip({"郵便番号"}, {"0600000"}); }),
              errorOf(ErrorCode::IndexNullValue));
    EXPECT_EQ(errorNumber([&] { cn.execute("UPDATE ZIPALL SET RECNO = 1 WHERE RECNO = 2"); }),
              errorOf(ErrorCode::DuplicateKey));
    EXPECT_EQ(errorNumber([&] { cn.execute("UPDATE ZIPALL SET RECNO = NULL"); }),
              errorOf(ErrorCode::IndexNullValue));
    EXPECT_EQ(errorNumber([&] {
                  cn.execute("ALTER TABLE ZIPALL ADD CONSTRAINT xOTHER PRIMARY KEY(flag1)");
              }),
              errorOf(ErrorCode::PrimaryKeyExists));
    EXPECT_EQ(errorNumber([&] { cn.execute("CREATE INDEX xRECNO ON ZIPALL(flag1)"); }),
              errorOf(ErrorCode::IndexExists));
    EXPECT_EQ(count("ZIPALL"), 2);

    // Dropped, the key no longer refuses; dropping it again is an error callers ignore.
    cn.execute("ALTER TABLE ZIPALL DROP CONSTRAINT xRECNO");
    cn.execute("DROP INDEX x_郵便番号 ON ZIPALL");
    EXPECT_TRUE(cn.keys().empty());
    appendZip({"RECNO"}, {2});
    EXPECT_EQ(errorNumber([&] { cn.execute("ALTER TABLE ZIPALL DROP CONSTRAINT xRECNO"); }),
              errorOf(ErrorCode::ConstraintNotFound));
    EXPECT_EQ(errorNumber([&] { cn.execute("DROP INDEX x_郵便番号 ON ZIPALL"); }),
              errorOf(ErrorCode::ConstraintNotFound));
    // A plain index is no constraint.
    cn.execute("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
    EXPECT_EQ(errorNumber([&] { cn.execute("ALTER TABLE ZIPALL DROP CONSTRAINT x_郵便番号"); }),
              errorOf(ErrorCode::ConstraintNotFound));
}

TEST_F(SchemaTest, PrimaryKeyCannotBeAddedOverDuplicatesOrNull) {
    cn.execute("INSERT INTO 都道府県 (JISX0401, 都道府県名) VALUES('01', '北海道')");
    cn.execute("INSERT INTO 都道府県 (JISX0401, 都道府県名) VALUES('01', '北海道')");
    EXPECT_EQ(errorNumber([&] {
                  cn.execute("ALTER TABLE 都道府県 ADD CONSTRAINT xJISX0401 PRIMARY KEY(JISX0401)");
              }),
              errorOf(ErrorCode::DuplicateKey));
    cn.execute("DELETE FROM 都道府県");
    cn.execute("INSERT INTO 都道府県 (都道府県名) VALUES('青森県')");
    EXPECT_EQ(errorNumber([&] {
                  cn.execute("ALTER TABLE 都道府県 ADD CONSTRAINT xJISX0401 PRIMARY KEY(JISX0401)");
              }),
              errorOf(ErrorCode::IndexNullValue));
    EXPECT_TRUE(cn.keys().empty());
}

TEST_F(SchemaTest, NullCountsBeforeDuplicatesWhenAKeyCannotBeMade) {
    cn.execute("INSERT INTO 都道府県 (JISX0401) VALUES('01')");
    cn.execute("INSERT INTO 都道府県 (JISX0401) VALUES('01')");
    cn.execute("INSERT INTO 都道府県 (都道府県名) VALUES('青森県')");
    EXPECT_EQ(errorNumber([&] {
                  cn.execute("ALTER TABLE 都道府県 ADD CONSTRAINT xJISX0401 PRIMARY KEY(JISX0401)");
              }),
              errorOf(ErrorCode::IndexNullValue));
    EXPECT_TRUE(cn.keys().empty());
    RawSqlite raw(fresh.path());
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM sqlite_schema WHERE tbl_name = '都道府県' AND "
                         "type IN ('index', 'trigger')"),
              "0");
}

// While a connection holds the database for an import, looking rows up by a column without a
// key gives the column a plain index of the layer's own: listed nowhere, refusing nothing,
// and gone once a key takes its place.
TEST_F(SchemaTest, LookupsDuringAnImportGetAnIndexThatRefusesNothing) {
    auto lookup = [&](const std::string& code) {
        Recordset rs;
        rs.open("SELECT * FROM 市町村 WHERE JISX0402 = '" + code + "'", cn, CursorType::Keyset,
                LockType::Pessimistic);
        long long found = 0;
        for (; !rs.eof(); rs.moveNext()) ++found;
        return found;
    };
    auto indexesOf = [&](const std::string& table) {
        RawSqlite raw(fresh.path());
        return raw.column("SELECT name FROM sqlite_schema WHERE type = 'index' AND tbl_name = '" +
                          table + "' ORDER BY name");
    };
    cn.execute("INSERT INTO 市町村 VALUES('01101', '札幌市中央区', 'ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ', 0)");
    EXPECT_EQ(lookup("01101"), 1);
    EXPECT_TRUE(indexesOf("市町村").empty());  // not while importing

    cn.lockImport();
    EXPECT_EQ(lookup("01101"), 1);
    EXPECT_EQ(lookup("01102"), 0);
    cn.flush();  // the index waits in the batch: it costs no commit of its own
    ASSERT_EQ(indexesOf("市町村").size(), 1u);
    EXPECT_TRUE(cn.keys().empty());
    cn.execute("INSERT INTO 市町村 VALUES('01101', '札幌市中央区', 'ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ', 0)");
    cn.execute("INSERT INTO 市町村 (市町村名) VALUES('名無し')");
    EXPECT_EQ(lookup("01101"), 2);
    EXPECT_EQ(count("市町村"), 3);

    // Made inside the batch of appended rows, it is stored with them.
    appendZip({"RECNO"}, {1});
    Recordset byPref;
    byPref.open("SELECT * FROM 都道府県 WHERE JISX0401= '01'", cn, CursorType::Keyset,
                LockType::Pessimistic);
    EXPECT_TRUE(byPref.eof());
    byPref.addNew(std::vector<std::string>{"JISX0401"}, std::vector<Value>{Value("01")});
    byPref.close();
    cn.flush();
    EXPECT_EQ(indexesOf("都道府県").size(), 1u);

    cn.execute("DELETE FROM 市町村 WHERE JISX0402 = '01101'");
    cn.execute("DELETE FROM 市町村");
    cn.execute("INSERT INTO 市町村 VALUES('01101', '札幌市中央区', 'ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ', 0)");
    cn.execute("ALTER TABLE 市町村 ADD CONSTRAINT xJISX0402 PRIMARY KEY(JISX0402)");
    cn.execute("ALTER TABLE 都道府県 ADD CONSTRAINT xJISX0401 PRIMARY KEY(JISX0401)");
    EXPECT_EQ(indexesOf("市町村"), std::vector<std::string>{"xJISX0402"});
    EXPECT_EQ(indexesOf("都道府県"), std::vector<std::string>{"xJISX0401"});
    EXPECT_EQ(lookup("01101"), 1);
    EXPECT_EQ(
        errorNumber([&] {
            cn.execute("INSERT INTO 市町村 VALUES('01101', '札幌市中央区', 'ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ', 0)");
        }),
        errorOf(ErrorCode::DuplicateKey));
    RawSqlite raw(fresh.path());
    EXPECT_EQ(raw.scalar("PRAGMA integrity_check"), "ok");
}

TEST_F(SchemaTest, ChangingTheZeroLengthPropertyKeepsRowsIndexesAndKeys) {
    appendZip({"団体コード", "RECNO"}, {"01101", 1});
    appendZip({"団体コード", "RECNO"}, {"01102", 2});
    cn.execute("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
    cn.execute("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");

    cn.setAllowZeroLength("ZIPALL", "団体コード", true);
    EXPECT_TRUE(cn.allowZeroLength("ZIPALL", "団体コード"));
    appendZip({"団体コード", "RECNO"}, {"", 3});
    EXPECT_EQ(count("ZIPALL"), 3);
    EXPECT_EQ(cn.keys().size(), 2u);
    EXPECT_EQ(errorNumber([&] { appendZip({"RECNO"}, {1}); }), errorOf(ErrorCode::DuplicateKey));

    // Back to refusing: the empty text now in the table makes that impossible, and nothing
    // changes.
    EXPECT_EQ(errorNumber([&] { cn.setAllowZeroLength("ZIPALL", "団体コード", false); }),
              errorOf(ErrorCode::ZeroLengthNotAllowed));
    EXPECT_TRUE(cn.allowZeroLength("ZIPALL", "団体コード"));
    EXPECT_EQ(count("ZIPALL"), 3);

    RawSqlite raw(fresh.path());
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND name IN "
                         "('xRECNO', 'x_郵便番号')"),
              "2");
    EXPECT_EQ(raw.scalar("SELECT group_concat(RECNO) FROM ZIPALL"), "1,2,3");
}

// The file keeps its rules when a program writes it with plain SQLite.
TEST_F(SchemaTest, FileDefendsItselfAgainstOtherWriters) {
    cn.execute("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
    cn.close();
    RawSqlite raw(fresh.path());
    EXPECT_EQ(raw.exec("INSERT INTO ZIPALL (郵便番号, RECNO) VALUES ('12345678', 1)"),
              SQLITE_CONSTRAINT);
    EXPECT_EQ(raw.exec("INSERT INTO 市町村 (JISX0402) VALUES ('011011')"), SQLITE_CONSTRAINT);
    EXPECT_EQ(raw.exec("INSERT INTO ZIPALL (郵便番号, RECNO) VALUES ('', 1)"), SQLITE_CONSTRAINT);
    EXPECT_EQ(raw.exec("INSERT INTO ZIPALL (flag1, RECNO) VALUES (256, 1)"), SQLITE_CONSTRAINT);
    EXPECT_EQ(raw.exec("INSERT INTO ZIPALL (flag1, RECNO) VALUES ('abc', 1)"), SQLITE_CONSTRAINT);
    EXPECT_EQ(raw.exec("INSERT INTO ZIPALL (RECNO) VALUES (4294967296)"), SQLITE_CONSTRAINT);
    EXPECT_EQ(raw.exec("INSERT INTO ZIPALL (郵便番号) VALUES ('0600000')"), SQLITE_CONSTRAINT);
    EXPECT_EQ(raw.exec("INSERT INTO ZIPALL (取扱郵便局, RECNO) VALUES ('', 1)"), SQLITE_OK);
    EXPECT_EQ(raw.exec("INSERT INTO ZIPALL (RECNO) VALUES (1)"), SQLITE_CONSTRAINT);
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM ZIPALL"), "1");
    // Other programs see the declared names with plain types.
    EXPECT_EQ(raw.scalar("SELECT type FROM pragma_table_info('ZIPALL') WHERE name = '郵便番号'"),
              "TEXT");
    EXPECT_EQ(raw.scalar("SELECT type FROM pragma_table_info('ZIPALL') WHERE name = 'RECNO'"),
              "INTEGER");
    EXPECT_EQ(raw.scalar("PRAGMA journal_mode"), "delete");
    EXPECT_EQ(raw.scalar("PRAGMA integrity_check"), "ok");
}

TEST_F(SchemaTest, NamesMatchWithoutRegardToAsciiCase) {
    cn.execute("insert into zipall (Recno, FLAG1, データ識別) values (7, '1', '1')");
    Recordset rs;
    rs.open("select * from Zipall where データ識別 = '1' and recno = 7", cn,
            CursorType::ForwardOnly, LockType::ReadOnly);
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.field("FLAG1").Name(), "flag1");
    EXPECT_EQ(rs.field("FLAG1").value(), Value(1));  // the text '1' stored as a number
    // Only ASCII letters fold: full-width letters name another column.
    EXPECT_EQ(errorNumber([&] { cn.execute("UPDATE ZIPALL SET ｆｌａｇ1 = 1"); }),
              errorOf(ErrorCode::ItemNotFound));
}

}  // namespace
}  // namespace yubin::test
