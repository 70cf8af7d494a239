// Filtering menus: visibility on trees in memory, and on shown windows the way to the best
// match, the selection and the filter box.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Configs.h"
#include "DKComponents.h"
#include "MenuForm.h"
#include "TestSupport.h"

namespace {

struct TTestMenu : TDKPopupMenu {
    using TDKPopupMenu::TDKPopupMenu;
    std::vector<std::wstring> filterTexts;
    void ExecuteFilterText(TDKMenuItem* Item) override { filterTexts.push_back(Item->Caption()); }
};

TDKMenuItem* Leaf(TDKMenuItem* parent, const std::wstring& caption) {
    return parent->AddMenuItem(0, caption, nullptr, false, false, true);
}

class MenuFilter : public ::testing::Test {
protected:
    void SetUp() override {
        Config.KeyBoardMode = false;
        SetCursorPos(1270, 1010);  // away from the windows: hovering opens submenus
        menu = std::make_unique<TTestMenu>(TMenuOwner{L"Programs", 0, RGB(20, 60, 120), nullptr});
        root = menu->Items();
        root->AddMenuItem(TDKPopupMenu::MainTitleID, L"Programs", nullptr, true);
        accessories = Leaf(root, L"Accessories");
        notepad = Leaf(accessories, L"Notepad");
        calculator = Leaf(accessories, L"Calculator");
        sticky = Leaf(root, L"Sticky Notes");
        documents = Leaf(root, L"Documents");
        documents->AddMenuItem(0, L"Empty");  // filled when opened
        games = Leaf(root, L"Games");
        Leaf(games, L"Solitaire");
        menu->AddFilter(L"Type here");
        box = menu->FindItem(TDKPopupMenu::FilterEditID);
    }
    void TearDown() override { menu.reset(); }

    int RowOf(TDKMenuItem* owner, TDKMenuItem* child) const {
        for (int r = 0; r < owner->RowCount(); ++r)
            if (TMenuRowData* d = owner->RowData(r); d && d->ItemIndex == child->Index()) return r;
        return -1;
    }
    HWND Box() const {
        TMenuRowData* d = root->RowData(RowOf(root, box));
        return d && d->Edit ? d->Edit->Handle : nullptr;
    }
    static bool Shown(TDKMenuItem* item) { return item->FormHandle() && IsWindowVisible(item->FormHandle()); }
    static std::pair<DWORD, DWORD> Selection(HWND edit) {
        DWORD s = 0, e = 0;
        SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
        return {s, e};
    }

    std::unique_ptr<TTestMenu> menu;
    TDKMenuItem *root, *accessories, *notepad, *calculator, *sticky, *documents, *games, *box;
};

}  // namespace

TEST_F(MenuFilter, LeavesShowByCaptionBranchesByTheirChildren) {
    root->Filter(L"note", box);
    EXPECT_TRUE(accessories->Visible());
    EXPECT_TRUE(notepad->Visible());
    EXPECT_FALSE(calculator->Visible());
    EXPECT_TRUE(sticky->Visible());
    EXPECT_FALSE(documents->Visible());
    EXPECT_FALSE(games->Visible());
    // Titles and the box are not filterable: always shown.
    EXPECT_TRUE(root->GetItem(0)->Visible());
    EXPECT_TRUE(box->Visible());
    EXPECT_TRUE(root->FindItem(TDKPopupMenu::FilterTitleID)->Visible());

    // Only A to Z fold.
    root->Filter(L"NOTE", box);
    EXPECT_TRUE(notepad->Visible());
    EXPECT_TRUE(sticky->Visible());

    // A folder still holding its placeholder matches by its own caption; a group whose own
    // caption matches but none of whose members do is hidden.
    root->Filter(L"doc", box);
    EXPECT_TRUE(documents->Visible());
    EXPECT_FALSE(accessories->Visible());
    root->Filter(L"games", box);
    EXPECT_FALSE(games->Visible());

    root->Filter(L"", box);
    for (int i = 0; i < root->Count(); ++i) EXPECT_TRUE(root->GetItem(i)->Visible());
    EXPECT_TRUE(calculator->Visible());
}

TEST_F(MenuFilter, NonAsciiCapitalsAreNotFolded) {
    TDKMenuItem* upper = Leaf(root, L"\u00C9mile");
    TDKMenuItem* lower = Leaf(root, L"\u00E9migr\u00E9");
    root->Filter(L"\u00E9", box);
    EXPECT_FALSE(upper->Visible());
    EXPECT_TRUE(lower->Visible());
    root->Filter(L"\u00C9", box);
    EXPECT_TRUE(upper->Visible());
    EXPECT_FALSE(lower->Visible());
}

