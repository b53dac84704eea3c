// The program's name and folder, the caption rule, twips, the pointer, DoEvents and the beep.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include "windows/WindowCommon.h"

namespace yubin::app {
namespace {

TEST(WindowCommon, ProgramNameAndFolderComeFromTheExecutableUnlessOverridden) {
    EXPECT_EQ(ExecutableBaseName(QStringLiteral("C:\\Program Files\\yubinbox\\yubinbox.exe")),
              QStringLiteral("yubinbox"));
    EXPECT_EQ(ExecutableBaseName(QStringLiteral("/opt/my.tools/yubin.box.exe")),
              QStringLiteral("yubin.box"));

    const QFileInfo executable(QCoreApplication::applicationFilePath());
    EXPECT_EQ(ProgramName(), executable.completeBaseName());
    EXPECT_EQ(ProgramFolder(), executable.absolutePath());
    OverrideProgramName(QStringLiteral("yubinbox"));
    OverrideProgramFolder(QStringLiteral("/srv/yubinbox"));
    EXPECT_EQ(ProgramName(), QStringLiteral("yubinbox"));
    EXPECT_EQ(ProgramFolder(), QStringLiteral("/srv/yubinbox"));
    OverrideProgramName(QString());
    OverrideProgramFolder(QString());
    EXPECT_EQ(ProgramName(), executable.completeBaseName());
    EXPECT_EQ(ProgramFolder(), executable.absolutePath());
}

TEST(WindowCommon, CaptionIsProgramNameWindowNameAndBracketedTitle) {
    OverrideProgramName(QStringLiteral("yubinbox"));
    QWidget window;
    window.setObjectName(QStringLiteral("frmMAKEMDB"));
    EXPECT_EQ(WindowCaption(window, QStringLiteral("郵便番号データベースファイル作成")),
              QStringLiteral("yubinbox - frmMAKEMDB 【郵便番号データベースファイル作成】"));
    OverrideProgramName(QString());
}

TEST(WindowCommon, TwipsAreFifteenToThePixel) {
    EXPECT_EQ(Px(kClientWidthTwips), 655);
    EXPECT_EQ(Px(kClientHeightTwips), 494);
    EXPECT_EQ(Px(8), 1);
    QWidget control;
    PlaceTwips(control, 660, 1560, 3915, 915);
    EXPECT_EQ(control.geometry(), QRect(44, 104, 261, 61));
}

TEST(WindowCommon, BusyPointerUntilTheDefaultOneAgain) {
    EXPECT_TRUE(IsDefaultPointer());
    SetBusyPointer();
    SetBusyPointer();  // twice busy still needs one SetDefaultPointer only
    EXPECT_FALSE(IsDefaultPointer());
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    SetDefaultPointer();
    EXPECT_TRUE(IsDefaultPointer());
    {
        BusyPointer busy;
        EXPECT_FALSE(IsDefaultPointer());
    }
    EXPECT_TRUE(IsDefaultPointer());
}

TEST(WindowCommon, DoEventsRunsPendingEventsAndBeepGoesThroughTheHook) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    DoEvents();
    EXPECT_TRUE(ran);

    int beeps = 0;
    auto previous = SetBeepHook([&] { ++beeps; });
    Beep();
    Beep();
    SetBeepHook(previous);
    Beep();  // the real beep, silent offscreen
    EXPECT_EQ(beeps, 2);
}

}  // namespace
}  // namespace yubin::app
