// Menu windows on screen: rows, size, position, and the painted off-screen picture.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "settings/DKLog.h"
#include "settings/Configs.h"
#include "menu/DKComponents.h"
#include "util/DKUtils.h"
#include "TestSupport.h"
#include "PlainMenu.h"

// A menu with no command of its own behind the filter box.
namespace {

int A(DWORD p) { return p >> 24; }
int Rd(DWORD p) { return (p >> 16) & 255; }
int Gr(DWORD p) { return (p >> 8) & 255; }
int Bl(DWORD p) { return p & 255; }

class MenuWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TScheme& s = Config.ActiveScheme();
        savedScheme = s;
        s.Transparency = 150;
        s.MenuColors[0] = 0x023917;
        Config.KeyBoardMode = false;
        menu = std::make_unique<TPlainMenu>();
        menu->FMenuID = 0;
        root = menu->RootItem();
    }
    void TearDown() override {
        menu.reset();
        Config.ActiveScheme() = savedScheme;
    }
    void AddRows(int n) {
        for (int i = 0; i < n; ++i) root->AddMenuItem(i + 1, L"r" + std::to_wstring(i));
    }
    RECT WindowRect() const {
        RECT r{};
        GetWindowRect(root->FormHandle(), &r);
        return r;
    }
    TScheme savedScheme;
    std::unique_ptr<TDKPopupMenu> menu;
    TDKMenuItem* root = nullptr;
};

TEST_F(MenuWindow, TimesNewRomanResolves) {
    Gdiplus::FontFamily family(L"Times New Roman");
    EXPECT_EQ(family.GetLastStatus(), Gdiplus::Ok);
}

TEST_F(MenuWindow, RowsAre21PixelsApartAndTheWindowFitsThem) {
    AddRows(10);
    root->ShowAt(100, 120);
    ASSERT_NE(root->Form(), nullptr);
    HWND h = root->FormHandle();
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_TRUE(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_LAYERED);
    EXPECT_EQ(root->RowCount(), 10);
    for (int r = 1; r < 10; ++r) EXPECT_EQ(root->RowBounds(r).top - root->RowBounds(r - 1).top, 21) << r;
    EXPECT_EQ(root->RowBounds(0).right - root->RowBounds(0).left, 230);
    RECT w = WindowRect();
    EXPECT_EQ(w.left, 100);
    EXPECT_EQ(w.top, 120);
    // The picture is one pixel taller than the rows need, and handing it over sizes the window.
    EXPECT_EQ(w.bottom - w.top, 10 * 21 + 17 + 1);
    EXPECT_EQ(w.right - w.left, 230);
    EXPECT_EQ(root->PictureWidth(), 230);
    EXPECT_EQ(root->PictureHeight(), 10 * 21 + 17 + 1);

    // Hidden children get no row; a row maps to its child through the record.
    root->GetItem(0)->SetVisible(false);
    root->ReleaseWindowResources();
    root->FillListView();
    ASSERT_EQ(root->RowCount(), 9);
    EXPECT_EQ(root->RowData(0)->ItemIndex, 1);
    EXPECT_EQ(root->RowText(0), L"r1");
}

