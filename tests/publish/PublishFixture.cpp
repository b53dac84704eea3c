#include "publish/PublishFixture.h"

#include <algorithm>

#include "base/Text.h"
#include "publish/TablePlan.h"
#include "store/TableScan.h"
#include "store/mdlYubinBox.h"

namespace yubin::test {

namespace {

std::string KenLine(const std::string& code, const std::string& zip, const std::string& town) {
    return code + ",\"100  \",\"" + zip + "\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ﾏﾁ\",\"都" +
           code.substr(0, 2) + "\",\"千代田区\",\"" + town + "\",0,0,0,0,0,0";
}

}  // namespace

void PublishFixture::SetUp() {
    if (!PrivatePostgres::available()) GTEST_SKIP() << "PostgreSQL's server is not installed";
    server = std::make_unique<PrivatePostgres>();
    server->createDatabase("postal");
    passwordFile = std::make_unique<ScopedEnv>("PGPASSFILE", server->passwordFile());
}

std::vector<std::string> PublishFixture::env(const std::string& passwordFile) const {
    return {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + dir.file(".config"),
            "PGPASSFILE=" + (passwordFile.empty() ? server->passwordFile() : passwordFile)};
}

std::string PublishFixture::importDatabase(const std::string& name, int kenGroupsPerPrefecture,
                                           int offices) {
    std::vector<std::string> ken;
    for (int p = 1; p <= 47; ++p) {
        char code[6];
        std::snprintf(code, sizeof code, "%02d101", p);
        for (int z = 0; z < kenGroupsPerPrefecture; ++z) {
            ken.push_back(KenLine(code, std::to_string(1000000 + p * 10000 + z),
                                  "町\\" + std::to_string(z) + "（丁目）"));
        }
    }
    std::vector<std::string> office;
    for (int i = 0; i < offices; ++i) {
        office.push_back("13101,\"ｼﾔ\",\"社" + std::to_string(i) +
                         "\",\"東京都\",\"千代田区\",\"町\",\"１\",\"" +
                         std::to_string(9000000 + i) + "\",\"100  \",\"局\",0,0,0");
    }
    const std::string kenFile = dir.file(name + "-ken.csv");
    const std::string officeFile = dir.file(name + "-office.csv");
    writeCp932Lines(kenFile, ken);
    writeCp932Lines(officeFile, office);
    const std::string database = dir.file(name + ".mdb");
    ProcessResult made = runYubinbox({"createdb", database}, env());
    EXPECT_EQ(made.exitCode, 0) << made.err;
    std::vector<std::string> args = {"import", "--db", database, "--ken-all", kenFile, "--yes"};
    if (offices > 0) args.insert(args.end(), {"--jigyosyo", officeFile});
    ProcessResult imported = runYubinbox(args, env());
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    return database;
}

Rows PublishFixture::fileRows(const std::string& database, const std::string& table) {
    db::Connection file;
    file.open(mdlYubinBox::ConnectionString(database));
    std::vector<std::string> columns = file.columnNames(table);
    db::TableScan scan(file, table, columns);
    Rows rows;
    while (scan.next()) {
        std::vector<std::string> row;
        for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
            row.push_back(scan.isNull(i) ? "\\N" : std::string(scan.text(i)));
        }
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

Rows PublishFixture::serverRows(const std::string& schema, const std::string& table) const {
    Rows rows = server->rows(
        "postal", "SELECT * FROM \"" + schema + "\".\"" + publish::serverName(table) + "\"");
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<std::string> PublishFixture::serverTables(const std::string& schema) const {
    std::vector<std::string> names;
    for (const auto& row : server->rows("postal",
                                        "SELECT tablename FROM pg_tables WHERE "
                                        "schemaname = '" +
                                            schema + "' ORDER BY 1")) {
        names.push_back(row[0]);
    }
    return names;
}

std::vector<std::string> PublishFixture::schemasLike(const std::string& prefix) const {
    std::vector<std::string> names;
    for (const auto& row :
         server->rows("postal", "SELECT nspname FROM pg_namespace WHERE starts_with(nspname, '" +
                                    prefix + "') ORDER BY 1")) {
        names.push_back(row[0]);
    }
    return names;
}

void PublishFixture::expectPublished(const std::string& database, const std::string& schema) {
    db::Connection file;
    file.open(mdlYubinBox::ConnectionString(database));
    std::vector<std::string> expected;
    for (const publish::TablePlan& plan : publish::planTables(file)) {
        expected.push_back(plan.serverName);
    }
    file.close();
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(serverTables(schema), expected);
    for (const std::string& table : expected) {
        // The file's names match without regard to ASCII case.
        const Rows want = fileRows(database, table);
        EXPECT_EQ(serverRows(schema, table), want) << table;
    }
}

}  // namespace yubin::test
