// The application object every window test runs under, on the offscreen platform, and the
// safety nets of the whole test program: no message box is ever shown and the program is
// never ended; a test that asks a box or ends the program without saying so fails.
#include <gtest/gtest.h>

#include <memory>

#include <QApplication>
#include <QGuiApplication>

#include "windows/ErrorGuard.h"
#include "windows/Fonts.h"
#include "windows/MessageBox.h"
#include "windows/WindowBase.h"

namespace {

using yubin::app::MessageBoxResponder;

struct Nets {
    std::unique_ptr<MessageBoxResponder> boxes;
    int unexpectedEnds = 0;
};

Nets& TheNets() {
    static Nets nets;
    return nets;
}

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        application_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
        yubin::app::InstallFontSubstitutions();
        TheNets().boxes = std::make_unique<MessageBoxResponder>();
        yubin::app::SetEndProgramHook([](int) { ++TheNets().unexpectedEnds; });
    }
    void TearDown() override {
        yubin::app::WindowBase::DeleteLoadedWindows();
        yubin::app::SetEndProgramHook({});
        TheNets().boxes.reset();
        application_.reset();
    }

  private:
    int argc_ = 1;
    char name_[32] = "yubin_window_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

// After every test: boxes nobody scripted, ends nobody expected, windows left loaded.
class NetListener : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& info) override {
        Nets& nets = TheNets();
        if (nets.boxes && !nets.boxes->asked().empty()) {
            ADD_FAILURE() << info.name() << " asked a message box without a responder: "
                          << nets.boxes->asked().front().text.toStdString();
            nets.boxes->clear();
        }
        if (nets.unexpectedEnds > 0) {
            ADD_FAILURE() << info.name() << " ended the program unexpectedly";
            nets.unexpectedEnds = 0;
        }
        if (yubin::app::WindowBase::LoadedCount() > 0) {
            ADD_FAILURE() << info.name() << " left windows loaded";
            yubin::app::WindowBase::DeleteLoadedWindows();
        }
    }
};

const bool kRegistered = [] {
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);
    ::testing::UnitTest::GetInstance()->listeners().Append(new NetListener);
    return true;
}();

TEST(QtApplication, RunsOnTheOffscreenPlatform) {
    ASSERT_NE(QApplication::instance(), nullptr);
    EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
}

}  // namespace
