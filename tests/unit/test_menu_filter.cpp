// Filtering menus: visibility on trees in memory, and on shown windows the way to the best
// match, the selection and the filter box.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "settings/Configs.h"
#include "menu/DKComponents.h"
#include "menu/MenuForm.h"
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
        return d && d->Edit ? d->Edit->Handle() : nullptr;
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

TEST_F(MenuFilter, PopupShowsWhatAnEarlierFilterHidWithTheBoxsHint) {
    menu->Popup(100, 100);
    SetWindowTextW(Box(), L"note");
    ASSERT_FALSE(games->Visible());
    menu->Hide();
    menu->Popup(100, 100);
    EXPECT_TRUE(games->Visible());
    EXPECT_TRUE(calculator->Visible());
    EXPECT_TRUE(menu->Acitve());
    // The box and the list agree: nothing typed.
    EXPECT_EQ(box->Caption(), L"Type here");
    EXPECT_TRUE(menu->FFilterText.empty());
    HWND edit = Box();
    ASSERT_NE(edit, nullptr);
    wchar_t text[32]{};
    GetWindowTextW(edit, text, 32);
    EXPECT_STREQ(text, L"Type here");
    EXPECT_TRUE(root->RowData(RowOf(root, box))->Edit->ShowsHint);
    menu->Hide();
    EXPECT_FALSE(menu->Acitve());
}

// A folder read afresh each time its window opens, with an entry in front after each reading
// (rows move), as the shell gives what the folder holds now.
TEST_F(MenuFilter, AShownFolderIsNotReadAgainByAKeyAndEnterRunsTheMatchFound) {
    TDKMenuItem* folder = Leaf(root, L"Desktop");
    std::vector<std::wstring> ran;
    int reads = 0;
    auto fill = [&](TDKMenuItem* f) {
        ++reads;
        f->Clear();
        Leaf(f, L"aaa " + std::to_wstring(reads) + L".txt");
        for (const wchar_t* name : {L"entry0000.txt", L"entry0025.txt", L"other.txt"})
            Leaf(f, name)->FOnClick = [&ran](TDKMenuItem* s) { ran.push_back(s->Caption()); };
    };
    fill(folder);  // read when the menu was built
    folder->FOnBeforExpose = fill;
    root->ShowAt(100, 100);
    HWND edit = Box();
    ASSERT_NE(edit, nullptr);
    SetWindowTextW(edit, L"e");
    EXPECT_EQ(reads, 2);  // opened by the filter: read afresh once
    ASSERT_TRUE(Shown(folder));
    for (const wchar_t* text : {L"en", L"entry", L"entry002", L"entry0025"}) {
        SetWindowTextW(Box(), text);
        EXPECT_EQ(reads, 2) << "read again at " << testing::PrintToString(std::wstring(text));
    }
    // Only the match shows, selected; Enter runs it.
    ASSERT_EQ(folder->RowCount(), 1);
    EXPECT_EQ(folder->RowText(0), L"entry0025.txt");
    EXPECT_EQ(folder->SelectedRow(), 0);
    SendMessageW(Box(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(ran, (std::vector<std::wstring>{L"entry0025.txt"}));

    // Opened by the pointer while the box holds text, the folder read afresh is narrowed too.
    SetWindowTextW(Box(), L"other");
    EXPECT_EQ(reads, 2);
    folder->CloseWindow();
    root->OpenChildAt(folder, root->RowBounds(RowOf(root, folder)));
    EXPECT_EQ(reads, 3);
    ASSERT_EQ(folder->RowCount(), 1);
    EXPECT_EQ(folder->RowText(0), L"other.txt");
}

TEST_F(MenuFilter, UpAndDownChooseAmongTheMatchesShownAndEnterRunsTheChosen) {
    std::vector<std::wstring> ran;
    auto run = [&ran](TDKMenuItem* s) { ran.push_back(s->Caption()); };
    TDKMenuItem* solitaire = games->GetItem(0);
    for (TDKMenuItem* leaf : {notepad, calculator, sticky, documents, solitaire}) leaf->FOnClick = run;
    menu->Popup(100, 100);
    SetWindowTextW(Box(), L"o");
    // Matches in the order of their rows: Notepad, Calculator, Sticky Notes, Documents, Solitaire;
    // the shallowest comes first: Sticky Notes.
    EXPECT_EQ(root->SelectedRow(), RowOf(root, sticky));
    auto key = [&](WORD vk) { SendMessageW(Box(), WM_KEYDOWN, vk, 0); };
    key(VK_DOWN);
    EXPECT_EQ(root->SelectedRow(), RowOf(root, documents));
    key(VK_DOWN);
    EXPECT_EQ(root->SelectedRow(), RowOf(root, games));
    ASSERT_TRUE(Shown(games));
    EXPECT_EQ(games->SelectedRow(), RowOf(games, solitaire));
    key(VK_DOWN);  // the last stays chosen
    EXPECT_EQ(games->SelectedRow(), RowOf(games, solitaire));
    for (int i = 0; i < 3; ++i) key(VK_UP);
    EXPECT_FALSE(Shown(games));
    ASSERT_TRUE(Shown(accessories));
    EXPECT_EQ(accessories->SelectedRow(), RowOf(accessories, calculator));
    // The box keeps the keyboard and its text.
    EXPECT_EQ(GetFocus(), Box());
    EXPECT_EQ(box->Caption(), L"o");
    key(VK_RETURN);
    EXPECT_EQ(ran, (std::vector<std::wstring>{L"Calculator"}));
}

// As the Applications menu lists a window that opens while the user types: above the box.
TEST_F(MenuFilter, ARowThatComesInIsNarrowedAndTheBoxKeepsKeyboardTextAndCaret) {
    menu->Popup(100, 100);
    HWND edit = Box();
    SetWindowTextW(edit, L"no");
    SendMessageW(edit, EM_SETSEL, 1, 1);
    ASSERT_EQ(GetFocus(), edit);
    TDKMenuItem* job = root->InsertMenuItem(1, 0, L"Background job", nullptr, false, false, true);
    TDKMenuItem* book = root->InsertMenuItem(1, 0, L"Notebook", nullptr, false, false, true);
    menu->FilterArrivals();
    EXPECT_FALSE(job->Visible());
    EXPECT_EQ(RowOf(root, job), -1);
    EXPECT_NE(RowOf(root, book), -1);
    EXPECT_EQ(Box(), edit);  // moved with its row, not made anew
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_EQ(Selection(edit), std::make_pair(DWORD{1}, DWORD{1}));
    // The next character goes where the caret is, not over the whole text.
    SendMessageW(edit, WM_CHAR, L't', 0);
    EXPECT_EQ(box->Caption(), L"nto");
}

TEST_F(MenuFilter, ASubmenuThatHidesTheMenuWhileOpeningEndsTheFilterQuietly) {
    root->ShowAt(100, 100);
    accessories->FOnBeforExpose = [this](TDKMenuItem*) { menu->Hide(); };
    root->Filter(L"note", box);
    EXPECT_FALSE(Shown(root));
    EXPECT_TRUE(notepad->Visible());
    EXPECT_FALSE(calculator->Visible());
}
