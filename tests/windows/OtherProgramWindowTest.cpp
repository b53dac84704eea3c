// The windows while another program holds the database: nothing waits the whole lock wait
// frozen, nobody is called unauthorised for it, and the task is offered again once it is free.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <QPushButton>

#include "import/Administration.h"
#include "settings/mdFileCreate.h"
#include "store/Engine.h"
#include "support/OtherProgram.h"
#include "windows/MenuTestFixture.h"
#include "windows/frmMENU.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const QString kRefusal = QString::fromUtf8(administration::kNoImportPermission);
const QString kInUse = QString::fromUtf8(administration::kDatabaseInUse);

class OtherProgramWindowTest : public test_support::MenuFixture {
  protected:
    void SetUp() override {
        MenuFixture::SetUp();
        previousWait_ = db::lockWait();
        db::setLockWait(kLockWait);
        MakeDatabase();
        mdFileCreate::IniFileCreate(database(), user());
    }
    void TearDown() override {
        MenuFixture::TearDown();
        db::setLockWait(previousWait_);
    }
    QString Panel(const WindowBase& window, const QString& key) const {
        return window.statusBar1().panel(key).text();
    }
    int BoxesSaying(const QString& text) const {
        int count = 0;
        for (const AskedMessage& box : boxes_.asked()) count += box.text == text ? 1 : 0;
        return count;
    }

    static constexpr std::chrono::seconds kLockWait{20};
    std::chrono::milliseconds previousWait_{};
};

TEST_F(OtherProgramWindowTest, TheMenuAppearsAtOnceWithADatabaseInUseAndOffersImportWhenFree) {
    // A write transaction (the database can be read) and an exclusive hold (nothing can be
    // read, so the probe's connection does not even open): neither is a refusal.
    for (const char* held : {"BEGIN IMMEDIATE; UPDATE DUMMY SET DKEY = '2';", "BEGIN EXCLUSIVE;"}) {
        SCOPED_TRACE(held);
        boxes_.clear();
        test::OtherProgram other(database(), held);
        ASSERT_TRUE(other.ready());

        const Clock::time_point started = Clock::now();
        frmMENU& menu = Start();
        EXPECT_LT(Clock::now() - started, kLockWait / 4);
        EXPECT_TRUE(menu.isVisible());
        EXPECT_TRUE(menu.Command1(frmMENU::Import).isEnabled());
        EXPECT_FALSE(menu.Command1(frmMENU::NewDatabase).isEnabled());
        EXPECT_FALSE(menu.Command1(frmMENU::SettingsFile).isEnabled());
        EXPECT_EQ(Panel(menu, QStringLiteral("moji")), kInUse);
        EXPECT_EQ(BoxesSaying(kRefusal), 0);

        // Picked while the other program still holds it: said again, the menu stays.
        menu.Command1(frmMENU::Import).click();
        EXPECT_EQ(BoxesSaying(kInUse), 1);
        EXPECT_EQ(frmMENU::LoadedMenu(), &menu);
        EXPECT_EQ(frmyubinbox::LoadedWindow(), nullptr);
        EXPECT_TRUE(menu.Command1(frmMENU::Import).isEnabled());

        // Free again: the import window opens.
        other.end();
        menu.Command1(frmMENU::Import).click();
        EXPECT_EQ(frmMENU::LoadedMenu(), nullptr);
        EXPECT_NE(frmyubinbox::LoadedWindow(), nullptr);
        EXPECT_EQ(BoxesSaying(kRefusal), 0);
        EXPECT_FALSE(end_.ended());
        CloseEverything();
    }
}

TEST_F(OtherProgramWindowTest, AMenuShownAgainOnceTheDatabaseIsFreeNoLongerSaysItIsInUse) {
    test::OtherProgram other(database(), "BEGIN IMMEDIATE; UPDATE DUMMY SET DKEY = '2';");
    ASSERT_TRUE(other.ready());
    frmMENU& menu = Start();
    EXPECT_EQ(Panel(menu, QStringLiteral("moji")), kInUse);
    other.end();
    menu.hide();
    menu.show();
    EXPECT_EQ(Panel(menu, QStringLiteral("moji")), QString());
    EXPECT_TRUE(menu.Command1(frmMENU::Import).isEnabled());
    EXPECT_TRUE(boxes_.asked().empty());
}

}  // namespace
}  // namespace yubin::app
