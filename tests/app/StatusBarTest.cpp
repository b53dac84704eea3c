// StatusBar1: keyed panels and the time panel.
#include <gtest/gtest.h>

#include <stdexcept>

#include <QTimer>
#include <QWidget>

#include "app/StatusBar.h"

namespace yubin::app {
namespace {

class StatusBarTest : public ::testing::Test {
  protected:
    QTime now_{9, 5, 42};
    ScopedClockSource clock_{[this] { return now_; }};
    QWidget window_;
};

TEST_F(StatusBarTest, HasTheTextPanelAndTheClockPanel) {
    StatusBar1 bar(QStringLiteral("moji"), &window_);
    EXPECT_EQ(bar.objectName(), QStringLiteral("StatusBar1"));
    EXPECT_TRUE(bar.hasPanel(QStringLiteral("moji")));
    EXPECT_TRUE(bar.hasPanel(QStringLiteral("clock")));
    EXPECT_FALSE(bar.hasPanel(QStringLiteral("msg")));
    EXPECT_EQ(bar.panel(QStringLiteral("moji")).key(), QStringLiteral("moji"));
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).key(), QStringLiteral("clock"));
    EXPECT_EQ(bar.panel(QStringLiteral("moji")).text(), QString());
    EXPECT_EQ(bar.findChild<StatusPanel*>(QStringLiteral("moji")),
              &bar.panel(QStringLiteral("moji")));
}

TEST_F(StatusBarTest, TextPanelKeepsItsText) {
    StatusBar1 bar(QStringLiteral("msg"), &window_);
    bar.panel(QStringLiteral("msg"))
        .setText(QStringLiteral("全国版郵便番号データを取り込んでいます。"));
    EXPECT_EQ(bar.panel(QStringLiteral("msg")).text(),
              QStringLiteral("全国版郵便番号データを取り込んでいます。"));
    bar.panel(QStringLiteral("msg")).setText(QString());
    EXPECT_EQ(bar.panel(QStringLiteral("msg")).text(), QString());
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("09:05"));
}

TEST_F(StatusBarTest, UnknownKeyIsAnError) {
    StatusBar1 bar(QStringLiteral("msg"), &window_);
    EXPECT_THROW(bar.panel(QStringLiteral("moji")), std::out_of_range);
    EXPECT_THROW(StatusBar1(QStringLiteral("clock"), &window_), std::invalid_argument);
}

TEST_F(StatusBarTest, ClockShowsTheTimeOfDayAndFollowsIt) {
    StatusBar1 bar(QStringLiteral("moji"), &window_);
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("09:05"));
    now_ = QTime(23, 59, 59);
    bar.refreshClock();
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("23:59"));
    now_ = QTime(0, 0, 0);
    bar.refreshClock();
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("00:00"));
    // The timer keeps it current without anyone asking.
    EXPECT_TRUE(bar.clockTimer().isActive());
    EXPECT_LE(bar.clockTimer().interval(), 1000);
}

TEST(ClockSource, SystemClockAgainWhenTheScopeEnds) {
    {
        ScopedClockSource fixed([] { return QTime(12, 34); });
        EXPECT_EQ(CurrentTimeOfDay(), QTime(12, 34));
    }
    const QTime before = QTime::currentTime();
    const QTime read = CurrentTimeOfDay();
    const QTime after = QTime::currentTime();
    if (after < before) GTEST_SKIP() << "midnight passed while reading the clock";
    EXPECT_TRUE(before <= read && read <= after) << read.toString().toStdString();
}

}  // namespace
}  // namespace yubin::app
