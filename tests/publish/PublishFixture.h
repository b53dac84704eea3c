// What the publishing tests share: a private PostgreSQL server with the database `postal`,
// database files made by the real import from small data files, and both sides read back as
// sorted rows of text ("\N" for Null) for comparison table by table.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/PrivatePostgres.h"
#include "support/TestSupport.h"

namespace yubin::test {

using Rows = std::vector<std::vector<std::string>>;

class PublishFixture : public ::testing::Test {
  protected:
    void SetUp() override;

    // The environment of the real executable: its own home, the server's password file.
    std::vector<std::string> env(const std::string& passwordFile = "") const;
    // A database file imported by the real executable from `kenGroupsPerPrefecture` national
    // groups for each of the 47 prefectures and `offices` business-office lines.
    std::string importDatabase(const std::string& name, int kenGroupsPerPrefecture, int offices);
    std::string publisherConninfo() const { return server->conninfo("publisher", "postal"); }

    // The rows of a table of the file / of the server, sorted.
    static Rows fileRows(const std::string& database, const std::string& table);
    Rows serverRows(const std::string& schema, const std::string& table) const;
    // The server's table names in the schema, sorted; empty when the schema does not exist.
    std::vector<std::string> serverTables(const std::string& schema) const;
    // The schemas whose names begin with `prefix`.
    std::vector<std::string> schemasLike(const std::string& prefix) const;
    // Every published table of the file equals its server table in `schema`.
    void expectPublished(const std::string& database, const std::string& schema = "yubinbox");

    std::unique_ptr<PrivatePostgres> server;
    std::unique_ptr<ScopedEnv> passwordFile;  // for the publishes inside the test process
    TempDir dir;
};

}  // namespace yubin::test
