// The main menu from start-up on: what each settings file and database offers, the task
// descriptions, the four tasks, showing the menu again, help, and the marker on every close.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include "import/mdInport.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"
#include "support/TestSupport.h"
#include "windows/ErrorGuard.h"
#include "windows/HelpWindow.h"
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
const QString kRefusal = QStringLiteral("あなたには、データ取り込みを実行する権限がありません。");

class MenuFlowTest : public test_support::MenuFixture {
  protected:
    // What the creation window leaves: a database and the settings with the user as author.
    void AdministratorSettings(const std::string& author) {
        MakeDatabase();
        mdFileCreate::IniFileCreate(database(), author);
    }
    void ExpectEnabled(const frmMENU& menu, bool newDatabase, bool settings, bool import) {
        EXPECT_EQ(menu.Command1(frmMENU::NewDatabase).isEnabled(), newDatabase);
        EXPECT_EQ(menu.Command1(frmMENU::SettingsFile).isEnabled(), settings);
        EXPECT_EQ(menu.Command1(frmMENU::Import).isEnabled(), import);
        EXPECT_TRUE(menu.Command1(frmMENU::Close).isEnabled());
        EXPECT_TRUE(menu.Command2().isEnabled());
    }
    QString Panel(const frmMENU& menu) const {
        return menu.statusBar1().panel(QStringLiteral("moji")).text();
    }
    void TearDown() override {
        CloseHelp();
        MenuFixture::TearDown();
    }
};

TEST_F(MenuFlowTest, FirstStartOffersNewAndSettingsWithTheFocusOnNewAndSaysNothing) {
    frmMENU& menu = Start();
    EXPECT_TRUE(fs::exists(marker()));
    ExpectEnabled(menu, true, true, false);
    EXPECT_EQ(menu.focusWidget(), &menu.Command1(frmMENU::NewDatabase));
    // The focused task is described beside its button.
    EXPECT_TRUE(menu.Label2().isVisible());
    EXPECT_TRUE(menu.Label2().text().startsWith(
        QStringLiteral("\r\n　郵便番号データベースを作成します。")));
    EXPECT_EQ(menu.Label2().toolTip(), QStringLiteral("(yubinbox.mdb & yubinbox.ini)"));
    EXPECT_TRUE(boxes_.asked().empty());  // a missing manual is not reported either
    EXPECT_EQ(Panel(menu), QString());
}

TEST_F(MenuFlowTest, TheAuthorWithAWritableDatabaseIsOfferedImportOnly) {
    AdministratorSettings(user());
    frmMENU& menu = Start();
    ExpectEnabled(menu, false, false, true);
    EXPECT_EQ(menu.focusWidget(), &menu.Command1(frmMENU::Import));
    EXPECT_TRUE(boxes_.asked().empty());
}

TEST_F(MenuFlowTest, AnOrdinaryUsersSettingsRefuseImportWithOneMessage) {
    AdministratorSettings(user());
    mdFileCreate::IniFileCreate(database(), "");  // what the settings task writes
    frmMENU& menu = Start();
    ExpectEnabled(menu, false, false, false);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text, kRefusal);
    EXPECT_EQ(boxes_.asked()[0].style, 0);
    EXPECT_EQ(boxes_.asked()[0].title, QStringLiteral("yubinbox"));
    EXPECT_EQ(Panel(menu), kRefusal);
    EXPECT_EQ(mdlYubinBox::cnMdb, nullptr);  // the probe's connection is released
}

TEST_F(MenuFlowTest, AWrongAuthorWithADatabaseThatRefusesWritesHearsItTwice) {
    AdministratorSettings("someone-else");
    test::DropTableBehindTheLayer(database(), "DUMMY");
    frmMENU& menu = Start();
    ExpectEnabled(menu, false, false, false);
    ASSERT_EQ(boxes_.asked().size(), 2u);
    EXPECT_EQ(boxes_.asked()[1].text, kRefusal);
}