TEST_F(MenuFilter, PrefixMatchWinsOverAShallowerInnerMatch) {
    root->ShowAt(100, 100);
    ASSERT_TRUE(Shown(root));
    root->Filter(L"note", box);
    // Rows list only the visible children.
    int visible = 0;
    for (int i = 0; i < root->Count(); ++i) visible += root->GetItem(i)->Visible() ? 1 : 0;
    EXPECT_EQ(root->RowCount(), visible);
    // Notepad (depth 2, starts with the text) beats Sticky Notes (depth 1, inside).
    EXPECT_EQ(root->SelectedRow(), RowOf(root, accessories));
    ASSERT_TRUE(Shown(accessories));
    EXPECT_EQ(accessories->SelectedRow(), RowOf(accessories, notepad));
    EXPECT_EQ(accessories->RowCount(), 1);

    // The box keeps the focus, turns black and has its caret after the text.
    HWND edit = Box();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_EQ(root->RowData(RowOf(root, box))->Edit->TextColor, 0u);
    EXPECT_EQ(Selection(edit), std::make_pair(DWORD{4}, DWORD{4}));
}

TEST_F(MenuFilter, TheShallowestPrefixMatchIsChosen) {
    TDKMenuItem* system = Leaf(accessories, L"System");
    Leaf(system, L"Notepad");
    TDKMenuItem* wordpad = Leaf(accessories, L"WordPad");
    accessories->Delete(notepad);
    root->ShowAt(100, 100);
    root->Filter(L"pad", box);
    EXPECT_EQ(root->SelectedRow(), RowOf(root, accessories));
    ASSERT_TRUE(Shown(accessories));
    EXPECT_EQ(accessories->SelectedRow(), RowOf(accessories, wordpad));
    EXPECT_FALSE(Shown(system));
}

TEST_F(MenuFilter, EmptyTextShowsAllAndSelectsTheBox) {
    root->ShowAt(100, 100);
    root->Filter(L"note", box);
    root->Filter(L"", box);
    EXPECT_EQ(root->RowCount(), root->Count());
    EXPECT_FALSE(Shown(accessories));
    EXPECT_EQ(root->SelectedRow(), RowOf(root, box));
    HWND edit = Box();
    ASSERT_NE(edit, nullptr);
    // The whole text selected, so typing replaces it.
    EXPECT_EQ(Selection(edit), std::make_pair(DWORD{0}, static_cast<DWORD>(box->Caption().size())));
}

TEST_F(MenuFilter, TypingFiltersOnceAndEnterWithoutMatchRunsTheMenusCommand) {
    root->ShowAt(100, 100);
    HWND edit = Box();
    ASSERT_NE(edit, nullptr);
    SetWindowTextW(edit, L"calc");
    EXPECT_EQ(box->Caption(), L"calc");
    EXPECT_TRUE(calculator->Visible());
    EXPECT_FALSE(notepad->Visible());
    ASSERT_TRUE(Shown(accessories));
    EXPECT_EQ(accessories->SelectedRow(), RowOf(accessories, calculator));
    HWND rebuilt = Box();
    ASSERT_NE(rebuilt, nullptr);
    wchar_t text[32]{};
    GetWindowTextW(rebuilt, text, 32);
    EXPECT_STREQ(text, L"calc");

    menu->FilterChanged(box, L"zzz");
    EXPECT_EQ(root->SelectedRow(), RowOf(root, box));
    WORD key = VK_RETURN;
    root->ListKeyDown(key, 0);
    EXPECT_EQ(menu->filterTexts, (std::vector<std::wstring>{L"zzz"}));
}

TEST_F(MenuFilter, PopupShowsWhatAnEarlierFilterHid) {
    root->Filter(L"note", box);
    ASSERT_FALSE(games->Visible());
    menu->Popup(100, 100);
    EXPECT_TRUE(games->Visible());
    EXPECT_TRUE(calculator->Visible());
    EXPECT_TRUE(menu->Acitve());
    menu->Hide();
    EXPECT_FALSE(menu->Acitve());
}

TEST_F(MenuFilter, ASubmenuThatHidesTheMenuWhileOpeningEndsTheFilterQuietly) {
    root->ShowAt(100, 100);
    accessories->FOnBeforExpose = [this](TDKMenuItem*) { menu->Hide(); };
    root->Filter(L"note", box);
    EXPECT_FALSE(Shown(root));
    EXPECT_TRUE(notepad->Visible());
    EXPECT_FALSE(calculator->Visible());
}
