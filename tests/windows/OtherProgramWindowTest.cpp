// The windows while another program holds the database: nothing waits the whole lock wait
// frozen, nobody is called unauthorised for it, and the task is offered again once it is free.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "import/Administration.h"
#include "import/mdInport.h"
#include "settings/mdFileCreate.h"
#include "store/Engine.h"
#include "support/OtherProgram.h"
#include "windows/FileSystemLists.h"
#include "windows/MenuTestFixture.h"
#include "windows/frmFilename.h"
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

    // The settings task's chooser opened from the menu, the database chosen in its lists.
    QPointer<frmFilename> ChooseDatabase(frmMENU& menu) {
        frmFilename* chooser = frmFilename::OpenForSettings(menu);
        menu.hide();
        chooser->Dir1().setPath(QString::fromStdString(folder().string()));
        EXPECT_TRUE(chooser->File1().selectFile(QStringLiteral("yubinbox.mdb")));
        return chooser;
    }
    // Runs `onTick` every 10 ms, as any timer of a window would fire, for the object's life.
    struct Ticker {
        explicit Ticker(std::function<void()> onTick) {
            QObject::connect(&timer, &QTimer::timeout, onTick);
            timer.start(10);
        }
        QTimer timer;
    };
    static bool Waiting(const frmFilename& chooser) {
        return chooser.statusBar1().panel(QStringLiteral("moji")).text() ==
               QString::fromUtf8(mdInport::kWaitingForOtherProgram);
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

namespace yubin::app {
namespace {

// The settings task checks the chosen database: while another program holds it whole, the
// chooser lives, says that it waits and ignores a second select; back and the close box give
// the wait up and are carried out.
TEST_F(OtherProgramWindowTest, TheSettingsChooserLivesWhileItWaitsAndItsWaysOutGiveTheWaitUp) {
    test::OtherProgram other(database(), "BEGIN EXCLUSIVE;");
    ASSERT_TRUE(other.ready());
    frmMENU& menu = Start();
    const std::string settingsBefore = mdFileCreate::ReadKey("author");
    const Clock::time_point started = Clock::now();

    // Back during the wait: the menu again, the settings file as it was.
    QPointer<frmFilename> chooser = ChooseDatabase(menu);
    int firings = 0;
    {
        Ticker ticker([&] {
            if (!chooser || !Waiting(*chooser)) return;
            ++firings;
            if (firings == 2) chooser->cmdBTN(0).click();  // ignored
            if (firings == 4) chooser->cmdBTN(2).click();
        });
        chooser->cmdBTN(0).click();
    }
    EXPECT_GE(firings, 4);
    EXPECT_TRUE(chooser.isNull() || !chooser->isLoaded());
    EXPECT_TRUE(menu.isVisible());
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_EQ(mdFileCreate::ReadKey("author"), settingsBefore);
    EXPECT_TRUE(fs::exists(marker()));

    // The close box during the wait: the chooser's exit, as when nothing waits.
    chooser = ChooseDatabase(menu);
    firings = 0;
    {
        Ticker ticker([&] {
            if (chooser && Waiting(*chooser) && ++firings == 3) {
                EXPECT_FALSE(chooser->close());
            }
        });
        chooser->cmdBTN(0).click();
    }
    EXPECT_GE(firings, 3);
    EXPECT_LT(Clock::now() - started, kLockWait / 2);
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_EQ(mdFileCreate::ReadKey("author"), settingsBefore);
}

// A wait that runs out is refused as a database in use, and every control of the chooser is
// usable again; once the database is free the same choice writes the settings file.
TEST_F(OtherProgramWindowTest, ASettingsChooserWaitThatRunsOutLeavesEveryControlUsable) {
    db::setLockWait(std::chrono::milliseconds(1500));
    test::OtherProgram other(database(), "BEGIN EXCLUSIVE;");
    ASSERT_TRUE(other.ready());
    frmMENU& menu = Start();
    QPointer<frmFilename> chooser = ChooseDatabase(menu);
    const QString before = chooser->statusBar1().panel(QStringLiteral("moji")).text();
    int firings = 0;
    {
        Ticker ticker([&] {
            if (chooser && Waiting(*chooser)) ++firings;
        });
        chooser->cmdBTN(0).click();
    }
    EXPECT_GT(firings, 10);
    ASSERT_FALSE(chooser.isNull());
    EXPECT_TRUE(chooser->isLoaded());
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_EQ(chooser->statusBar1().panel(QStringLiteral("moji")).text(), before);
    for (int i = 0; i < frmFilename::kButtonCount; ++i) {
        EXPECT_TRUE(chooser->cmdBTN(i).isEnabled()) << i;
    }
    EXPECT_TRUE(chooser->Dir1().isEnabled());
    EXPECT_TRUE(chooser->File1().isEnabled());
    EXPECT_EQ(mdFileCreate::ReadKey("author"), mdFileCreate::AuthorValue(user()));
    EXPECT_TRUE(fs::exists(marker()));

    other.end();
    chooser->cmdBTN(0).click();
    EXPECT_EQ(mdFileCreate::ReadKey("path"), database());
    EXPECT_EQ(mdFileCreate::ReadKey("author"), mdFileCreate::AuthorValue(""));
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    EXPECT_EQ(boxes_.asked().size(), 1u);
}

}  // namespace
}  // namespace yubin::app