TEST_F(MenuFlowTest, TheAuthorWithADatabaseThatCannotBeWrittenIsRefusedOnce) {
    AdministratorSettings(user());
    test::DropTableBehindTheLayer(database(), "DUMMY");  // refuses the probe, also for root
    frmMENU& menu = Start();
    ExpectEnabled(menu, false, false, false);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(Panel(menu), kRefusal);
    // The focus went to import and, import being disabled, on to the close button.
    EXPECT_EQ(menu.focusWidget(), &menu.Command1(frmMENU::Close));
}

TEST_F(MenuFlowTest, TheAuthorWithAReadOnlyDatabaseFileIsRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
    AdministratorSettings(user());
    fs::permissions(database(), fs::perms::owner_read | fs::perms::group_read);
    frmMENU& menu = Start();
    ExpectEnabled(menu, false, false, false);
    EXPECT_EQ(boxes_.asked().size(), 1u);
}

TEST_F(MenuFlowTest, SettingsWhosePathDoesNotOpenOfferNewAndSettingsAgain) {
    mdFileCreate::IniFileCreate(database(), user());  // no database made
    frmMENU& menu = Start();
    ExpectEnabled(menu, true, true, false);
    EXPECT_EQ(menu.focusWidget(), &menu.Command1(frmMENU::NewDatabase));
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(fs::exists(database()));

    test::writeBytes(database(), "no database at all");
    menu.hide();
    menu.show();
    ExpectEnabled(menu, true, true, false);
}

TEST_F(MenuFlowTest, TheDescriptionFollowsFocusAndMouseAndLeavesWithTheFocus) {
    frmMENU& menu = Start();
    QPushButton& settings = menu.Command1(frmMENU::SettingsFile);
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(&settings, &enter);
    QLabel& label = menu.Label2();
    EXPECT_TRUE(label.isVisible());
    EXPECT_EQ(label.text(), QStringLiteral("\r\n　利用するための設定ファイルを作成します。\r\n\r\n"
                                           "　既存の郵便番号データベースを利用する場合に\r\n"
                                           "　選択してください。\r\n"));
    EXPECT_EQ(label.toolTip(), QStringLiteral("(yubinbox.ini)"));
    EXPECT_EQ(label.y(), settings.y());
    // Right of the frame that holds the button.
    EXPECT_EQ(label.x(), menu.Frame2().geometry().right() + Px(50));
    // The whole text fits.
    EXPECT_GE(label.height(), label.sizeHint().height());
    EXPECT_GE(label.width(), label.sizeHint().width());

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&settings, &leave);
    EXPECT_TRUE(label.isVisible());  // moving away does not hide it

    QPushButton& close = menu.Command1(frmMENU::Close);
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&close, &focusIn);
    EXPECT_EQ(label.text(), QStringLiteral("\r\n　プログラムを閉じます。\r\n"));
    EXPECT_EQ(label.toolTip(), QString());
    // Raised to end above 操作説明, which it would otherwise cover.
    EXPECT_LT(label.geometry().bottom(), menu.Command2().y());
    EXPECT_LT(label.y(), close.y());
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&close, &focusOut);
    EXPECT_FALSE(label.isVisible());
}

TEST_F(MenuFlowTest, TheDescriptionCoversNoOtherControl) {
    frmMENU& menu = Start();
    QLabel& label = menu.Label2();
    for (int index :
         {frmMENU::NewDatabase, frmMENU::SettingsFile, frmMENU::Import, frmMENU::Close}) {
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(&menu.Command1(index), &enter);
        ASSERT_TRUE(label.isVisible()) << index;
        EXPECT_TRUE(menu.rect().contains(label.geometry())) << index;
        EXPECT_GE(label.height(), label.sizeHint().height()) << index;
        for (const QWidget* other :
             menu.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            // The pictures lie under it; every control is clear of it.
            if (other == &label || !other->isVisible() ||
                other->objectName().startsWith(QStringLiteral("Image"))) {
                continue;
            }
            EXPECT_FALSE(label.geometry().intersects(other->geometry()))
                << index << " " << other->objectName().toStdString();
        }
    }
}

