// The command line when paths, data files or the settings file are not what they should be:
// every refusal comes before anything is moved, created or written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

class CliDataSafetyTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::vector<std::string> env() const {
        return {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + dir.file(".config")};
    }
    ProcessResult yubinbox(const std::vector<std::string>& args) {
        return runYubinbox(args, env());
    }
    std::string db() const { return dir.file("yubinbox.mdb"); }
    std::string ini() const { return dir.file("Documents/yubinbox.ini"); }
    std::string count(const std::string& table) {
        return yubinbox({"sql", db(), "SELECT COUNT(*) AS N FROM " + table}).out;
    }
};

std::vector<std::string> NationalLines(int perPrefecture) {
    std::vector<std::string> lines;
    for (int p = 1; p <= 47; ++p) {
        char code[6];
        std::snprintf(code, sizeof code, "%02d101", p);
        for (int z = 0; z < perPrefecture; ++z) {
            lines.push_back(std::string(code) + ",\"100  \",\"" +
                            std::to_string(1000000 + p * 10000 + z) +
                            "\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ﾏﾁ\",\"都\",\"千代田区\",\"町" +
                            std::to_string(z) + "\",0,0,0,0,0,0");
        }
    }
    return lines;
}

TEST_F(CliDataSafetyTest, PathsTheSettingsFileCannotGiveBackAreRefusedBeforeAnythingHappens) {
    // newdb: a folder whose database path is longer than the 255 bytes a value keeps.
    fs::path deep = dir.path();
    while (deep.string().size() < 260) deep /= std::string(40, 'f');
    fs::create_directories(deep);
    test::writeBytes((deep / "yubinbox.mdb").string(), "the old database");
    ProcessResult newdb = yubinbox({"newdb", deep.string()});
    EXPECT_EQ(newdb.exitCode, 1);
    EXPECT_NE(newdb.err.find("255 バイト"), std::string::npos) << newdb.err;
    EXPECT_EQ(readBytes((deep / "yubinbox.mdb").string()), "the old database");  // not moved
    EXPECT_EQ(std::distance(fs::directory_iterator(deep), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(ini()));

    // use: a database whose name ends in a blank.
    const std::string blank = dir.file("yubinbox.mdb ");
    ASSERT_EQ(yubinbox({"createdb", blank}).exitCode, 0);
    ProcessResult use = yubinbox({"use", blank});
    EXPECT_EQ(use.exitCode, 1);
    EXPECT_NE(use.err.find("空白"), std::string::npos) << use.err;
    EXPECT_FALSE(fs::exists(ini()));
    EXPECT_FALSE(fs::exists(dir.file("yubinbox.ldb ")));

    // import: a data file whose path holds a line break; the run does not start.
    ASSERT_EQ(yubinbox({"newdb", dir.path().string()}).exitCode, 0);
    fs::create_directory(dir.file("a\nb"));
    writeCp932Lines(dir.file("a\nb/ken_all.csv"), NationalLines(1));
    const std::string indexes = "SELECT name FROM sqlite_master WHERE type = 'index'";
    const std::string before = yubinbox({"sql", db(), indexes}).out;
    ProcessResult run = yubinbox({"import", "--ken-all", dir.file("a\nb/ken_all.csv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("改行"), std::string::npos) << run.err;
    EXPECT_EQ(count("ZIPALL"), "N\n0\n");
    EXPECT_EQ(yubinbox({"sql", db(), indexes}).out, before);  // index and key not dropped
}

TEST_F(CliDataSafetyTest, SettingsFileThatIsNoRegularFileIsRefusedByWritersAndMissingToReaders) {
    fs::create_directories(dir.file("Documents"));
    ASSERT_EQ(::mkfifo(ini().c_str(), 0600), 0);
    ProcessResult settings = yubinbox({"settings"});
    EXPECT_EQ(settings.exitCode, 0);
    EXPECT_NE(settings.out.find("path=\n"), std::string::npos) << settings.out;

    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ProcessResult use = yubinbox({"use", db()});
    EXPECT_EQ(use.exitCode, 1);
    EXPECT_NE(use.err.find("通常のファイルではありません"), std::string::npos) << use.err;

    // newdb moves nothing aside when it could not write the settings afterwards.
    ProcessResult newdb = yubinbox({"newdb", dir.path().string()});
    EXPECT_EQ(newdb.exitCode, 1);
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        files += e.path().filename().string().rfind("yubinbox_", 0) == 0;
    }
    EXPECT_EQ(files, 0);
}

}  // namespace
}  // namespace yubin::test
