// The module's operations on the postal database file.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>

#include "StoreTestHelpers.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;
using db::Connection;
using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;
using namespace yubin::mdlYubinBox;

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

long long zipRows(const std::string& path) {
    Connection cn;
    cn.open(ConnectionString(path));
    Recordset rs;
    rs.open("SELECT COUNT(*) As N FROM ZIPALL", cn, CursorType::ForwardOnly, LockType::ReadOnly);
    return rs.field("N").value().toNumber();
}

void addZipRows(const std::string& path, int rows) {
    Connection cn;
    cn.open(ConnectionString(path));
    for (int i = 1; i <= rows; ++i) {
        cn.execute("INSERT INTO ZIPALL (町域名, RECNO) VALUES('" + std::string(100, 'z') + "', " +
                   std::to_string(i) + ")");
    }
}

class MdlYubinBoxTest : public ::testing::Test {
  protected:
    void TearDown() override { CloseMdb(); }
    TempDir dir;
};

TEST(ConnectionStringOfTheModule, IsThePrefixThePathAndAnEmptyPassword) {
    EXPECT_STREQ(kConnectionPrefix, "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=");
    EXPECT_EQ(ConnectionString("/db/yubinbox.mdb"),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/db/yubinbox.mdb;Jet OLEDB:Database "
              "Password=;");
}

TEST(InsertBeforeMdbExtensionTest, OnlyTheFileNamesOwnExtensionIsMatched) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/db/yubinbox.mdb", "/db/yubinboxJRO.mdb"},
        {"/db/YUBINBOX.MDB", "/db/YUBINBOXJRO.MDB"},
        {"/x.mdb/yubinbox.MDB", "/x.mdb/yubinboxJRO.MDB"},
        {"/x.mdb/y.mdb.mdb", "/x.mdb/y.mdbJRO.mdb"},
        {"/x.mdb/yubinbox", "/x.mdb/yubinboxJRO"},
        {"/x.mdb/", "/x.mdb/JRO"},
        {"yubinbox.Mdb", "yubinboxJRO.Mdb"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(InsertBeforeMdbExtension(path, "JRO"), expected) << path;
    }
}

TEST_F(MdlYubinBoxTest, CreateMdbReplacesAnOldDatabaseAndLeavesNoConnection) {
    strMdbFile = dir.file("yubinbox.mdb");
    CreateMdb();
    addZipRows(strMdbFile, 3);
    CreateMdb();
    EXPECT_EQ(cnMdb, nullptr);
    EXPECT_EQ(zipRows(strMdbFile), 0);
    EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"yubinbox.mdb"});
}

TEST_F(MdlYubinBoxTest, CreateMdbFailsAndKeepsTheOldFileWhileItIsInUse) {
    strMdbFile = dir.file("yubinbox.mdb");
    CreateMdb();
    addZipRows(strMdbFile, 2);
    {
        Connection holder;
        holder.open(ConnectionString(strMdbFile));
        EXPECT_EQ(errorNumber([] { CreateMdb(); }), errorOf(ErrorCode::DatabaseExists));
    }
    EXPECT_EQ(zipRows(strMdbFile), 2);
}

TEST_F(MdlYubinBoxTest, OpenMdbReportsFailureOnlyThroughItsResult) {
    EXPECT_FALSE(OpenMdb(dir.file("missing.mdb")));
    ASSERT_NE(cnMdb, nullptr);
    EXPECT_FALSE(cnMdb->isOpen());
    // The first statement names the cause.
    EXPECT_EQ(errorNumber([] { cnMdb->execute("UPDATE DUMMY SET DKEY = '1'"); }),
              errorOf(ErrorCode::DatabaseNotFound));

    strMdbFile = dir.file("yubinbox.mdb");
    CreateMdb();
    ASSERT_TRUE(OpenMdb(strMdbFile));
    EXPECT_EQ(strSQL, kConnectionPrefix);
    EXPECT_TRUE(cnMdb->isOpen());
    CloseMdb();
    EXPECT_EQ(cnMdb, nullptr);
}

TEST_F(MdlYubinBoxTest, GetFileDateGivesTheLocalDateOfTheLastChange) {
    // West of Greenwich, where 23:30 local is already the next day in UTC.
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz != nullptr ? oldTz : "";
    setenv("TZ", "XST5", 1);
    tzset();
    const std::string file = dir.file("ken_all.csv");
    writeBytes(file, "x");
    std::tm local{};
    local.tm_year = 2007 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 5;
    local.tm_hour = 23;
    local.tm_min = 30;
    local.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const std::string stamp = GetFileDate(file);
    if (oldTz != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_EQ(stamp, "20070305");
    EXPECT_EQ(errorNumber([&] { GetFileDate(dir.file("missing.csv")); }),
              errorOf(ErrorCode::FileNotFound));
}

TEST_F(MdlYubinBoxTest, CompactMdbLeavesOnlyTheCompactedFile) {
    strMdbFile = dir.file("yubinbox.mdb");
    CreateMdb();
    addZipRows(strMdbFile, 300);
    {
        Connection cn;
        cn.open(ConnectionString(strMdbFile));
        cn.execute("DELETE FROM ZIPALL WHERE RECNO <> 1");
    }
    const auto before = fs::file_size(strMdbFile);
    CompactMdb(strMdbFile);
    EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"yubinbox.mdb"});
    EXPECT_LT(fs::file_size(strMdbFile), before);
    EXPECT_EQ(zipRows(strMdbFile), 1);
}

TEST_F(MdlYubinBoxTest, CompactMdbFailsAndChangesNothingWhenTheTemporaryFileExists) {
    strMdbFile = dir.file("yubinbox.mdb");
    CreateMdb();
    addZipRows(strMdbFile, 5);
    writeBytes(dir.file("yubinboxJRO.mdb"), "left over");
    const std::string original = readBytes(strMdbFile);
    EXPECT_EQ(errorNumber([] { CompactMdb(strMdbFile); }), errorOf(ErrorCode::FileAlreadyExists));
    EXPECT_EQ(readBytes(strMdbFile), original);
    EXPECT_EQ(readBytes(dir.file("yubinboxJRO.mdb")), "left over");
}

TEST_F(MdlYubinBoxTest, CompactMdbWorksInAFolderNamedMdbAndOnCapitalNames) {
    fs::create_directory(dir.path() / "x.mdb");
    for (const std::string& path :
         {dir.file("x.mdb/yubinbox.mdb"), dir.file("x.mdb/YUBINBOX.MDB")}) {
        strMdbFile = path;
        CreateMdb();
        addZipRows(path, 4);
        CompactMdb(path);
        EXPECT_EQ(zipRows(path), 4) << path;
    }
    EXPECT_EQ(filesIn(dir.path() / "x.mdb"),
              (std::set<std::string>{"yubinbox.mdb", "YUBINBOX.MDB"}));
    EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"x.mdb"});
}

TEST_F(MdlYubinBoxTest, CompactMdbNeedsTheConnectionClosed) {
    strMdbFile = dir.file("yubinbox.mdb");
    CreateMdb();
    ASSERT_TRUE(OpenMdb(strMdbFile));
    EXPECT_EQ(errorNumber([] { CompactMdb(strMdbFile); }), errorOf(ErrorCode::FileInUse));
    CloseMdb();
    CompactMdb(strMdbFile);
    EXPECT_EQ(filesIn(dir.path()), std::set<std::string>{"yubinbox.mdb"});
}

}  // namespace
}  // namespace yubin::test