// A shown window that loses columns keeps its bitmap and paints the narrower picture into it:
// what it hands over must be what a window opened with those rows shows, with nothing left of
// the columns that went, and it must grow again after.
TEST_F(MenuWindow, AWindowThatLosesColumnsShowsWhatAFreshOneShows) {
    AddRows(130);
    root->ShowAt(100, 40);
    const int wide = root->PictureWidth();
    ASSERT_GE(wide, 3 * 230) << "three columns expected";
    for (int i = 60; i < 130; ++i) root->GetItem(i)->SetVisible(false);
    root->FillListView();
    ASSERT_EQ(root->RowCount(), 60);

    TPlainMenu other;
    other.FMenuID = 0;
    for (int i = 0; i < 60; ++i) other.RootItem()->AddMenuItem(i + 1, L"r" + std::to_wstring(i));
    other.RootItem()->ShowAt(100, 40);
    TDKMenuItem* fresh = other.RootItem();
    ASSERT_EQ(root->PictureWidth(), fresh->PictureWidth());
    ASSERT_EQ(root->PictureHeight(), fresh->PictureHeight());
    ASSERT_LT(root->PictureWidth(), wide);
    RECT w = WindowRect();
    EXPECT_EQ(w.right - w.left, root->PictureWidth());
    int differing = 0;
    for (int y = 0; y < fresh->PictureHeight(); y += 2)
        for (int x = 0; x < fresh->PictureWidth(); x += 3)
            if (root->PicturePixel(x, y) != fresh->PicturePixel(x, y)) ++differing;
    EXPECT_EQ(differing, 0);
    // A row selected afterwards (the pointer over it) is painted into the kept bitmap as into the
    // fresh one.
    for (TDKMenuItem* m : {root, fresh}) {
        LVITEMW lv{};
        lv.stateMask = lv.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(m->FListView, LVM_SETITEMSTATE, 50, reinterpret_cast<LPARAM>(&lv));
    }
    RECT lit = root->RowBounds(50);
    ASSERT_GT(lit.left, 0) << "a row of the second column";
    EXPECT_EQ(A(root->PicturePixel(lit.left + 120, lit.top + 10)), 255);  // lit
    for (int y = lit.top; y < lit.bottom; ++y)
        for (int x = lit.left; x < lit.right; x += 2)
            if (root->PicturePixel(x, y) != fresh->PicturePixel(x, y)) ++differing;
    EXPECT_EQ(differing, 0);
    // Rows below the last of the second column fade out as in the fresh window.
    RECT last = root->RowBounds(59);
    EXPECT_EQ(A(root->PicturePixel(root->RowBounds(0).right - 5, root->RowBounds(0).top + 10)), 150);
    EXPECT_LE(A(root->PicturePixel(root->RowBounds(58).right - 2, last.top + 10)), 6);

    // All rows back: the window and its picture grow to three columns again.
    for (int i = 60; i < 130; ++i) root->GetItem(i)->SetVisible(true);
    root->FillListView();
    EXPECT_EQ(root->PictureWidth(), wide);
    RECT end = root->RowBounds(129);
    EXPECT_EQ(A(root->PicturePixel(end.left + 120, end.top + 10)), 150);
}

TEST_F(MenuWindow, AllChildrenHiddenGivesAnEmptySmallWindow) {
    AddRows(3);
    for (int i = 0; i < 3; ++i) root->GetItem(i)->SetVisible(false);
    root->ShowAt(50, 50);
    RECT w = WindowRect();
    EXPECT_EQ(w.bottom - w.top, 17);
    EXPECT_EQ(w.right - w.left, 230);
    EXPECT_EQ(root->RowCount(), 0);
    EXPECT_EQ(root->PicturePixel(100, 5), 0u);  // nothing painted
}

TEST_F(MenuWindow, LongCaptionsWidenTheColumnAndAreCutWithDots) {
    std::wstring longText(120, L'W');
    for (int i = 0; i < 9; ++i) root->AddMenuItem(i, L"short " + std::to_wstring(i));
    root->AddMenuItem(100, longText);
    root->ShowAt(10, 10);
    // One row in ten may be wider than the column: the column stays 230, the row is cut.
    EXPECT_EQ(WindowRect().right - WindowRect().left, 230);
    std::wstring shown = root->RowText(9);
    ASSERT_GT(shown.size(), 3u);
    EXPECT_EQ(shown.substr(shown.size() - 3), L"...");
    EXPECT_EQ(root->GetItem(9)->Caption(), longText);  // the item keeps its caption
    // The tip of a cut row is its whole caption; of a row that fits, nothing.
    RECT b9 = root->RowBounds(9), b0 = root->RowBounds(0);
    POINT p{b9.left + 50, b9.top + 10};
    ClientToScreen(root->FListView, &p);
    SetCursorPos(p.x, p.y);
    EXPECT_EQ(root->ListInfoTip(9), longText);
    p = POINT{b0.left + 50, b0.top + 10};
    ClientToScreen(root->FListView, &p);
    SetCursorPos(p.x, p.y);
    EXPECT_EQ(root->ListInfoTip(0), L"");
}

