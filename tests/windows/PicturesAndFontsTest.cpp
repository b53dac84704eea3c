// The program's pictures and the fonts that stand in for the ones the windows name.
#include <gtest/gtest.h>

#include <functional>

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>

#include "support/TestSupport.h"
#include "windows/Fonts.h"
#include "windows/JapanOutlineData.h"
#include "windows/Pictures.h"

namespace yubin::app {
namespace {

int CountPixels(const QImage& image, const std::function<bool(QColor)>& wanted) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) count += wanted(image.pixelColor(x, y)) ? 1 : 0;
    }
    return count;
}

TEST(PicturesTest, TheMarkIsARedDiscWithTheWhiteSignInItsMiddle) {
    const QImage mark = pictures::PostalMark(QSize(100, 60)).toImage();
    EXPECT_EQ(mark.pixelColor(0, 0).alpha(), 0);            // transparent ground
    EXPECT_EQ(mark.pixelColor(50, 30), QColor(Qt::white));  // the stem, drawn centred
    EXPECT_EQ(mark.pixelColor(50, 8).red(), 214);           // the disc above the sign
    EXPECT_GT(CountPixels(mark, [](QColor c) { return c == QColor(Qt::white); }), 100);
}

TEST(PicturesTest, TheMapIsDrawnFromTheCoastlineOfTheRepository) {
    // The map data: 34 outer rings, 1,097 points, all within Japan's longitudes and latitudes.
    using pictures::kJapanOutline;
    ASSERT_EQ(kJapanOutline.ringCount, 34);
    int points = 0;
    for (int ring = 0; ring < kJapanOutline.ringCount; ++ring) {
        points += kJapanOutline.ringSizes[ring];
    }
    EXPECT_EQ(points, 1097);
    for (int point = 0; point < points; ++point) {
        EXPECT_GT(kJapanOutline.points[2 * point], 122.0f);
        EXPECT_LT(kJapanOutline.points[2 * point], 154.0f);
        EXPECT_GT(kJapanOutline.points[2 * point + 1], 20.0f);
        EXPECT_LT(kJapanOutline.points[2 * point + 1], 46.0f);
    }
    const QImage map = pictures::JapanOutline(QSize(300, 300)).toImage();
    const int land = CountPixels(map, [](QColor c) { return c.alpha() == 255; });
    EXPECT_GT(land, 300 * 300 / 20);  // Japan's islands fill part of the square
    EXPECT_LT(land, 300 * 300 / 2);
    // Honshu crosses the middle of the picture; the south-east corner is open sea.
    EXPECT_EQ(map.pixelColor(299, 299).alpha(), 0);
}

TEST(PicturesTest, TheGridAndTheBackgroundCoverTheirWholeSize) {
    for (const QPixmap& picture : {pictures::LightGrid(QSize(64, 48)),
                                   pictures::Background(QSize(64, 48), QRect(2, 2, 20, 20))}) {
        const QImage image = picture.toImage();
        EXPECT_EQ(image.size(), QSize(64, 48));
        EXPECT_EQ(CountPixels(image, [](QColor c) { return c.alpha() < 255; }), 0);
    }
}

TEST(FontsTest, TheNamedFontsResolveToJapaneseFontsThatHoldEveryCharacter) {
    const QString texts = QStringLiteral(
        "【管理者用】【利用者用】郵便番号ＤＢ新規作成(&M)設定ファイル作成(&S)郵便番号データ取込(&T)"
        "閉 じ る(&X)操作説明ﾌｧｲﾙ↓　あなたには、データ取り込みを実行する権限がありません。");
    for (const char* family : {"ＭＳ ゴシック", "ＭＳ Ｐゴシック", "HG創英ﾌﾟﾚｾﾞﾝｽEB"}) {
        SCOPED_TRACE(family);
        const QString name = QString::fromUtf8(family);
        const QStringList substitutes = SubstituteFamilies(name);
        ASSERT_FALSE(substitutes.isEmpty());
        QFont font(name);
        font.setPointSize(12);
        const QString resolved = QFontInfo(font).family();
        if (!substitutes.contains(resolved)) {
            GTEST_SKIP() << "no Japanese font installed (tools/install-deps.sh installs them); got "
                         << resolved.toStdString();
        }
        const QFontMetrics metrics(font);
        for (const QChar character : texts) {
            EXPECT_TRUE(metrics.inFont(character)) << QString(character).toStdString();
        }
    }
    EXPECT_EQ(PresenceFont(15.75).pointSizeF(), 15.75);
    EXPECT_EQ(PresenceFont(14.25).weight(), QFont::Bold);
}

}  // namespace
}  // namespace yubin::app