TEST_F(MenuFlowTest, NewDatabaseHidesTheMenuAndShowingItAgainActivatesItAnew) {
    frmMENU& menu = Start();
    menu.Command1(frmMENU::NewDatabase).click();
    EXPECT_FALSE(menu.isVisible());
    auto* creation = qobject_cast<frmMAKEMDB*>(WindowBase::Loaded(frmMAKEMDB::kName));
    ASSERT_NE(creation, nullptr);
    EXPECT_TRUE(creation->isVisible());
    EXPECT_TRUE(fs::exists(marker()));

    // The creation window made a database for this user and hands back.
    AdministratorSettings(user());
    frmMENU::LoadedMenu()->show();
    ExpectEnabled(menu, false, false, true);
    EXPECT_EQ(menu.focusWidget(), &menu.Command1(frmMENU::Import));
}

TEST_F(MenuFlowTest, SettingsFileOpensTheChooserInSettingsMode) {
    frmMENU& menu = Start();
    menu.Command1(frmMENU::SettingsFile).click();
    EXPECT_FALSE(menu.isVisible());
    auto* chooser = qobject_cast<frmFilename*>(WindowBase::Loaded(frmFilename::kName));
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->mode(), rules::ChooserMode::Settings);
    EXPECT_TRUE(chooser->isVisible());
    EXPECT_EQ(chooser->windowModality(), Qt::NonModal);
    EXPECT_TRUE(chooser->windowTitle().contains(
        QStringLiteral("郵便番号データベースファイル選択 ( yubinBox.mdb ) ")));
}

TEST_F(MenuFlowTest, ImportClosesTheMenuWithItsMarkerAndOpensTheImportWindow) {
    AdministratorSettings(user());
    frmMENU& menu = Start();
    ASSERT_TRUE(menu.Command1(frmMENU::Import).isEnabled());
    fs::remove(database());  // gone since the menu was shown: made anew, empty
    menu.Command1(frmMENU::Import).click();
    EXPECT_TRUE(fs::exists(database()));
    EXPECT_EQ(mdlYubinBox::strMdbFile, database());
    EXPECT_EQ(frmMENU::LoadedMenu(), nullptr);
    EXPECT_FALSE(fs::exists(marker()));
    WindowBase* importWindow = WindowBase::Loaded(frmyubinbox::kName);
    ASSERT_NE(importWindow, nullptr);
    EXPECT_TRUE(importWindow->isVisible());
    EXPECT_FALSE(end_.ended());
}

TEST_F(MenuFlowTest, EveryCloseOfTheMenuDeletesTheMarker) {
    Start().Command1(frmMENU::Close).click();
    EXPECT_FALSE(fs::exists(marker()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    Start().close();  // the close box
    EXPECT_FALSE(fs::exists(marker()));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Hidden behind another window, and unloaded by it.
    frmMENU& menu = Start();
    menu.Command1(frmMENU::SettingsFile).click();
    EXPECT_TRUE(fs::exists(marker()));
    EXPECT_TRUE(menu.unload());
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_TRUE(boxes_.asked().empty());
}

TEST_F(MenuFlowTest, HelpOpensTheManualFromTheProgramFolder) {
    frmMENU& menu = Start();
    menu.Command2().click();  // no manual in this program folder
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_TRUE(boxes_.asked()[0].text.contains(QStringLiteral("manual.html")));
    EXPECT_EQ(HelpBrowser(), nullptr);

    test::writeBytes((program_.path() / "manual.html").string(),
                     "<html><body><h1>操作説明</h1></body></html>");
    menu.Command2().click();
    ASSERT_NE(HelpBrowser(), nullptr);
    EXPECT_TRUE(HelpBrowser()->isVisible());
    EXPECT_EQ(HelpBrowser()->source().toLocalFile().toStdString(),
              (program_.path() / "manual.html").string());
    CloseHelp();
    EXPECT_EQ(HelpBrowser(), nullptr);

    menu.activateWindow();
    QTest::keyClick(&menu, Qt::Key_F1);
    ASSERT_NE(HelpBrowser(), nullptr);
    EXPECT_EQ(WindowBase::LoadedCount(), 1);  // the help window keeps no program running
}

}  // namespace
}  // namespace yubin::app
