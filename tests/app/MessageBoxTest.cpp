// Message boxes: the style numbers, the built box, and the scripted responder.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include <QMessageBox>
#include <QPushButton>

#include "app/MessageBox.h"
#include "app/WindowCommon.h"

namespace yubin::app {
namespace {

struct StyleCase {
    int style;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
    QMessageBox::StandardButton defaultButton;
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
    EXPECT_EQ(box->text(), QStringLiteral("本文\n二行目"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("題"));
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(DefaultAnswer(c.style), c.defaultButton == QMessageBox::Ok    ? Answer::Ok
                                      : c.defaultButton == QMessageBox::Yes ? Answer::Yes
                                                                            : Answer::No);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxStyleTest,
    ::testing::Values(
        StyleCase{0, QMessageBox::Ok, QMessageBox::NoIcon, QMessageBox::Ok},
        StyleCase{16, QMessageBox::Ok, QMessageBox::Critical, QMessageBox::Ok},
        StyleCase{48, QMessageBox::Ok, QMessageBox::Warning, QMessageBox::Ok},
        StyleCase{64, QMessageBox::Ok, QMessageBox::Information, QMessageBox::Ok},
        StyleCase{4, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoIcon, QMessageBox::Yes},
        StyleCase{36, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question, QMessageBox::Yes},
        StyleCase{260, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoIcon, QMessageBox::No},
        StyleCase{292, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                  QMessageBox::No}));

TEST(MessageBoxStyle, FlagsAddUpToTheStylesInUse) {
    EXPECT_EQ(MsgStyle::YesNo + MsgStyle::Question + MsgStyle::DefaultButton2, 292);
    EXPECT_EQ(MsgStyle::YesNo + MsgStyle::DefaultButton2, 260);
    EXPECT_EQ(MsgStyle::OkOnly + MsgStyle::Critical, 16);
}

TEST(MessageBoxStyle, YesAndNoCarryJapaneseTextsAndNoIsTheEscape) {
    std::unique_ptr<QMessageBox> box = BuildMessageBox(QStringLiteral("?"), 292, QString());
    EXPECT_EQ(box->button(QMessageBox::Yes)->text(), QStringLiteral("はい(&Y)"));
    EXPECT_EQ(box->button(QMessageBox::No)->text(), QStringLiteral("いいえ(&N)"));
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::No));
    EXPECT_EQ(box->windowTitle(), QString());
}

TEST(MessageBoxStyle, StylesOutsideTheSystemAreRefused) {
    for (int style : {1, 2, 3, 5, 16 + 256, 512 + 4, 80, 4096, -1}) {
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

TEST_F(MessageBoxResponderTest, RecordsEveryBoxWithTextStyleAndTitle) {
    EXPECT_EQ(MsgBox(QStringLiteral("一\n二"), 16, QString()), Answer::Ok);
    EXPECT_EQ(MsgBox(QStringLiteral("権限"), 0), Answer::Ok);
    EXPECT_EQ(MsgBox(QStringLiteral("既定"), 64, QStringLiteral("郵便番号データ取込処理")),
              Answer::Ok);
    ASSERT_EQ(boxes_.asked().size(), 3u);
    EXPECT_EQ(boxes_.asked()[0].text, QStringLiteral("一\n二"));
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_EQ(boxes_.asked()[0].title, QString());
    EXPECT_TRUE(boxes_.asked()[0].title.isEmpty());
    // Without a title: the program's default title.
    EXPECT_EQ(boxes_.asked()[1].title, QStringLiteral("yubinbox"));
    EXPECT_EQ(boxes_.asked()[2].title, QStringLiteral("郵便番号データ取込処理"));
}

TEST_F(MessageBoxResponderTest, ScriptedAnswersInOrderThenTheDefaultButton) {
    boxes_.setNextAnswer(Answer::Yes);
    boxes_.setNextAnswer(Answer::No);
    EXPECT_EQ(boxes_.pendingAnswers(), 2u);
    EXPECT_EQ(MsgBox(QStringLiteral("a"), 292), Answer::Yes);
    EXPECT_EQ(MsgBox(QStringLiteral("b"), 4), Answer::No);
    EXPECT_EQ(boxes_.pendingAnswers(), 0u);
    EXPECT_EQ(MsgBox(QStringLiteral("c"), 292), Answer::No);  // No is the default
    EXPECT_EQ(MsgBox(QStringLiteral("d"), 4), Answer::Yes);   // Yes is the default
    ASSERT_EQ(boxes_.asked().size(), 4u);
    EXPECT_EQ(boxes_.asked()[0].answer, Answer::Yes);
    EXPECT_EQ(boxes_.asked()[2].answer, Answer::No);
}

TEST_F(MessageBoxResponderTest, AnswerThatIsNoButtonOfTheBoxIsAScriptError) {
    boxes_.setNextAnswer(Answer::Yes);
    EXPECT_THROW(MsgBox(QStringLiteral("OK only"), 16), std::logic_error);
    boxes_.setNextAnswer(Answer::Ok);
    EXPECT_THROW(MsgBox(QStringLiteral("Yes/No"), 260), std::logic_error);
    EXPECT_EQ(boxes_.asked().size(), 2u);
}

TEST_F(MessageBoxResponderTest, NestedResponderAnswersUntilItEnds) {
    {
        MessageBoxResponder inner;
        EXPECT_EQ(MessageBoxResponder::current(), &inner);
        inner.setNextAnswer(Answer::Yes);
        EXPECT_EQ(MsgBox(QStringLiteral("inner"), 260), Answer::Yes);
        EXPECT_EQ(inner.asked().size(), 1u);
    }
    EXPECT_EQ(MessageBoxResponder::current(), &boxes_);
    EXPECT_EQ(MsgBox(QStringLiteral("outer"), 260), Answer::No);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text, QStringLiteral("outer"));
}

TEST_F(MessageBoxResponderTest, ResponderEndedOutOfOrderLeavesTheChainIntact) {
    auto first = std::make_unique<MessageBoxResponder>();
    auto second = std::make_unique<MessageBoxResponder>();
    first.reset();
    EXPECT_EQ(MessageBoxResponder::current(), second.get());
    second.reset();
    EXPECT_EQ(MessageBoxResponder::current(), &boxes_);
}

}  // namespace
}  // namespace yubin::app
