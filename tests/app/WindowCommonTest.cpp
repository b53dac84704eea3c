// The program's name and folder, the caption rule, twips, the pointer, DoEvents and the beep.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include "app/WindowCommon.h"

namespace yubin::app {
namespace {

class WindowCommonTest : public ::testing::Test {
  protected:
    void TearDown() override {
        OverrideProgramName(QString());
        OverrideProgramFolder(QString());
        SetDefaultPointer();
    }
};

TEST_F(WindowCommonTest, ExecutableBaseNameDropsFoldersAndExtension) {
    EXPECT_EQ(ExecutableBaseName(QStringLiteral("C:\\Program Files\\yubinbox\\yubinbox.exe")),
              QStringLiteral("yubinbox"));
    EXPECT_EQ(ExecutableBaseName(QStringLiteral("/opt/yubinbox/yubinbox")),
              QStringLiteral("yubinbox"));
    EXPECT_EQ(ExecutableBaseName(QStringLiteral("/opt/my.tools/yubin.box.exe")),
              QStringLiteral("yubin.box"));
    EXPECT_EQ(ExecutableBaseName(QStringLiteral("/opt/.hidden")), QStringLiteral(".hidden"));
}

TEST_F(WindowCommonTest, ProgramNameAndFolderComeFromTheExecutableUnlessOverridden) {
    const QString executable = QCoreApplication::applicationFilePath();
    EXPECT_EQ(ProgramName(), QFileInfo(executable).completeBaseName());
    EXPECT_EQ(ProgramFolder(), QFileInfo(executable).absolutePath());

    OverrideProgramName(QStringLiteral("yubinbox"));
    OverrideProgramFolder(QStringLiteral("/srv/yubinbox"));
    EXPECT_EQ(ProgramName(), QStringLiteral("yubinbox"));
    EXPECT_EQ(ProgramFolder(), QStringLiteral("/srv/yubinbox"));

    OverrideProgramName(QString());
    OverrideProgramFolder(QString());
    EXPECT_EQ(ProgramName(), QFileInfo(executable).completeBaseName());
    EXPECT_EQ(ProgramFolder(), QFileInfo(executable).absolutePath());
}

TEST_F(WindowCommonTest, CaptionIsProgramNameWindowNameAndBracketedTitle) {
    OverrideProgramName(QStringLiteral("yubinbox"));
    QWidget window;
    window.setObjectName(QStringLiteral("frmMAKEMDB"));
    EXPECT_EQ(WindowCaption(window, QStringLiteral("郵便番号データベースファイル作成")),
              QStringLiteral("yubinbox - frmMAKEMDB 【郵便番号データベースファイル作成】"));
    window.setObjectName(QStringLiteral("frmyubinbox"));
    EXPECT_EQ(WindowCaption(window, QStringLiteral("郵便番号データ取込")),
              QStringLiteral("yubinbox - frmyubinbox 【郵便番号データ取込】"));
}

TEST_F(WindowCommonTest, TwipsAreFifteenToThePixel) {
    EXPECT_EQ(Px(kClientWidthTwips), 655);
    EXPECT_EQ(Px(kClientHeightTwips), 494);
    EXPECT_EQ(Px(0), 0);
    EXPECT_EQ(Px(7), 0);
    EXPECT_EQ(Px(8), 1);
    EXPECT_EQ(Px(50), 3);
    EXPECT_EQ(Px(-60), -4);

    QWidget control;
    PlaceTwips(control, 660, 1560, 3915, 915);
    EXPECT_EQ(control.geometry(), QRect(44, 104, 261, 61));
}

TEST_F(WindowCommonTest, BusyPointerUntilTheDefaultOneAgain) {
    EXPECT_TRUE(IsDefaultPointer());
    SetBusyPointer();
    EXPECT_FALSE(IsDefaultPointer());
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    SetBusyPointer();  // a second busy pointer needs no second restore
    SetDefaultPointer();
    EXPECT_TRUE(IsDefaultPointer());
    SetDefaultPointer();  // the default pointer stays the default one
    EXPECT_TRUE(IsDefaultPointer());
    {
        BusyPointer busy;
        EXPECT_FALSE(IsDefaultPointer());
    }
    EXPECT_TRUE(IsDefaultPointer());
}

TEST_F(WindowCommonTest, DoEventsRunsPendingEvents) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    DoEvents();
    EXPECT_TRUE(ran);
}

TEST_F(WindowCommonTest, BeepGoesThroughTheHook) {
    int beeps = 0;
    auto previous = SetBeepHook([&] { ++beeps; });
    Beep();
    Beep();
    EXPECT_EQ(beeps, 2);
    SetBeepHook(previous);
    Beep();  // the real beep: nothing to see offscreen, and it must not reach the hook
    EXPECT_EQ(beeps, 2);
}

}  // namespace
}  // namespace yubin::app
