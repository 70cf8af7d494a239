// The menu item tree without windows: ids, positions, copying rules, radio runs, removal.
#include <gtest/gtest.h>

#include <memory>

#include "menu/DKComponents.h"
#include "PlainMenu.h"

// A menu with no command of its own behind the filter box.
namespace {

std::vector<std::wstring> Captions(const TDKMenuItem& mi) {
    std::vector<std::wstring> v;
    for (int i = 0; i < mi.Count(); ++i) v.push_back(mi.GetItem(i)->Caption());
    return v;
}

TEST(MenuTree, NewItemDefaults) {
    TDKMenuItem mi;
    EXPECT_EQ(mi.Count(), 0);
    EXPECT_EQ(mi.Index(), -1);
    EXPECT_EQ(mi.GetItem(0), nullptr);  // no child list yet
    EXPECT_TRUE(mi.Visible());
    EXPECT_FALSE(mi.Dragged());
    EXPECT_FLOAT_EQ(mi.FDragPosition.Row, -1.0f);
    EXPECT_TRUE(mi.FGlassMode);
    EXPECT_TRUE(mi.FGradientSelected);
    EXPECT_EQ(mi.FItems, nullptr);
    EXPECT_FALSE(mi.IsFile());
}

TEST(MenuTree, AddMenuItemArgumentOrderAndCopies) {
    TPlainMenu menu;
    menu.FMenuID = 3;
    TDKMenuItem* root = menu.RootItem();
    root->SetColor(0x123456);
    root->SetShowFileExt(true);
    int clicks = 0;
    TDKMenuItem* a = root->AddMenuItem(7, L"A", [&](TDKMenuItem*) { ++clicks; }, true, false, true, false, true);
    EXPECT_EQ(a->MIID(), 7);
    EXPECT_TRUE(a->GroupTitle());
    EXPECT_FALSE(a->HasSplitter());
    EXPECT_TRUE(a->Filtered());
    EXPECT_FALSE(a->Edited());
    EXPECT_TRUE(a->Checked());
    EXPECT_FALSE(a->Dragged());
    EXPECT_EQ(a->Owner(), root);
    EXPECT_EQ(a->PopupMenu(), &menu);
    EXPECT_EQ(a->Color(), 0x123456u);
    EXPECT_TRUE(a->ShowFileExt());  // Add copies it
    a->FOnClick(a);
    EXPECT_EQ(clicks, 1);

    // Insert copies colour and menu, not the file-extension flag.
    auto* b = new TDKMenuItem();
    root->Insert(0, b);
    EXPECT_FALSE(b->ShowFileExt());
    EXPECT_EQ(b->Color(), 0x123456u);
    EXPECT_EQ(b->PopupMenu(), &menu);
    EXPECT_EQ(b->Index(), 0);
    EXPECT_EQ(a->Index(), 1);
}

TEST(MenuTree, InsertAtCountAppendsAndOutOfRangeIsRejected) {
    TDKMenuItem root;
    root.AddMenuItem(1, L"one");
    root.AddMenuItem(2, L"two");
    root.InsertMenuItem(root.Count(), 3, L"three");
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"one", L"two", L"three"}));
    EXPECT_THROW(root.InsertMenuItem(5, 4, L"far"), std::out_of_range);
    EXPECT_EQ(root.Count(), 3);
    EXPECT_THROW(root.GetItem(3), std::out_of_range);
    EXPECT_THROW(root.Exchange(0, 3), std::out_of_range);
    root.Exchange(0, 2);
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"three", L"two", L"one"}));
}

TEST(MenuTree, SelfRemovalOfIdZeroAmongSiblings) {
    TDKMenuItem root;
    root.AddMenuItem(0, L"first");
    TDKMenuItem* mid = root.AddMenuItem(0, L"middle");
    root.AddMenuItem(0, L"last");
    mid->Delete(-1);
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"first", L"last"}));
    // An item without an owner cannot remove itself.
    TDKMenuItem lone;
    lone.Delete(-1);
    EXPECT_EQ(lone.MIID(), 0);
}

