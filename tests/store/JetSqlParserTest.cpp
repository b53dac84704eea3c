// The Jet SQL parser on its own, without a database: the statement trees of the texts the
// system sends, and the clear refusal of anything else.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "store/JetSql.h"
#include "store/PostalSchema.h"

namespace yubin::db::sql {
// How a column shows in a failed expectation.
void PrintTo(const ColumnSpec& c, std::ostream* out) {
    *out << c.name << ' ' << static_cast<int>(c.type) << '(' << c.size << ')';
}
}  // namespace yubin::db::sql

namespace yubin::test {
namespace {

namespace sql = db::sql;
using db::Value;

template <typename T>
T parsed(std::string_view text) {
    sql::Statement statement = sql::parse(text);
    const T* tree = std::get_if<T>(&statement);
    if (tree == nullptr) {
        ADD_FAILURE() << "another kind of statement: " << text;
        return T{};
    }
    return *tree;
}

// The error a text raises, or nullopt when it parses.
std::optional<YubinError> refusal(std::string_view text) {
    try {
        sql::parse(text);
    } catch (const YubinError& error) {
        return error;
    }
    return std::nullopt;
}

sql::ColumnSpec column(std::string name, sql::ColumnType type, int size = 0) {
    return sql::ColumnSpec{std::move(name), type, size};
}

TEST(JetSqlParserTest, TheSchemaStatementsGiveTheirTablesWithJetTypes) {
    const auto& statements = mdlYubinBox::kSchemaStatements;
    const auto dummy = parsed<sql::CreateTable>(statements[0]);
    EXPECT_EQ(dummy.table, "DUMMY");
    EXPECT_EQ(dummy.columns, std::vector{column("DKEY", sql::ColumnType::Text, 1)});

    const auto dummyRow = parsed<sql::Insert>(statements[1]);
    EXPECT_EQ(dummyRow.table, "DUMMY");
    EXPECT_TRUE(dummyRow.columns.empty());
    EXPECT_EQ(dummyRow.values, std::vector<Value>{Value("1")});

    // Type words in any case; "text(255)" and "LONG" as the schema writes them.
    EXPECT_EQ(parsed<sql::CreateTable>(statements[2]).columns,
              (std::vector{column("ZIPALL", sql::ColumnType::Text, 10),
                           column("JIGYOSYO", sql::ColumnType::Text, 10)}));
    EXPECT_EQ(parsed<sql::CreateTable>(statements[3]).columns.back(),
              column("住所かな1", sql::ColumnType::Text, 255));
    EXPECT_EQ(parsed<sql::CreateTable>(statements[4]).columns,
              (std::vector{column("JISX0402", sql::ColumnType::Text, 5),
                           column("市町村名", sql::ColumnType::Text, 255),
                           column("住所かな2", sql::ColumnType::Text, 255),
                           column("抹消FLAG", sql::ColumnType::Byte)}));
    const auto zipall = parsed<sql::CreateTable>(statements[5]);
    EXPECT_EQ(zipall.table, "ZIPALL");
    ASSERT_EQ(zipall.columns.size(), 18u);
    EXPECT_EQ(zipall.columns[3], column("住所かな3", sql::ColumnType::Memo));
    EXPECT_EQ(zipall.columns[8], column("ダブり", sql::ColumnType::Byte));
    EXPECT_EQ(zipall.columns[13], column("取扱郵便局", sql::ColumnType::Text, 50));
    EXPECT_EQ(zipall.columns[17], column("RECNO", sql::ColumnType::Long));
    EXPECT_EQ(parsed<sql::CreateTable>(statements[6]).columns,
              std::vector{column("RECNO", sql::ColumnType::Long)});

    // The columns made to accept the empty text are text columns of ZIPALL.
    for (std::string_view name : mdlYubinBox::kZeroLengthColumns) {
        const auto found = std::find_if(zipall.columns.begin(), zipall.columns.end(),
                                        [&](const sql::ColumnSpec& c) { return c.name == name; });
        ASSERT_NE(found, zipall.columns.end()) << name;
        EXPECT_NE(found->type, sql::ColumnType::Byte) << name;
        EXPECT_NE(found->type, sql::ColumnType::Long) << name;
    }
}

TEST(JetSqlParserTest, TextWithoutASizeHolds255AndSizesOutsideOneTo255AreRefused) {
    EXPECT_EQ(
        parsed<sql::CreateTable>("create table T (A text, B Text(1), C Text(255))").columns,
        (std::vector{column("A", sql::ColumnType::Text, 255), column("B", sql::ColumnType::Text, 1),
                     column("C", sql::ColumnType::Text, 255)}));
    for (const char* text : {"CREATE TABLE T (A Text(0))", "CREATE TABLE T (A Text(256))",
                             "CREATE TABLE T (A Text(99999999999999999999))"}) {
        const auto error = refusal(text);
        ASSERT_TRUE(error) << text;
        EXPECT_TRUE(error->code() == ErrorCode::BadFieldDefinition ||
                    error->code() == ErrorCode::SyntaxError)
            << text;
    }
    const auto error = refusal("CREATE TABLE T (A Text(256))");
    EXPECT_EQ(error->code(), ErrorCode::BadFieldDefinition);
    EXPECT_NE(error->description().find("T.A"), std::string::npos) << error->description();
}

TEST(JetSqlParserTest, KeysAndIndexesOfTheImport) {
    const auto index = parsed<sql::CreateIndex>("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
    EXPECT_EQ(index.name, "x_郵便番号");
    EXPECT_EQ(index.table, "ZIPALL");
    EXPECT_EQ(index.column, "郵便番号");

    const auto key = parsed<sql::AddPrimaryKey>(
        "ALTER TABLE 都道府県 ADD CONSTRAINT xJISX0401 PRIMARY KEY(JISX0401)");
    EXPECT_EQ(key.table, "都道府県");
    EXPECT_EQ(key.name, "xJISX0401");
    EXPECT_EQ(key.column, "JISX0401");

    const auto dropKey = parsed<sql::DropConstraint>("ALTER TABLE ZIPALL DROP CONSTRAINT xRECNO");
    EXPECT_EQ(dropKey.table, "ZIPALL");
    EXPECT_EQ(dropKey.name, "xRECNO");

    const auto dropIndex = parsed<sql::DropIndex>("drop index x_郵便番号 on ZIPALL;");
    EXPECT_EQ(dropIndex.name, "x_郵便番号");
    EXPECT_EQ(dropIndex.table, "ZIPALL");
}

TEST(JetSqlParserTest, RowStatementsKeepTheirLiteralsAsWritten) {
    const auto insert = parsed<sql::Insert>(
        "INSERT INTO 市町村 (JISX0402, 市町村名, 抹消FLAG) VALUES('01101', 'O''Brien', -1)");
    EXPECT_EQ(insert.columns, (std::vector<std::string>{"JISX0402", "市町村名", "抹消FLAG"}));
    EXPECT_EQ(insert.values, (std::vector<Value>{Value("01101"), Value("O'Brien"), Value(-1)}));
    EXPECT_EQ(parsed<sql::Insert>("INSERT INTO 登録中 VALUES(NULL)").values,
              std::vector<Value>{Value()});
    // A literal is data: what looks like SQL inside it stays text.
    EXPECT_EQ(parsed<sql::Insert>("INSERT INTO DUMMY VALUES('''); DROP TABLE DUMMY; --')").values,
              std::vector<Value>{Value("'); DROP TABLE DUMMY; --")});

    const auto update = parsed<sql::Update>("UPDATE DUMMY SET DKEY = '1', X = +7 WHERE Y = 2");
    ASSERT_EQ(update.assignments.size(), 2u);
    EXPECT_EQ(update.assignments[1].column, "X");
    EXPECT_EQ(update.assignments[1].value, Value(7));
    ASSERT_EQ(update.where.size(), 1u);

    EXPECT_TRUE(parsed<sql::Delete>("DELETE FROM 都道府県").where.empty());
    EXPECT_EQ(parsed<sql::Delete>("DELETE * FROM 登録中").table, "登録中");
    const auto del =
        parsed<sql::Delete>("DELETE FROM ZIPALL WHERE データ識別 <> '1' AND RECNO = 5");
    EXPECT_EQ(del.table, "ZIPALL");
    ASSERT_EQ(del.where.size(), 2u);
    EXPECT_EQ(del.where[0].column, "データ識別");
    EXPECT_TRUE(del.where[0].notEqual);
    EXPECT_EQ(del.where[0].literal, Value("1"));
    EXPECT_FALSE(del.where[1].notEqual);
    EXPECT_EQ(del.where[1].literal, Value(5));
}

TEST(JetSqlParserTest, SelectsOfTheImportAndTheQueries) {
    const auto all = parsed<sql::Select>("SELECT * FROM 都道府県 WHERE JISX0401= '01'");
    EXPECT_TRUE(all.all);
    EXPECT_FALSE(all.aggregate());
    EXPECT_EQ(all.table, "都道府県");
    EXPECT_EQ(all.where.at(0).literal, Value("01"));

    const auto count = parsed<sql::Select>("SELECT COUNT(*) As DCOUNT FROM 都道府県");
    ASSERT_EQ(count.items.size(), 1u);
    EXPECT_TRUE(count.aggregate());
    EXPECT_EQ(count.items[0].kind, sql::SelectKind::CountAll);
    EXPECT_EQ(count.items[0].alias, "DCOUNT");

    const auto max =
        parsed<sql::Select>("SELECT MAX(RECNO) AS MAXNO FROM ZIPALL WHERE データ識別 = '1'");
    EXPECT_EQ(max.items.at(0).kind, sql::SelectKind::Max);
    EXPECT_EQ(max.items[0].column, "RECNO");
    EXPECT_EQ(max.items[0].alias, "MAXNO");

    const auto columns = parsed<sql::Select>("select a, min_b AS b from T");
    ASSERT_EQ(columns.items.size(), 2u);
    EXPECT_FALSE(columns.aggregate());
    EXPECT_EQ(columns.items[1].column, "min_b");
    EXPECT_EQ(columns.items[1].alias, "b");

    // A row set opened on a bare table name reads the whole table.
    sql::Statement source = sql::parseRowSource("作成日");
    ASSERT_TRUE(std::holds_alternative<sql::Select>(source));
    EXPECT_TRUE(std::get<sql::Select>(source).all);
    EXPECT_EQ(std::get<sql::Select>(source).table, "作成日");
    EXPECT_TRUE(std::holds_alternative<sql::Delete>(sql::parseRowSource("DELETE FROM T")));
    EXPECT_THROW(sql::parseRowSource("SELECT"), YubinError);
}

TEST(JetSqlParserTest, TextsOfOneShapeDifferOnlyInTheirLiterals) {
    std::string shape;
    std::vector<std::string> literals;
    ASSERT_TRUE(
        sql::literalShape("SELECT * FROM 市町村 WHERE JISX0402 = '01101'", shape, literals));
    const std::string first = shape;
    EXPECT_EQ(literals, std::vector<std::string>{"01101"});
    ASSERT_TRUE(sql::literalShape("SELECT * FROM 市町村 WHERE JISX0402 = 'O''B'", shape, literals));
    EXPECT_EQ(shape, first);
    EXPECT_EQ(literals, std::vector<std::string>{"O'B"});
    ASSERT_TRUE(sql::literalShape("X = '' AND Y = 'a'", shape, literals));
    EXPECT_EQ(literals, (std::vector<std::string>{"", "a"}));
    EXPECT_FALSE(sql::literalShape("X = 'open", shape, literals));
}

// The refused texts name what is wrong and the byte where it was found.
TEST(JetSqlParserTest, MalformedTextsAreSyntaxErrorsThatSayWhere) {
    const std::vector<std::pair<std::string, size_t>> cases = {
        {"", 1},
        {"   ;", 4},
        {"SELEC * FROM DUMMY", 1},
        {"DROP TABLE DUMMY", 6},
        {"DROP INDEX x", 13},
        {"CREATE VIEW v", 8},
        {"CREATE TABLE T ( A Integer )", 20},
        {"CREATE TABLE T ( )", 18},
        {"CREATE TABLE 1abc ( A Long )", 14},
        {"CREATE TABLE SELECT ( A Long )", 14},
        {"CREATE UNIQUE INDEX x ON T(A)", 8},
        {"CREATE INDEX x ON T(A, B)", 22},
        {"ALTER TABLE T ADD COLUMN x Long", 19},
        {"ALTER TABLE T DROP x", 20},
        {"ALTER TABLE T RENAME TO U", 15},
        {"INSERT INTO T VALUES('1'", 25},
        {"INSERT INTO T VALUES('1)", 22},
        {"INSERT INTO T VALUES(\"1\")", 22},
        {"INSERT INTO T VALUES(1.5)", 23},
        {"INSERT INTO T VALUES()", 22},
        {"UPDATE T SET A = A + 1", 18},
        {"UPDATE T SET A = '1' WHERE", 27},
        {"DELETE FROM T WHERE A > 5", 23},
        {"DELETE FROM T WHERE A = 1 OR A = 2", 27},
        {"DELETE FROM T WHERE A = NULL", 25},
        {"DELETE FROM T WHERE A = 1 AND", 30},
        {"DELETE FROM [T]", 13},
        {"DELETE FROM 作成日　WHERE ZIPALL = '1'", 22},  // an ideographic space is no space
        {"SELECT * FROM ZIPALL ORDER BY RECNO", 22},     // never sent: rows come in stored order
        {"SELECT RECNO, COUNT(*) FROM ZIPALL", 24},      // found at the end of the list
        {"SELECT SUM(RECNO) FROM ZIPALL", 8},
        {"SELECT COUNT(RECNO) FROM ZIPALL", 14},
        {"SELECT * FROM ZIPALL, DUMMY", 21},
        {"UPDATE T SET A = '1'; DELETE FROM T", 23},
    };
    for (const auto& [text, byte] : cases) {
        const auto error = refusal(text);
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->code(), ErrorCode::SyntaxError) << text;
        const std::string where = "（" + std::to_string(byte) + " バイト目付近）";
        EXPECT_NE(error->description().find(where), std::string::npos)
            << text << " -> " << error->description();
        EXPECT_NE(error->description().find(text), std::string::npos) << error->description();
    }
}

TEST(JetSqlParserTest, BrokenUtf8AndHugeNumbersAreRefusedNotMisread) {
    for (const char* text : {"\xff\xfe", "DELETE FROM T\xe3\x81", "DELETE FROM \xe3\x81T",
                             "DELETE FROM \xc0\xaf", "DELETE FROM \xed\xa0\x80"}) {
        const auto error = refusal(text);
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->code(), ErrorCode::SyntaxError) << text;
    }
    const auto huge = refusal("INSERT INTO 登録中 VALUES(99999999999999999999)");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->code(), ErrorCode::NumericOverflow);
    EXPECT_EQ(parsed<sql::Insert>("INSERT INTO T VALUES(-9223372036854775808)").values,
              std::vector<Value>{Value(std::numeric_limits<long long>::min())});
}

