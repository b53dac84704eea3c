// Publishing through the library against a private server: the data read back, the keys,
// types and rights on the server, the replacement of the live schema and what is refused.
#include <gtest/gtest.h>

#include <algorithm>

#include "publish/PublishFixture.h"
#include "publish/Publisher.h"
#include "publish/TablePlan.h"
#include "store/mdlYubinBox.h"
#include "support/ErrorOf.h"

namespace yubin::test {
namespace {

publish::PublishReport Publish(const std::string& database, const std::string& conninfo,
                               const std::string& schema = "yubinbox",
                               std::vector<std::string> readers = {}) {
    db::Connection file;
    file.open(mdlYubinBox::ConnectionString(database));
    publish::PublishOptions options;
    options.conninfo = conninfo;
    options.schema = schema;
    options.readerRoles = std::move(readers);
    options.lockWait = std::chrono::seconds(5);
    return publish::publishDatabase(file, options);
}

ErrorCode CodeOf(const std::function<void()>& action) { return ErrorOf(action).code(); }

void Sql(const std::string& database, const std::string& statement) {
    db::Connection file;
    file.open(mdlYubinBox::ConnectionString(database));
    file.execute(statement);
}

TEST(CopyText, EscapesWhatCopyReadsSpeciallyAndNothingElse) {
    std::string out;
    publish::appendCopyText(out, "a\\b\tc\nd\re 東京都");
    EXPECT_EQ(out, "a\\\\b\\tc\\nd\\re 東京都");
    out.clear();
    publish::appendCopyText(out, "");
    EXPECT_EQ(out, "");
}

TEST(ServerNames, AsciiLettersInLowerCaseOnly) {
    EXPECT_EQ(publish::serverName("ZIPALL"), "zipall");
    EXPECT_EQ(publish::serverName("抹消FLAG"), "抹消flag");
    EXPECT_EQ(publish::serverName("x_郵便番号"), "x_郵便番号");
}

TEST_F(PublishFixture, PublishedTablesReadBackEqualTheFileWithKeysTypesAndRights) {
    const std::string database = importDatabase("month", 2, 3);
    // A row with every character COPY treats specially, and Nulls.
    Sql(database,
        "INSERT INTO ZIPALL (団体コード, 郵便番号, 町域名, 事業所名, データ識別, RECNO) VALUES "
        "('13101', '1000099', 'タブ\tと改行\nと\\と\r', NULL, '', 999999)");

    const publish::PublishReport report =
        Publish(database, publisherConninfo(), "yubinbox", {"reader"});
    expectPublished(database);
    // The working tables stay in the file (the change report of the import is published);
    // the report counts what was sent.
    EXPECT_EQ(serverTables("yubinbox"),
              (std::vector<std::string>{"zipall", "作成日", "変更報告", "変更明細", "市町村",
                                        "都道府県"}));
    const auto zipall = std::find_if(report.tables.begin(), report.tables.end(),
                                     [](const auto& t) { return t.name == "zipall"; });
    ASSERT_NE(zipall, report.tables.end());
    EXPECT_EQ(zipall->rows, 47 * 2 + 3 + 1);

    EXPECT_EQ(server->rows("postal",
                           "SELECT indexname, indexdef LIKE '%UNIQUE%' FROM pg_indexes WHERE "
                           "schemaname = 'yubinbox' ORDER BY 1"),
              (Rows{{"x_郵便番号", "f"}, {"xjisx0401", "t"}, {"xjisx0402", "t"}, {"xrecno", "t"}}));
    EXPECT_EQ(server->rows("postal",
                           "SELECT column_name, data_type FROM information_schema.columns WHERE "
                           "table_schema = 'yubinbox' AND table_name = '市町村' ORDER BY "
                           "ordinal_position"),
              (Rows{{"jisx0402", "text"},
                    {"市町村名", "text"},
                    {"住所かな2", "text"},
                    {"抹消flag", "integer"}}));
    // The statements written for the file run unchanged.
    EXPECT_EQ(server->rows("postal", "SELECT 郵便番号 FROM yubinbox.ZIPALL WHERE RECNO = 999999"),
              (Rows{{"1000099"}}));

    // The reader role reads and cannot write; a role not named cannot even read.
    const auto asRole = [&](const std::string& role, const std::string& sql) {
        return server->rows("postal", "SET ROLE " + role + "; " + sql);
    };
    EXPECT_EQ(asRole("reader", "SELECT count(*) FROM yubinbox.都道府県"), (Rows{{"47"}}));
    EXPECT_THROW(asRole("reader", "DELETE FROM yubinbox.zipall"), std::runtime_error);
    EXPECT_THROW(asRole("noright", "SELECT count(*) FROM yubinbox.zipall"), std::runtime_error);
    EXPECT_TRUE(schemasLike("yubinbox_").empty());
}

TEST_F(PublishFixture, APublishReplacesTheLiveSchemaAndDropsAStagingSchemaLeftBehind) {
    const std::string first = importDatabase("first", 1, 0);
    const std::string second = importDatabase("second", 3, 5);
    Publish(first, publisherConninfo(), "postal_codes");
    expectPublished(first, "postal_codes");

    // What a publish killed after its copy leaves: a staging schema of the publisher, marked.
    const std::string mark = server->rows("postal",
                                          "SELECT obj_description(oid, 'pg_namespace') FROM "
                                          "pg_namespace WHERE nspname = 'postal_codes'")[0][0];
    server->admin("postal",
                  "SET ROLE publisher; CREATE SCHEMA postal_codes_staging; "
                  "CREATE TABLE postal_codes_staging.zipall (x integer); "
                  "COMMENT ON SCHEMA postal_codes_staging IS '" +
                      mark + "'");
    Publish(second, publisherConninfo(), "postal_codes");
    expectPublished(second, "postal_codes");
    EXPECT_EQ(schemasLike("postal_codes"), (std::vector<std::string>{"postal_codes"}));
}

TEST_F(PublishFixture, AnInterruptedOrFailedImportIsNotPublished) {
    const std::string database = importDatabase("month", 1, 0);
    Sql(database, "INSERT INTO 登録中 VALUES (12)");
    EXPECT_EQ(CodeOf([&] { Publish(database, publisherConninfo()); }),
              ErrorCode::PublishUnfinishedImport);
    Sql(database, "DELETE FROM 登録中");
    Sql(database, "DROP INDEX x_郵便番号 ON ZIPALL");
    EXPECT_EQ(CodeOf([&] { Publish(database, publisherConninfo()); }),
              ErrorCode::PublishUnfinishedImport);
    EXPECT_TRUE(schemasLike("yubinbox").empty());
}

TEST_F(PublishFixture, AViewOnTheLiveTablesStopsTheSwapAndNothingChanges) {
    const std::string first = importDatabase("first", 1, 0);
    const std::string second = importDatabase("second", 2, 0);
    Publish(first, publisherConninfo());
    server->admin("postal", "CREATE VIEW public.codes AS SELECT 郵便番号 FROM yubinbox.zipall");

    EXPECT_EQ(CodeOf([&] { Publish(second, publisherConninfo()); }), ErrorCode::PublishServerFault);
    expectPublished(first);
    EXPECT_EQ(server->rows("postal", "SELECT count(*) FROM public.codes"), (Rows{{"47"}}));
    EXPECT_EQ(schemasLike("yubinbox"), (std::vector<std::string>{"yubinbox"}));
}

TEST_F(PublishFixture, MissingRightsWrongPasswordAndNoServerAreToldApart) {
    const std::string database = importDatabase("month", 1, 0);
    EXPECT_EQ(CodeOf([&] { Publish(database, server->conninfo("noright", "postal")); }),
              ErrorCode::PublishNoRights);
    EXPECT_EQ(CodeOf([&] { Publish(database, publisherConninfo() + " password=wrong"); }),
              ErrorCode::PublishLoginRefused);
    EXPECT_EQ(CodeOf([&] {
                  Publish(database, "host=" + dir.path().string() + " port=5432 dbname=postal");
              }),
              ErrorCode::PublishUnreachable);
    EXPECT_EQ(CodeOf([&] { Publish(database, "frobnicate=1"); }),
              ErrorCode::PublishConnectionString);
    EXPECT_TRUE(schemasLike("yubinbox").empty());

    // A live schema of another owner is not replaced, and nothing is copied for it.
    server->admin("postal", "CREATE SCHEMA yubinbox");
    EXPECT_EQ(CodeOf([&] { Publish(database, publisherConninfo()); }), ErrorCode::PublishNoRights);
    EXPECT_EQ(schemasLike("yubinbox"), (std::vector<std::string>{"yubinbox"}));
}

TEST_F(PublishFixture, ASchemaThatNoPublishMadeIsNeitherReplacedNorDropped) {
    const std::string database = importDatabase("month", 1, 0);
    server->admin("postal",
                  "SET ROLE publisher; CREATE SCHEMA mine; CREATE TABLE mine.keep (x integer); "
                  "CREATE SCHEMA codes_staging; CREATE TABLE codes_staging.keep (x integer)");
    EXPECT_EQ(CodeOf([&] { Publish(database, publisherConninfo(), "mine"); }),
              ErrorCode::PublishForeignSchema);
    EXPECT_EQ(CodeOf([&] { Publish(database, publisherConninfo(), "codes"); }),
              ErrorCode::PublishForeignSchema);
    EXPECT_EQ(serverTables("mine"), (std::vector<std::string>{"keep"}));
    EXPECT_EQ(serverTables("codes_staging"), (std::vector<std::string>{"keep"}));
    EXPECT_TRUE(serverTables("codes").empty());
}

}  // namespace
}  // namespace yubin::test
