// The SQL the layer accepts and what it refuses, through Connection::execute and row sets.
#include "StoreTestHelpers.h"

namespace yubin::test {
namespace {

using db::Connection;
using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;

class JetSqlTest : public ::testing::Test {
  protected:
    void SetUp() override { cn.open(fresh.connectionString()); }
    std::vector<Value> column(const std::string& sql, const std::string& field) {
        Recordset rs;
        rs.open(sql, cn, CursorType::ForwardOnly, LockType::ReadOnly);
        std::vector<Value> out;
        for (; !rs.eof(); rs.moveNext()) out.push_back(rs.field(field).value());
        return out;
    }

    FreshDatabase fresh;
    Connection cn;
};

TEST_F(JetSqlTest, TheStatementsOfTheImportsRunAsWritten) {
    cn.execute(
        "INSERT INTO 都道府県 (JISX0401, 都道府県名, 住所かな1) VALUES('01', '北海道', 'ﾎｯｶｲﾄﾞｳ')");
    cn.execute("INSERT INTO 市町村 VALUES('01101', '札幌市中央区', 'ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ', 0)");
    cn.execute("INSERT INTO 市町村 VALUES('01102', '札幌市北区', 'ｻｯﾎﾟﾛｼｷﾀｸ', 1)");
    cn.execute("INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('0600000', '', 1)");
    cn.execute("INSERT INTO ZIPALL (郵便番号, データ識別, RECNO) VALUES('0608588', '1', 1000001)");

    EXPECT_EQ(column("SELECT * FROM 都道府県 WHERE JISX0401= '01'", "都道府県名"),
              std::vector<Value>{Value("北海道")});
    EXPECT_EQ(column("SELECT * FROM 市町村 WHERE JISX0402 = '01102'", "抹消FLAG"),
              std::vector<Value>{Value(1)});
    EXPECT_EQ(column("SELECT COUNT(*) As DCOUNT FROM 都道府県", "DCOUNT"),
              std::vector<Value>{Value(1)});
    EXPECT_EQ(column("SELECT MAX(RECNO) AS MAXNO FROM ZIPALL WHERE データ識別 <> '1'", "MAXNO"),
              std::vector<Value>{Value(1)});
    EXPECT_EQ(column("SELECT MAX(RECNO) AS MAXNO FROM ZIPALL WHERE データ識別 = '1'", "maxno"),
              std::vector<Value>{Value(1000001)});

    EXPECT_EQ(cn.execute("DELETE FROM 市町村 WHERE 抹消FLAG = 0"), 1);
    EXPECT_EQ(cn.execute("DELETE FROM ZIPALL WHERE データ識別 <> '1'"), 1);
    EXPECT_EQ(cn.execute("DELETE FROM ZIPALL WHERE データ識別 = '1'"), 1);
    EXPECT_EQ(cn.execute("DELETE FROM 都道府県"), 1);
    EXPECT_EQ(cn.execute("DELETE FROM 登録中"), 0);
    EXPECT_EQ(cn.execute("UPDATE DUMMY SET DKEY = '1'"), 1);
    // An empty set still has its aggregate row; MAX of nothing is Null.
    EXPECT_EQ(column("SELECT MAX(RECNO) AS MAXNO FROM ZIPALL WHERE データ識別 = '1'", "MAXNO"),
              std::vector<Value>{Value()});
}

TEST_F(JetSqlTest, TextLiteralsAreStoredVerbatimNeverRunAsSql) {
    cn.execute("INSERT INTO 市町村 (JISX0402, 市町村名) VALUES('01101', 'O''Brien'); ");
    cn.execute(
        "INSERT INTO 市町村 (JISX0402, 市町村名) VALUES('01102', '''); DROP TABLE DUMMY; --')");
    cn.execute("INSERT INTO 市町村 (JISX0402, 市町村名) VALUES('01103', '\"x\" [y] `z` -- /* */')");
    EXPECT_EQ(column("SELECT 市町村名 FROM 市町村", "市町村名"),
              (std::vector<Value>{Value("O'Brien"), Value("'); DROP TABLE DUMMY; --"),
                                  Value("\"x\" [y] `z` -- /* */")}));
    EXPECT_EQ(column("SELECT * FROM DUMMY", "DKEY"), std::vector<Value>{Value("1")});
    EXPECT_EQ(column("SELECT * FROM 市町村 WHERE 市町村名 = 'O''Brien'", "JISX0402"),
              std::vector<Value>{Value("01101")});
}

TEST_F(JetSqlTest, LiteralsAreConvertedOrRefusedByTheColumnType) {
    cn.execute("INSERT INTO 作成日 (ZIPALL) VALUES(20240131)");  // a number into a text column
    EXPECT_EQ(column("SELECT * FROM 作成日", "ZIPALL"), std::vector<Value>{Value("20240131")});
    cn.execute("INSERT INTO 市町村 (JISX0402, 抹消FLAG) VALUES('01101', ' 1 ')");
    EXPECT_EQ(column("SELECT * FROM 市町村 WHERE 抹消FLAG = '1'", "抹消FLAG"),
              std::vector<Value>{Value(1)});
    cn.execute("INSERT INTO 登録中 VALUES(-5)");
    EXPECT_EQ(column("SELECT * FROM 登録中 WHERE RECNO = -5", "RECNO"),
              std::vector<Value>{Value(-5)});

    EXPECT_EQ(errorNumber([&] { cn.execute("INSERT INTO 登録中 VALUES('1.5')"); }),
              errorOf(ErrorCode::TypeMismatch));
    EXPECT_EQ(errorNumber([&] { cn.execute("DELETE FROM 市町村 WHERE JISX0402 = 1101"); }),
              errorOf(ErrorCode::TypeMismatch));
    EXPECT_EQ(errorNumber([&] { cn.execute("DELETE FROM 市町村 WHERE 抹消FLAG = 'x'"); }),
              errorOf(ErrorCode::TypeMismatch));
    EXPECT_EQ(errorNumber([&] { cn.execute("INSERT INTO 登録中 VALUES(99999999999999999999)"); }),
              errorOf(ErrorCode::NumericOverflow));
}

TEST_F(JetSqlTest, StatementsThatDoNotFitTheSchemaAreRefused) {
    const std::vector<std::pair<std::string, ErrorCode>> cases = {
        {"INSERT INTO DUMMY VALUES('1', '2')", ErrorCode::ValueCountMismatch},
        {"INSERT INTO DUMMY (DKEY, dkey) VALUES('1', '2')", ErrorCode::DuplicateFieldName},
        {"INSERT INTO NOSUCH VALUES('1')", ErrorCode::TableNotFound},
        {"UPDATE DUMMY SET NOSUCH = '1'", ErrorCode::ItemNotFound},
        {"DELETE FROM DUMMY WHERE NOSUCH = '1'", ErrorCode::ItemNotFound},
        {"CREATE TABLE dummy ( X Long )", ErrorCode::TableExists},
        {"CREATE TABLE T ( A Long, a Byte )", ErrorCode::DuplicateFieldName},
        {"CREATE TABLE T ( A Text(0) )", ErrorCode::BadFieldDefinition},
        {"CREATE TABLE T ( A Text(256) )", ErrorCode::BadFieldDefinition},
        {"CREATE TABLE __yubinbox_x ( A Long )", ErrorCode::InvalidArgument},
        {"CREATE TABLE sqlite_x ( A Long )", ErrorCode::InvalidArgument},
        {"CREATE TABLE T ( rowid Long )", ErrorCode::InvalidArgument},
        {"CREATE INDEX DUMMY ON ZIPALL(RECNO)", ErrorCode::IndexExists},
        {"CREATE INDEX x ON ZIPALL(NOSUCH)", ErrorCode::ItemNotFound},
        {"SELECT * FROM DUMMY", ErrorCode::InvalidArgument},  // SELECTs go through row sets
    };
    for (const auto& [sql, code] : cases) {
        EXPECT_EQ(errorNumber([&] { cn.execute(sql); }), errorOf(code)) << sql;
    }
    EXPECT_EQ(cn.tables(true).size(), 6u);
}

TEST_F(JetSqlTest, AnythingOutsideTheGrammarIsASyntaxError) {
    const std::vector<std::string> refused = {
        "",
        "   ;",
        "SELEC * FROM DUMMY",
        "DROP TABLE DUMMY",
        "UPDATE DUMMY SET DKEY = '1'; DELETE FROM DUMMY",
        "UPDATE DUMMY SET DKEY = '1' WHERE",
        "UPDATE ZIPALL SET RECNO = RECNO + 1",
        "INSERT INTO DUMMY VALUES('1'",
        "INSERT INTO DUMMY VALUES('1)",
        "INSERT INTO DUMMY VALUES(\"1\")",
        "INSERT INTO DUMMY VALUES(1.5)",
        "DELETE FROM ZIPALL WHERE RECNO > 5",
        "DELETE FROM ZIPALL WHERE RECNO = 1 OR RECNO = 2",
        "DELETE FROM ZIPALL WHERE (RECNO = 1)",
        "DELETE FROM ZIPALL WHERE データ識別 = NULL",
        "DELETE FROM ZIPALL WHERE RECNO IS NULL",
        "DELETE FROM ZIPALL WHERE RECNO = 1 -- comment",
        "DELETE FROM [ZIPALL]",
        "DELETE FROM \"ZIPALL\"",
        "DELETE FROM ZIPALL.RECNO",
        "DELETE FROM 作成日　WHERE ZIPALL = '1'",  // an ideographic space is no space
        "DELETE FROM 作成日（ZIPALL）",
        "CREATE TABLE 1abc ( A Long )",
        "CREATE TABLE T ( A Integer )",
        "CREATE TABLE T ( A Text(10) NOT NULL )",
        "CREATE TABLE T ( A Long PRIMARY KEY )",
        "CREATE TABLE T ( A Text(-1) )",
        "CREATE TABLE SELECT ( A Long )",
        "CREATE TABLE T ( FROM Long )",
        "CREATE TABLE T ( )",
        "CREATE UNIQUE INDEX x ON ZIPALL(RECNO)",
        "CREATE INDEX x ON ZIPALL(郵便番号, RECNO)",
        "ALTER TABLE ZIPALL ADD CONSTRAINT x UNIQUE(RECNO)",
        "ALTER TABLE ZIPALL ADD COLUMN x Long",
        "ALTER TABLE ZIPALL DROP x",
        "DROP INDEX x_郵便番号",
        "\xff\xfe",
    };
    for (const std::string& sql : refused) {
        EXPECT_EQ(errorNumber([&] { cn.execute(sql); }), errorOf(ErrorCode::SyntaxError)) << sql;
    }
    const std::vector<std::string> refusedSelects = {
        "SELECT RECNO, COUNT(*) FROM ZIPALL",
        "SELECT SUM(RECNO) FROM ZIPALL",
        "SELECT * FROM ZIPALL ORDER BY RECNO",
        "SELECT * FROM ZIPALL, DUMMY",
        "SELECT *, RECNO FROM ZIPALL",
        "SELECT COUNT(RECNO) FROM ZIPALL",
        "DELETE FROM ZIPALL WHERE RECNO = 1 AND",
    };
    for (const std::string& sql : refusedSelects) {
        Recordset rs;
        EXPECT_EQ(
            errorNumber([&] { rs.open(sql, cn, CursorType::ForwardOnly, LockType::ReadOnly); }),
            errorOf(ErrorCode::SyntaxError))
            << sql;
    }
    // Nothing of the refused texts took effect.
    EXPECT_EQ(cn.tables(true).size(), 6u);
    EXPECT_TRUE(cn.keys().empty());
    EXPECT_EQ(column("SELECT * FROM DUMMY", "DKEY"), std::vector<Value>{Value("1")});
}

TEST_F(JetSqlTest, KeywordsTypeWordsAndSpacingAreFree) {
    cn.execute("create table Extra(A text(3),B MEMO,c byte,D long,E Text)");
    cn.execute("insert into EXTRA values ( 'abc' , 'memo' , 255 , -1 , 'x' ) ;");
    cn.execute("Update extra Set a='xyz',C=0 Where d=-1 And e='x'");
    EXPECT_EQ(column("select a, c AS cc from extra where B='memo'", "CC"),
              std::vector<Value>{Value(0)});
    EXPECT_EQ(errorNumber([&] { cn.execute("insert into extra (A) values('abcd')"); }),
              errorOf(ErrorCode::FieldTooSmall));
    // Text without a size holds 255 characters.
    cn.execute("insert into extra (E) values('" + std::string(255, 'e') + "')");
    EXPECT_EQ(errorNumber([&] {
                  cn.execute("insert into extra (E) values('" + std::string(256, 'e') + "')");
              }),
              errorOf(ErrorCode::FieldTooSmall));
    // New tables are listed and visible until marked hidden.
    EXPECT_EQ(cn.tables(false).size(), 2u);
}

}  // namespace
}  // namespace yubin::test
