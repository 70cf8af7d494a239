// Menu window input on real windows: clicks, keys, hover, drag and drop, edit boxes, closing.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "settings/DKLog.h"
#include "Application.h"
#include "settings/Configs.h"
#include "menu/DKComponents.h"
#include "util/DKUtils.h"
#include "TestSupport.h"
#include "PlainMenu.h"

// A menu with no command of its own behind the filter box.
namespace {

class MenuInput : public ::testing::Test {
protected:
    void SetUp() override {
        Config.KeyBoardMode = false;
        menu = std::make_unique<TPlainMenu>();
        root = menu->RootItem();
        for (int i = 0; i < 5; ++i) root->AddMenuItem(i + 1, L"c" + std::to_wstring(i));
    }
    void TearDown() override {
        menu.reset();
        Config.KeyBoardMode = false;
    }
    // Puts the cursor in the middle of a row, or at a fraction of its height.
    static void Point(TDKMenuItem* item, int row, double frac = 0.5) {
        RECT b = item->RowBounds(row);
        POINT p{b.left + 60, b.top + static_cast<int>((b.bottom - b.top) * frac)};
        ClientToScreen(item->FListView, &p);
        SetCursorPos(p.x, p.y);
    }
    static void Select(TDKMenuItem* item, int row) {
        LVITEMW lv{};
        lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        lv.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(item->FListView, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&lv));
    }
    std::vector<int> Ids(TDKMenuItem* item) const {
        std::vector<int> v;
        for (int i = 0; i < item->Count(); ++i) v.push_back(item->GetItem(i)->MIID());
        return v;
    }
    std::unique_ptr<TDKPopupMenu> menu;
    TDKMenuItem* root = nullptr;
};

TEST_F(MenuInput, ClickOpensTheSubmenuOnceAndFiresTheClick) {
    TDKMenuItem* sub = root->GetItem(2);
    sub->AddMenuItem(0, L"Empty");
    int exposed = 0, clicks = 0;
    sub->FOnBeforExpose = [&](TDKMenuItem*) { ++exposed; };
    sub->FOnClick = [&](TDKMenuItem* s) {
        EXPECT_EQ(s, sub);
        ++clicks;
    };
    root->ShowAt(100, 100);
    Point(root, 2);
    root->ListClick();
    ASSERT_NE(sub->FormHandle(), nullptr);
    EXPECT_TRUE(IsWindowVisible(sub->FormHandle()));
    EXPECT_EQ(exposed, 1);
    EXPECT_EQ(clicks, 1);
    root->ListClick();  // already visible: only the click
    EXPECT_EQ(exposed, 1);
    EXPECT_EQ(clicks, 2);
    // Selecting another row closes the submenu.
    Select(root, 0);
    EXPECT_EQ(sub->FormHandle(), nullptr);
}

