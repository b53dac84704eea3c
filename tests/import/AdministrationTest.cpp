#include "import/Administration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "import/ImportTestSupport.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

class AdministrationTest : public ::testing::Test {
  protected:
    TempDir home;
    void SetUp() override {
        setenv("HOME", home.path().c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        mdFileCreate::SetExecutableBaseNameForTesting("yubinbox");
        mdFileCreate::SetIniFilePath();
    }
    void TearDown() override {
        mdlYubinBox::CloseMdb();
        mdFileCreate::SetExecutableBaseNameForTesting(std::nullopt);
    }
};

TEST_F(AdministrationTest, NewDatabaseKeepsTheOldOneUnderItsDatedNameEvenInAFolderNamedMdb) {
    const fs::path folder = home.path() / "data.mdb";
    fs::create_directory(folder);
    const std::string database = administration::MakeNewDatabase(folder.string());
    EXPECT_EQ(database, (folder / "yubinbox.mdb").string());
    EXPECT_EQ(mdFileCreate::ReadKey("path"), database);
    EXPECT_EQ(mdFileCreate::ReadKey("author"), mdFileCreate::GetLoginUserName() + "\t0");

    // The old database gets the stamp of its own date; a backup of that name is never
    // deleted: the next free name is taken.
    mdlYubinBox::OpenMdb(database);
    mdlYubinBox::cnMdb->execute("INSERT INTO 登録中 VALUES(7)");
    mdlYubinBox::CloseMdb();
    const std::string stamp = mdlYubinBox::GetFileDate(database);
    const std::string backup = (folder / ("yubinbox_" + stamp + ".mdb")).string();
    writeBytes(backup, "an older backup");
    administration::MakeNewDatabase(folder.string());

    const std::string second = (folder / ("yubinbox_" + stamp + "_2.mdb")).string();
    EXPECT_EQ(readBytes(backup), "an older backup");
    EXPECT_EQ(Rows(second, "SELECT * FROM 登録中"), (std::vector<std::vector<std::string>>{{"7"}}));
    EXPECT_TRUE(Rows(database, "SELECT * FROM 登録中").empty());
    const std::string thirdStamp = mdlYubinBox::GetFileDate(database);
    administration::MakeNewDatabase(folder.string());
    EXPECT_TRUE(fs::exists(folder /
                           ("yubinbox_" + thirdStamp + (thirdStamp == stamp ? "_3.mdb" : ".mdb"))));
    EXPECT_EQ(Rows(second, "SELECT * FROM 登録中"), (std::vector<std::vector<std::string>>{{"7"}}));
    EXPECT_EQ(administration::BackupPath("/a/x.mdb/YUBINBOX.MDB", "20240315"),
              "/a/x.mdb/YUBINBOX_20240315.MDB");
}

TEST_F(AdministrationTest, DatabaseInUseIsNotMovedAside) {
    const std::string database = administration::MakeNewDatabase(home.path().string());
    ASSERT_TRUE(mdlYubinBox::OpenMdb(database));
    mdlYubinBox::cnMdb->execute("INSERT INTO 登録中 VALUES(3)");
    try {
        administration::MakeNewDatabase(home.path().string());
        ADD_FAILURE() << "moved while in use";
    } catch (const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::FileInUse) << error.description();
    }
    mdlYubinBox::CloseMdb();
    EXPECT_EQ(Rows(database, "SELECT * FROM 登録中"),
              (std::vector<std::vector<std::string>>{{"3"}}));
    for (const auto& entry : fs::directory_iterator(home.path())) {
        EXPECT_EQ(entry.path().filename().string().rfind("yubinbox_", 0), std::string::npos)
            << entry.path();
    }
}

TEST_F(AdministrationTest, ImportFromSettingsFollowsTheMenuRules) {
    // No settings file.
    EXPECT_THROW(administration::PrepareImportFromSettings(), YubinError);

    // A settings file of an ordinary user (empty author) is refused.
    const std::string database = home.file("yubinbox.mdb");
    mdFileCreate::IniFileCreate(database, "");
    try {
        administration::PrepareImportFromSettings();
        FAIL();
    } catch (const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::PermissionDenied);
        EXPECT_EQ(error.description(), administration::kNoImportPermission);
    }

    // The author's settings: a missing database is created, then it is writable.
    mdFileCreate::IniFileCreate(database, mdFileCreate::GetLoginUserName());
    administration::PrepareImportFromSettings();
    EXPECT_EQ(mdlYubinBox::strMdbFile, database);
    EXPECT_EQ(Rows(database, "SELECT * FROM DUMMY"),
              (std::vector<std::vector<std::string>>{{"1"}}));

    // A file that is no database of ours cannot be opened.
    writeBytes(database, "not a database");
    EXPECT_THROW(administration::PrepareImportFromSettings(), YubinError);
}

}  // namespace
}  // namespace yubin::test
