// The window base: client area, status bar, caption, unloading and the loaded register.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

#include "app/ErrorGuard.h"
#include "app/MessageBox.h"
#include "app/WindowBase.h"
#include "app/WindowCommon.h"

namespace yubin::app {
namespace {

class TestWindow : public WindowBase {
  public:
    explicit TestWindow(const QString& name = QStringLiteral("frmTEST"),
                        const QString& key = QStringLiteral("moji"))
        : WindowBase(name, key) {
        setCaption(QStringLiteral("試験"));
    }
    std::vector<UnloadMode> requests;
    bool keepLoaded = false;
    bool failUnload = false;
    int unloads = 0;

  protected:
    bool queryUnload(UnloadMode mode) override {
        requests.push_back(mode);
        return !keepLoaded;
    }
    void unloadWindow() override {
        if (failUnload) throw std::runtime_error("unload failed");
        ++unloads;
    }
};

void DeleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class WindowBaseTest : public ::testing::Test {
  protected:
    void SetUp() override { OverrideProgramName(QStringLiteral("yubinbox")); }
    void TearDown() override {
        WindowBase::DeleteLoadedWindows();
        DeleteClosedWindows();
        OverrideProgramName(QString());
    }
};

TEST_F(WindowBaseTest, SharedClientAreaStatusBarAndCaption) {
    auto* owned = new TestWindow(QStringLiteral("frmyubinbox"), QStringLiteral("msg"));
    TestWindow& window = *owned;
    EXPECT_EQ(window.objectName(), QStringLiteral("frmyubinbox"));
    EXPECT_EQ(window.size(), QSize(655, 494));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("yubinbox - frmyubinbox 【試験】"));
    EXPECT_TRUE(window.isWindow());
    window.show();
    StatusBar1& bar = window.statusBar1();
    EXPECT_EQ(window.findChild<StatusBar1*>(QStringLiteral("StatusBar1")), &bar);
    EXPECT_TRUE(bar.hasPanel(QStringLiteral("msg")));
    EXPECT_EQ(bar.geometry().bottom(), window.height() - 1);
    EXPECT_EQ(bar.width(), window.width());
    EXPECT_GT(bar.height(), 0);
    window.unload();
}

TEST_F(WindowBaseTest, RegisterHoldsLoadedWindowsHiddenOnesIncluded) {
    auto* menu = new TestWindow(QStringLiteral("frmMENU"));
    auto* chooser = new TestWindow(QStringLiteral("frmFilename"));
    EXPECT_EQ(WindowBase::LoadedCount(), 2);
    EXPECT_EQ(WindowBase::Loaded(QStringLiteral("frmMENU")), menu);
    EXPECT_EQ(WindowBase::Loaded(QStringLiteral("frmFilename")), chooser);
    EXPECT_EQ(WindowBase::Loaded(QStringLiteral("frmMAKEMDB")), nullptr);
    menu->show();
    menu->hide();
    EXPECT_TRUE(menu->isLoaded());
    EXPECT_EQ(WindowBase::LoadedCount(), 2);
    // A hidden window can be unloaded.
    EXPECT_TRUE(menu->unload());
    EXPECT_EQ(WindowBase::Loaded(QStringLiteral("frmMENU")), nullptr);
    EXPECT_EQ(WindowBase::LoadedCount(), 1);
    delete chooser;
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
}

TEST_F(WindowBaseTest, UnloadFromCodeAndFromTheUserAreTold) {
    auto* byCode = new TestWindow();
    byCode->show();
    EXPECT_TRUE(byCode->unload());
    EXPECT_EQ(byCode->requests, std::vector{WindowBase::UnloadMode::Code});
    EXPECT_EQ(byCode->unloads, 1);
    EXPECT_FALSE(byCode->isLoaded());
    EXPECT_FALSE(byCode->isVisible());

    auto* byUser = new TestWindow();
    byUser->show();
    EXPECT_TRUE(byUser->close());  // the close box
    EXPECT_EQ(byUser->requests, std::vector{WindowBase::UnloadMode::User});
    EXPECT_EQ(byUser->unloads, 1);

    // An unloaded window is deleted by the event loop.
    QPointer<TestWindow> gone1(byCode), gone2(byUser);
    DeleteClosedWindows();
    EXPECT_TRUE(gone1.isNull());
    EXPECT_TRUE(gone2.isNull());
}

TEST_F(WindowBaseTest, CancelledRequestKeepsTheWindowLoaded) {
    TestWindow& window = *new TestWindow();
    window.show();
    window.keepLoaded = true;
    EXPECT_FALSE(window.close());
    EXPECT_FALSE(window.unload());
    EXPECT_EQ(window.requests.size(), 2u);
    EXPECT_EQ(window.unloads, 0);
    EXPECT_TRUE(window.isLoaded());
    EXPECT_TRUE(window.isVisible());
    window.keepLoaded = false;
    EXPECT_TRUE(window.unload());
    EXPECT_EQ(window.unloads, 1);
    EXPECT_EQ(window.requests.back(), WindowBase::UnloadMode::Code);
}

class WindowBaseEndTest : public WindowBaseTest {
  protected:
    void SetUp() override {
        WindowBaseTest::SetUp();
        DoEvents();  // nothing left over from earlier tests
        previous_ = WindowBase::SetNoWindowLoadedAction([this] { ++ends_; });
    }
    void TearDown() override {
        WindowBase::SetNoWindowLoadedAction(previous_);
        WindowBaseTest::TearDown();
    }
    int ends_ = 0;
    std::function<void()> previous_;
};

TEST_F(WindowBaseEndTest, ProgramEndsOnceNoWindowIsLoadedAfterTheHandler) {
    auto* last = new TestWindow();
    last->unload();
    EXPECT_EQ(ends_, 0);  // not in the middle of the handler
    DoEvents();
    EXPECT_EQ(ends_, 1);
}

TEST_F(WindowBaseEndTest, HandingOverToTheNextWindowKeepsTheProgramRunning) {
    auto* creation = new TestWindow(QStringLiteral("frmMAKEMDB"));
    auto* menu = new TestWindow(QStringLiteral("frmMENU"));
    menu->hide();
    creation->unload();
    menu->unload();
    (new TestWindow(QStringLiteral("frmyubinbox")))->show();
    DoEvents();
    EXPECT_EQ(ends_, 0);
    EXPECT_EQ(WindowBase::LoadedCount(), 1);
}

TEST_F(WindowBaseEndTest, HiddenWindowKeepsTheProgramRunning) {
    auto* menu = new TestWindow(QStringLiteral("frmMENU"));
    auto* chooser = new TestWindow(QStringLiteral("frmFilename"));
    chooser->show();
    menu->hide();
    chooser->unload();
    DoEvents();
    EXPECT_EQ(ends_, 0);
    EXPECT_TRUE(menu->isLoaded());
}

TEST_F(WindowBaseTest, ErrorWhileUnloadingIsReportedAndEndsTheProgram) {
    MessageBoxResponder boxes;
    ScopedEndProgramHook end;
    TestWindow& window = *new TestWindow();
    window.show();
    window.failUnload = true;
    EXPECT_NO_THROW(window.close());
    ASSERT_EQ(boxes.asked().size(), 1u);
    EXPECT_EQ(boxes.asked()[0].style, 16);
    EXPECT_EQ(boxes.asked()[0].title, QStringLiteral("yubinbox"));
    EXPECT_EQ(end.calls(), 1);
    EXPECT_NE(end.exitCode(), 0);
}

}  // namespace
}  // namespace yubin::app