// Tips are turned on (and the list makes its tip window) when the pointer first comes onto a
// window, not with every window's opening. Wine shows no list tips, so the tip itself is not seen.
TEST_F(MenuWindow, TipsAreTurnedOnWhenThePointerFirstComes) {
    AddRows(5);
    SetCursorPos(5, 1000);
    testing_support::WaitUntil([] {
        POINT at{};
        GetCursorPos(&at);
        return at.x == 5 && at.y == 1000;
    }, 3000);
    testing_support::WaitUntil([] { return false; }, 300);  // moves still on their way arrive
    root->ShowAt(700, 300);
    HWND list = root->FListView;
    auto tipsOn = [&] { return (SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_INFOTIP) != 0; };
    testing_support::WaitUntil([] { return false; }, 100);
    EXPECT_FALSE(tipsOn());
    RECT b = root->RowBounds(2);
    POINT p{b.left + 60, b.top + 10};
    ClientToScreen(list, &p);
    INPUT move{};
    move.type = INPUT_MOUSE;
    move.mi.dx = MulDiv(p.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    move.mi.dy = MulDiv(p.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &move, sizeof(move));
    EXPECT_TRUE(testing_support::WaitUntil(tipsOn, 5000));
    SetCursorPos(5, 1000);
}

// Where menu windows may lie: the work area below the 19-pixel bar.
RECT MenuArea() {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    work.top = std::max<LONG>(work.top, 19);
    return work;
}

void ExpectInArea(TDKMenuItem* item) {
    RECT w{}, area = MenuArea();
    GetWindowRect(item->FormHandle(), &w);
    EXPECT_GE(w.left, area.left) << item->Caption();
    EXPECT_GE(w.top, area.top) << item->Caption();
    EXPECT_LE(w.right, area.right) << item->Caption();
    EXPECT_LE(w.bottom, area.bottom) << item->Caption();
}

// The submenu of `child` leaves the body of the row that opened it (all but the row's fade
// band, where a submenu starts) uncovered.
void ExpectBesideItsRow(TDKMenuItem* child) {
    TDKMenuItem* owner = child->Owner();
    int row = -1;
    for (int r = 0; r < owner->RowCount(); ++r)
        if (owner->RowData(r)->Child == child) row = r;
    ASSERT_GE(row, 0) << child->Caption();
    RECT b = owner->RowBounds(row), w{};
    MapWindowPoints(owner->FListView, nullptr, reinterpret_cast<POINT*>(&b), 2);
    GetWindowRect(child->FormHandle(), &w);
    EXPECT_TRUE(w.right <= b.left || w.left >= b.right - 70)
        << child->Caption() << ": row " << b.left << ".." << b.right << ", window " << w.left << ".." << w.right;
}

TEST_F(MenuWindow, SecondShowAtClosesSubmenusAndChildWindowsOpenBesideTheirRow) {
    AddRows(3);
    TDKMenuItem* sub = root->GetItem(1);
    sub->AddMenuItem(0, std::wstring(60, L'M'));  // a wide single row: the column takes its width
    int exposed = 0;
    sub->FOnBeforExpose = [&](TDKMenuItem*) { ++exposed; };
    root->ShowAt(1100, 100);
    RECT rootRect = WindowRect();
    EXPECT_EQ(rootRect.left, 1280 - 230);  // moved back inside the screen
    root->OpenChildAt(sub, root->RowBounds(1));
    ASSERT_NE(sub->Form(), nullptr);
    EXPECT_EQ(exposed, 1);
    RECT subRect{};
    GetWindowRect(sub->FormHandle(), &subRect);
    int subWidth = subRect.right - subRect.left;
    ASSERT_GT(subWidth, 300);
    // No room to the right: it opens to the left, its right edge on its row's left edge.
    EXPECT_EQ(subRect.right, rootRect.left);
    EXPECT_EQ(subRect.top, 100 + 21 + 1);
    EXPECT_TRUE(sub->FOpensLeft);
    root->ShowAt(1100, 100);
    EXPECT_EQ(sub->Form(), nullptr);
}

TEST_F(MenuWindow, EveryOpenedWindowLiesInTheWorkAreaBesideItsRow) {
    SetCursorPos(1270, 1010);  // hovering would open other submenus
    // Thirty folders opened one inside the other along the filter's way to the deepest entry.
    TDKMenuItem* parent = root;
    std::vector<TDKMenuItem*> chain;
    for (int d = 0; d < 30; ++d)
        chain.push_back(parent = parent->AddMenuItem(0, L"level " + std::to_wstring(d), nullptr, false, false, true));
    parent->AddMenuItem(0, L"deepest", nullptr, false, false, true);
    menu->AddFilter(L"Type here");
    root->ShowAt(100, 20);
    root->Filter(L"deepest", menu->FindItem(TDKPopupMenu::FilterEditID));
    std::vector<LONG> lefts;
    for (TDKMenuItem* item : chain) {
        ASSERT_TRUE(item->FormHandle() && IsWindowVisible(item->FormHandle())) << item->Caption();
        ExpectInArea(item);
        ExpectBesideItsRow(item);
        RECT w{};
        GetWindowRect(item->FormHandle(), &w);
        lefts.push_back(w.left);
    }
    // They do not pile up at one place.
    for (size_t i = 1; i < lefts.size(); ++i) EXPECT_NE(lefts[i], lefts[i - 1]) << i;
    // A submenu opened from a window whose caption would be wider than the screen.
    root->CloseWindow();
    TDKMenuItem* start = root->AddMenuItem(0, L"Start Menu");
    start->AddMenuItem(0, std::wstring(230, L'W') + L".txt");
    TDKMenuItem* folder = start->AddMenuItem(0, L"Accessories");
    folder->AddMenuItem(0, L"Notepad");
    root->ShowAt(100, 20);
    root->OpenChildAt(start, root->RowBounds(root->RowCount() - 1));
    const int screenW = GetSystemMetrics(SM_CXSCREEN);
    EXPECT_LE(start->RowBounds(0).right - start->RowBounds(0).left, screenW / 2);
    EXPECT_NE(start->RowText(0), start->GetItem(0)->Caption());  // cut with "..."
    ExpectInArea(start);
    ExpectBesideItsRow(start);
    start->OpenChildAt(folder, start->RowBounds(1));
    ASSERT_TRUE(folder->FormHandle());
    ExpectInArea(folder);
    ExpectBesideItsRow(folder);
}

TEST_F(MenuWindow, TheFilterScrollsItsWayIntoTheWindow) {
    SetCursorPos(1270, 1010);
    AddRows(400);  // titles and commands stay whatever the text
    TDKMenuItem* target = root->AddMenuItem(0, L"target", nullptr, false, false, true);
    target->AddMenuItem(0, L"deep", nullptr, false, false, true);
    menu->AddFilter(L"Type here");
    root->ShowAt(100, 21);
    root->Filter(L"deep", menu->FindItem(TDKPopupMenu::FilterEditID));
    EXPECT_GT(root->FColumnIndex, 0);
    ASSERT_TRUE(target->FormHandle() && IsWindowVisible(target->FormHandle()));
    ExpectInArea(root);
    ExpectInArea(target);
    ExpectBesideItsRow(target);
}

TEST_F(MenuWindow, AHugeSubmenuShowsTheColumnsThatFitScrollsToEveryRowAndIdlesForFree) {
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    SetCursorPos(screenW - 5, screenH - 5);  // the pointer rests away from the menus
    TDKMenuItem* big = root->AddMenuItem(1, L"big folder");
    HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
    for (int i = 0; i < 10000; ++i) big->AddMenuItem(0, L"file number " + std::to_wstring(i) + L".txt")->FIcon = icon;
    root->ShowAt(100, 20);
    root->OpenChildAt(big, root->RowBounds(0));
    ASSERT_EQ(big->RowCount(), 10000);
    RECT w{}, first = big->RowBounds(0), last = big->RowBounds(9999);
    GetWindowRect(big->FormHandle(), &w);
    const int column = first.right - first.left;
    // The window shows the whole columns that fit the screen beside its row; the rest lie
    // past its right edge until scrolled in.
    ExpectInArea(big);
    EXPECT_EQ((w.right - w.left) % column, 0);
    EXPECT_GE(w.right - w.left, 3 * column);
    EXPECT_GT(last.left, 40 * column);
    EXPECT_EQ(big->PictureWidth(), w.right - w.left);
    EXPECT_EQ(A(big->PicturePixel(first.right - 10, first.top + 10)), 150);
    // Scrolled to its end, the last row is in the window and painted; scrolled back, the first.
    big->ScrollColumns(100000);
    last = big->RowBounds(9999);
    EXPECT_GE(last.left, 0);
    EXPECT_LE(last.right, w.right - w.left);
    EXPECT_GT(big->FColumnIndex, 40);
    EXPECT_EQ(A(big->PicturePixel(last.left + 24, last.top + 10)), 150);  // beside its icon
    RECT shown = last;
    MapWindowPoints(big->FListView, nullptr, reinterpret_cast<POINT*>(&shown), 2);
    SetCursorPos(shown.left + 60, shown.top + 10);
    EXPECT_EQ(big->ItemAtCursor(), big->GetItem(9999));
    SetCursorPos(screenW - 5, screenH - 5);
    big->ScrollColumns(-100000);
    EXPECT_EQ(big->RowBounds(0).left, 0);
    EXPECT_EQ(big->FColumnIndex, 0);
    // Settled, the open menu costs no process time while nothing on the screen changes, even
    // with the selection (a turning icon) on a row scrolled out of the window.
    LVITEMW lv{};
    lv.stateMask = lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(big->FListView, LVM_SETITEMSTATE, 9999, reinterpret_cast<LPARAM>(&lv));
    ASSERT_EQ(big->SelectedRow(), 9999);
    testing_support::WaitUntil([] { return false; }, 1000);
    auto busy = [] {
        FILETIME c, e, k, u;
        GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
        return (ULARGE_INTEGER{{k.dwLowDateTime, k.dwHighDateTime}}.QuadPart +
                ULARGE_INTEGER{{u.dwLowDateTime, u.dwHighDateTime}}.QuadPart) / 10000;
    };
    ULONGLONG before = busy();
    testing_support::WaitUntil([] { return false; }, 10000);
    EXPECT_LT(busy() - before, 100u) << "milliseconds of process time over 10 s";
}

bool operator==(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }

void SelectRow(TDKMenuItem* item, int row) {
    LVITEMW lv{};
    lv.stateMask = lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(item->FListView, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&lv));
}

