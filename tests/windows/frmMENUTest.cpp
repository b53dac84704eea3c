// The main menu: its load, its StatusBar1, its close button and the marker.
#include <gtest/gtest.h>

#include <filesystem>

#include <QButtonGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "settings/mdFileCreate.h"
#include "support/TestSupport.h"
#include "windows/ErrorGuard.h"
#include "windows/MessageBox.h"
#include "windows/Pictures.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"
#include "windows/frmMENU.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;

class frmMENUTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mdFileCreate::SetExecutableBaseNameForTesting("yubinbox");
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
        mdFileCreate::SetExecutableBaseNameForTesting(std::nullopt);
    }
    fs::path marker() const { return folder_.path() / "checkfile.txt"; }

    test::TempDir folder_;
    test::TempDir home_;  // no settings file
    test::ScopedEnv homeEnv_{"HOME", home_.path().string()};
    test::ScopedEnv configEnv_{"XDG_CONFIG_HOME", std::nullopt};
    MessageBoxResponder boxes_;
    ScopedEndProgramHook end_;
    ScopedClockSource clock_{[] { return QTime(14, 7); }};
    QPointer<frmMENU> menu_;
};

// The grid behind the menu is a tiled background, not a picture of the window's size; it must
// look exactly as the grid picture does.
TEST_F(frmMENUTest, TheBackgroundGridLooksAsTheGridPicture) {
    auto* image3 = menu_->findChild<QLabel*>(QStringLiteral("Image3"));
    ASSERT_NE(image3, nullptr);
    const QImage shown = image3->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage grid =
        pictures::LightGrid(image3->size()).toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), grid.size());
    EXPECT_TRUE(shown == grid);
}

TEST_F(frmMENUTest, LoadSetsCaptionSizeAndStatusBar) {
    EXPECT_EQ(menu_->objectName(), QStringLiteral("frmMENU"));
    EXPECT_EQ(menu_->windowTitle(), QStringLiteral("yubinbox - frmMENU 【郵便番号ＤＢ作成】"));
    EXPECT_EQ(menu_->size(), QSize(655, 494));
    StatusBar1& bar = menu_->statusBar1();
    EXPECT_EQ(menu_->findChild<StatusBar1*>(QStringLiteral("StatusBar1")), &bar);
    EXPECT_EQ(bar.geometry().bottom(), menu_->height() - 1);  // along the bottom edge
    EXPECT_EQ(bar.width(), menu_->width());
    EXPECT_EQ(bar.panel(QStringLiteral("moji")).text(), QString());
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("14:07"));
    // Loading hides Label2; activation then gives the new-database button the focus, which
    // describes it.
    EXPECT_TRUE(menu_->Label2().isVisible());
    EXPECT_EQ(menu_->Label2().y(), menu_->Command1(frmMENU::NewDatabase).y());
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
    // Tab order follows the indexes.
    EXPECT_EQ(menu_->Command1(0).nextInFocusChain(), &menu_->Command1(1));
    EXPECT_EQ(menu_->Command1(1).nextInFocusChain(), &menu_->Command1(2));
    EXPECT_EQ(menu_->Command1(2).nextInFocusChain(), &menu_->Command1(3));
}

TEST_F(frmMENUTest, CloseButtonClosesTheMenuAndDeletesTheMarker) {
    menu_->Command1(frmMENU::Close).click();
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(frmMENU::LoadedMenu(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(menu_.isNull());
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(end_.ended());
}

TEST_F(frmMENUTest, AnyCloseDeletesTheMarker) {
    menu_->Command1(frmMENU::NewDatabase).click();  // the other tasks do not close it
    EXPECT_EQ(frmMENU::LoadedMenu(), menu_);
    EXPECT_TRUE(menu_->close());  // the close box
    EXPECT_FALSE(fs::exists(marker()));

    // A hidden menu unloaded by another window, with no marker left: nothing to report.
    auto* again = new frmMENU();
    again->hide();
    EXPECT_TRUE(again->unload());
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(end_.ended());
}

}  // namespace
}  // namespace yubin::app
