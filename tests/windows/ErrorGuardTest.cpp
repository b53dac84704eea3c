// The guard of the window handlers: report, end, and nothing escapes.
#include <gtest/gtest.h>

#include <stdexcept>

#include <QPushButton>

#include "base/Error.h"
#include "windows/ErrorGuard.h"
#include "windows/MessageBox.h"
#include "windows/WindowCommon.h"

namespace yubin::app {
namespace {

class ErrorGuardTest : public ::testing::Test {
  protected:
    void SetUp() override { OverrideProgramName(QStringLiteral("yubinbox")); }
    void TearDown() override { OverrideProgramName(QString()); }

    MessageBoxResponder boxes_;
    ScopedEndProgramHook end_;
};

TEST_F(ErrorGuardTest, HandlerWithoutErrorRunsAndNothingElseHappens) {
    bool ran = false;
    Guarded([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(end_.ended());
    EXPECT_FALSE(ProgramEnded());
}

TEST_F(ErrorGuardTest, ErrorInAButtonHandlerIsReportedAndEndsTheProgram) {
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked, [] {
        Guarded([] { throw YubinError(ErrorCode::PathFileAccess, "パス/ファイル名が無効です。"); });
    });
    EXPECT_NO_THROW(button.click());  // nothing crosses the event loop
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text,
              QStringLiteral("実行時エラー '75':\n\nパス/ファイル名が無効です。"));
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_EQ(boxes_.asked()[0].title, QStringLiteral("yubinbox"));
    EXPECT_EQ(end_.calls(), 1);
    EXPECT_EQ(end_.exitCode(), kErrorExitCode);
    EXPECT_NE(kErrorExitCode, 0);
    EXPECT_TRUE(ProgramEnded());
}

TEST_F(ErrorGuardTest, OtherExceptionsAndAFailingReportEndTheProgramToo) {
    EXPECT_NO_THROW(Guarded([] { throw std::runtime_error("ディスクがいっぱいです"); }));
    EXPECT_NO_THROW(Guarded([] { throw 42; }));
    boxes_.setNextAnswer(Answer::Yes);  // makes the report itself throw
    EXPECT_NO_THROW(Guarded([] { throw YubinError(ErrorCode::FileNotFound, "x"); }));
    ASSERT_EQ(boxes_.asked().size(), 3u);
    EXPECT_NE(boxes_.asked()[0].text.indexOf(QStringLiteral("ディスクがいっぱいです")), -1);
    EXPECT_EQ(boxes_.asked()[1].text, UnknownErrorReportText());
    EXPECT_EQ(boxes_.asked()[1].style, 16);
    EXPECT_EQ(end_.calls(), 3);
}

}  // namespace
}  // namespace yubin::app