TEST_F(MenuInput, EditedRowsFireNoClickAndEnterReachesTheDeepestSelection) {
    int clicks = 0;
    TDKMenuItem* filter = root->AddMenuItem(50009, L"", [&](TDKMenuItem*) { ++clicks; }, false, false, false, true);
    TDKMenuItem* sub = root->GetItem(1);
    int deepClicks = 0, subClicks = 0;
    sub->FOnClick = [&](TDKMenuItem*) { ++subClicks; };
    TDKMenuItem* deep = sub->AddMenuItem(10, L"deep", [&](TDKMenuItem*) { ++deepClicks; });
    sub->AddMenuItem(11, L"other");
    root->ShowAt(100, 100);
    Point(root, 5);
    root->ListClick();
    EXPECT_EQ(clicks, 0);

    Select(root, 1);
    RECT b = root->RowBounds(1);
    root->OpenChildAt(sub, b);
    Select(sub, 0);
    WORD key = VK_RETURN;
    root->ListKeyDown(key, 0);
    EXPECT_EQ(deepClicks, 1);
    EXPECT_EQ(subClicks, 0);

    // Enter typed into the edit box acts on the window's selected child (its submenu closed now).
    Select(root, 0);
    Select(root, 1);
    EXPECT_EQ(sub->FormHandle(), nullptr);
    int mouseUps = 0;
    sub->FOnMouseUp = [&](TDKMenuItem*, TMouseButton b2, TShiftState, int, int) {
        EXPECT_EQ(b2, TMouseButton::mbLeft);
        ++mouseUps;
    };
    TMenuRowData* d = root->RowData(5);
    ASSERT_TRUE(d && d->Edit);
    SendMessageW(d->Edit->Handle(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(subClicks, 1);
    EXPECT_EQ(mouseUps, 1);
    (void)deep;
    (void)filter;
}

TEST_F(MenuInput, EnterOnAnItemWhoseClickDeletesItRunsNothingMoreOnIt) {
    TDKMenuItem* sub = root->GetItem(1);
    TDKMenuItem* victim = sub->AddMenuItem(12, L"remove me");
    sub->AddMenuItem(13, L"stays");
    int downs = 0;
    victim->FOnClick = [&](TDKMenuItem* s) { s->FOwner->Delete(s); };
    victim->FOnMouseDown = [&](TDKMenuItem*, TMouseButton, TShiftState, int, int) { ++downs; };
    root->ShowAt(100, 100);
    Select(root, 1);
    root->OpenChildAt(sub, root->RowBounds(1));
    Select(sub, 0);
    WORD key = VK_RETURN;
    sub->ListKeyDown(key, 0);
    EXPECT_EQ(downs, 0);
    ASSERT_EQ(sub->Count(), 1);
    EXPECT_EQ(sub->GetItem(0)->FMIID, 13);
}

TEST_F(MenuInput, LeftClosesOnlyBelowTheRootAndEscHidesTheWholeMenu) {
    TDKMenuItem* sub = root->GetItem(0);
    sub->AddMenuItem(7, L"x");
    root->ShowAt(100, 100);
    Select(root, 0);
    root->OpenChildAt(sub, root->RowBounds(0));
    Select(sub, 0);
    WORD left = VK_LEFT;
    root->ListKeyDown(left, 0);  // root: nothing
    EXPECT_NE(root->FormHandle(), nullptr);
    EXPECT_NE(sub->FormHandle(), nullptr);
    sub->ListKeyDown(left, 0);
    EXPECT_EQ(sub->FormHandle(), nullptr);
    EXPECT_NE(root->FormHandle(), nullptr);

    WORD right = VK_RIGHT;
    root->ListKeyDown(right, 0);  // reopens the selected child's submenu
    ASSERT_NE(sub->FormHandle(), nullptr);
    Select(sub, 0);
    WORD esc = VK_ESCAPE;
    sub->ListKeyDown(esc, 0);
    EXPECT_EQ(sub->FormHandle(), nullptr);
    EXPECT_EQ(root->FormHandle(), nullptr);
}

TEST_F(MenuInput, WindowClosedByItsOwnHandlerIsFreedAfterIt) {
    // A click handler that hides the menu: the window goes away only after the handler.
    TDKMenuItem* c = root->GetItem(3);
    c->FOnClick = [&](TDKMenuItem*) { menu->Hide(); };
    root->ShowAt(100, 100);
    HWND form = root->FormHandle();
    Point(root, 3);
    // Deliver a real click through the list so the handler runs inside the window's own message.
    RECT b = root->RowBounds(3);
    LPARAM at = MAKELPARAM(b.left + 60, b.top + 10);
    SendMessageW(root->FListView, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(root->FListView, WM_LBUTTONUP, 0, at);
    testing_support::WaitUntil([] { return false; }, 100);
    EXPECT_EQ(root->FormHandle(), nullptr);
    EXPECT_FALSE(IsWindow(form));
}

TEST_F(MenuInput, RightClickAndToolTipsAndKeyboardMode) {
    int ups = 0;
    TMouseButton seen = TMouseButton::mbLeft;
    root->GetItem(1)->FOnMouseUp = [&](TDKMenuItem*, TMouseButton b, TShiftState, int, int) {
        seen = b;
        ++ups;
    };
    root->ShowAt(100, 100);
    Point(root, 1);
    root->UpPopupMenuPopup();
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(seen, TMouseButton::mbRight);
    // Below the last row: nothing there, nothing fired.
    POINT p{160, 100 + 5 * 21 + 8};
    SetCursorPos(p.x, p.y);
    root->UpPopupMenuPopup();
    EXPECT_EQ(ups, 1);
    Point(root, 1);
    EXPECT_EQ(root->ListInfoTip(1), L"");  // the caption fits

    Config.KeyBoardMode = true;
    Select(root, 0);
    RECT b = root->RowBounds(3);
    root->ListMouseMove(0, b.left + 60, b.top + 10);
    EXPECT_EQ(root->SelectedRow(), 0);
    Config.KeyBoardMode = false;
    Point(root, 3);
    root->ListMouseMove(0, b.left + 60, b.top + 10);
    EXPECT_EQ(root->SelectedRow(), 3);  // the selection follows the mouse
}

TEST_F(MenuInput, HoverOpensTheSubmenuUnderTheCursor) {
    TDKMenuItem* sub = root->GetItem(4);
    sub->AddMenuItem(0, L"Empty");
    root->ShowAt(100, 100);
    Point(root, 4);
    Select(root, 4);
    EXPECT_TRUE(root->FHoldMouseTimer->Enabled());
    EXPECT_TRUE(testing_support::WaitUntil([&] { return sub->FormHandle() != nullptr; }, 3000));
    EXPECT_FALSE(root->FHoldMouseTimer->Enabled());
}

// The pointer moving onto another row: the submenus of the other rows close (and theirs below
// them), the new row's own stays, and both rows' change reaches the screen in one hand-over.
TEST_F(MenuInput, ThePointerOnAnotherRowClosesTheOtherSubmenusInOneHandOver) {
    TDKMenuItem* one = root->GetItem(1);
    TDKMenuItem* deep = one->AddMenuItem(10, L"deep");
    deep->AddMenuItem(11, L"deeper");
    TDKMenuItem* three = root->GetItem(3);
    three->AddMenuItem(30, L"x");
    root->ShowAt(100, 100);
    Point(root, 1);
    Select(root, 1);
    root->OpenChildAt(one, root->RowBounds(1));
    one->OpenChildAt(deep, one->RowBounds(0));
    root->OpenChildAt(three, root->RowBounds(3));
    ASSERT_TRUE(one->FormHandle() && deep->FormHandle() && three->FormHandle());
    RECT b = root->RowBounds(3);
    POINT at{b.left + 60, (b.top + b.bottom) / 2};
    Point(root, 3);
    unsigned before = TDKMenuItem::HandOvers().Windows;
    SendMessageW(root->FListView, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
    EXPECT_EQ(root->SelectedRow(), 3);
    EXPECT_EQ(one->FormHandle(), nullptr);
    EXPECT_EQ(deep->FormHandle(), nullptr);
    EXPECT_NE(three->FormHandle(), nullptr);
    EXPECT_EQ(TDKMenuItem::HandOvers().Windows - before, 1u);
}

// A window with more columns than the screen holds: the keys at its edge, Page Up and Down and
// the wheel scroll its columns, so every row can be reached.
TEST_F(MenuInput, KeysAndTheWheelScrollTheColumnsToEveryRow) {
    SetCursorPos(5, 1010);
    for (int i = 0; i < 1000; ++i) root->AddMenuItem(100 + i, L"row " + std::to_wstring(i));
    menu->AddFilter(L"Type here");
    TDKMenuItem* sub = root->GetItem(0);
    sub->AddMenuItem(0, L"x");
    root->ShowAt(100, 21);
    const int rows = root->RowCount();
    RECT client{};
    GetClientRect(root->FListView, &client);
    auto shown = [&](int row) {
        RECT b = root->RowBounds(row);
        return b.left >= 0 && b.right <= client.right && b.top >= 0 && b.bottom <= client.bottom;
    };
    auto key = [&](WORD vk) { SendMessageW(root->FListView, WM_KEYDOWN, vk, 0); };
    int perColumn = 1;
    while (root->RowBounds(perColumn).left == root->RowBounds(0).left) ++perColumn;
    const int columns = client.right / (root->RowBounds(0).right - root->RowBounds(0).left);
    ASSERT_GT((rows + perColumn - 1) / perColumn, columns);
    // The list's scroll bar, unseen below the rows, takes no press.
    POINT band{client.right / 2, client.bottom + 5};
    ClientToScreen(root->FListView, &band);
    EXPECT_EQ(SendMessageW(root->FListView, WM_NCHITTEST, 0, MAKELPARAM(band.x, band.y)), HTCLIENT);
    // Down on the last row shown moves into the next column, which scrolls in; the picture follows.
    int lastShown = columns * perColumn - 1;
    Select(root, lastShown);
    key(VK_DOWN);
    EXPECT_EQ(root->SelectedRow(), lastShown + 1);
    EXPECT_EQ(root->FColumnIndex, 1);
    EXPECT_TRUE(shown(lastShown + 1));
    RECT b = root->RowBounds(lastShown + 1);
    EXPECT_EQ(root->PicturePixel(b.left + 24, b.top + 10) >> 24, 255u) << "a selected row is lit";
    // Up on the first row shown scrolls back.
    Select(root, perColumn);
    key(VK_UP);
    EXPECT_EQ(root->FColumnIndex, 0);
    EXPECT_TRUE(shown(perColumn - 1));
    // Page Down reaches the last row, and Page Up the first, each stop in the window.
    int steps = 0;
    while (root->SelectedRow() != rows - 1 && steps++ < 100) {
        key(VK_NEXT);
        ASSERT_TRUE(shown(root->SelectedRow())) << root->SelectedRow();
    }
    EXPECT_EQ(root->SelectedRow(), rows - 1);
    // The filter box, last, moved with its row.
    TMenuRowData* box = root->RowData(rows - 1);
    ASSERT_TRUE(box->Edit && box->Edit->Handle());
    RECT e{};
    GetWindowRect(box->Edit->Handle(), &e);
    MapWindowPoints(nullptr, root->FListView, reinterpret_cast<POINT*>(&e), 2);
    EXPECT_EQ(e.left, root->RowBounds(rows - 1).left + 28);
    steps = 0;
    while (root->SelectedRow() != 0 && steps++ < 100) {
        key(VK_PRIOR);
        ASSERT_TRUE(shown(root->SelectedRow())) << root->SelectedRow();
    }
    EXPECT_EQ(root->SelectedRow(), 0);
    EXPECT_EQ(root->FColumnIndex, 0);
    // Right on a row with a submenu opens it and leaves the selection where it is.
    key(VK_RIGHT);
    EXPECT_NE(sub->FormHandle(), nullptr);
    EXPECT_EQ(root->SelectedRow(), 0);
    sub->CloseWindow();
    // The wheel turns the window under the pointer, whichever window it is sent to; a scroll
    // closes the submenus of the rows that moved.
    root->OpenChildAt(sub, root->RowBounds(0));
    ASSERT_NE(sub->FormHandle(), nullptr);
    Point(root, perColumn * 2);
    POINT at{};
    GetCursorPos(&at);
    SendMessageW(sub->FListView, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-3 * WHEEL_DELTA)), MAKELPARAM(at.x, at.y));
    EXPECT_EQ(root->FColumnIndex, 3);
    EXPECT_EQ(sub->FormHandle(), nullptr);
    SendMessageW(root->FListView, WM_MOUSEWHEEL, MAKEWPARAM(0, 2 * WHEEL_DELTA), MAKELPARAM(at.x, at.y));
    EXPECT_EQ(root->FColumnIndex, 1);
    // The row under the pointer is the one the picture shows there.
    EXPECT_EQ(root->ItemAtCursor(), root->GetItem(root->RowData(perColumn * 3)->ItemIndex));
    SetCursorPos(5, 1010);
}

TEST_F(MenuInput, DropsWithinOneWindow) {
    for (int i = 0; i < root->Count(); ++i) root->GetItem(i)->SetDragged(true);
    root->ShowAt(100, 100);
    // Position 1 to the lower half of row 3 (3.6 rounds to 4) ends at position 3.
    Select(root, 1);
    root->FDragPosition.Row = 3.6f;
    root->ListDragDrop(root, 0, 0);
    EXPECT_EQ(Ids(root), (std::vector<int>{1, 3, 4, 2, 5}));
    EXPECT_FLOAT_EQ(root->FDragPosition.Row, -1.0f);
    EXPECT_EQ(root->RowCount(), 5);
    // To the upper half of the first row.
    Select(root, 3);
    root->FDragPosition.Row = 0.3f;
    root->ListDragDrop(root, 0, 0);
    EXPECT_EQ(Ids(root), (std::vector<int>{2, 1, 3, 4, 5}));
    // 2.5 rounds half to even: 2.
    Select(root, 4);
    root->FDragPosition.Row = 2.5f;
    root->ListDragDrop(root, 0, 0);
    EXPECT_EQ(Ids(root), (std::vector<int>{2, 1, 5, 3, 4}));
}

TEST_F(MenuInput, DragOverAcceptsOnlyStoredItemsAndNeverTheOwnSubtree) {
    TDKMenuItem* moving = root->GetItem(1);
    moving->SetDragged(true);
    root->GetItem(3)->SetDragged(true);
    root->ShowAt(100, 100);
    Select(root, 1);
    bool accept = false;
    Point(root, 2, 0.5);  // not stored: refused
    root->ListDragOver(root, 0, 0, accept);
    EXPECT_FALSE(accept);
    Point(root, 3, 0.25);
    root->ListDragOver(root, 0, 0, accept);
    EXPECT_TRUE(accept);
    EXPECT_NEAR(root->FDragPosition.Row, 3.25f, 0.06f);
    Select(root, 1);
    Point(root, 0, 0.3);  // upper half of the first row: any item
    root->ListDragOver(root, 0, 0, accept);
    EXPECT_TRUE(accept);

    // A window inside the dragged item's subtree refuses it, and a drop there changes nothing.
    TDKMenuItem* inner = moving->AddMenuItem(70, L"inner");
    inner->SetDragged(true);
    TDKMenuItem* innerSub = inner->AddMenuItem(71, L"deeper");
    innerSub->SetDragged(true);
    Select(root, 1);
    root->OpenChildAt(moving, root->RowBounds(1));
    ASSERT_NE(moving->FormHandle(), nullptr);
    Point(moving, 0, 0.3);
    accept = true;
    moving->ListDragOver(root, 0, 0, accept);
    EXPECT_FALSE(accept);
    moving->FDragPosition.Row = 0.3f;
    moving->ListDragDrop(root, 0, 0);
    EXPECT_EQ(moving->Owner(), root);
    EXPECT_EQ(moving->Count(), 1);
    EXPECT_EQ(root->GetItem(1), moving);
}

TEST_F(MenuInput, DropIntoAnotherWindowMovesTheItem) {
    TDKMenuItem* target = root->GetItem(0);
    target->SetDragged(true);
    target->AddMenuItem(20, L"t0")->SetDragged(true);
    target->AddMenuItem(21, L"t1")->SetDragged(true);
    TDKMenuItem* moving = root->GetItem(2);
    moving->SetDragged(true);
    root->ShowAt(100, 100);
    Select(root, 0);
    root->OpenChildAt(target, root->RowBounds(0));
    ASSERT_NE(target->FormHandle(), nullptr);
    Select(root, 2);  // the source window's selected row is the dragged child
    target->FDragPosition.Row = 1.2f;
    target->ListDragDrop(root, 0, 0);
    EXPECT_EQ(moving->Owner(), target);
    EXPECT_EQ(Ids(target), (std::vector<int>{20, 3, 21}));
    EXPECT_EQ(Ids(root), (std::vector<int>{1, 2, 4, 5}));
    EXPECT_EQ(root->RowCount(), 4);
}

TEST_F(MenuInput, StoredItemsWindowsAreOnlyHiddenAndADragSourceClosingEndsTheDrag) {
    TDKMenuItem* stored = root->GetItem(0);
    stored->SetDragged(true);
    TDKMenuItem* leaf = stored->AddMenuItem(30, L"leaf");
    leaf->SetDragged(true);
    TDKMenuItem* plain = root->GetItem(1);
    plain->AddMenuItem(31, L"p")->SetDragged(true);
    root->ShowAt(100, 100);
    root->OpenChildAt(stored, root->RowBounds(0));
    HWND storedForm = stored->FormHandle();
    stored->CloseWindow();
    EXPECT_EQ(stored->FormHandle(), storedForm);
    EXPECT_FALSE(IsWindowVisible(storedForm));

    // A drag starting in a plain item's window, then that window goes away mid-drag.
    root->OpenChildAt(plain, root->RowBounds(1));
    ASSERT_NE(plain->FormHandle(), nullptr);
    Select(plain, 0);
    RECT b = plain->RowBounds(0);
    Point(plain, 0);
    plain->ListMouseMove(ssLeft, b.left + 60, b.top + 10);
    EXPECT_EQ(MenuDragSource(), plain);
    EXPECT_GE(plain->FDragPosition.Row, 0.0f);
    HWND list = plain->FListView;
    EXPECT_EQ(GetCapture(), list);
    plain->CloseWindow();
    EXPECT_EQ(MenuDragSource(), nullptr);
    EXPECT_NE(GetCapture(), list);
    // Not stored: a drag never starts.
    Select(root, 3);
    RECT r3 = root->RowBounds(3);
    Point(root, 3);
    root->ListMouseMove(ssLeft, r3.left + 60, r3.top + 10);
    EXPECT_EQ(MenuDragSource(), nullptr);
}

TEST_F(MenuInput, EditBoxKeysAndIconTurn) {
    TDKMenuItem* e = root->AddMenuItem(50009, L"abc", nullptr, false, false, false, true);
    root->ShowAt(100, 100);
    TMenuRowData* d = root->RowData(5);
    ASSERT_TRUE(d && d->Edit);
    // Characters 13 and 27 never reach the box.
    SendMessageW(d->Edit->Handle(), WM_CHAR, 13, 0);
    SendMessageW(d->Edit->Handle(), WM_CHAR, 27, 0);
    wchar_t buf[32]{};
    GetWindowTextW(d->Edit->Handle(), buf, 32);
    EXPECT_STREQ(buf, L"abc");
    // Selecting the edited row runs the icon-turn timer: 7 degrees each 40 ms.
    Select(root, 5);
    EXPECT_TRUE(root->FRotateIconTimer->Enabled());
    root->RotateIconTimerTick();
    EXPECT_EQ(root->FRotateDegree, 7);
    Select(root, 0);  // no icon, no check mark, not edited
    EXPECT_FALSE(root->FRotateIconTimer->Enabled());
    // Turning the edit state off removes the box.
    e->SetEdited(false);
    EXPECT_EQ(root->RowData(5)->Edit, nullptr);
}

TEST_F(MenuInput, ANewRowTakesTheKeyboardAndItsEnterEndsIt) {
    TDKMenuItem* title = root->InsertMenuItem(0, TDKPopupMenu::FavoritesTitleID, L"Favorites", nullptr, true);
    title->AddMenuItem(0, L"Create New Group", [this](TDKMenuItem* s) { menu->CreateGroup(s); });
    int otherClicks = 0;
    root->GetItem(3)->FOnClick = [&](TDKMenuItem*) { ++otherClicks; };  // row 4 once a row comes above
    root->ShowAt(100, 100);
    Select(root, 0);
    root->OpenChildAt(title, root->RowBounds(0));
    ASSERT_NE(title->FormHandle(), nullptr);
    auto box = [&]() -> HWND {
        for (int r = 0; r < root->RowCount(); ++r)
            if (TMenuRowData* d = root->RowData(r); d && d->Edit) return d->Edit->Handle();
        return nullptr;
    };
    for (int i = 0; i < 2; ++i) {
        Point(title, 0);
        title->ListClick();
        ASSERT_EQ(root->GetItem(1)->Caption(), L"Type Group Title and Press Enter");
        EXPECT_NE(root->GetItem(2)->Caption(), L"Type Group Title and Press Enter");
        // The row is selected and its box has the keyboard; the command's submenu stays open.
        ASSERT_NE(box(), nullptr);
        EXPECT_EQ(GetFocus(), box());
        EXPECT_EQ(root->SelectedRow(), 1);
        EXPECT_TRUE(title->FormHandle() && IsWindowVisible(title->FormHandle()));
    }
    // Wherever the caret is, the first key replaces the whole prompt.
    SendMessageW(box(), EM_SETSEL, 4, 4);
    for (wchar_t c : std::wstring(L"Ga")) SendMessageW(box(), WM_CHAR, c, 0);
    EXPECT_EQ(root->GetItem(1)->Caption(), L"Ga");
    // A row coming in above (a window opening) moves the row: its new box keeps the keys.
    root->InsertMenuItem(0, 99, L"new window");
    EXPECT_EQ(GetFocus(), box());
    SendMessageW(box(), WM_CHAR, L'm', 0);
    TDKMenuItem* group = root->GetItem(2);
    EXPECT_EQ(group->Caption(), L"Gam");
    // Enter ends the row typed into, though the pointer moved the selection elsewhere.
    Select(root, 4);
    SendMessageW(box(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_FALSE(group->Edited());
    EXPECT_EQ(group->Caption(), L"Gam");
    EXPECT_NE(group->FindItem(std::wstring(L"Rename Group")), nullptr);
    EXPECT_EQ(otherClicks, 0);
}

TEST_F(MenuInput, HandlerExceptionsAreLoggedAndTheMenuGoesOn) {
    std::string caught;
    gui::App().OnException = [&](const std::string& cls, const std::string& msg) { caught += cls + ":" + msg + ";"; };
    testing_support::WriteFileBytes(LogFileName(), "");
    int clicks = 0;
    root->GetItem(0)->FOnClick = [](TDKMenuItem*) { throw std::runtime_error("click boom"); };
    root->GetItem(1)->FOnMouseUp = [](TDKMenuItem*, TMouseButton, TShiftState, int, int) {
        throw std::runtime_error("up boom");
    };
    root->GetItem(2)->FOnClick = [&](TDKMenuItem*) { ++clicks; };
    TDKMenuItem* filter = root->AddMenuItem(50009, L"", nullptr, false, false, false, true);
    filter->FOnEditChanged = [](TDKMenuItem*, const std::wstring&) { throw std::runtime_error("filter boom"); };
    root->ShowAt(100, 100);
    auto click = [&](int row) {
        Point(root, row);
        RECT b = root->RowBounds(row);
        LPARAM at = MAKELPARAM(b.left + 60, b.top + 10);
        SendMessageW(root->FListView, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(root->FListView, WM_LBUTTONUP, 0, at);
    };
    click(0);
    click(1);
    HWND edit = root->RowData(5)->Edit->Handle();
    SendMessageW(edit, WM_CHAR, 'x', 0);  // a filter keystroke
    Select(root, 0);
    SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);  // Enter acts on the selected row
    EXPECT_NE(testing_support::ReadFileBytes(LogFileName()).find("(c20) click boom"), std::string::npos);
    EXPECT_EQ(caught, "TListView:up boom;TListView:filter boom;TEdit:click boom;");
    click(2);
    EXPECT_EQ(clicks, 1);
    EXPECT_NE(root->FormHandle(), nullptr);
    gui::App().OnException = nullptr;
    DeleteFileW(LogFileName().c_str());
}

TEST_F(MenuInput, EveryPressOnARowGetsExactlyOneRelease) {
    std::vector<TMouseButton> ups;
    int clicks = 0;
    TDKMenuItem* c = root->GetItem(2);
    c->FOnMouseUp = [&](TDKMenuItem*, TMouseButton b, TShiftState, int, int) { ups.push_back(b); };
    c->FOnClick = [&](TDKMenuItem*) { ++clicks; };
    root->ShowAt(100, 100);
    HWND list = root->FListView;
    Point(root, 2);
    RECT b = root->RowBounds(2);
    LPARAM at = MAKELPARAM(b.left + 60, b.top + 10);
    auto notify = [&](UINT code) {
        NMITEMACTIVATE n{};
        n.hdr.hwndFrom = list;
        n.hdr.code = code;
        n.iItem = 2;
        n.ptAction = POINT{b.left + 60, b.top + 10};
        SendMessageW(root->FormHandle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
    };
    using B = TMouseButton;
    // As on Windows: the list's drag detection took the button-up and reports a click.
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    notify(NM_CLICK);
    EXPECT_EQ(ups, (std::vector<B>{B::mbLeft}));
    EXPECT_EQ(clicks, 1);
    // As under Wine: the button-up comes, and the list reports the click from it.
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
    EXPECT_EQ(ups, (std::vector<B>{B::mbLeft, B::mbLeft}));
    EXPECT_EQ(clicks, 2);
    // Right button: the list's handling of the press takes the queued button-up, then reports
    // NM_RCLICK and WM_CONTEXTMENU; late or repeated reports add nothing.
    PostMessageW(list, WM_RBUTTONUP, 0, at);
    SendMessageW(list, WM_RBUTTONDOWN, MK_RBUTTON, at);
    notify(NM_RCLICK);
    POINT sp{b.left + 60, b.top + 10};
    ClientToScreen(list, &sp);
    SendMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(sp.x, sp.y));
    testing_support::WaitUntil([] { return false; }, 50);
    EXPECT_EQ(ups, (std::vector<B>{B::mbLeft, B::mbLeft, B::mbRight}));
    EXPECT_EQ(clicks, 2);
}

TEST_F(MenuInput, ADragLeavesNoDropMarkBehind) {
    for (int i = 0; i < root->Count(); ++i) root->GetItem(i)->SetDragged(true);
    TDKMenuItem* group = root->GetItem(0);
    group->AddMenuItem(20, L"g0")->SetDragged(true);
    group->AddMenuItem(21, L"g1")->SetDragged(true);
    int groupClicks = 0, rootClicks = 0;
    group->GetItem(1)->FOnClick = [&](TDKMenuItem*) { ++groupClicks; };
    root->GetItem(1)->FOnClick = [&](TDKMenuItem*) { ++rootClicks; };
    root->ShowAt(100, 100);
    HWND list = root->FListView;
    auto moveTo = [&](TDKMenuItem* over, int row, double frac) {
        Point(over, row, frac);
        POINT p{};
        GetCursorPos(&p);
        ScreenToClient(list, &p);
        SendMessageW(list, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y));
        return MAKELPARAM(p.x, p.y);
    };
    moveTo(root, 4, 0.5);  // the drag starts on the last row
    ASSERT_EQ(MenuDragSource(), root);
    root->OpenChildAt(group, root->RowBounds(0));
    moveTo(group, 1, 0.3);
    EXPECT_GE(group->FDragPosition.Row, 1.0f);
    moveTo(root, 2, 0.7);  // back: the window left has no mark
    EXPECT_FLOAT_EQ(group->FDragPosition.Row, -1.0f);
    moveTo(group, 1, 0.3);
    LPARAM end = moveTo(root, 3, 0.5);
    SendMessageW(list, WM_LBUTTONUP, 0, end);
    EXPECT_EQ(MenuDragSource(), nullptr);
    EXPECT_FLOAT_EQ(group->FDragPosition.Row, -1.0f);
    EXPECT_FLOAT_EQ(root->FDragPosition.Row, -1.0f);
    root->OpenChildAt(group, root->RowBounds(group->Index()));  // the drop closed it
    Point(group, 1);
    group->ListClick();
    Point(root, 1);
    root->ListClick();
    EXPECT_EQ(groupClicks, 1);
    EXPECT_EQ(rootClicks, 1);
}

TEST_F(MenuInput, DropsIntoWindowsRebuiltOnOpeningAreRefused) {
    menu->AddStatistics();
    for (int i = 0; i < 5; ++i) root->GetItem(i)->SetDragged(true);
    TDKMenuItem* commands = root->GetItem(0);  // a favourite's command submenu
    commands->FOnBeforExpose = [](TDKMenuItem*) {};
    commands->AddMenuItem(0, L"Open");
    TDKMenuItem* folder = root->GetItem(1);  // a shell folder
    wchar_t windir[MAX_PATH]{};
    GetWindowsDirectoryW(windir, MAX_PATH);
    folder->FPIDL = ILCreateFromPathW(windir);
    folder->AddMenuItem(0, L"entry");
    TDKMenuItem* favourite = root->GetItem(4);
    for (TDKMenuItem* target : {commands, folder, menu->FindItem(TDKPopupMenu::MostPopularID)}) {
        ASSERT_NE(target, nullptr);
        Select(root, 4);
        target->ShowAt(400, 100);
        Point(target, 0, 0.3);  // the upper half of the first row
        bool accept = true;
        target->ListDragOver(root, 0, 0, accept);
        EXPECT_FALSE(accept);
        EXPECT_FLOAT_EQ(target->FDragPosition.Row, -1.0f);
        target->FDragPosition.Row = 0.3f;
        target->ListDragDrop(root, 0, 0);
        EXPECT_EQ(favourite->Owner(), root);
        EXPECT_EQ(root->GetItem(4), favourite);
        target->CloseWindow();
    }
}

}  // namespace
