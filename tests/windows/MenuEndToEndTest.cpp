// From start-up through the menu's tasks to the windows they open and back: the
// administrator's new database up to the import window, an ordinary user's settings task and
// what it means at the next start, and the back buttons that show the menu again.
#include <gtest/gtest.h>

#include <filesystem>

#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"
#include "support/TestSupport.h"
#include "windowrules/ChooserRules.h"
#include "windows/ErrorGuard.h"
#include "windows/FileSystemLists.h"
#include "windows/MenuTestFixture.h"
#include "windows/MessageBox.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"
#include "windows/frmFilename.h"
#include "windows/frmMAKEMDB.h"
#include "windows/frmMENU.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;

class MenuEndToEndTest : public test_support::MenuFixture {
  protected:
    template <typename Window>
    Window& Shown() {
        auto* window = qobject_cast<Window*>(WindowBase::Loaded(Window::kName));
        if (window == nullptr || !window->isVisible()) throw std::runtime_error("not shown");
        return *window;
    }
};

TEST_F(MenuEndToEndTest, FirstStartNewDatabaseImportWindowAndImportOfferedAtTheNextStart) {
    frmMENU& menu = Start();
    EXPECT_TRUE(menu.Command1(frmMENU::NewDatabase).isEnabled());
    EXPECT_FALSE(menu.Command1(frmMENU::Import).isEnabled());

    menu.Command1(frmMENU::NewDatabase).click();
    frmMAKEMDB& creation = Shown<frmMAKEMDB>();
    EXPECT_FALSE(menu.isVisible());
    creation.txtMDBFILE().setText(QString::fromStdString(folder().string()));
    creation.cmdBTN(rules::kConfirmButton).click();

    // The database and the settings are made, the menu is gone with its marker, and the
    // import window is open.
    EXPECT_TRUE(fs::is_regular_file(database()));
    mdFileCreate::SetIniFilePath();
    EXPECT_EQ(mdFileCreate::ReadKey("path"), database());
    EXPECT_EQ(mdFileCreate::ReadKey("author"), mdFileCreate::GetLoginUserName() + "\t0");
    EXPECT_EQ(frmMENU::LoadedMenu(), nullptr);
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_NO_THROW(Shown<frmyubinbox>());
    EXPECT_TRUE(boxes_.asked().empty());
    CloseEverything();

    frmMENU& again = Start();
    EXPECT_FALSE(again.Command1(frmMENU::NewDatabase).isEnabled());
    EXPECT_FALSE(again.Command1(frmMENU::SettingsFile).isEnabled());
    EXPECT_TRUE(again.Command1(frmMENU::Import).isEnabled());
    EXPECT_EQ(again.focusWidget(), &again.Command1(frmMENU::Import));
    EXPECT_TRUE(boxes_.asked().empty());
}

TEST_F(MenuEndToEndTest, AnOrdinaryUsersSettingsTaskEndsTheProgramAndImportIsRefusedNextTime) {
    MakeDatabase();  // the administrator's database on the server

    frmMENU& menu = Start();
    menu.Command1(frmMENU::SettingsFile).click();
    frmFilename& chooser = Shown<frmFilename>();
    chooser.Dir1().setPath(QString::fromStdString(folder().string()));
    ASSERT_TRUE(chooser.File1().selectFile(QStringLiteral("yubinbox.mdb")));
    chooser.cmdBTN(rules::kSelectButton).click();

    mdFileCreate::SetIniFilePath();
    EXPECT_EQ(mdFileCreate::ReadKey("path"), database());
    EXPECT_EQ(mdFileCreate::ReadKey("author"), "\t0");
    EXPECT_EQ(WindowBase::LoadedCount(), 0);  // the program ends
    EXPECT_FALSE(fs::exists(marker()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    frmMENU& next = Start();
    EXPECT_FALSE(next.Command1(frmMENU::NewDatabase).isEnabled());
    EXPECT_FALSE(next.Command1(frmMENU::SettingsFile).isEnabled());
    EXPECT_FALSE(next.Command1(frmMENU::Import).isEnabled());
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text,
              QStringLiteral("あなたには、データ取り込みを実行する権限がありません。"));
    EXPECT_EQ(boxes_.asked()[0].title, QStringLiteral("yubinbox"));
}

TEST_F(MenuEndToEndTest, BackButtonsShowTheMenuAgainActivatedAnewAndTheEndButtonsDeleteTheMarker) {
    frmMENU& menu = Start();
    menu.Command1(frmMENU::SettingsFile).click();
    Shown<frmFilename>().cmdBTN(rules::kBackButton).click();
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(menu.focusWidget(), &menu.Command1(frmMENU::NewDatabase));

    // Meanwhile a database was made for this user (by the command line, say).
    MakeDatabase();
    mdFileCreate::IniFileCreate(database(), mdFileCreate::GetLoginUserName());
    menu.Command1(frmMENU::NewDatabase).click();
    Shown<frmMAKEMDB>().cmdBTN(rules::kReturnButton).click();
    EXPECT_TRUE(menu.isVisible());
    EXPECT_TRUE(menu.Command1(frmMENU::Import).isEnabled());
    EXPECT_FALSE(menu.Command1(frmMENU::NewDatabase).isEnabled());
    EXPECT_TRUE(fs::exists(marker()));
    CloseEverything();

    // 終了 of the creation window and of the chooser in settings mode end the program.
    fs::remove(marker());
    fs::remove(home_.path() / "Documents" / "yubinbox.ini");
    Start().Command1(frmMENU::NewDatabase).click();
    Shown<frmMAKEMDB>().cmdBTN(rules::kEndButton).click();
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    Start().Command1(frmMENU::SettingsFile).click();
    Shown<frmFilename>().cmdBTN(rules::kExitButton).click();
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    EXPECT_TRUE(boxes_.asked().empty());
}

}  // namespace
}  // namespace yubin::app
