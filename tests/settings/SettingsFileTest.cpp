#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "settings/Profile.h"
#include "settings/mdFileCreate.h"
#include "settings/mdGETUNC.h"
#include "base/Error.h"
#include "support/TestSupport.h"

namespace yubin::mdFileCreate {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::ScopedEnv;
using test::TempDir;
using test::writeBytes;

// A home folder of its own, no XDG configuration, and the executable named yubinbox.
class SettingsFileTest : public ::testing::Test {
  protected:
    SettingsFileTest()
        : home_("HOME", home.path().string()), config_("XDG_CONFIG_HOME", std::nullopt) {
        SetExecutableBaseNameForTesting("yubinbox");
        strIniFile.clear();
    }
    ~SettingsFileTest() override {
        SetExecutableBaseNameForTesting(std::nullopt);
        strIniFile.clear();
    }
    std::string documents() const { return (home.path() / "Documents").string(); }
    std::string iniFile() const { return documents() + "/yubinbox.ini"; }

    TempDir home;

  private:
    ScopedEnv home_;
    ScopedEnv config_;
};

const std::string kCommentBlock =
    "'yubinbox.mdb ファイルのファイルパス指定\r\n"
    "'ファイルサーバーに置いたときは、修正してください。\r\n"
    "'(例1)\r\n"
    "'path=/home/ユーザー名/Documents/yubinbox.mdb\r\n"
    "'(例2)\r\n"
    "'path=/mnt/サーバ名/共有フォルダ名/yubinbox.mdb\r\n"
    "'\r\n";

TEST_F(SettingsFileTest, FirstCreateWritesCommentBlockThenPathAndAuthor) {
    IniFileCreate("/srv/db/yubinbox.mdb", "taro");
    EXPECT_EQ(readBytes(iniFile()), kCommentBlock +
                                        "[yubinbox]\r\n"
                                        "path=/srv/db/yubinbox.mdb\r\n"
                                        "author=taro\t0\r\n");
    SetIniFilePath();
    EXPECT_EQ(strIniFile, iniFile());
    EXPECT_EQ(ReadKey("path"), "/srv/db/yubinbox.mdb");
    EXPECT_EQ(ReadKey("author"), "taro\t0");
}

TEST_F(SettingsFileTest, SecondCreateReplacesPathAndAuthorInPlaceAndKeepsImportPaths) {
    IniFileCreate("/old/yubinbox.mdb", "taro");
    SetIniFilePath();
    StoreImportPath("csvzpath", "/data/ken_all.csv");
    StoreImportPath("csvjpath", "/data/jigyosyo.csv");
    IniFileCreate("//server/share/yubinbox.mdb", "");
    EXPECT_EQ(readBytes(iniFile()), kCommentBlock +
                                        "[yubinbox]\r\n"
                                        "path=//server/share/yubinbox.mdb\r\n"
                                        "author=\t0\r\n"
                                        "csvzpath=/data/ken_all.csv\r\n"
                                        "csvjpath=/data/jigyosyo.csv\r\n");
    // The file chooser's empty author never equals a user's name + TAB + "0".
    EXPECT_EQ(ReadKey("author"), "\t0");
    EXPECT_NE(ReadKey("author"), GetLoginUserName() + "\t0");
    EXPECT_EQ(ReadKey("csvzpath"), "/data/ken_all.csv");
}

TEST_F(SettingsFileTest, ExistingFileWithoutTheSectionGetsItAtItsEnd) {
    fs::create_directories(documents());
    writeBytes(iniFile(), "; written by hand\r\n[other]\r\nk=v\r\n");
    IniFileCreate("\\\\srv\\share\\yubinbox.mdb", "taro");
    EXPECT_EQ(readBytes(iniFile()),
              "; written by hand\r\n[other]\r\nk=v\r\n"
              "[yubinbox]\r\npath=\\\\srv\\share\\yubinbox.mdb\r\nauthor=taro\t0\r\n");
}

TEST_F(SettingsFileTest, FileIsNamedAfterTheExecutable) {
    SetExecutableBaseNameForTesting("other");
    IniFileCreate("/db/yubinbox.mdb", "taro");
    EXPECT_TRUE(fs::exists(documents() + "/other.ini"));
    EXPECT_FALSE(fs::exists(iniFile()));

    // Without the override the name comes from this test program's executable.
    SetExecutableBaseNameForTesting(std::nullopt);
    EXPECT_EQ(ExecutableBaseName(), "yubin_settings_tests");
}

TEST_F(SettingsFileTest, LineBreakInAValueWritesNothingAtAll) {
    EXPECT_THROW(IniFileCreate("/db/yubinbox.mdb\r\nauthor=mallory", "taro"), YubinError);
    EXPECT_FALSE(fs::exists(iniFile()));

    IniFileCreate("/db/yubinbox.mdb", "taro");
    const std::string before = readBytes(iniFile());
    try {
        IniFileCreate("/db/yubinbox.mdb", "mallory\nauthor=x");
        FAIL() << "not refused";
    } catch (const YubinError& e) {
        EXPECT_EQ(e.code(), ErrorCode::BadSettingsValue);
    }
    EXPECT_EQ(readBytes(iniFile()), before);

    SetIniFilePath();
    EXPECT_THROW(StoreImportPath("csvzpath", "/a\n/b"), YubinError);
    EXPECT_EQ(readBytes(iniFile()), before);
}

TEST_F(SettingsFileTest, MissingFileReadsAsEmpty) {
    SetIniFilePath();
    EXPECT_FALSE(fs::exists(strIniFile));
    for (const char* key : {"path", "author", "csvzpath", "csvjpath"}) EXPECT_EQ(ReadKey(key), "");
}

TEST_F(SettingsFileTest, StoringWithoutASettingsPathIsAnError) {
    try {
        StoreImportPath("csvzpath", "/data/ken_all.csv");
        FAIL() << "no error";
    } catch (const YubinError& e) {
        EXPECT_EQ(e.code(), ErrorCode::PathFileAccess);
    }
}

TEST_F(SettingsFileTest, DocumentsFolderDefaultsToHomeDocumentsAndIsMade) {
    EXPECT_FALSE(fs::exists(documents()));
    EXPECT_EQ(mdGETUNC::GetMyDocumentsPath(), documents());
    EXPECT_TRUE(fs::is_directory(documents()));
}

TEST_F(SettingsFileTest, DocumentsFolderFollowsXdgUserDirs) {
    fs::create_directories(home.path() / ".config");
    writeBytes((home.path() / ".config/user-dirs.dirs").string(),
               "# comment\n"
               "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
               "XDG_DOCUMENTS_DIR=\"$HOME/\xE6\x96\x87\xE6\x9B\xB8/\"\n");
    const std::string expected = home.path().string() + "/\xE6\x96\x87\xE6\x9B\xB8";
    EXPECT_EQ(mdGETUNC::GetMyDocumentsPath(), expected);
    EXPECT_TRUE(fs::is_directory(expected));

    // XDG_CONFIG_HOME wins over ~/.config; an absolute value stands as it is.
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string());
    const std::string absolute = (home.path() / "My Docs").string();
    writeBytes(config.file("user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"" + absolute + "\"\n");
    EXPECT_EQ(mdGETUNC::GetMyDocumentsPath(), absolute);

    // A relative value is no documents folder.
    writeBytes(config.file("user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"Docs\"\n");
    EXPECT_EQ(mdGETUNC::GetMyDocumentsPath(), documents());
}

TEST_F(SettingsFileTest, UnusableDocumentsFolderRaises) {
    writeBytes(documents(), "a file, not a folder");
    EXPECT_THROW(mdGETUNC::GetMyDocumentsPath(), YubinError);
    EXPECT_THROW(IniFileCreate("/db/yubinbox.mdb", "taro"), YubinError);
}

}  // namespace
}  // namespace yubin::mdFileCreate
