// Menu window arithmetic: column width, caption cuts, vertical fit, size and left edge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "menu/MenuLayout.h"

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

// A 1280 x 1024 screen under the 19-pixel bar.
const Area kScreen{0, 19, 1280, 1024};

// Whether a window [left, left + width) leaves the row's body (all but its fade band) alone.
bool ClearOfRow(int left, int width, const Opening& row) {
    return left + width <= row.RowLeft || left >= row.RowRight - FadeBand;
}

TEST(MenuLayout, WindowsFitTheWorkAreaBelowTheBar) {
    // Forty rows asked at 40 on a 768-high screen: moved up, but not over the bar; the height
    // ends with the area and the rest flows into a second column.
    const Area small{0, 19, 1024, 768};
    int y = FitTop(40, 40, small);
    EXPECT_EQ(y, 21);
    WindowSize s = SizeWindow(40, y, small);
    EXPECT_EQ(s.Height, 746);
    EXPECT_LE(y + s.Height + 1, small.Bottom);
    EXPECT_EQ(s.PerColumn, 34);
    EXPECT_EQ(s.Columns, 2);
    // Rows that fit keep their place and their height.
    EXPECT_EQ(FitTop(100, 10, kScreen), 100);
    WindowSize fits = SizeWindow(10, 100, kScreen);
    EXPECT_EQ(fits.Height, 227);
    EXPECT_EQ(fits.PerColumn, 10);
    EXPECT_EQ(fits.Columns, 1);
    WindowSize empty = SizeWindow(0, 100, kScreen);
    EXPECT_EQ(empty.Height, 17);
    EXPECT_EQ(empty.Columns, 1);
    // With auto-hide the work area starts at 0; asked there, a window still starts below the bar.
    EXPECT_EQ(FitTop(5, 3, kScreen), 19);
    // Two thousand files asked beside a row at 64: the window takes the height from 21 to the
    // bottom of the screen, 46 rows a column, 44 columns.
    y = FitTop(64, 2000, kScreen);
    EXPECT_EQ(y, 21);
    WindowSize big = SizeWindow(2000, y, kScreen);
    EXPECT_EQ(y + big.Height + 1, 1024);
    EXPECT_EQ(big.PerColumn, 46);
    EXPECT_EQ(big.Columns, 44);
}

TEST(MenuLayout, ColumnsAreCappedToTheWorkArea) {
    // A bar menu of 44 columns shows the 5 that fit and stays where it opened.
    Placement p = Place(100, 230, 44, kScreen, nullptr);
    EXPECT_EQ(p.Columns, 5);
    EXPECT_EQ(p.Left, 100);
    // Asked too far right it moves back inside; asked left of the screen, onto it.
    p = Place(1000, 230, 3, kScreen, nullptr);
    EXPECT_EQ(p.Columns, 3);
    EXPECT_EQ(p.Left, 1280 - 690);
    EXPECT_EQ(Place(-20, 230, 1, kScreen, nullptr).Left, 0);
    // The 2,000 files beside "My Documents" of the Files menu (its row from 142 to 372): four
    // columns to the right, from 322 to 1242.
    Opening docs{142, 372, false};
    p = Place(322, 230, 44, kScreen, &docs);
    EXPECT_FALSE(p.Leftward);
    EXPECT_EQ(p.Left, 322);
    EXPECT_EQ(p.Columns, 4);
}

TEST(MenuLayout, AColumnIsNeverWiderThanTheScreenAllows) {
    // A 5,000-character caption measures about 45,000 pixels: a bar menu's column is half the
    // screen at most.
    EXPECT_EQ(std::min(ColumnWidth({45000}), ColumnCap(kScreen, nullptr)), 640);
    Placement p = Place(1, 640, 1, kScreen, nullptr);
    EXPECT_LE(p.Left + 640, kScreen.Right);
    // A submenu's column is at most the wider side of its row.
    Opening mid{300, 940, false};
    EXPECT_EQ(ColumnCap(kScreen, &mid), 390);  // right: 1280 - 890; left: 300
    Opening right{1000, 1230, false};
    EXPECT_EQ(ColumnCap(kScreen, &right), 640);  // the left side has 1000
    // Whatever the cap gives, the window fits one side whole.
    for (Opening o : {mid, right, Opening{0, 640, false}, Opening{640, 1280, true}}) {
        int w = ColumnCap(kScreen, &o);
        Placement q = Place(o.RowRight - 50, w, 1, kScreen, &o);
        EXPECT_GE(q.Left, kScreen.Left);
        EXPECT_LE(q.Left + w, kScreen.Right);
        EXPECT_TRUE(ClearOfRow(q.Left, w, o)) << o.RowLeft << " " << q.Left;
    }
}

