// Message boxes: the style numbers, the built box, and the scripted responder.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include <QMessageBox>
#include <QPushButton>
#include <QWindow>

#include "windows/MessageBox.h"
#include "windows/WindowCommon.h"

namespace yubin::app {
namespace {

struct StyleCase {
    int style;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
    QMessageBox::StandardButton defaultButton;
    Answer defaultAnswer;
};

class MessageBoxStyleTest : public ::testing::TestWithParam<StyleCase> {};

TEST_P(MessageBoxStyleTest, StyleChoosesButtonsIconAndDefault) {
    const StyleCase& c = GetParam();
    std::unique_ptr<QMessageBox> box =
        BuildMessageBox(QStringLiteral("本文\n二行目"), c.style, QStringLiteral("題"));
    EXPECT_EQ(box->standardButtons(), c.buttons);
    EXPECT_EQ(box->icon(), c.icon);
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->defaultButton(), box->button(c.defaultButton));
    EXPECT_EQ(DefaultAnswer(c.style), c.defaultAnswer);
    EXPECT_EQ(box->text(), QStringLiteral("本文\n二行目"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("題"));
    EXPECT_FALSE(box->isVisible());
}

TEST(MessageBoxTitleTest, AnEmptyTitleShowsBlankNotTheProgramsName) {
    std::unique_ptr<QMessageBox> box = BuildMessageBox(QStringLiteral("本文"), 16, QString());
    box->winId();
    ASSERT_NE(box->windowHandle(), nullptr);
    // A window whose title is empty is given the program's name by the window system.
    const QString shown = box->windowHandle()->title();
    EXPECT_FALSE(shown.isEmpty());
    EXPECT_TRUE(shown.trimmed().isEmpty());
}

constexpr auto kYesNo = QMessageBox::Yes | QMessageBox::No;

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxStyleTest,
    ::testing::Values(
        StyleCase{16, QMessageBox::Ok, QMessageBox::Critical, QMessageBox::Ok, Answer::Ok},
        StyleCase{64, QMessageBox::Ok, QMessageBox::Information, QMessageBox::Ok, Answer::Ok},
        StyleCase{36, kYesNo, QMessageBox::Question, QMessageBox::Yes, Answer::Yes},
        StyleCase{260, kYesNo, QMessageBox::NoIcon, QMessageBox::No, Answer::No},
        StyleCase{292, kYesNo, QMessageBox::Question, QMessageBox::No, Answer::No}));

TEST(MessageBoxStyle, StylesOutsideTheSystemAreRefused) {
    for (int style : {1, 3, 5, 16 + 256, 512 + 4, 80, 4096, -1}) {
        EXPECT_THROW(BuildMessageBox(QStringLiteral("x"), style, QString()), std::invalid_argument)
            << style;
        EXPECT_THROW(DefaultAnswer(style), std::invalid_argument) << style;
    }
}

class MessageBoxResponderTest : public ::testing::Test {
  protected:
    void SetUp() override { OverrideProgramName(QStringLiteral("yubinbox")); }
    void TearDown() override { OverrideProgramName(QString()); }
    MessageBoxResponder boxes_;
};

TEST_F(MessageBoxResponderTest, RecordsTextStyleAndTitleOfEveryBox) {
    MsgBox(QStringLiteral("一\n二"), 16, QString());
    MsgBox(QStringLiteral("権限"), 0);
    MsgBox(QStringLiteral("題あり"), 16, QStringLiteral("郵便番号データ取込処理"));
    ASSERT_EQ(boxes_.asked().size(), 3u);
    EXPECT_EQ(boxes_.asked()[0].text, QStringLiteral("一\n二"));
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_TRUE(boxes_.asked()[0].title.isEmpty());
    EXPECT_EQ(boxes_.asked()[1].title, QStringLiteral("yubinbox"));  // the default title
    EXPECT_EQ(boxes_.asked()[2].title, QStringLiteral("郵便番号データ取込処理"));
}

TEST_F(MessageBoxResponderTest, ScriptedAnswersInOrderThenTheDefaultButton) {
    boxes_.setNextAnswer(Answer::Yes);
    boxes_.setNextAnswer(Answer::No);
    EXPECT_EQ(MsgBox(QStringLiteral("a"), 292), Answer::Yes);
    EXPECT_EQ(MsgBox(QStringLiteral("b"), 4), Answer::No);
    EXPECT_EQ(boxes_.pendingAnswers(), 0u);
    EXPECT_EQ(MsgBox(QStringLiteral("c"), 292), Answer::No);
    EXPECT_EQ(MsgBox(QStringLiteral("d"), 4), Answer::Yes);
    EXPECT_EQ(MsgBox(QStringLiteral("e"), 16), Answer::Ok);
    ASSERT_EQ(boxes_.asked().size(), 5u);
    EXPECT_EQ(boxes_.asked()[1].answer, Answer::No);

    boxes_.setNextAnswer(Answer::Yes);  // no button of an OK box: a script error
    EXPECT_THROW(MsgBox(QStringLiteral("OK only"), 16), std::logic_error);
}

TEST_F(MessageBoxResponderTest, NestedRespondersAnswerUntilTheyEnd) {
    auto first = std::make_unique<MessageBoxResponder>();
    auto second = std::make_unique<MessageBoxResponder>();
    MsgBox(QStringLiteral("inner"), 0);
    EXPECT_EQ(second->asked().size(), 1u);
    first.reset();  // out of order
    EXPECT_EQ(MessageBoxResponder::current(), second.get());
    second.reset();
    EXPECT_EQ(MessageBoxResponder::current(), &boxes_);
    MsgBox(QStringLiteral("outer"), 0);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text, QStringLiteral("outer"));
}

}  // namespace
}  // namespace yubin::app
