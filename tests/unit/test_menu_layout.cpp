// Menu window arithmetic: column width, caption cuts, vertical fit, size and left edge.
#include <gtest/gtest.h>

#include <climits>

#include "MenuLayout.h"

using namespace menu_layout;

namespace {

// Ten pixels a character, "..." included.
int Measure(const std::wstring& s) { return 10 * static_cast<int>(s.size()); }

TEST(MenuLayout, AtMostATenthOfTheRowsAreWiderThanTheColumn) {
    std::vector<int> w(9, 300);
    w.push_back(500);
    EXPECT_EQ(ColumnWidth(w), 300);  // a = 1, K = 10, k = 8
    for (int x : w) EXPECT_LT(258, x);  // all ten are wider than W - 42: all are cut
    // 300 pixels cut to the longest start that, with "...", is narrower than 258.
    EXPECT_EQ(CutCaption(std::wstring(30, L'x'), 300, Measure), std::wstring(22, L'x') + L"...");
    EXPECT_EQ(CutCaption(std::wstring(50, L'y'), 300, Measure), std::wstring(22, L'y') + L"...");

    std::vector<int> twenty(18, 120);
    twenty.push_back(260);
    twenty.push_back(400);
    EXPECT_EQ(ColumnWidth(twenty), 230);  // a = 2, K = 2, k = -1
    for (int chars : {26, 40}) {
        std::wstring cut = CutCaption(std::wstring(chars, L'z'), 230, Measure);
        EXPECT_EQ(cut, std::wstring(15, L'z') + L"...");  // 180 < 188
    }
    EXPECT_EQ(ColumnWidth({}), 230);
    EXPECT_EQ(ColumnWidth({231}), 231);  // one row: a tenth of it rounds down to none
}

TEST(MenuLayout, CaptionCutEdges) {
    // Exactly W - 42 wide stays whole; one pixel more is cut; a caption that never fits stays whole.
    auto fixed = [](int px) { return [px](const std::wstring& s) { return s == L"abc" ? px : 10; }; };
    EXPECT_EQ(CutCaption(L"abc", 230, fixed(188)), L"abc");
    EXPECT_EQ(CutCaption(L"abc", 230, fixed(189)), L"abc...");
    auto never = [](const std::wstring&) { return 1000; };
    EXPECT_EQ(CutCaption(L"abc", 230, never), L"abc");
}

TEST(MenuLayout, FortyRowsOnAShortScreen) {
    int y = FitTop(21, 40, 768);
    EXPECT_EQ(y, 3);
    WindowSize s = SizeWindow(40, 230, y, 768);
    EXPECT_EQ(s.Height, 773);
    EXPECT_EQ(s.Columns, 2);
    EXPECT_EQ(s.Width, 460);
    // Rows that fit keep their place.
    EXPECT_EQ(FitTop(100, 10, 1024), 100);
    WindowSize small = SizeWindow(10, 300, 100, 1024);
    EXPECT_EQ(small.Height, 227);
    EXPECT_EQ(small.Columns, 1);
    WindowSize empty = SizeWindow(0, 230, 100, 1024);
    EXPECT_EQ(empty.Height, 17);
    EXPECT_EQ(empty.Width, 230);
}

TEST(MenuLayout, LeftEdgeKeepsWithinTheFadeBand) {
    EXPECT_EQ(LeftEdge(600, 700, 1024, INT_MIN), 394);
    EXPECT_EQ(LeftEdge(300, 700, 1024, INT_MIN), 300);  // 300 + 700 - 1024 = -24
    EXPECT_EQ(LeftEdge(394, 700, 1024, INT_MIN), 394);  // exactly 70 past is allowed
    // Pushed left of the parent window: overlaps it by 70 pixels.
    EXPECT_EQ(LeftEdge(900, 300, 1024, 800), 800 - 300 + 70);
    EXPECT_EQ(LeftEdge(-50, 230, 1024, INT_MIN), 1);
    EXPECT_EQ(LeftEdge(0, 230, 1024, INT_MIN), 1);
}

TEST(MenuLayout, OnlyColumnsThatReachTheScreenAreMade) {
    // 206 columns at 280 on a 1280-wide screen: the fifth is the first to reach past its edge.
    EXPECT_EQ(ShownWidth(280, WindowSize{1024, 206, 206 * 230}, 230, 1280), 5 * 230);
    EXPECT_EQ(ShownWidth(100, WindowSize{773, 2, 460}, 230, 1280), 460);  // fits: whole
    EXPECT_EQ(ShownWidth(1, WindowSize{100, 1, 2090}, 2090, 1280), 2090);  // one column wider than the screen
}

}  // namespace
