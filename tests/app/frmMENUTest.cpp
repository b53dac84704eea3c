// The main menu: its load, its StatusBar1, its close button and the marker.
#include <gtest/gtest.h>

#include <filesystem>

#include <QButtonGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "app/ErrorGuard.h"
#include "app/MessageBox.h"
#include "app/Startup.h"
#include "app/WindowCommon.h"
#include "app/frmMENU.h"
#include "support/TestSupport.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;

class frmMENUTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OverrideProgramName(QStringLiteral("yubinbox"));
        OverrideProgramFolder(QString::fromStdString(folder_.path().string()));
        test::writeBytes(marker().string(), "");
        menu_ = new frmMENU();
        menu_->show();
    }
    void TearDown() override {
        WindowBase::DeleteLoadedWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        OverrideProgramFolder(QString());
        OverrideProgramName(QString());
    }
    fs::path marker() const { return folder_.path() / "checkfile.txt"; }

    test::TempDir folder_;
    MessageBoxResponder boxes_;
    ScopedEndProgramHook end_;
    ScopedClockSource clock_{[] { return QTime(14, 7); }};
    QPointer<frmMENU> menu_;
};

TEST_F(frmMENUTest, LoadSetsCaptionSizeAndStatusBar) {
    EXPECT_EQ(menu_->objectName(), QStringLiteral("frmMENU"));
    EXPECT_EQ(menu_->windowTitle(), QStringLiteral("yubinbox - frmMENU 【郵便番号ＤＢ作成】"));
    EXPECT_EQ(menu_->size(), QSize(655, 494));
    StatusBar1& bar = menu_->statusBar1();
    EXPECT_EQ(bar.panel(QStringLiteral("moji")).text(), QString());
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("14:07"));
    EXPECT_FALSE(menu_->Label2().isVisible());
    EXPECT_EQ(frmMENU::LoadedMenu(), menu_);
    EXPECT_TRUE(boxes_.asked().empty());
}

TEST_F(frmMENUTest, TaskButtonsAreOneControlArrayWithTheirCaptions) {
    const char* captions[] = {"郵便番号ＤＢ新規作成(&M)", "設定ファイル作成(&S)",
                              "郵便番号データ取込(&T)", "閉 じ る(&X)"};
    QButtonGroup& group = menu_->Command1Group();
    EXPECT_EQ(group.buttons().size(), 4);
    for (int index = 0; index < 4; ++index) {
        QPushButton& button = menu_->Command1(index);
        EXPECT_EQ(button.objectName(), QStringLiteral("Command1_%1").arg(index));
        EXPECT_EQ(button.text(), QString::fromUtf8(captions[index])) << index;
        EXPECT_EQ(group.id(&button), index);
        EXPECT_TRUE(button.isVisible());
        EXPECT_EQ(button.palette().color(QPalette::Button), QColor(255, 235, 205)) << index;
    }
    // Placed as designed: 0 and 2 in the administrators' frame, 1 in the users', 3 below.
    auto* admins = menu_->findChild<QGroupBox*>(QStringLiteral("Frame1"));
    auto* users = menu_->findChild<QGroupBox*>(QStringLiteral("Frame2"));
    ASSERT_NE(admins, nullptr);
    ASSERT_NE(users, nullptr);
    EXPECT_EQ(admins->title(), QStringLiteral("【管理者用】"));
    EXPECT_EQ(users->title(), QStringLiteral("【利用者用】"));
    EXPECT_EQ(menu_->Command1(0).geometry(), QRect(44, 104, 261, 61));
    EXPECT_TRUE(admins->geometry().contains(menu_->Command1(0).geometry()));
    EXPECT_TRUE(admins->geometry().contains(menu_->Command1(2).geometry()));
    EXPECT_TRUE(users->geometry().contains(menu_->Command1(1).geometry()));
    EXPECT_GT(menu_->Command1(3).geometry().top(), users->geometry().bottom());
    // Tab order follows the indexes.
    EXPECT_EQ(menu_->Command1(0).nextInFocusChain(), &menu_->Command1(1));
    EXPECT_EQ(menu_->Command1(1).nextInFocusChain(), &menu_->Command1(2));
    EXPECT_EQ(menu_->Command1(2).nextInFocusChain(), &menu_->Command1(3));
}

TEST_F(frmMENUTest, CloseButtonClosesTheMenuAndDeletesTheMarker) {
    menu_->Command1(frmMENU::Close).click();
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(frmMENU::LoadedMenu(), nullptr);
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(menu_.isNull());
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(end_.ended());
}

TEST_F(frmMENUTest, AnyCloseDeletesTheMarker) {
    EXPECT_TRUE(menu_->close());  // the close box
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(frmMENU::LoadedMenu(), nullptr);
}

TEST_F(frmMENUTest, HiddenMenuUnloadedByAnotherWindowDeletesTheMarker) {
    menu_->hide();
    EXPECT_TRUE(fs::exists(marker()));
    EXPECT_TRUE(menu_->unload());
    EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(frmMENUTest, ClosingWithoutAMarkerIsFine) {
    fs::remove(marker());
    EXPECT_TRUE(menu_->close());
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(end_.ended());
}

TEST_F(frmMENUTest, OtherTaskButtonsLeaveTheMenuAsItIs) {
    for (int index : {frmMENU::NewDatabase, frmMENU::SettingsFile, frmMENU::Import}) {
        menu_->Command1(index).click();
        EXPECT_EQ(frmMENU::LoadedMenu(), menu_) << index;
        EXPECT_TRUE(menu_->isVisible()) << index;
    }
    EXPECT_TRUE(fs::exists(marker()));
    EXPECT_TRUE(boxes_.asked().empty());
}

}  // namespace
}  // namespace yubin::app
