// The window program as a process: started without a display, and a second start while the
// first runs.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "support/TestSupport.h"

namespace yubin {
namespace {

namespace fs = std::filesystem;

TEST(WindowsProcessTest, WithoutADisplayTheSubcommandsAreNamedAndTheExitIsTwo) {
    // putenv of a bare name removes the variable in the child.
    const test::ProcessResult result =
        test::runYubinbox({}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("画面がありません"), std::string::npos) << result.err;
    for (const char* subcommand : {"newdb", "use", "import", "settings"}) {
        EXPECT_NE(result.err.find(subcommand), std::string::npos) << subcommand;
    }
    // Under an English locale, in English.
    const test::ProcessResult english = test::runYubinbox(
        {}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANG=en_US.UTF-8"});
    EXPECT_EQ(english.exitCode, 2);
    EXPECT_NE(english.err.find("there is no display"), std::string::npos) << english.err;
    EXPECT_EQ(english.err.find("画面"), std::string::npos) << english.err;
}

// A copy of the program (the executable and its windows module) in a folder of its own: the
// marker lies beside it.
class SecondStartTest : public ::testing::Test {
  protected:
    SecondStartTest() {
        const fs::path executable = YUBIN_EXECUTABLE;
        fs::copy_file(executable, program_.path() / "yubinbox");
        fs::copy_file(executable.parent_path() / "yubinbox-windows.so",
                      program_.path() / "yubinbox-windows.so");
        fs::create_directories(home_.path() / "Documents");
    }
    fs::path marker() const { return program_.path() / "checkfile.txt"; }
    std::vector<std::string> environment() const {
        return {"HOME=" + home_.path().string(), "QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME"};
    }

    test::TempDir program_;
    test::TempDir home_;
    test::ScopedEnv executable_{"YUBIN_TEST_EXECUTABLE", (program_.path() / "yubinbox").string()};
};

TEST_F(SecondStartTest, IsRefusedWhileTheFirstRunsAndLeavesBothAlone) {
    test::YubinboxProcess first({}, environment());
    for (int wait = 0; wait < 200 && !fs::exists(marker()); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(fs::exists(marker()));
    EXPECT_EQ(fs::file_size(marker()), 0u);

    test::YubinboxProcess second({}, environment());
    EXPECT_TRUE(second.waitForLine("プログラムが二重に起動されています。"));
    // The second one waits for its box to be closed; the session's end closes it, and the
    // refused start fails. The first runs on with its marker.
    second.signal(SIGTERM);
    const std::optional<int> refused = second.waitFor(std::chrono::seconds(20));
    EXPECT_EQ(refused, std::optional<int>(3));
    if (!refused) {
        second.signal(SIGKILL);
        second.wait();
    }
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(fs::exists(marker()));
    // Ended from outside (logout, kill): the menu is closed and takes its marker along.
    first.signal(SIGTERM);
    first.wait();
    EXPECT_FALSE(fs::exists(marker()));
}

// The installed layout (program folder lib/yubinbox, documentation share/doc/yubinbox with the
// package's copyright file): the marker goes to the user's runtime folder even where the
// program folder could be written, as root can write /usr/lib/yubinbox.
TEST(InstalledProgramTest, NeverWritesItsMarkerIntoItsOwnFolder) {
    const test::TempDir root, home, runtime;
    const fs::path program = root.path() / "usr/lib/yubinbox";
    const fs::path documents = root.path() / "usr/share/doc/yubinbox";
    fs::create_directories(program);
    fs::create_directories(documents);
    const fs::path executable = YUBIN_EXECUTABLE;
    fs::copy_file(executable, program / "yubinbox");
    fs::copy_file(executable.parent_path() / "yubinbox-windows.so",
                  program / "yubinbox-windows.so");
    test::writeBytes((documents / "copyright").string(), "Format: test\n");
    fs::permissions(runtime.path(), fs::perms::owner_all);
    const test::ScopedEnv executableEnv("YUBIN_TEST_EXECUTABLE", (program / "yubinbox").string());

    test::YubinboxProcess menu({},
                               {"HOME=" + home.path().string(), "QT_QPA_PLATFORM=offscreen",
                                "XDG_RUNTIME_DIR=" + runtime.path().string(), "XDG_CONFIG_HOME"});
    const fs::path marker = runtime.path() / "checkfile.txt";
    for (int wait = 0; wait < 200 && !fs::exists(marker); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(fs::exists(marker));
    menu.signal(SIGTERM);
    menu.wait();
    EXPECT_FALSE(fs::exists(marker));
    // Nothing but what was installed is in the program folder.
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(program)) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"yubinbox", "yubinbox-windows.so"}));
}

}  // namespace
}  // namespace yubin
