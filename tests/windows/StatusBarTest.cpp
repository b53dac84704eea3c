// StatusBar1: keyed panels and the time panel.
#include <gtest/gtest.h>

#include <stdexcept>

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include "windows/StatusBar.h"

namespace yubin::app {
namespace {

class StatusBarTest : public ::testing::Test {
  protected:
    QTime now_{9, 5, 42};
    ScopedClockSource clock_{[this] { return now_; }};
    QWidget window_;
};

TEST_F(StatusBarTest, KeyedTextPanelAndClockPanel) {
    StatusBar1 bar(QStringLiteral("msg"), &window_);
    EXPECT_EQ(bar.objectName(), QStringLiteral("StatusBar1"));
    StatusPanel& msg = bar.panel(QStringLiteral("msg"));
    EXPECT_EQ(msg.key(), QStringLiteral("msg"));
    EXPECT_EQ(msg.text(), QString());
    msg.setText(QStringLiteral("全国版郵便番号データを取り込んでいます。"));
    EXPECT_EQ(bar.panel(QStringLiteral("msg")).text(),
              QStringLiteral("全国版郵便番号データを取り込んでいます。"));
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("09:05"));
    EXPECT_FALSE(bar.hasPanel(QStringLiteral("moji")));
    EXPECT_THROW(bar.panel(QStringLiteral("moji")), std::out_of_range);
    EXPECT_THROW(StatusBar1(QStringLiteral("clock"), &window_), std::invalid_argument);
}

TEST_F(StatusBarTest, TheBarIsOpaqueOverAPictureBeneathIt) {
    window_.resize(400, 300);
    QLabel picture(&window_);
    QPixmap red(400, 300);
    red.fill(Qt::red);
    picture.setPixmap(red);
    picture.setGeometry(0, 0, 400, 300);
    StatusBar1 bar(QStringLiteral("moji"), &window_);
    bar.setGeometry(0, 300 - bar.sizeHint().height(), 400, bar.sizeHint().height());
    bar.raise();
    const QImage shot = window_.grab().toImage();
    const QRect inside = bar.geometry().adjusted(6, 6, -6, -6);
    for (const QPoint& point : {inside.topLeft(), inside.center(), inside.bottomRight()}) {
        EXPECT_NE(shot.pixelColor(point), QColor(Qt::red)) << point.x() << "," << point.y();
    }
}

TEST_F(StatusBarTest, ClockFollowsTheTimeOfDay) {
    StatusBar1 bar(QStringLiteral("moji"), &window_);
    now_ = QTime(23, 59, 59);
    bar.refreshClock();
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("23:59"));
    now_ = QTime(0, 0, 0);
    bar.refreshClock();
    EXPECT_EQ(bar.panel(QStringLiteral("clock")).text(), QStringLiteral("00:00"));
    EXPECT_TRUE(bar.clockTimer().isActive());  // the timer keeps it current
    EXPECT_LE(bar.clockTimer().interval(), 1000);
}

}  // namespace
}  // namespace yubin::app