// A row's opaque body (all but its last 70 pixels) on the screen.
RECT BodyOnScreen(TDKMenuItem* item, int row) {
    RECT w{}, b = item->RowBounds(row);
    GetWindowRect(item->FormHandle(), &w);
    return RECT{w.left + b.left, w.top + b.top, w.left + b.right - 70, w.top + b.bottom};
}

// The 40 ms turn of the selected row's icon hands over that row's opaque body alone, the same in
// a window of a few rows and in one as wide as the screen: a small window laid over the row shows
// it, and the pointer passes through that window to the menu's list. Any hand-over of the whole
// window takes it away again.
TEST_F(MenuWindow, AnIconTurnHandsOverTheTurningRowAlone) {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 5, GetSystemMetrics(SM_CYSCREEN) - 5);
    HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
    for (int rows : {5, 3000}) {
        SCOPED_TRACE(rows);
        TPlainMenu m;
        m.FMenuID = 0;
        TDKMenuItem* r = m.RootItem();
        for (int i = 0; i < rows; ++i) r->AddMenuItem(i + 1, L"row " + std::to_wstring(i))->FIcon = icon;
        r->ShowAt(60, 60);
        SelectRow(r, 2);
        ASSERT_TRUE(r->FRotateIconTimer->Enabled());
        const auto before = TDKMenuItem::HandOvers();
        for (int t = 0; t < 10; ++t) r->RotateIconTimerTick();
        const auto after = TDKMenuItem::HandOvers();
        EXPECT_EQ(after.Windows, before.Windows);
        EXPECT_EQ(after.Rows, before.Rows + 10);
        EXPECT_TRUE(after.LastRow == BodyOnScreen(r, 2));
        HWND turn = r->TurnWindowShown();
        ASSERT_NE(turn, nullptr);
        RECT tr{};
        GetWindowRect(turn, &tr);
        EXPECT_TRUE(tr == BodyOnScreen(r, 2));
        EXPECT_TRUE(IsWindowVisible(turn));
        // It shows the row as the window's picture has it: the lit body beside the icon.
        RECT b = r->RowBounds(2);
        DWORD lit = r->PicturePixel(b.left + 100, b.top + 10);
        EXPECT_EQ(A(lit), 255);
        HDC dc = GetDC(turn);
        COLORREF shown = GetPixel(dc, 100, 10);
        ReleaseDC(turn, dc);
        EXPECT_EQ(shown, RGB(Rd(lit), Gr(lit), Bl(lit)));
        POINT mid{(tr.left + tr.right) / 2, (tr.top + tr.bottom) / 2};
        EXPECT_EQ(WindowFromPoint(mid), r->FListView);
        r->UpdateWindow(-1);
        EXPECT_EQ(r->TurnWindowShown(), nullptr);
        EXPECT_EQ(TDKMenuItem::HandOvers().Windows, after.Windows + 1);
    }
}