// Every prefix of every statement the system sends, and every one of them with a byte
// replaced, parses or raises one of the parser's errors: nothing else escapes, nothing crashes.
TEST(JetSqlParserTest, CutAndDamagedStatementsNeverEscapeTheErrorType) {
    std::vector<std::string> texts(std::begin(mdlYubinBox::kSchemaStatements),
                                   std::end(mdlYubinBox::kSchemaStatements));
    texts.insert(texts.end(),
                 {"ALTER TABLE 市町村 ADD CONSTRAINT xJISX0402 PRIMARY KEY(JISX0402)",
                  "DROP INDEX x_郵便番号 ON ZIPALL", "DELETE FROM 市町村 WHERE 抹消FLAG = 0",
                  "SELECT MAX(RECNO) AS MAXNO FROM ZIPALL WHERE データ識別 <> '1'",
                  "UPDATE DUMMY SET DKEY = '1'", "INSERT INTO T (A, B) VALUES('x''y', -12)"});
    std::string replacements = "'(),;=*<>- \x80\xe3\xff";
    replacements += '\0';
    int refused = 0;
    const auto attempt = [&](std::string_view text) {
        try {
            sql::parse(text);
            sql::parseRowSource(text);
        } catch (const YubinError& error) {
            ++refused;
            EXPECT_TRUE(error.code() == ErrorCode::SyntaxError ||
                        error.code() == ErrorCode::NumericOverflow ||
                        error.code() == ErrorCode::BadFieldDefinition)
                << error.number() << " for " << text;
        }
    };
    for (const std::string& text : texts) {
        for (size_t cut = 0; cut <= text.size(); ++cut)
            attempt(std::string_view(text).substr(0, cut));
        for (size_t at = 0; at < text.size(); ++at) {
            for (char c : replacements) {
                std::string damaged = text;
                damaged[at] = c;
                attempt(damaged);
            }
        }
    }
    EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace yubin::test
