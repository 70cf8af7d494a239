// Bar arithmetic: button widths, sliding, full-screen rectangles.
#include <gtest/gtest.h>

#include "bar/BarLayout.h"

TEST(BarLayout, ButtonWidthsRoundHalfToEvenAndLastFillsTheRest) {
    auto w = ButtonWidths(1280, 9);
    ASSERT_EQ(w.size(), 9u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(w[i], 142);
    EXPECT_EQ(w[8], 144);
    EXPECT_EQ(ButtonWidths(1280, 1), std::vector<int>{1280});
    EXPECT_TRUE(ButtonWidths(1280, 0).empty());
    // 1000 / 8 = 125 exactly; 1004 / 8 = 125.5 goes to the even 126; 1012 / 8 = 126.5 to 126.
    EXPECT_EQ(ButtonWidths(1004, 8)[0], 126);
    EXPECT_EQ(ButtonWidths(1012, 8)[0], 126);
    EXPECT_EQ(ButtonWidths(1012, 8)[7], 1012 - 7 * 126);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
}

TEST(BarLayout, SlidingPassesThroughThreePixelSteps) {
    std::vector<int> in;
    bool done = false;
    for (int top = -BAR_HEIGHT; !done;) {
        top = SlideTick(top, BAR_HEIGHT, 1, done);
        in.push_back(top);
    }
    EXPECT_EQ(in, (std::vector<int>{-16, -13, -10, -7, -4, -1, 2, 0}));
    std::vector<int> out;
    done = false;
    for (int top = 0; !done;) {
        top = SlideTick(top, BAR_HEIGHT, 0, done);
        out.push_back(top);
    }
    EXPECT_EQ(out, (std::vector<int>{-3, -6, -9, -12, -15, -18, -21, -19}));
}

TEST(BarLayout, FullScreenMeansCoveringEveryEdge) {
    EXPECT_TRUE(CoversScreen(RECT{0, 0, 1280, 1024}, 1280, 1024));
    EXPECT_TRUE(CoversScreen(RECT{-8, -8, 1288, 1032}, 1280, 1024));
    EXPECT_FALSE(CoversScreen(RECT{0, 19, 1280, 1024}, 1280, 1024));
    EXPECT_FALSE(CoversScreen(RECT{0, 0, 1279, 1024}, 1280, 1024));
}