// A turning row under another menu window: all of it covered, nothing is handed over; part of it
// covered, the turn window shows the rest of it only.
TEST_F(MenuWindow, ATurningRowUnderAnotherMenuWindow) {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 5, GetSystemMetrics(SM_CYSCREEN) - 5);
    HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
    for (int i = 0; i < 5; ++i) root->AddMenuItem(i + 1, L"row " + std::to_wstring(i))->FIcon = icon;
    root->ShowAt(100, 100);
    SelectRow(root, 2);
    root->RotateIconTimerTick();
    ASSERT_NE(root->TurnWindowShown(), nullptr);
    for (int x : {100, 150}) {
        SCOPED_TRACE(x);
        TPlainMenu over;
        for (int i = 0; i < 10; ++i) over.RootItem()->AddMenuItem(i + 1, L"over " + std::to_wstring(i));
        over.RootItem()->ShowAt(x, 100);  // shown last: above
        const auto before = TDKMenuItem::HandOvers();
        root->RotateIconTimerTick();
        const auto after = TDKMenuItem::HandOvers();
        EXPECT_EQ(after.Windows, before.Windows);
        if (x == 100) {
            EXPECT_EQ(root->TurnWindowShown(), nullptr);
            EXPECT_EQ(after.Rows, before.Rows);
            continue;
        }
        EXPECT_EQ(after.Rows, before.Rows + 1);
        HWND turn = root->TurnWindowShown();
        ASSERT_NE(turn, nullptr);
        RECT body = BodyOnScreen(root, 2), open{};
        ASSERT_EQ(GetWindowRgnBox(turn, &open), SIMPLEREGION);
        EXPECT_TRUE(open == (RECT{0, 0, x - body.left, body.bottom - body.top}));
    }
    // Uncovered again, the turn window comes back whole.
    root->RotateIconTimerTick();
    ASSERT_NE(root->TurnWindowShown(), nullptr);
    RECT open{};
    EXPECT_EQ(GetWindowRgnBox(root->TurnWindowShown(), &open), ERROR);  // no region: all of it
    // Closing the window takes the turn window away with it.
    root->CloseWindow();
    EXPECT_EQ(root->TurnWindowShown(), nullptr);
}

