// Rectangle operations and the size arithmetic that places, scales and fits pictures.
#include "raster/geometry.h"

#include <gtest/gtest.h>

#include <climits>

namespace br {
namespace {

void ExpectRect(const Rect& r, std::int32_t l, std::int32_t t, std::int32_t rt, std::int32_t b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rt);
    EXPECT_EQ(r.bottom, b);
}

TEST(RectTest, WidthAndHeightAreNotClampedForInvertedRectangles) {
    Rect r(10, 20, 4, 5);
    EXPECT_EQ(r.Width(), -6);
    EXPECT_EQ(r.Height(), -15);
    r.Offset(-3, 7);
    ExpectRect(r, 7, 27, 1, 12);
    Rect copy;
    CopyRect(copy, r);
    ExpectRect(copy, 7, 27, 1, 12);
}

struct IntersectCase {
    Rect a, b;
    bool nonEmpty;
    Rect expected;
};

TEST(RectTest, IntersectFollowsTheEdgeRules) {
    const IntersectCase cases[] = {
        // Touching along an edge is no intersection.
        {{0, 0, 10, 10}, {10, 0, 20, 10}, false, {0, 0, 0, 0}},
        {{0, 0, 10, 10}, {5, 5, 20, 20}, true, {5, 5, 10, 10}},
        // Overlapping columns but disjoint rows.
        {{0, 0, 10, 10}, {2, 10, 8, 30}, false, {0, 0, 0, 0}},
        // An empty argument always gives an empty result.
        {{0, 0, 10, 10}, {3, 3, 3, 8}, false, {0, 0, 0, 0}},
        {{-5, -5, 5, 5}, {-10, 0, 0, 10}, true, {-5, 0, 0, 5}},
    };
    for (const auto& c : cases) {
        Rect result(99, 99, 99, 99);
        EXPECT_EQ(result.Intersect(c.a, c.b), c.nonEmpty);
        ExpectRect(result, c.expected.left, c.expected.top, c.expected.right, c.expected.bottom);
    }
}

TEST(RectTest, IntersectWorksInPlaceWithEitherArgument) {
    Rect r(0, 0, 10, 10);
    EXPECT_TRUE(r.Intersect(r, Rect(5, 5, 20, 20)));
    ExpectRect(r, 5, 5, 10, 10);
    Rect s(2, 2, 8, 8);
    EXPECT_TRUE(s.Intersect(Rect(0, 4, 6, 20), s));
    ExpectRect(s, 2, 4, 6, 8);
}

TEST(ScaleLengthTest, EnlargingRoundsHalfUpAndReducingTruncates) {
    EXPECT_EQ(ScaleLength(7, 1.0), 7);
    EXPECT_EQ(ScaleLength(3, 1.5), 5);  // 4.5 + 0.5
    EXPECT_EQ(ScaleLength(5, 0.5), 2);  // 2.5 truncated
    EXPECT_EQ(ScaleLength(3, 0.3), 0);
}

TEST(ScaleSizeTest, OddOrientationsExchangeWidthAndHeight) {
    const Size turned = ScaleSize(100, 50, 0.5, 1);
    EXPECT_EQ(turned.cx, 25);
    EXPECT_EQ(turned.cy, 50);
    const Size upsideDown = ScaleSize(100, 50, 0.5, 2);
    EXPECT_EQ(upsideDown.cx, 50);
    EXPECT_EQ(upsideDown.cy, 25);
    // The signed remainder: only positive odd values exchange.
    const Size negative = ScaleSize(100, 50, 1.0, -1);
    EXPECT_EQ(negative.cx, 100);
    EXPECT_EQ(negative.cy, 50);
}

struct PercentCase {
    std::int32_t cx, cy, percent;
    Orientation orientation;
    std::int32_t wantCx, wantCy;
};

TEST(PercentSizeTest, RoundsUpWhenReducingAndToNearestWhenEnlarging) {
    const PercentCase cases[] = {
        {150, 40, 1, 0, 2, 1},     // each side rounded up, never below 1
        {3, 3, 150, 0, 5, 5},      // 4.5 rounded half up
        {10, 20, 100, 3, 20, 10},  // unchanged, then exchanged
        {0, 7, 50, 0, 1, 4},       // the lower bound applies to a zero side as well
        {0, 7, 200, 0, 0, 14},     // enlarging has no lower bound
        {99, 1, 99, 5, 1, 99},     // (99 * 99 + 99) / 100 = 99
    };
    for (const auto& c : cases) {
        const Size s = PercentSize(c.cx, c.cy, c.percent, c.orientation);
        EXPECT_EQ(s.cx, c.wantCx) << c.cx << "x" << c.cy << " at " << c.percent;
        EXPECT_EQ(s.cy, c.wantCy) << c.cx << "x" << c.cy << " at " << c.percent;
    }
}

TEST(PercentSizeTest, LargeSidesDoNotOverflow) {
    // 30,000,000 x 99 exceeds 32 bits; the result is the exact rounded-up value.
    const Size s = PercentSize(30000000, 1, 99, 0);
    EXPECT_EQ(s.cx, 29700000);
    EXPECT_EQ(s.cy, 1);
}

struct FitCase {
    std::int32_t boxW, boxH, picW, picH;
    bool always;
    std::int32_t wantW, wantH;
};

TEST(FitSizeTest, KeepsTheAspectRatioInsideTheBox) {
    const FitCase cases[] = {
        {240, 320, 100, 50, false, 100, 50},  // already fits
        {240, 320, 100, 50, true, 240, 120},
        {240, 320, 480, 480, false, 240, 240},
        {240, INT_MAX, 480, 200, true, 240, 100},  // an unbounded side never limits
        // Too tall only: both ratios must reach 1.0 for the picture to keep its size.
        {240, 320, 200, 640, false, 100, 320},
        // A tie selects the width rule.
        {100, 100, 200, 200, false, 100, 100},
        // The exact height 33.33 is rounded up.
        {100, 1000, 300, 100, false, 100, 34},
        // Very wide pictures still get one row.
        {10, 10, 1000, 1, false, 10, 1},
    };
    for (const auto& c : cases) {
        Size s(-1, -1);
        FitSize(c.boxW, c.boxH, c.picW, c.picH, c.always, &s);
        EXPECT_EQ(s.cx, c.wantW) << c.picW << "x" << c.picH << " in " << c.boxW << "x" << c.boxH;
        EXPECT_EQ(s.cy, c.wantH) << c.picW << "x" << c.picH << " in " << c.boxW << "x" << c.boxH;
    }
}

TEST(FitSizeTest, APictureWithoutAreaIsReturnedAsItIs) {
    Size s(-1, -1);
    FitSize(240, 320, 0, 50, true, &s);
    EXPECT_EQ(s.cx, 0);
    EXPECT_EQ(s.cy, 50);
}

TEST(ScaleLengthTest, ResultsBeyondTheIntegerRangeSaturate) {
    EXPECT_EQ(ScaleLength(2000000000, 25.0), 2147483647);
    EXPECT_EQ(ScaleLength(-2000000000, 25.0), -2147483647 - 1);
}

TEST(FitSizeTest, LargeProductsDoNotOverflow) {
    // boxW x picH = 46,000 x 50,000 exceeds 32 bits; the height is the exact value rounded up.
    Size s(0, 0);
    FitSize(46000, 200000, 60000, 50000, false, &s);
    EXPECT_EQ(s.cx, 46000);
    EXPECT_EQ(s.cy, 38334);  // 38,333.33 rounded up
}

}  // namespace
}  // namespace br
