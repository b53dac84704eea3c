// The window base: client area, status bar, caption, unloading and the loaded register.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QPushButton>
#include <QStyleOption>
#include <QTest>

#include "windows/ErrorGuard.h"
#include "windows/MessageBox.h"
#include "windows/WindowBase.h"
#include "windows/WindowCommon.h"

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

class WindowBaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OverrideProgramName(QStringLiteral("yubinbox"));
        DoEvents();  // nothing left over from earlier tests
        previous_ = WindowBase::SetNoWindowLoadedAction([this] { ++ends_; });
    }
    void TearDown() override {
        WindowBase::SetNoWindowLoadedAction(previous_);
        WindowBase::DeleteLoadedWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        OverrideProgramName(QString());
    }
    int ends_ = 0;
    std::function<void()> previous_;
};

TEST_F(WindowBaseTest, UnloadFromCodeOrByTheUserAndTheRegister) {
    auto* menu = new TestWindow(QStringLiteral("frmMENU"));
    auto* chooser = new TestWindow(QStringLiteral("frmFilename"));
    chooser->show();
    EXPECT_EQ(WindowBase::LoadedCount(), 2);
    EXPECT_EQ(WindowBase::Loaded(QStringLiteral("frmMENU")), menu);
    EXPECT_EQ(WindowBase::Loaded(QStringLiteral("frmMAKEMDB")), nullptr);

    EXPECT_TRUE(menu->unload());  // a hidden window, unloaded by another one
    EXPECT_EQ(menu->requests, std::vector{WindowBase::UnloadMode::Code});
    EXPECT_EQ(menu->unloads, 1);
    EXPECT_EQ(WindowBase::Loaded(QStringLiteral("frmMENU")), nullptr);

    EXPECT_TRUE(chooser->close());  // the close box
    EXPECT_EQ(chooser->requests, std::vector{WindowBase::UnloadMode::User});
    EXPECT_FALSE(chooser->isLoaded());
    EXPECT_FALSE(chooser->isVisible());
    EXPECT_EQ(WindowBase::LoadedCount(), 0);

    QPointer<TestWindow> gone1(menu), gone2(chooser);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(gone1.isNull() && gone2.isNull());  // deleted by the event loop
}

TEST_F(WindowBaseTest, CancelledRequestKeepsTheWindowLoaded) {
    auto* window = new TestWindow();
    window->show();
    window->keepLoaded = true;
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->unload());
    EXPECT_EQ(window->unloads, 0);
    EXPECT_TRUE(window->isLoaded());
    EXPECT_TRUE(window->isVisible());
    window->keepLoaded = false;
    EXPECT_TRUE(window->unload());
    EXPECT_EQ(window->requests.back(), WindowBase::UnloadMode::Code);
}

TEST_F(WindowBaseTest, ProgramEndsOnceNoWindowIsLoadedAfterTheHandler) {
    auto* last = new TestWindow();
    last->unload();
    EXPECT_EQ(ends_, 0);  // not in the middle of the handler
    DoEvents();
    EXPECT_EQ(ends_, 1);
}

TEST_F(WindowBaseTest, HandingOverOrAHiddenWindowKeepsTheProgramRunning) {
    auto* creation = new TestWindow(QStringLiteral("frmMAKEMDB"));
    auto* menu = new TestWindow(QStringLiteral("frmMENU"));
    creation->unload();
    menu->unload();
    auto* import = new TestWindow(QStringLiteral("frmyubinbox"));
    auto* hidden = new TestWindow(QStringLiteral("frmMENU"));
    import->unload();
    DoEvents();
    EXPECT_EQ(ends_, 0);
    EXPECT_TRUE(hidden->isLoaded());
}

TEST_F(WindowBaseTest, ErrorWhileUnloadingIsReportedAndEndsTheProgram) {
    MessageBoxResponder boxes;
    ScopedEndProgramHook end;
    auto* window = new TestWindow();
    window->failUnload = true;
    EXPECT_NO_THROW(window->close());
    ASSERT_EQ(boxes.asked().size(), 1u);
    EXPECT_EQ(boxes.asked()[0].style, 16);
    EXPECT_EQ(end.calls(), 1);
}

TEST_F(WindowBaseTest, EnterPressesTheFocusedButtonAndTheFocusIsMarkedFromTheStart) {
    auto* window = new TestWindow();
    auto* first = new QPushButton(QStringLiteral("一"), window);
    auto* second = new QPushButton(QStringLiteral("二"), window);
    int firstClicks = 0, secondClicks = 0;
    QObject::connect(first, &QPushButton::clicked, [&] { ++firstClicks; });
    QObject::connect(second, &QPushButton::clicked, [&] { ++secondClicks; });
    window->show();
    second->setFocus(Qt::OtherFocusReason);

    // The mark is drawn for the focused control before any Tab has been pressed.
    QStyleOptionButton option;
    option.initFrom(second);
    EXPECT_TRUE(option.state & QStyle::State_KeyboardFocusChange);

    QTest::keyClick(second, Qt::Key_Return);
    EXPECT_EQ(secondClicks, 1);
    QTest::keyClick(second, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(secondClicks, 2);
    QTest::keyClick(second, Qt::Key_Space);  // as before
    EXPECT_EQ(secondClicks, 3);
    QTest::keyClick(second, Qt::Key_Return, Qt::ControlModifier);  // not a plain Enter
    EXPECT_EQ(secondClicks, 3);
    EXPECT_EQ(firstClicks, 0);

    // A focus moved by the mouse keeps the mark too.
    first->setFocus(Qt::MouseFocusReason);
    option.initFrom(first);
    EXPECT_TRUE(option.state & QStyle::State_KeyboardFocusChange);
    QTest::keyClick(first, Qt::Key_Return);
    EXPECT_EQ(firstClicks, 1);
    EXPECT_EQ(secondClicks, 3);
}

}  // namespace
}  // namespace yubin::app
