// The progress and result captions where binary arithmetic would show another text.
#include <gtest/gtest.h>

#include "import/mdInport.h"

namespace yubin {
namespace {

TEST(CaptionRounding, PercentRoundsTheDecimalValueHalfAwayFromZero) {
    EXPECT_EQ(mdInport::FormatPercent(2675, 100000), "( 2.68% )");
    EXPECT_EQ(mdInport::FormatPercent(1, 800), "( 0.13% )");
    EXPECT_EQ(mdInport::FormatPercent(3, 800), "( 0.38% )");
    EXPECT_EQ(mdInport::FormatPercent(1, 8000000), "( 0.00% )");  // 0.0000125
    EXPECT_EQ(mdInport::FormatPercent(0, 0), "( 0.00% )");
    // The published national file is about 12 MB: a value just below a half stays below.
    EXPECT_EQ(mdInport::FormatPercent(1234567, 12345678), "( 10.00% )");
    EXPECT_EQ(mdInport::FormatPercent(12345678, 12345678), "( 100.00% )");
}

TEST(CaptionRounding, ElapsedTimeKeepsHoursOfThreeDigits) {
    EXPECT_EQ(mdInport::FormatElapsed(100 * 3600 + 5), "100:00分05秒");
    EXPECT_EQ(mdInport::FormatElapsed(200 * 3600 + 61), "200:01分01秒");
    EXPECT_EQ(mdInport::FormatElapsed(1000 * 3600), "1000:00分00秒");
    EXPECT_EQ(mdInport::FormatElapsed(99 * 3600 + 59 * 60 + 59), "99:59分59秒");
}

}  // namespace
}  // namespace yubin
