// The settings file when it is not what it should be, and values that it could not give back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "settings/Profile.h"
#include "settings/mdFileCreate.h"
#include "base/Error.h"
#include "support/ErrorOf.h"
#include "support/TestSupport.h"

namespace yubin {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::TempDir;
using test::writeBytes;

using test::ErrorOf;

bool HoldsJapanese(const std::string& text) {
    return text.find("\xE3") != std::string::npos;  // a kana or CJK punctuation byte
}

TEST(SettingsValues, ValueThatWouldNotReadBackIsRefusedAndNothingIsWritten) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    profile::WritePrivateProfileString("yubinbox", "path", "/db/yubinbox.mdb", file);
    const std::string before = readBytes(file);

    const std::string longest = "/" + std::string(254, 'x');  // 255 bytes read back whole
    for (const std::string& bad :
         {longest + "y", std::string(" /db/yubinbox.mdb"), std::string("/db/yubinbox.mdb "),
          std::string("/db/a\nb"), std::string("/db/a\0b", 7)}) {
        const YubinError e =
            ErrorOf([&] { profile::WritePrivateProfileString("yubinbox", "path", bad, file); });
        EXPECT_EQ(e.code(), ErrorCode::BadSettingsValue) << bad;
        EXPECT_TRUE(HoldsJapanese(e.description())) << e.description();
        EXPECT_NE(e.description().find("path"), std::string::npos) << e.description();
    }
    EXPECT_EQ(readBytes(file), before);

    // What reads back exactly is stored: 255 bytes, TABs at both ends (the empty author).
    profile::WritePrivateProfileString("yubinbox", "path", longest, file);
    EXPECT_EQ(profile::GetPrivateProfileString("yubinbox", "path", "", file), longest);
    profile::WritePrivateProfileString("yubinbox", "author", "\t0", file);
    EXPECT_EQ(profile::GetPrivateProfileString("yubinbox", "author", "", file), "\t0");
}

// A home folder of its own and the executable named yubinbox.
class SettingsFileKindTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* old = std::getenv("HOME")) oldHome_ = old;
        ::setenv("HOME", home.path().string().c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        mdFileCreate::SetExecutableBaseNameForTesting("yubinbox");
        fs::create_directories(home.path() / "Documents");
        mdFileCreate::SetIniFilePath();
    }
    void TearDown() override {
        mdFileCreate::SetExecutableBaseNameForTesting(std::nullopt);
        mdFileCreate::strIniFile.clear();
        ::setenv("HOME", oldHome_.c_str(), 1);
    }
    const std::string& ini() const { return mdFileCreate::strIniFile; }
    // Every entry of the documents folder (a refused write leaves no temporary file).
    std::vector<std::string> documents() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(home.path() / "Documents")) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

    TempDir home;

  private:
    std::string oldHome_;
};

TEST_F(SettingsFileKindTest, AnythingButARegularFileOfSaneSizeReadsAsMissingAndIsNotWritten) {
    struct Kind {
        const char* name;
        std::function<void(const std::string&)> make;
    };
    const Kind kinds[] = {
        {"link to /dev/zero", [](const std::string& p) { fs::create_symlink("/dev/zero", p); }},
        {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"folder", [](const std::string& p) { fs::create_directory(p); }},
        {"huge file",
         [](const std::string& p) {
             writeBytes(p, "[yubinbox]\r\npath=/db/yubinbox.mdb\r\n" + std::string(4 << 20, ';'));
         }},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        fs::remove_all(ini());
        kind.make(ini());
        const auto before = documents();
        // Readers never fail and never hang: every key reads as missing.
        EXPECT_EQ(mdFileCreate::ReadKey("path"), "");
        EXPECT_EQ(profile::GetPrivateProfileString("yubinbox", "path", "dflt", ini()), "dflt");

        // Writers refuse with a message that says what the file is.
        for (const auto& write : std::vector<std::function<void()>>{
                 [] { mdFileCreate::IniFileCreate("/db/yubinbox.mdb", "taro"); },
                 [] { mdFileCreate::StoreImportPath("csvzpath", "/data/ken_all.csv"); }}) {
            const YubinError e = ErrorOf(write);
            EXPECT_EQ(e.code(), ErrorCode::PathFileAccess) << e.description();
            EXPECT_NE(e.description().find(ini()), std::string::npos) << e.description();
            EXPECT_TRUE(HoldsJapanese(e.description())) << e.description();
        }
        EXPECT_EQ(documents(), before);
    }
    EXPECT_TRUE(fs::exists("/dev/zero"));
}

TEST_F(SettingsFileKindTest, IniFileCreateRefusesAPathItCouldNotGiveBackBeforeWriting) {
    const std::string tooLong = "/" + std::string(300, 'd') + "/yubinbox.mdb";
    const YubinError e = ErrorOf([&] { mdFileCreate::IniFileCreate(tooLong, "taro"); });
    EXPECT_EQ(e.code(), ErrorCode::BadSettingsValue);
    EXPECT_TRUE(HoldsJapanese(e.description())) << e.description();
    EXPECT_FALSE(fs::exists(ini()));
    EXPECT_THROW(mdFileCreate::CheckIniFileValues("/db/yubinbox.mdb ", "taro"), YubinError);
    EXPECT_THROW(mdFileCreate::CheckIniFileValues("/db/yubinbox.mdb", "taro\r"), YubinError);
    EXPECT_NO_THROW(mdFileCreate::CheckIniFileValues("/db/yubinbox.mdb", ""));
}

TEST_F(SettingsFileKindTest, MessagesOfTheSettingsLayerAreJapanese) {
    mdFileCreate::strIniFile.clear();
    EXPECT_TRUE(HoldsJapanese(
        ErrorOf([] { mdFileCreate::StoreImportPath("csvzpath", "/a.csv"); }).description()));
    EXPECT_TRUE(HoldsJapanese(ErrorOf([] {
                                  profile::WritePrivateProfileString("", "k", "v", "/tmp/x.ini");
                              }).description()));
    EXPECT_TRUE(HoldsJapanese(ErrorOf([] {
                                  profile::WritePrivateProfileString("s", "k", "v",
                                                                     "/nonexistent/x.ini");
                              }).description()));
}

}  // namespace
}  // namespace yubin
