// The guard of the window handlers: report, end, and nothing escapes.
#include <gtest/gtest.h>

#include <stdexcept>

#include <QPushButton>

#include "app/ErrorGuard.h"
#include "app/MessageBox.h"
#include "app/WindowCommon.h"
#include "store/Error.h"

namespace yubin::app {
namespace {

class ErrorGuardTest : public ::testing::Test {
  protected:
    void SetUp() override { OverrideProgramName(QStringLiteral("yubinbox")); }
    void TearDown() override { OverrideProgramName(QString()); }

    MessageBoxResponder boxes_;
    ScopedEndProgramHook end_;
};

TEST_F(ErrorGuardTest, HandlerWithoutErrorRunsAndNothingHappens) {
    bool ran = false;
    Guarded([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(end_.ended());
    EXPECT_FALSE(ProgramEnded());
}

TEST_F(ErrorGuardTest, YubinErrorIsReportedWithNumberAndDescriptionThenTheProgramEnds) {
    bool after = false;
    EXPECT_NO_THROW(Guarded([&] {
        throw YubinError(ErrorCode::PathFileAccess, "パス/ファイル名が無効です。");
        after = true;
    }));
    EXPECT_FALSE(after);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    const AskedMessage& box = boxes_.asked()[0];
    EXPECT_EQ(box.text, QStringLiteral("実行時エラー '75':\n\nパス/ファイル名が無効です。"));
    EXPECT_EQ(box.style, 16);
    EXPECT_EQ(box.title, QStringLiteral("yubinbox"));
    EXPECT_EQ(end_.calls(), 1);
    EXPECT_NE(end_.exitCode(), 0);
    EXPECT_TRUE(ProgramEnded());
}

TEST_F(ErrorGuardTest, OtherExceptionsAreReportedAndEndTheProgramToo) {
    Guarded([] { throw std::runtime_error("ディスクがいっぱいです"); });
    Guarded([] { throw 42; });
    ASSERT_EQ(boxes_.asked().size(), 2u);
    EXPECT_NE(boxes_.asked()[0].text.indexOf(QStringLiteral("ディスクがいっぱいです")), -1);
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_EQ(boxes_.asked()[1].text, UnknownErrorReportText());
    EXPECT_EQ(boxes_.asked()[1].style, 16);
    EXPECT_EQ(end_.calls(), 2);
    EXPECT_EQ(end_.exitCode(), kErrorExitCode);
}

TEST_F(ErrorGuardTest, ReportThatFailsStillEndsTheProgram) {
    // A script error makes the report itself throw; the guard must still end, not throw.
    boxes_.setNextAnswer(Answer::Yes);
    EXPECT_NO_THROW(Guarded([] { throw YubinError(ErrorCode::FileNotFound, "x"); }));
    EXPECT_EQ(end_.calls(), 1);
}

TEST_F(ErrorGuardTest, ErrorInAButtonHandlerNeverCrossesTheEventLoop) {
    QPushButton button;
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        Guarded([&] {
            ++clicks;
            throw YubinError(ErrorCode::DatabaseNotFound, "ファイルが見つかりません。");
        });
    });
    EXPECT_NO_THROW(button.click());
    EXPECT_EQ(clicks, 1);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text,
              QStringLiteral("実行時エラー '3024':\n\nファイルが見つかりません。"));
    EXPECT_EQ(end_.calls(), 1);
}

TEST_F(ErrorGuardTest, EndProgramGoesToTheHookWithItsCode) {
    EndProgram();
    EXPECT_EQ(end_.calls(), 1);
    EXPECT_EQ(end_.exitCode(), 0);
    EndProgram(3);
    EXPECT_EQ(end_.exitCode(), 3);
    EXPECT_TRUE(boxes_.asked().empty());
}

TEST(ErrorGuardHook, HookIsRestoredWhenTheScopeEnds) {
    int outer = 0;
    auto previous = SetEndProgramHook([&](int) { ++outer; });
    {
        ScopedEndProgramHook inner;
        EndProgram(0);
        EXPECT_EQ(inner.calls(), 1);
    }
    EXPECT_FALSE(ProgramEnded());
    EndProgram(0);
    EXPECT_EQ(outer, 1);
    SetEndProgramHook(previous);
}

}  // namespace
}  // namespace yubin::app