TEST(MenuTree, DuplicateIdsRemoveTheFirstAndOnlyDirectChildren) {
    TDKMenuItem root;
    root.AddMenuItem(50001, L"first");
    root.AddMenuItem(50001, L"second");
    TDKMenuItem* holder = root.AddMenuItem(5, L"holder");
    holder->AddMenuItem(77, L"grandchild");
    root.Delete(50001);
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"second", L"holder"}));
    root.Delete(77);  // not a direct child
    EXPECT_EQ(root.Count(), 2);
    EXPECT_EQ(holder->Count(), 1);
    // A later duplicate removing itself takes the first with its id: ids matter, not identity.
    root.AddMenuItem(9, L"nine-a");
    TDKMenuItem* b = root.AddMenuItem(9, L"nine-b");
    b->Delete(-1);
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"second", L"holder", L"nine-b"}));
}

TEST(MenuTree, ClearKeepsTheSubmenuAndDeleteItemsTakesTheRun) {
    TDKMenuItem root;
    for (int i = 1; i <= 6; ++i) root.AddMenuItem(i * 10, L"c" + std::to_wstring(i));
    root.DeleteItems(20, 40);
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"c1", L"c5", L"c6"}));
    root.DeleteItems(99, 10);  // FirstID names no child
    EXPECT_EQ(root.Count(), 3);
    root.DeleteItems(50, 12345);  // no LastID after FirstID: stops at the end
    EXPECT_EQ(Captions(root), (std::vector<std::wstring>{L"c1"}));
    root.Clear();
    EXPECT_EQ(root.Count(), 0);
    EXPECT_NE(root.FItems, nullptr);  // still a submenu
}

TEST(MenuTree, RadioRunsArePositionsWithinTheRun) {
    TDKMenuItem root;
    root.AddMenuItem(1, L"before", nullptr, false, false, false, false, false);
    root.AddMenuItem(100, L"r1");
    root.AddMenuItem(101, L"r2", nullptr, false, false, false, false, true);
    root.AddMenuItem(102, L"r3");
    root.AddMenuItem(2, L"after", nullptr, false, false, false, false, true);
    EXPECT_EQ(root.GetRadioBox(100, 102), 2);  // a position, not an id
    EXPECT_EQ(root.GetRadioBox(555, 102), -1);
    root.SetRadioBox(100, 102, 102);
    EXPECT_FALSE(root.GetItem(2)->Checked());
    EXPECT_TRUE(root.GetItem(3)->Checked());
    EXPECT_TRUE(root.GetItem(4)->Checked());  // outside the run, untouched
    EXPECT_EQ(root.GetRadioBox(100, 102), 3);
    root.SetRadioBox(100, 102, 4242);  // outside the run unchecks all of it
    EXPECT_EQ(root.GetRadioBox(100, 102), -1);
    // With nothing checked the run does not look past LastID.
    EXPECT_TRUE(root.GetItem(4)->Checked());
}

TEST(MenuTree, FindItemIsExactAndCaptionStoresWithoutWindow) {
    TDKMenuItem root;
    TDKMenuItem* w = root.AddMenuItem(3, L"Work");
    EXPECT_EQ(root.FindItem(L"Work"), w);
    EXPECT_EQ(root.FindItem(L"work"), nullptr);
    EXPECT_EQ(root.FindItem(3), w);
    EXPECT_EQ(root.FindItem(4), nullptr);
    w->SetCaption(L"Play");
    EXPECT_EQ(w->Caption(), L"Play");
}

TEST(MenuTree, PlaceholderMakesASubmenu) {
    TDKMenuItem root;
    TDKMenuItem* folder = root.AddMenuItem(0, L"Folder");
    folder->AddMenuItem(0, L"Empty");
    bool exposed = false;
    folder->FOnBeforExpose = [&](TDKMenuItem* s) {
        exposed = true;
        s->Clear();
        s->AddMenuItem(0, L"real");
    };
    EXPECT_EQ(folder->Count(), 1);
    EXPECT_NE(folder->FItems, nullptr);
    // Without a child list ShowAt does nothing, not even the event.
    TDKMenuItem leaf;
    bool leafExposed = false;
    leaf.FOnBeforExpose = [&](TDKMenuItem*) { leafExposed = true; };
    leaf.ShowAt(10, 10);
    EXPECT_FALSE(leafExposed);
    EXPECT_EQ(leaf.Form(), nullptr);
    (void)exposed;
}

TEST(MenuTree, DestroyReleasesShellObjects) {
    // An owned item id list goes back to the shell allocator with the item.
    auto* mi = new TDKMenuItem();
    mi->FPIDL = static_cast<LPITEMIDLIST>(CoTaskMemAlloc(2));
    ZeroMemory(mi->FPIDL, 2);
    EXPECT_TRUE(mi->IsFile());
    delete mi;  // must not leak or crash
    SUCCEED();
}

}  // namespace
