// Start-up and the single-instance marker.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>

#include "support/TestSupport.h"
#include "windows/ErrorGuard.h"
#include "windows/MessageBox.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"
#include "windows/frmMENU.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OverrideProgramName(QStringLiteral("yubinbox"));
        OverrideProgramFolder(QString::fromStdString(folder_.path().string()));
    }
    void TearDown() override {
        WindowBase::DeleteLoadedWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        OverrideProgramFolder(QString());
        OverrideProgramName(QString());
    }
    fs::path marker() const { return folder_.path() / "checkfile.txt"; }

    test::TempDir folder_;
    test::TempDir home_;  // no settings file
    test::ScopedEnv homeEnv_{"HOME", home_.path().string()};
    test::ScopedEnv configEnv_{"XDG_CONFIG_HOME", std::nullopt};
    MessageBoxResponder boxes_;
    ScopedEndProgramHook end_;
};

TEST_F(StartupTest, MarkerLiesInTheProgramFolderWithTheSeparatorAlwaysAdded) {
    const QString folder = QString::fromStdString(folder_.path().string());
    EXPECT_EQ(CheckFilePath(), folder + QStringLiteral("/checkfile.txt"));
    OverrideProgramFolder(folder + QStringLiteral("/"));
    EXPECT_EQ(CheckFilePath(), folder + QStringLiteral("//checkfile.txt"));
}

TEST_F(StartupTest, AProgramFolderThisUserCannotWriteKeepsTheMarkerInTheRuntimeFolder) {
    // An installed program's folder belongs to root; a missing one cannot be written either,
    // also by root.
    OverrideProgramFolder(QString::fromStdString((folder_.path() / "missing").string()));
    test::TempDir runtime;
    test::ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", runtime.path().string());
    EXPECT_EQ(CheckFilePath().toStdString(), (runtime.path() / "checkfile.txt").string());

    Main();
    EXPECT_TRUE(fs::is_regular_file(runtime.path() / "checkfile.txt"));
    ASSERT_NE(frmMENU::LoadedMenu(), nullptr);
    Main();  // a second start of this user is refused
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text, kTwiceStartedMessage);
    frmMENU::LoadedMenu()->Command1(frmMENU::Close).click();
    EXPECT_FALSE(fs::exists(runtime.path() / "checkfile.txt"));

    // Without a runtime folder: a private folder of this user's under /tmp.
    test::ScopedEnv noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    const std::string fallback = "/tmp/yubinbox-" + std::to_string(::getuid());
    EXPECT_EQ(CheckFilePath().toStdString(), fallback + "/checkfile.txt");
    EXPECT_TRUE(fs::is_directory(fallback));
    EXPECT_EQ(fs::status(fallback).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(StartupTest, FirstStartCreatesAnEmptyMarkerAndShowsTheMenu) {
    Main();
    ASSERT_TRUE(fs::is_regular_file(marker()));
    EXPECT_EQ(fs::file_size(marker()), 0u);
    frmMENU* menu = frmMENU::LoadedMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->windowModality(), Qt::NonModal);
    EXPECT_EQ(WindowBase::LoadedCount(), 1);
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(end_.ended());
}

TEST_F(StartupTest, MarkerLeftBehindRefusesTheStartAndIsNotTouched) {
    test::writeBytes(marker().string(), "left by an earlier run");
    const auto stamp = fs::last_write_time(marker()) - std::chrono::hours(24);
    fs::last_write_time(marker(), stamp);

    Main();

    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text,
              QStringLiteral("プログラムが二重に起動されています。\n処理を中止します。"));
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_TRUE(boxes_.asked()[0].title.isEmpty());
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    EXPECT_EQ(test::readBytes(marker().string()), "left by an earlier run");
    EXPECT_EQ(fs::last_write_time(marker()), stamp);
    EXPECT_FALSE(end_.ended());  // Main returns and, with no window loaded, the program ends
}

TEST_F(StartupTest, SecondStartWhileTheMenuIsOpenIsRefusedAndAfterItClosesAccepted) {
    Main();
    frmMENU* first = frmMENU::LoadedMenu();
    ASSERT_NE(first, nullptr);
    Main();
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text, kTwiceStartedMessage);
    EXPECT_EQ(WindowBase::LoadedCount(), 1);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(fs::file_size(marker()), 0u);

    EXPECT_TRUE(first->close());
    EXPECT_FALSE(fs::exists(marker()));
    Main();
    EXPECT_EQ(boxes_.asked().size(), 1u);
    EXPECT_NE(frmMENU::LoadedMenu(), nullptr);
    EXPECT_TRUE(fs::exists(marker()));
}

TEST_F(StartupTest, MarkerThatCannotBeCreatedIsReportedByTheGuardAndNoWindowShows) {
    // The program folder can be written, but the marker's name is taken by a folder.
    fs::create_directory(marker());
    fs::create_directory(marker() / "inside");
    OverrideProgramFolder(QString::fromStdString(folder_.path().string()));
    Guarded(Main);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_TRUE(boxes_.asked()[0].text.startsWith(QStringLiteral("実行時エラー '75':\n\n")))
        << boxes_.asked()[0].text.toStdString();
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_EQ(boxes_.asked()[0].title, QStringLiteral("yubinbox"));
    EXPECT_EQ(end_.calls(), 1);
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
}

TEST_F(StartupTest, DeleteCheckFileDeletesTheMarkerOnlyAndWithoutOneDoesNothing) {
    EXPECT_NO_THROW(DeleteCheckFile());
    EXPECT_TRUE(fs::is_empty(folder_.path()));
    test::writeBytes(marker().string(), "");
    test::writeBytes((folder_.path() / "yubinbox.mdb").string(), "db");
    DeleteCheckFile();
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_TRUE(fs::exists(folder_.path() / "yubinbox.mdb"));
    OverrideProgramFolder(QString::fromStdString((folder_.path() / "missing").string()));
    EXPECT_NO_THROW(DeleteCheckFile());
}

}  // namespace
}  // namespace yubin::app