TEST_F(MenuWindow, RowBodyTitleAlphaAndFadeOut) {
    root->AddMenuItem(1, L"a");
    root->AddMenuItem(2, L"Work", nullptr, true);
    root->AddMenuItem(3, L"b");
    root->ShowAt(20, 20);
    RECT r0 = root->RowBounds(0);
    DWORD body = root->PicturePixel(r0.left + 120, r0.top + 10);
    EXPECT_EQ(A(body), 150);
    EXPECT_NEAR(Rd(body), 0x17, 2);
    EXPECT_NEAR(Gr(body), 0x39, 2);
    EXPECT_NEAR(Bl(body), 0x02, 2);
    RECT r1 = root->RowBounds(1);
    DWORD title = root->PicturePixel(r1.left + 150, r1.top + 10);
    EXPECT_EQ(A(title), 246);
    EXPECT_NEAR(Rd(title), 0x17, 2);
    EXPECT_NEAR(Gr(title), 0x39, 2);
    // Single column: every row has no right neighbour and fades over its last 70 pixels.
    int prev = 256;
    for (int x = r0.right - 70; x < r0.right; x += 7) {
        int a = A(root->PicturePixel(x, r0.top + 10));
        EXPECT_LE(a, prev);
        prev = a;
    }
    EXPECT_LE(A(root->PicturePixel(r0.right - 1, r0.top + 10)), 4);
    EXPECT_NEAR(A(root->PicturePixel(r0.right - 35, r0.top + 10)), 75, 6);
}

TEST_F(MenuWindow, RowsBesideTheLastColumnKeepTheirBody) {
    AddRows(60);
    root->ShowAt(100, 100);
    int rows = root->RowCount();
    RECT last = root->RowBounds(rows - 1);
    ASSERT_GT(last.left, 0) << "two columns expected";
    RECT beside = root->RowBounds(0);  // first column, beside a row of the second
    EXPECT_EQ(A(root->PicturePixel(beside.right - 5, beside.top + 10)), 150);
    RECT below{};
    for (int r = 0; r < rows; ++r) {
        RECT b = root->RowBounds(r);
        if (b.left == 0 && b.bottom > last.bottom) {
            below = b;
            break;
        }
    }
    ASSERT_GT(below.bottom, 0);
    EXPECT_LE(A(root->PicturePixel(below.right - 2, below.top + 10)), 6);
}

TEST_F(MenuWindow, DropMarkAtTheBottomOrTopOfItsRow) {
    AddRows(6);
    root->ShowAt(40, 40);
    RECT r3 = root->RowBounds(3), r2 = root->RowBounds(2);
    int x = r3.left + 60;
    DWORD plainBottom = root->PicturePixel(x, r3.bottom - 1);
    DWORD plainTop = root->PicturePixel(x, r3.top);
    root->FDragPosition.Row = 3.7f;
    root->UpdateWindow(-1, false);
    DWORD markedBottom = root->PicturePixel(x, r3.bottom - 1);
    EXPECT_NE(markedBottom, plainBottom);
    EXPECT_LT(Gr(markedBottom), Gr(plainBottom));  // black laid over the row
    EXPECT_EQ(root->PicturePixel(x, r3.top), plainTop);
    EXPECT_EQ(root->PicturePixel(x, r2.bottom - 1), plainBottom);  // other rows untouched
    for (float pos : {3.2f, 3.5f}) {
        root->FDragPosition.Row = pos;
        root->UpdateWindow(-1, false);
        EXPECT_NE(root->PicturePixel(x, r3.top), plainTop) << pos;
        EXPECT_EQ(root->PicturePixel(x, r3.bottom - 1), plainBottom) << pos;
    }
}