TEST(MenuLayout, SubmenusOpenRightThenLeftAndKeepTheirWay) {
    // Room to the right: 50 pixels before the row's end, in its fade band.
    Opening docs{142, 372, false};
    Placement p = Place(0, 230, 1, kScreen, &docs);
    EXPECT_EQ(p.Left, 322);
    EXPECT_FALSE(p.Leftward);
    // No room to the right: its right edge on the row's left edge, not over the parent.
    Opening edge{1000, 1230, false};
    p = Place(0, 230, 1, kScreen, &edge);
    EXPECT_TRUE(p.Leftward);
    EXPECT_EQ(p.Left, 770);
    // Gone left, the next level goes on to the left although it would fit to the right...
    Opening wentLeft{770, 1000, true};
    p = Place(0, 230, 1, kScreen, &wentLeft);
    EXPECT_TRUE(p.Leftward);
    EXPECT_EQ(p.Left, 540);
    // ...until the left has no room.
    Opening atLeft{100, 330, true};
    p = Place(0, 230, 1, kScreen, &atLeft);
    EXPECT_FALSE(p.Leftward);
    EXPECT_EQ(p.Left, 280);
    // Ten columns fit on neither side: the side with more of them, its own way on a tie.
    Opening middle{600, 830, false};
    p = Place(0, 230, 10, kScreen, &middle);
    EXPECT_FALSE(p.Leftward);
    EXPECT_EQ(p.Columns, 2);  // 500 to the right, 600 to the left: two columns each
    EXPECT_EQ(p.Left, 780);
    middle.Leftward = true;
    p = Place(0, 230, 10, kScreen, &middle);
    EXPECT_TRUE(p.Leftward);
    EXPECT_EQ(p.Left, 600 - 460);
    Opening nearLeft{300, 530, true};
    p = Place(0, 230, 10, kScreen, &nearLeft);
    EXPECT_FALSE(p.Leftward);  // one column to the left, three to the right
    EXPECT_EQ(p.Columns, 3);
}

TEST(MenuLayout, ASubmenuNeverCoversItsRowNorLeavesTheScreen) {
    for (int width : {230, 400, 640})
        for (int rowLeft = 0; rowLeft + width <= kScreen.Right; rowLeft += 37)
            for (bool leftward : {false, true})
                for (int wanted : {230, 300, 640, 2090})
                    for (int columns : {1, 3, 50}) {
                        Opening o{rowLeft, rowLeft + width, leftward};
                        int w = std::min(wanted, ColumnCap(kScreen, &o));
                        Placement p = Place(o.RowRight - 50, w, columns, kScreen, &o);
                        int shown = p.Columns * w;
                        ASSERT_GE(p.Columns, 1);
                        ASSERT_LE(p.Columns, columns);
                        ASSERT_GE(p.Left, kScreen.Left) << rowLeft << " " << width << " " << w;
                        ASSERT_LE(p.Left + shown, kScreen.Right) << rowLeft << " " << width << " " << w;
                        ASSERT_TRUE(ClearOfRow(p.Left, shown, o)) << rowLeft << " " << width << " " << w;
                    }
}

TEST(MenuLayout, AFilterChainDoesNotStackAtOneX) {
    // Thirty levels opened one from the first row of the other, from a bar menu at x = 1.
    Placement p = Place(1, 230, 1, kScreen, nullptr);
    Opening row{p.Left, p.Left + 230, p.Leftward};
    std::vector<int> lefts;
    for (int level = 0; level < 30; ++level) {
        p = Place(row.RowRight - 50, 230, 1, kScreen, &row);
        ASSERT_TRUE(ClearOfRow(p.Left, 230, row)) << level;
        ASSERT_GE(p.Left, 0);
        ASSERT_LE(p.Left + 230, 1280);
        // Each level stands at least a column (less the overlap) off the one before.
        ASSERT_GE(std::abs(p.Left - row.RowLeft), 230 - 50) << level;
        lefts.push_back(p.Left);
        row = Opening{p.Left, p.Left + 230, p.Leftward};
    }
    EXPECT_EQ(lefts[4], 901);  // 1 + 5 x 180: the last to fit on the right
    EXPECT_EQ(lefts[5], 671);  // then to the left of its row
}

}  // namespace
