// The keyboard in each window: Enter presses the focused button, as Space does.
#include <gtest/gtest.h>

#include <filesystem>

#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "store/mdlYubinBox.h"
#include "windows/DriveTestSupport.h"
#include "windows/frmFilename.h"
#include "windows/frmMAKEMDB.h"
#include "windows/frmMENU.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;

class KeyboardTest : public test::WindowFixture {
  protected:
    ~KeyboardTest() override { mdlYubinBox::CloseMdb(); }

    // Gives the button the focus and presses Enter on it.
    static void PressEnterOn(QPushButton& button) {
        button.setFocus(Qt::OtherFocusReason);
        ASSERT_EQ(button.window()->focusWidget(), &button);
        QTest::keyClick(&button, Qt::Key_Return);
    }

    test::FakeMounts machine_{{{"/", mdGETUNC::kDriveFixed}}};
};

TEST_F(KeyboardTest, EnterOnTheMenusCloseButtonClosesTheMenu) {
    QPointer<frmMENU> menu = new frmMENU;
    menu->show();
    PressEnterOn(menu->Command1(frmMENU::Close));
    EXPECT_FALSE(menu->isLoaded());
    EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(KeyboardTest, EnterOnTheCreationWindowsBackButtonShowsTheMenu) {
    QPointer<frmMENU> menu = new frmMENU;
    menu->hide();
    QPointer<frmMAKEMDB> creation = new frmMAKEMDB;
    creation->show();
    PressEnterOn(creation->cmdBTN(2));
    EXPECT_FALSE(creation->isLoaded());
    EXPECT_TRUE(menu->isVisible());
}

TEST_F(KeyboardTest, EnterOnTheChoosersBackButtonShowsTheMenu) {
    QPointer<frmMENU> menu = new frmMENU;
    QPointer<frmFilename> chooser = frmFilename::OpenForSettings(*menu);
    menu->hide();
    PressEnterOn(chooser->cmdBTN(2));
    EXPECT_FALSE(chooser->isLoaded());
    EXPECT_TRUE(menu->isVisible());
}

TEST_F(KeyboardTest, EnterOnTheImportWindowsExitButtonEndsTheProgram) {
    mdlYubinBox::strMdbFile = (program_.path() / "yubinbox.mdb").string();
    mdlYubinBox::CreateMdb();
    QPointer<frmyubinbox> import = new frmyubinbox;
    import->show();
    PressEnterOn(import->cmdBTN(1));
    EXPECT_EQ(end_.calls(), 1);
    EXPECT_FALSE(fs::exists(marker()));
}

}  // namespace
}  // namespace yubin::app