TEST_F(MenuWindow, SelectedRowIsLitAndCheckMarksAndSubmenuMarksAreDrawn) {
    root->AddMenuItem(1, L"plain");
    TDKMenuItem* checked = root->AddMenuItem(2, L"checked", nullptr, false, false, false, false, true);
    TDKMenuItem* folder = root->AddMenuItem(3, L"folder");
    folder->AddMenuItem(0, L"Empty");
    root->ShowAt(60, 60);
    RECT r1 = root->RowBounds(1), r2 = root->RowBounds(2);
    // The check mark file is drawn into the icon strip.
    bool dark = false;
    for (int y = r1.top + 3; y < r1.top + 19; ++y)
        for (int x = r1.left + 6; x < r1.left + 22; ++x)
            if (Rd(root->PicturePixel(x, y)) < 0x20 && A(root->PicturePixel(x, y)) > 200) dark = true;
    EXPECT_TRUE(dark);
    // Submenu mark: the vertical stroke of the triangle at R - 20.
    DWORD mark = root->PicturePixel(r2.right - 20, r2.top + 10);
    DWORD beside = root->PicturePixel(r2.right - 30, r2.top + 10);
    EXPECT_NE(mark, beside);
    // Selecting a row paints it opaque.
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED;
    lv.state = LVIS_SELECTED;
    SendMessageW(root->FListView, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&lv));
    RECT r0 = root->RowBounds(0);
    EXPECT_EQ(A(root->PicturePixel(r0.left + 120, r0.top + 10)), 255);
    EXPECT_EQ(root->SelectedRow(), 0);
    (void)checked;
}

TEST_F(MenuWindow, EditedRowIsPrintedIntoThePictureWithFadingAlpha) {
    root->AddMenuItem(1, L"first");
    TDKMenuItem* edit = root->AddMenuItem(50009, L"filter", nullptr, false, false, false, true);
    std::wstring seen;
    edit->FOnEditChanged = [&](TDKMenuItem*, const std::wstring& s) { seen = s; };
    root->ShowAt(80, 80);
    TMenuRowData* d = root->RowData(1);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->Edit, nullptr);
    RECT r1 = root->RowBounds(1);
    RECT er{};
    GetWindowRect(d->Edit->Handle(), &er);
    MapWindowPoints(nullptr, root->FListView, reinterpret_cast<POINT*>(&er), 2);
    EXPECT_EQ(er.left, r1.left + 28);
    EXPECT_EQ(er.top, r1.top + 3);
    EXPECT_TRUE(seen.empty());  // building the box fires nothing
    SetWindowTextW(d->Edit->Handle(), L"abc");
    EXPECT_EQ(seen, L"abc");
    EXPECT_EQ(edit->Caption(), L"abc");
    // Alpha falls from the left of the box to its right.
    int IT = root->RowIconRect(1).top;
    int left = A(root->PicturePixel(r1.left + 29, IT + 8));
    int right = A(root->PicturePixel(r1.left + 28 + (r1.right - r1.left - 29) - 2, IT + 8));
    EXPECT_GT(left, right);
}

// A submenu closed while its menu stays open is kept hidden and made again only where its rows
// changed; it shows no old selection or rows, the list still finds rows by their first letters,
// and hiding the menu frees every kept window.
TEST_F(MenuWindow, ClosedSubmenusAreKeptHiddenAndFreedWithTheirMenu) {
    AddRows(3);
    TDKMenuItem* sub = root->GetItem(1);
    for (const wchar_t* c : {L"apple", L"banana", L"cherry"}) sub->AddMenuItem(0, c);
    root->ShowAt(100, 100);
    root->OpenChildAt(sub, root->RowBounds(1));
    HWND form = sub->FormHandle();
    ASSERT_NE(form, nullptr);
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(sub->FListView, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&lv));
    RECT b2 = sub->RowBounds(2);
    DWORD lit = sub->PicturePixel(b2.left + 120, b2.top + 10);

    sub->CloseWindow();
    EXPECT_EQ(sub->FormHandle(), nullptr);
    EXPECT_EQ(sub->Form(), nullptr);
    EXPECT_FALSE(IsWindowVisible(form));
    sub->AddMenuItem(0, L"date");  // changed while hidden
    root->OpenChildAt(sub, root->RowBounds(1));
    EXPECT_EQ(sub->FormHandle(), form);  // the same window again
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(sub->RowCount(), 4);
    EXPECT_EQ(sub->RowText(3), L"date");
    EXPECT_EQ(sub->SelectedRow(), -1);
    EXPECT_NE(sub->PicturePixel(b2.left + 120, b2.top + 10), lit);  // the old selection is gone

    // Type-ahead: a letter selects the first row it starts.
    SendMessageW(sub->FListView, WM_CHAR, L'c', 1);
    EXPECT_EQ(sub->SelectedRow(), 2);
    EXPECT_EQ(sub->PicturePixel(b2.left + 120, b2.top + 10), lit);
    // Every row cleared at once: the row that was lit is painted plain.
    lv.state = 0;
    SendMessageW(sub->FListView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&lv));
    EXPECT_NE(sub->PicturePixel(b2.left + 120, b2.top + 10), lit);

    HWND rootForm = root->FormHandle();
    menu->Hide();
    EXPECT_FALSE(IsWindow(form));
    EXPECT_FALSE(IsWindow(rootForm));
    EXPECT_EQ(sub->FListView, nullptr);
}

// However many submenus are opened and closed, only a few hidden windows are kept.
TEST_F(MenuWindow, OnlyAFewClosedWindowsAreKept) {
    for (int i = 0; i < 60; ++i) root->AddMenuItem(i + 1, L"folder " + std::to_wstring(i))->AddMenuItem(0, L"leaf");
    root->ShowAt(10, 10);
    for (int i = 0; i < 60; ++i) {
        root->OpenChildAt(root->GetItem(i), root->RowBounds(i));
        root->GetItem(i)->CloseWindow();
    }
    testing_support::WaitUntil([] { return false; }, 50);  // freed windows go at the next message
    int forms = 0;
    for (HWND w = FindWindowW(L"TDKMenuForm", nullptr); w; w = FindWindowExW(nullptr, w, L"TDKMenuForm", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId()) ++forms;
    }
    EXPECT_LE(forms, 1 + 32);
    EXPECT_GE(forms, 1 + 16);
}

}  // namespace

namespace {

// A window closed and kept for its next opening may keep a selected row and the keyboard: a key
// there opens nothing. With the kept windows at their limit and that hidden window the oldest,
// a click whose handler changes its item's children (its release closes what its rows opened,
// so one more window is kept) leaves every window and row whole: kept windows are trimmed only
// once the handler is done.
TEST_F(MenuWindow, AChangeToTheOldestKeptWindowFromAClickLeavesItsWindowWhole) {
    TDKMenuItem* holder = root->AddMenuItem(1, L"holder");
    TDKMenuItem* deep = holder->AddMenuItem(2, L"deep");
    deep->AddMenuItem(3, L"leaf");
    int inserted = 0;
    TDKMenuItem* button = root->AddMenuItem(4, L"insert into holder", [&](TDKMenuItem*) {
        holder->InsertMenuItem(0, 100 + inserted, L"new " + std::to_wstring(inserted));
        ++inserted;
    });
    (void)button;
    for (int i = 0; i < 40; ++i) root->AddMenuItem(10 + i, L"folder " + std::to_wstring(i))->AddMenuItem(0, L"x");
    root->ShowAt(10, 10);
    root->OpenChildAt(holder, root->RowBounds(0));
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(holder->FListView, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&lv));
    holder->CloseWindow();  // hidden and kept, its row still selected
    ASSERT_NE(holder->FListView, nullptr);
    // A key reaching the hidden list opens nothing below it.
    SendMessageW(holder->FListView, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(deep->FormHandle(), nullptr);
    root->OpenChildAt(holder, root->RowBounds(0));
    root->OpenChildAt(deep, holder->RowBounds(0));  // as if it had
    holder->CloseWindow();
    ASSERT_EQ(deep->FormHandle(), nullptr);
    // More windows closed after it: the hidden one is the oldest kept, at the limit.
    for (int i = 0; i < 31; ++i) {
        TDKMenuItem* f = root->GetItem(2 + i);
        root->OpenChildAt(f, root->RowBounds(2 + i));
        f->CloseWindow();
    }
    // A real click on the row whose handler inserts into the hidden window's item; every step
    // of the rows' release and fill goes through (a failing one is logged).
    testing_support::WriteFileBytes(LogFileName(), "");
    RECT b = root->RowBounds(1);
    POINT p{b.left + 60, (b.top + b.bottom) / 2};
    POINT sp = p;
    ClientToScreen(root->FListView, &sp);
    SetCursorPos(sp.x, sp.y);
    SendMessageW(root->FListView, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    SendMessageW(root->FListView, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    EXPECT_EQ(inserted, 1);
    EXPECT_EQ(holder->Count(), 2);
    std::string log = testing_support::ReadFileBytes(LogFileName());
    DeleteFileW(LogFileName().c_str());
    EXPECT_EQ(log, "");
    // The hidden window opens again with the new row.
    root->OpenChildAt(holder, root->RowBounds(0));
    ASSERT_NE(holder->FormHandle(), nullptr);
    EXPECT_TRUE(IsWindowVisible(holder->FormHandle()));
    EXPECT_EQ(holder->RowCount(), 2);
    EXPECT_EQ(holder->RowText(0), L"new 0");
    menu->Hide();
}

}  // namespace
