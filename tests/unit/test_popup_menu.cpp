// The popup-menu base on trees built in memory, with a real dk.pdb behind DKData.
#include <stdexcept>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "menu/DKComponents.h"
#include "util/DKUtils.h"
#include "SysUtils.h"
#include "DataTestSupport.h"
#include "MenuTestSupport.h"

using data_test::At;
using data_test::RawDb;
using testing_support::TempDir;

namespace {

struct TTestMenu : TDKPopupMenu {
    using TDKPopupMenu::TDKPopupMenu;
    std::vector<std::wstring> filterTexts;
    void ExecuteFilterText(TDKMenuItem* Item) override { filterTexts.push_back(Item->Caption()); }
};

struct TRun {
    std::wstring File, Params, Dir;
};

using testing_support::Captions;

TDKMenuItem* Command(TDKMenuItem* item, const std::wstring& caption) {
    TDKMenuItem* c = item->FindItem(caption);
    EXPECT_NE(c, nullptr) << "no command " << gui::ToUtf8(caption);
    return c;
}

class PopupMenu : public ::testing::Test {
protected:
    void SetUp() override {
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        DKData->SetClock([this] { return now; });
        TDKPopupMenu::SetShellExecute([this](const std::wstring& f, const std::wstring& p, const std::wstring& d) {
            runs.push_back({f, p, d});
        });
    }
    void TearDown() override {
        menu.reset();
        TDKPopupMenu::SetShellExecute(nullptr);
        DKData.reset();
    }
    TTestMenu& NewMenu(int id = 0, const std::wstring& name = L"Programs") {
        menu = std::make_unique<TTestMenu>(TMenuOwner{name, id, RGB(10, 20, 30), nullptr});
        return *menu;
    }
    // Favourites section, main title with the given provider items, filter and statistics.
    TTestMenu& FullMenu(const std::vector<std::pair<std::wstring, std::wstring>>& items, int id = 0) {
        TTestMenu& m = NewMenu(id);
        m.LoadFavorites();
        m.Items()->AddMenuItem(TDKPopupMenu::MainTitleID, L"Programs", nullptr, true);
        for (auto& [caption, path] : items) {
            TDKMenuItem* mi = m.Items()->AddMenuItem(0, caption, nullptr, false, false, true);
            mi->SetExecPath(path);
        }
        m.AddFilter(L"Type to filter");
        m.AddStatistics();
        return m;
    }
    long long Count(const std::string& sql) {
        RawDb raw(dir / L"dk.pdb");
        return raw.Int(sql);
    }

    TempDir dir{L"popup"};
    SYSTEMTIME now = At(2026, 3, 10, 12, 0, 0);
    std::unique_ptr<TTestMenu> menu;
    std::vector<TRun> runs;
};

}  // namespace

TEST_F(PopupMenu, OwnerValuesAndSectionsAsBuilt) {
    TTestMenu& m = FullMenu({{L"Paint", L"C:\\paint.exe"}}, 3);
    EXPECT_EQ(m.Name(), L"Programs");
    EXPECT_EQ(m.MenuID(), 3);
    EXPECT_EQ(m.Items()->MIID(), -1);
    EXPECT_EQ(m.Color(), RGB(10, 20, 30));
    EXPECT_EQ(Captions(m.Items()),
              (std::vector<std::wstring>{L"Favorites", L"Programs", L"Paint", L"Filter", L"Type to filter",
                                         L"Statistics", L"Most Popular", L"Recent"}));
    EXPECT_EQ(Captions(m.FindItem(TDKPopupMenu::FavoritesTitleID)),
              (std::vector<std::wstring>{L"Create New Group", L"Clear Favorites"}));
    EXPECT_EQ(Captions(m.Items()->FindItem(L"Statistics")),
              (std::vector<std::wstring>{L"Clear Programs Statistics"}));
    EXPECT_EQ(Captions(m.FindItem(TDKPopupMenu::MostPopularID)), (std::vector<std::wstring>{L"Empty"}));
    EXPECT_TRUE(m.FindItem(TDKPopupMenu::FilterEditID)->Edited());
    m.SetColor(RGB(1, 2, 3));
    EXPECT_EQ(m.FindItem(TDKPopupMenu::FavoritesTitleID)->GetItem(1)->Color(), RGB(1, 2, 3));
    EXPECT_FALSE(m.Acitve());
}

TEST_F(PopupMenu, GroupsAreCreatedAfterTheTitleOrFirstInTheGroup) {
    TTestMenu& m = FullMenu({{L"Paint", L"C:\\paint.exe"}});
    TDKMenuItem* title = m.FindItem(TDKPopupMenu::FavoritesTitleID);
    int before = m.FMaxMIID;
    Command(title, L"Create New Group")->FOnClick(title->GetItem(0));
    TDKMenuItem* group = m.Items()->GetItem(1);
    EXPECT_EQ(group->Caption(), L"Type Group Title and Press Enter");
    EXPECT_EQ(group->MIID(), before + 1);
    EXPECT_TRUE(group->Edited() && group->Filtered() && group->Loadable() && group->Dragged());
    // Enter in the edit row makes it a group with its commands.
    group->SetCaption(L"Tools");
    group->FOnClick(group);
    EXPECT_FALSE(group->Edited());
    EXPECT_EQ(group->Icon(), m.FFoldIcon.get());
    EXPECT_EQ(Captions(group), (std::vector<std::wstring>{L"Create New Subgroup", L"Run All in Group",
                                                          L"Rename Group", L"Remove Group"}));
    Command(group, L"Create New Subgroup")->FOnClick(group->GetItem(0));
    EXPECT_EQ(group->GetItem(0)->Caption(), L"Type Group Title and Press Enter");
    EXPECT_EQ(group->GetItem(0)->MIID(), before + 2);

    // A favourites title further down (the Applications menu's "Groups") takes it two below.
    TTestMenu& apps = NewMenu(2, L"Applications");
    apps.Items()->AddMenuItem(TDKPopupMenu::MainTitleID, L"Applications", nullptr, true);
    apps.Items()->AddMenuItem(0, L"app one");
    TDKMenuItem* groups = apps.Items()->AddMenuItem(TDKPopupMenu::FavoritesTitleID, L"Groups", nullptr, true);
    TDKMenuItem* create = groups->AddMenuItem(0, L"Create New Group");
    apps.Items()->AddMenuItem(5, L"Work");
    apps.Items()->AddMenuItem(6, L"Media");
    apps.CreateGroup(create);
    EXPECT_EQ(Captions(apps.Items()), (std::vector<std::wstring>{L"Applications", L"app one", L"Groups", L"Work",
                                                                 L"Type Group Title and Press Enter", L"Media"}));
}

TEST_F(PopupMenu, RenameParksTheClickAndGivesItBack) {
    TTestMenu& m = FullMenu({});
    TDKMenuItem* title = m.FindItem(TDKPopupMenu::FavoritesTitleID);
    m.CreateGroup(title->GetItem(0));
    TDKMenuItem* group = m.Items()->GetItem(1);
    group->FOnClick(group);
    int clicks = 0;
    group->FOnClick = [&](TDKMenuItem*) { ++clicks; };
    Command(group, L"Rename Group")->FOnClick(group->FindItem(L"Rename Group"));
    EXPECT_TRUE(group->Edited());
    group->SetCaption(L"Renamed");
    group->FOnClick(group);  // Enter ends the renaming
    EXPECT_FALSE(group->Edited());
    group->FOnClick(group);
    EXPECT_EQ(clicks, 1);
    Command(group, L"Remove Group")->FOnClick(group->FindItem(L"Remove Group"));
    EXPECT_EQ(m.Items()->FindItem(L"Renamed"), nullptr);
}

TEST_F(PopupMenu, ARenameNotEndedWithEnterIsUndoneWhenTheMenuHides) {
    {
        TTestMenu& m = FullMenu({}, 1);
        TDKMenuItem* title = m.FindItem(TDKPopupMenu::FavoritesTitleID);
        m.CreateGroup(title->GetItem(0));
        TDKMenuItem* group = m.Items()->GetItem(1);
        group->SetCaption(L"Tools");
        group->FOnClick(group);
        int clicks = 0;
        group->FOnClick = [&](TDKMenuItem*) { ++clicks; };
        // A second "Rename Group" while the first is open goes back to it.
        for (int i = 0; i < 2; ++i) Command(group, L"Rename Group")->FOnClick(group->FindItem(L"Rename Group"));
        group->SetCaption(L"Tool");  // typed
        m.Hide();
        EXPECT_EQ(group->Caption(), L"Tools");
        EXPECT_FALSE(group->Edited());
        group->FOnClick(group);
        EXPECT_EQ(clicks, 1);
        // Renamed twice over and committed: its own click still comes back.
        for (int i = 0; i < 2; ++i) Command(group, L"Rename Group")->FOnClick(group->FindItem(L"Rename Group"));
        group->SetCaption(L"Kit");
        group->FOnClick(group);  // Enter
        m.Hide();
        EXPECT_EQ(group->Caption(), L"Kit");
        group->FOnClick(group);
        EXPECT_EQ(clicks, 2);
        // Open while the menu goes: saved as it was.
        Command(group, L"Rename Group")->FOnClick(group->FindItem(L"Rename Group"));
        group->SetCaption(L"Gone");
        menu.reset();
    }
    EXPECT_EQ(Count("select count(*) from MenuItems where MID = 1 and Caption = 'Kit'"), 1);
    EXPECT_EQ(Count("select count(*) from MenuItems where MID = 1"), 1);
}

TEST_F(PopupMenu, CreateNewGroupGoesBackToTheRowStillOpen) {
    TTestMenu& m = FullMenu({});
    TDKMenuItem* title = m.FindItem(TDKPopupMenu::FavoritesTitleID);
    TDKMenuItem* create = title->GetItem(0);
    int before = m.FMaxMIID;
    for (int i = 0; i < 3; ++i) create->FOnClick(create);
    EXPECT_EQ(Captions(m.Items()), (std::vector<std::wstring>{L"Favorites", L"Type Group Title and Press Enter",
                                                              L"Programs", L"Filter", L"Type to filter",
                                                              L"Statistics", L"Most Popular", L"Recent"}));
    EXPECT_EQ(m.FMaxMIID, before + 1);
    TDKMenuItem* row = m.Items()->GetItem(1);
    EXPECT_TRUE(m.ShowsPrompt(row));
    // The row stays open while the menu is hidden, and the command still leads to it.
    m.Hide();
    EXPECT_TRUE(row->Edited());
    create->FOnClick(create);
    EXPECT_EQ(m.Items()->GetItem(2)->MIID(), TDKPopupMenu::MainTitleID);
    row->SetCaption(L"Games");
    EXPECT_FALSE(m.ShowsPrompt(row));
    row->FOnClick(row);  // Enter
    // Once it is a group, the command makes a new row; a subgroup's row is another place.
    create->FOnClick(create);
    TDKMenuItem* sub = row->FindItem(L"Create New Subgroup");
    sub->FOnClick(sub);
    sub->FOnClick(sub);
    EXPECT_EQ(Captions(m.Items()).at(1), L"Type Group Title and Press Enter");
    EXPECT_EQ(m.Items()->GetItem(2), row);
    EXPECT_EQ(Captions(row).at(0), L"Type Group Title and Press Enter");
    EXPECT_EQ(Captions(row).at(1), L"Create New Subgroup");
    EXPECT_EQ(m.FMaxMIID, before + 3);
}

// The "Add to Favorites" command that AddFavoriteCommands gives a provider's leaf.
TDKMenuItem* AddCommand(TTestMenu& m, const std::wstring& caption) {
    TDKMenuItem* item = m.Items()->FindItem(caption);
    if (item->Count() == 0) m.AddFavoriteCommands(item);
    return item->FindItem(L"Add to Favorites");
}

TEST_F(PopupMenu, FavouritesGoBeforeTheMainTitleWithTheirCommands) {
    TTestMenu& m = FullMenu({{L"Paint", L"C:\\Apps\\Paint.exe"}, {L"Calc", L"C:\\calc.exe"}});
    TDKMenuItem* cmd = AddCommand(m, L"Paint");
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(cmd->Icon(), m.FFavIcon.get());
    cmd->FOnClick(cmd);
    TDKMenuItem* fav = m.Items()->GetItem(1);
    EXPECT_EQ(fav->Caption(), L"Paint");
    EXPECT_TRUE(fav->IsFavorite() && fav->Loadable() && fav->Dragged() && fav->Filtered());
    EXPECT_EQ(fav->ExecPath(), L"C:\\Apps\\Paint.exe");
    EXPECT_EQ(m.Items()->GetItem(2)->MIID(), TDKPopupMenu::MainTitleID);
    // No second "Add to Favorites"; the path in lower case, then the removal.
    EXPECT_EQ(Captions(fav), (std::vector<std::wstring>{L"Path: c:\\apps\\paint.exe", L"Remove from Favorites"}));
    EXPECT_TRUE(fav->GetItem(0)->HasSplitter());
    fav->FOnClick(fav);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].File, L"C:\\Apps\\Paint.exe");
}

TEST_F(PopupMenu, ClearFavoritesRemovesExactlyTheFavourites) {
    TTestMenu& m = FullMenu({{L"Paint", L"C:\\paint.exe"}, {L"Calc", L"C:\\calc.exe"}});
    TDKMenuItem* title = m.FindItem(TDKPopupMenu::FavoritesTitleID);
    AddCommand(m, L"Paint")->FOnClick(m.Items()->FindItem(L"Paint")->GetItem(0));
    m.CreateGroup(title->GetItem(0));
    m.Items()->GetItem(1)->FOnClick(m.Items()->GetItem(1));
    ASSERT_EQ(m.Items()->Count(), 11);
    Command(title, L"Clear Favorites")->FOnClick(title->GetItem(1));
    EXPECT_EQ(Captions(m.Items()),
              (std::vector<std::wstring>{L"Favorites", L"Programs", L"Paint", L"Calc", L"Filter", L"Type to filter",
                                         L"Statistics", L"Most Popular", L"Recent"}));
    EXPECT_EQ(Captions(title), (std::vector<std::wstring>{L"Create New Group", L"Clear Favorites"}));

    // Without a main title nothing past the favourites goes.
    TTestMenu& bare = NewMenu(4);
    bare.LoadFavorites();
    bare.AddFilter(L"x");
    bare.ClearFavorites(nullptr);
    EXPECT_EQ(Captions(bare.Items()), (std::vector<std::wstring>{L"Favorites", L"Filter", L"x"}));
}

TEST_F(PopupMenu, FindItemSearchesDepthFirstAndNeverReturnsTheRoot) {
    TTestMenu& m = NewMenu();
    TDKMenuItem* a = m.Items()->AddMenuItem(1, L"a");
    TDKMenuItem* deep = a->AddMenuItem(7, L"a/seven");
    m.Items()->AddMenuItem(7, L"seven");
    a->AddMenuItem(8, L"a/eight");
    EXPECT_EQ(m.FindItem(-1), nullptr);
    EXPECT_EQ(m.FindItem(7), deep);
    EXPECT_EQ(m.FindItem(8)->Caption(), L"a/eight");
    EXPECT_EQ(m.FindItem(99), nullptr);
}

TEST_F(PopupMenu, SortByPopularityPutsThisWeeksLaunchesFirst) {
    TTestMenu& m = FullMenu({{L"a", L"C:\\a.exe"},
                             {L"b", L"C:\\b.exe"},
                             {L"c", L"C:\\c.exe"},
                             {L"d", L"C:\\d.exe"},
                             {L"e", L"C:\\e.exe /x"}});
    auto launch = [&](const SYSTEMTIME& t, const std::wstring& path, int times) {
        now = t;
        for (int i = 0; i < times; ++i) DKData->SaveExecTime(0, L"x", path, -1);
    };
    launch(At(2026, 3, 9, 8), L"C:\\C.EXE", 3);  // other letter case
    launch(At(2026, 3, 8, 8), L"c:\\e.exe /x", 2);
    launch(At(2026, 3, 10, 8), L"C:\\a.exe", 1);
    launch(At(2026, 2, 20, 8), L"C:\\b.exe", 5);  // weeks ago: does not count
    // A launch without a path is not recorded, so titles (which have none) never rank.
    launch(At(2026, 3, 10, 9), L"", 4);
    launch(At(2026, 3, 10, 9), L"  ", 4);
    EXPECT_EQ(Count("select count(*) from ItemsPath where trim(Path) = ''"), 0);
    now = At(2026, 3, 10, 12);
    m.SortByPopularity();
    EXPECT_EQ(Captions(m.Items()), (std::vector<std::wstring>{L"Favorites", L"Programs", L"c", L"e", L"a", L"b",
                                                              L"d", L"Filter", L"Type to filter", L"Statistics",
                                                              L"Most Popular", L"Recent"}));
}

TEST_F(PopupMenu, RunItemSplitsParametersAndRecordsThePath) {
    TTestMenu& m = FullMenu({}, 5);
    TDKMenuItem* tool = m.Items()->AddMenuItem(0, L"Tool");
    tool->SetExecPath(L"C:\\Tools\\app.exe /s /q");
    m.RunItem(tool);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].File, L"C:\\Tools\\app.exe");
    EXPECT_EQ(runs[0].Params, L"/s /q");
    EXPECT_EQ(runs[0].Dir, L"C:\\Tools");
    EXPECT_EQ(Count("select count(*) from ExecItemTime"), 1);
    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Text("select Path from ItemsPath where MID = 5"), "c:\\tools\\app.exe");

    TDKMenuItem* plain = m.Items()->AddMenuItem(0, L"Plain");
    plain->SetExecPath(L"C:\\note.exe");
    m.RunItem(plain);
    EXPECT_EQ(runs.back().Params, L"");
    EXPECT_EQ(runs.back().Dir, L"C:\\");

    TDKMenuItem* lng = m.Items()->AddMenuItem(0, L"Long");
    lng->SetExecPath(L"D:\\x.exe /" + std::wstring(150, L'p'));
    m.RunItem(lng);
    EXPECT_EQ(runs.back().Params, L"/" + std::wstring(99, L'p'));

    TDKMenuItem* url = m.Items()->AddMenuItem(0, L"Site");
    url->SetExecPath(L"http://www.example.com/index.html");
    m.RunItem(url);
    EXPECT_EQ(runs.back().Dir, L"");  // a URL has no working folder

    TDKMenuItem* blank = m.Items()->AddMenuItem(0, L"Blank");
    blank->SetExecPath(L"   ");
    size_t before = runs.size();
    m.RunItem(blank);
    EXPECT_EQ(runs.size(), before);
    EXPECT_EQ(Count("select count(*) from ExecItemTime"), 4);
}

TEST_F(PopupMenu, RunAllInGroupRunsTheFavouritesInOrder) {
    TTestMenu& m = FullMenu({});
    TDKMenuItem* title = m.FindItem(TDKPopupMenu::FavoritesTitleID);
    m.CreateGroup(title->GetItem(0));
    TDKMenuItem* group = m.Items()->GetItem(1);
    group->SetCaption(L"Tools");
    TDKMenuItem* one = group->AddMenuItem(21, L"one");
    one->SetExecPath(L"C:\\one.exe");
    group->AddMenuItem(22, L"sub");
    TDKMenuItem* two = group->AddMenuItem(23, L"two");
    two->SetExecPath(L"C:\\two.exe /a");
    group->FOnClick(group);
    Command(group, L"Run All in Group")->FOnClick(group->FindItem(L"Run All in Group"));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].File, L"C:\\one.exe");
    EXPECT_EQ(runs[1].File, L"C:\\two.exe");
    EXPECT_EQ(runs[1].Params, L"/a");
}

TEST_F(PopupMenu, DestroySavesFavouritesAndGroupsForTheNextMenu) {
    {
        TTestMenu& m = FullMenu({{L"Paint", L"C:\\Apps\\paint.exe"}}, 1);
        TDKMenuItem* title = m.FindItem(TDKPopupMenu::FavoritesTitleID);
        m.CreateGroup(title->GetItem(0));
        TDKMenuItem* group = m.Items()->GetItem(1);
        group->SetCaption(L"Tools");
        group->FOnClick(group);
        m.CreateGroup(group->FindItem(L"Create New Subgroup"));
        TDKMenuItem* sub = group->GetItem(0);
        sub->SetCaption(L"Sub");
        sub->FOnClick(sub);
        // A group still waiting for its title is not kept.
        m.CreateGroup(title->GetItem(0));
        AddCommand(m, L"Paint")->FOnClick(m.Items()->FindItem(L"Paint")->GetItem(0));
        menu.reset();
    }
    EXPECT_EQ(Count("select count(*) from MenuItems where MID = 1"), 3);
    TTestMenu& again = NewMenu(1);
    again.LoadFavorites();
    again.Items()->AddMenuItem(TDKPopupMenu::MainTitleID, L"Files", nullptr, true);
    EXPECT_EQ(Captions(again.Items()), (std::vector<std::wstring>{L"Favorites", L"Tools", L"Paint", L"Files"}));
    TDKMenuItem* tools = again.Items()->GetItem(1);
    EXPECT_EQ(Captions(tools), (std::vector<std::wstring>{L"Sub", L"Create New Subgroup", L"Run All in Group",
                                                          L"Rename Group", L"Remove Group"}));
    TDKMenuItem* paint = again.Items()->GetItem(2);
    EXPECT_TRUE(paint->IsFavorite());
    EXPECT_EQ(paint->ExecPath(), L"C:\\Apps\\paint.exe");
    EXPECT_EQ(Captions(paint), (std::vector<std::wstring>{L"Empty"}));
    paint->FOnBeforExpose(paint);
    EXPECT_EQ(Captions(paint), (std::vector<std::wstring>{L"Path: c:\\apps\\paint.exe", L"Remove from Favorites"}));
    EXPECT_EQ(again.FMaxMIID, std::max({tools->MIID(), tools->GetItem(0)->MIID(), paint->MIID()}));
}

TEST_F(PopupMenu, MenusThatNeverLoadedTheirRowsLeaveThemAlone) {
    {
        TTestMenu& m = FullMenu({{L"Paint", L"C:\\Apps\\paint.exe"}}, 4);
        AddCommand(m, L"Paint")->FOnClick(m.Items()->FindItem(L"Paint")->GetItem(0));
        menu.reset();
    }
    ASSERT_EQ(Count("select count(*) from MenuItems where MID = 4"), 1);
    // A menu whose building stopped before its stored rows were in, and one without a
    // favourites section, must not write back a tree that lacks them.
    struct TFailing : TTestMenu {
        explicit TFailing(const TMenuOwner& o) : TTestMenu(o) { throw std::runtime_error("broken provider"); }
    };
    EXPECT_THROW(TFailing(TMenuOwner{L"Network", 4, 0, nullptr}), std::runtime_error);
    NewMenu(4).Items()->AddMenuItem(TDKPopupMenu::MainTitleID, L"Network", nullptr, true);
    menu.reset();
    EXPECT_EQ(Count("select count(*) from MenuItems where MID = 4"), 1);
}

TEST_F(PopupMenu, IconsOfStoredFilesGoWithTheMenu) {
    {
        RawDb raw(dir / L"dk.pdb");
        ASSERT_TRUE(raw.Exec("with recursive c(n) as (select 1 union all select n + 1 from c where n < 50) "
                             "insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath) "
                             "select 0, n, -1, n, 'file ' || n, '" + gui::ToUtf8(gui::ExeFileName()) + "' from c"));
    }
    auto build = [&] {
        FullMenu({});
        EXPECT_NE(menu->Items()->GetItem(1)->Icon(), nullptr);
        menu.reset();
    };
    build();
    const int gdi = testing_support::GdiObjectCount(), user = testing_support::UserObjectCount();
    for (int i = 0; i < 4; ++i) build();
    EXPECT_LE(testing_support::GdiObjectCount(), gdi + 4);
    EXPECT_LE(testing_support::UserObjectCount(), user + 4);
}

TEST_F(PopupMenu, DeepStoredChainBuildsToTheBoundAndKeepsItsRows) {
    {
        RawDb raw(dir / L"dk.pdb");
        ASSERT_TRUE(raw.Exec("with recursive c(n) as (select 1 union all select n + 1 from c where n < 20000) "
                             "insert into MenuItems (MID, MIID, ParentID, [Position], Caption) "
                             "select 0, n, case when n = 1 then -1 else n - 1 end, 0, 'level ' || n from c"));
    }
    data_test::LogCapture log;
    // Built, torn down and freed on a thread of the stack a menu builder gets on Windows.
    HANDLE t = CreateThread(
        nullptr, 1024 * 1024,
        [](void* p) -> DWORD {
            auto* self = static_cast<decltype(this)>(p);
            TTestMenu& m = self->FullMenu({});
            int depth = 0;
            for (TDKMenuItem* i = m.Items()->GetItem(1); i && i->Caption().rfind(L"level ", 0) == 0;
                 i = i->Count() ? i->GetItem(0) : nullptr)
                ++depth;
            self->menu.reset();
            return static_cast<DWORD>(depth);
        },
        this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 120000), WAIT_OBJECT_0);
    DWORD depth = 0;
    GetExitCodeThread(t, &depth);
    CloseHandle(t);
    EXPECT_EQ(depth, static_cast<DWORD>(TDKData::MaxStoredDepth));
    EXPECT_NE(log.Text().find("(d5) "), std::string::npos);
    // The rows it could not hold stay: the menu does not write its shorter tree over them.
    EXPECT_EQ(Count("select count(*) from MenuItems where MID = 0"), 20000);
}

// The stored items of a tree, each as its caption after those of its stored owners.
void StoredPaths(const TDKMenuItem* item, const std::wstring& prefix, std::vector<std::wstring>& out) {
    for (int i = 0; i < item->Count(); ++i) {
        const TDKMenuItem* c = item->GetItem(i);
        if (!c->Loadable()) continue;
        out.push_back(prefix + c->Caption());
        StoredPaths(c, prefix + c->Caption() + L"/", out);
    }
}

// Copies of an item id, as siblings or as cousins, each brought the same children along, and each
// save wrote every copy back: the rows multiplied at every start and quit.
TEST_F(PopupMenu, RepeatedIdsLoadOnceAndStartsAndQuitsKeepTheRows) {
    RawDb raw(dir / L"dk.pdb");
    ASSERT_TRUE(raw.Exec("insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath) values"
                         " (1, 1, -1, 0, 'Work', ''), (1, 1, -1, 1, 'Work copy', ''),"
                         " (1, 2, 1, 0, 'Report', 'C:\\r.doc'), (1, 10, -1, 2, 'A', ''), (1, 11, -1, 3, 'B', ''),"
                         " (1, 20, 10, 0, 'Tools', ''), (1, 20, 11, 0, 'Tools again', ''),"
                         " (1, 21, 20, 0, 'Hammer', 'C:\\h.exe')"));
    const std::string rows =
        "select group_concat(r, ';') from (select MIID || '<' || ParentID || ' ' || Caption as r from MenuItems"
        " where MID = 1 order by r)";
    const std::string before = raw.Text(rows);
    for (int start = 0; start < 3; ++start) {
        data_test::LogCapture log;
        TTestMenu& m = FullMenu({}, 1);
        std::vector<std::wstring> shown;
        StoredPaths(m.Items(), L"", shown);
        EXPECT_EQ(shown, (std::vector<std::wstring>{L"Work", L"Work/Report", L"A", L"A/Tools", L"A/Tools/Hammer", L"B"}));
        EXPECT_EQ(m.FMaxMIID, 21);
        menu.reset();
        EXPECT_EQ(raw.Int("select count(*) from MenuItems where MID = 1"), 8) << "start " << start;
        const std::string text = log.Text();
        const std::string line = "(d6) Menu 1: rows repeating an item id already loaded are not loaded: 2 (ids 1, 20)";
        EXPECT_NE(text.find(line), std::string::npos) << text;
        EXPECT_EQ(text.find(line), text.rfind(line));
    }
    EXPECT_EQ(raw.Text(rows), before);
}

// Rows no loaded row leads to (orphans and their children, ids that are no numbers, loops) and
// the columns the menu does not show (a row's icon and check mark) stay through a save; only
// what the user changed is written.
TEST_F(PopupMenu, RowsTheMenuCannotShowStayAsTheyAreThroughASave) {
    RawDb raw(dir / L"dk.pdb");
    ASSERT_TRUE(raw.Exec(
        "insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath, Icon, Checked) values"
        " (0, 1, -1, 0, 'Kept', '', x'00FF10', 1), (0, 2, 1, 0, 'Doc', 'C:\\doc.txt', null, 0),"
        " (0, 30, 999, 0, 'Orphan', '', null, 0), (0, 31, 30, 0, 'Orphan child', 'C:\\o.exe', null, 0),"
        " (0, 'abc', -1, 5, 'Text id', '', null, 0), (0, 40, 'xyz', 0, 'Text parent', '', null, 0),"
        " (0, 50, 51, 0, 'Loop a', '', null, 0), (0, 51, 50, 0, 'Loop b', '', null, 0),"
        " (0, 60, 60, 0, 'Self', '', x'0102', 0)"));
    const std::string others =
        "select group_concat(r, ';') from (select rowid || ' ' || quote(MIID) || ' ' || quote(ParentID) || ' ' ||"
        " [Position] || ' ' || Caption || ' ' || ExecPath || ' ' || quote(Icon) || ' ' || Checked as r"
        " from MenuItems where Caption not in ('Kept', 'Doc', 'New') order by rowid)";
    const std::string before = raw.Text(others);

    data_test::LogCapture log;
    TTestMenu& m = FullMenu({});
    TDKMenuItem* kept = m.Items()->GetItem(1);
    ASSERT_EQ(kept->Caption(), L"Kept");
    EXPECT_TRUE(kept->Checked());
    EXPECT_EQ(m.Items()->GetItem(2)->MIID(), TDKPopupMenu::MainTitleID);
    // New items are numbered above every id the rows use, shown or not.
    EXPECT_EQ(m.FMaxMIID, 999);
    ASSERT_EQ(kept->GetItem(0)->Caption(), L"Doc");
    kept->Delete(kept->GetItem(0));
    TDKMenuItem* title = m.FindItem(TDKPopupMenu::FavoritesTitleID);
    m.CreateGroup(title->GetItem(0));
    TDKMenuItem* group = m.Items()->GetItem(1);
    group->SetCaption(L"New");
    group->FOnClick(group);
    menu.reset();

    EXPECT_EQ(raw.Text(others), before);
    EXPECT_EQ(raw.Int("select count(*) from MenuItems where Caption = 'Doc'"), 0);
    EXPECT_EQ(raw.Int("select MIID from MenuItems where Caption = 'New' and ParentID = -1"), 1000);
    EXPECT_EQ(raw.Text("select hex(Icon) || ' ' || Checked || ' ' || [Position] from MenuItems where Caption = 'Kept'"),
              "00FF10 1 2");
    const std::string text = log.Text();
    const std::string line = "(d7) Menu 0: rows with no place in the menu stay in the file as they are: 7";
    EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_EQ(text.find(line), text.rfind(line));
}

// Many stored paths in one folder are answered from one listing of it: folders among them are
// still shown with their entries, files wait for the user, and a path in a folder that is not
// there is a file.
TEST_F(PopupMenu, StoredFoldersAmongManyFilesOfOneFolderListTheirEntries) {
    TempDir files(L"stored");
    CreateDirectoryW((files / L"Sub").c_str(), nullptr);
    testing_support::WriteFileBytes(files / L"Sub\\inner.txt", "x");
    std::string values;
    for (int i = 0; i < 40; ++i) {
        testing_support::WriteFileBytes(files / (L"file" + std::to_wstring(i) + L".txt"), "x");
        values += (i ? ", " : "") + std::string("(0, ") + std::to_string(i + 1) + ", -1, " + std::to_string(i) +
                  ", 'f" + std::to_string(i) + "', '" + gui::ToUtf8(files / (L"FILE" + std::to_wstring(i) + L".txt")) +
                  "')";
    }
    values += ", (0, 100, -1, 50, 'Sub', '" + gui::ToUtf8(files / L"sub") + "')";
    values += ", (0, 101, -1, 51, 'Gone', '" + gui::ToUtf8(files / L"gone\\sub") + "')";
    {
        RawDb raw(dir / L"dk.pdb");
        ASSERT_TRUE(raw.Exec("insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath) values " + values));
    }
    TTestMenu& m = FullMenu({});
    TDKMenuItem* sub = m.Items()->FindItem(L"Sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(sub->Folder());
    ASSERT_GT(sub->Count(), 0);
    EXPECT_EQ(sub->GetItem(0)->Caption().rfind(L"inner", 0), 0u);
    for (const wchar_t* caption : {L"f0", L"f39", L"Gone"}) {
        TDKMenuItem* file = m.Items()->FindItem(caption);
        ASSERT_NE(file, nullptr);
        EXPECT_FALSE(file->Folder());
        EXPECT_EQ(Captions(file), (std::vector<std::wstring>{L"Empty"})) << gui::ToUtf8(caption);
    }
}

TEST_F(PopupMenu, MostPopularOnItemsMatchesTheDataLayer) {
    TTestMenu& m = FullMenu({}, 3);
    for (int i = 0; i < 9; ++i) {
        now = At(2026, 3, 10, 8, static_cast<WORD>(i));
        for (int k = 0; k <= i; ++k)
            DKData->SaveExecTime(3, L"item " + std::to_wstring(i), L"C:\\p" + std::to_wstring(i) + L".exe", -1);
    }
    now = At(2026, 3, 10, 12);
    TStatList plain = DKData->ShowPopularList(3);
    TDKMenuItem* popular = m.FindItem(TDKPopupMenu::MostPopularID);
    popular->FOnBeforExpose(popular);
    ASSERT_EQ(popular->Count(), 8);
    for (int i = 0; i < 7; ++i) {
        TDKMenuItem* e = popular->GetItem(i);
        EXPECT_EQ(e->Caption(), plain.Entries[i].Caption);
        EXPECT_EQ(e->MIID(), plain.Entries[i].PID);
        EXPECT_EQ(e->ExecPath(), plain.Entries[i].Path);
        EXPECT_FALSE(e->Loadable());
        EXPECT_EQ(Captions(e), (std::vector<std::wstring>{L"Empty"}));
    }
    TDKMenuItem* more = popular->GetItem(7);
    EXPECT_EQ(more->Caption(), L"More...");
    ASSERT_EQ(more->Count(), 2);
    EXPECT_EQ(more->GetItem(1)->Caption(), plain.More[1].Caption);
    // An entry's figures, then the path line.
    TDKMenuItem* first = popular->GetItem(0);
    first->FOnBeforExpose(first);
    EXPECT_EQ(Captions(first),
              (std::vector<std::wstring>{L"Last Week: 9", L"Total: 9", L"Today: 9", L"c:\\p8.exe"}));
    EXPECT_TRUE(first->GetItem(3)->HasSplitter());
    // Opening again rebuilds; the clear command empties both lists of this menu.
    popular->FOnBeforExpose(popular);
    EXPECT_EQ(popular->Count(), 8);
    TDKMenuItem* stats = m.Items()->FindItem(L"Statistics");
    stats->GetItem(0)->FOnClick(stats->GetItem(0));
    popular->FOnBeforExpose(popular);
    EXPECT_EQ(popular->Count(), 0);
    TDKMenuItem* recent = m.FindItem(TDKPopupMenu::RecentID);
    recent->FOnBeforExpose(recent);
    EXPECT_EQ(recent->Count(), 0);
}

// ---- starts that fail ----

// Rows whose start fails, through the real shell: the user is told what could not be started
// and why (the system's message), and no launch is recorded.
class FailedStarts : public PopupMenu {
protected:
    void SetUp() override {
        PopupMenu::SetUp();
        TDKPopupMenu::SetShellExecute(nullptr);
        testing_support::CloseNotifications();
    }
    void TearDown() override {
        testing_support::CloseNotifications();
        PopupMenu::TearDown();
    }
    static std::wstring NotFound() { return gui::SysErrorMessage(ERROR_FILE_NOT_FOUND); }
    static std::vector<std::wstring> Notes() { return testing_support::NotificationTexts(); }
};

TEST_F(FailedStarts, AStoredFavouriteWhoseProgramIsMissing) {
    const std::wstring name = L"orv_calc_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    const std::wstring calc = dir / name;
    {
        RawDb raw(dir / L"dk.pdb");
        ASSERT_TRUE(raw.Exec("insert into MenuItems (MID, MIID, ParentID, [Position], Caption, ExecPath) values "
                             "(0, 11, -1, 3, 'Calculator', '" + gui::ToUtf8(calc) + "')"));
    }
    TTestMenu& m = FullMenu({});
    TDKMenuItem* fav = m.Items()->FindItem(L"Calculator");
    ASSERT_NE(fav, nullptr);
    ASSERT_TRUE(fav->FOnClick);
    fav->FOnClick(fav);
    EXPECT_EQ(Notes(), (std::vector<std::wstring>{L"Could not start\r\nCalculator\r\n" + calc + L"\r\n" + NotFound()}));
    EXPECT_EQ(Count("select count(*) from ExecItemTime"), 0);

    // Once the program is there, the same row starts it and the launch is recorded.
    testing_support::CloseNotifications();
    ASSERT_TRUE(CopyFileW((gui::ExeDir() + L"idle_child.exe").c_str(), calc.c_str(), FALSE));
    fav->FOnClick(fav);
    EXPECT_TRUE(Notes().empty());
    EXPECT_EQ(Count("select count(*) from ExecItemTime"), 1);
    EXPECT_TRUE(testing_support::WaitUntil([&] { return KillProcessByName(name); }, 5000));
}

// A file no program opens: the system's chooser where it has one, else the reason, with the
// file named where the system's text names it "%1".
TEST_F(FailedStarts, AFileNoProgramOpens) {
    TTestMenu& m = FullMenu({});
    const std::wstring doc = dir / L"notes.orvnoassoc";
    testing_support::WriteFileBytes(doc, "text");
    TDKMenuItem* row = m.Items()->AddMenuItem(0, L"Notes");
    row->SetExecPath(doc);
    row->FOnClick = [&m](TDKMenuItem* s) { m.RunItem(s); };
    row->FOnClick(row);
    auto notes = Notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].rfind(L"Could not start\r\nNotes\r\n" + doc + L"\r\n", 0), 0u) << gui::ToUtf8(notes[0]);
    EXPECT_EQ(notes[0].find(L"%1"), std::wstring::npos) << gui::ToUtf8(notes[0]);
    EXPECT_EQ(Count("select count(*) from ExecItemTime"), 0);
}

TEST_F(FailedStarts, ADeletedFileAtTheTopOfRecent) {
    TTestMenu& m = FullMenu({}, 1);
    const std::wstring kept = dir / L"kept.txt", gone = dir / L"gone.txt";
    testing_support::WriteFileBytes(kept, "kept");
    now = At(2026, 3, 10, 8);
    DKData->SaveExecTime(1, L"kept.txt", kept, -1);
    now = At(2026, 3, 10, 9);
    DKData->SaveExecTime(1, L"gone.txt", gone, -1);
    TDKMenuItem* recent = m.FindItem(TDKPopupMenu::RecentID);
    recent->FOnBeforExpose(recent);
    ASSERT_EQ(Captions(recent), (std::vector<std::wstring>{L"gone.txt", L"kept.txt"}));
    TDKMenuItem* top = recent->GetItem(0);
    ASSERT_TRUE(top->FOnClick);
    top->FOnClick(top);
    EXPECT_EQ(Notes(), (std::vector<std::wstring>{L"Could not start\r\ngone.txt\r\n" + gui::AnsiLowerCase(gone) +
                                                  L"\r\n" + NotFound()}));
    EXPECT_EQ(Count("select count(*) from ExecItemTime"), 2);
}

TEST_F(FailedStarts, AGroupRunsWhatItCanAndTellsOfEachFailure) {
    TTestMenu& m = FullMenu({});
    TDKMenuItem* group = m.Items()->AddMenuItem(0, L"Group");
    const std::wstring paths[] = {dir / L"one.exe", dir / L"two.exe /s"};
    for (int i = 0; i < 2; ++i) group->AddMenuItem(0, L"Tool " + std::to_wstring(i))->SetExecPath(paths[i]);
    TDKMenuItem* run = group->AddMenuItem(0, L"Run All in Group");
    m.RunAllInGroup(run);
    EXPECT_EQ(Notes(), (std::vector<std::wstring>{L"Could not start\r\nTool 0\r\n" + paths[0] + L"\r\n" + NotFound(),
                                                  L"Could not start\r\nTool 1\r\n" + (dir / L"two.exe") + L"\r\n" +
                                                      NotFound()}));
    EXPECT_EQ(Count("select count(*) from ExecItemTime"), 0);
}

// A row taken from the file while the menu runs is written again at its save, beside a new
// group: the file may number a new row as the row it lost, and neither may overwrite the other.
TEST_F(PopupMenu, ARowTakenFromTheFileMeanwhileIsWrittenAgainBesideNewOnes) {
    RawDb raw(dir / L"dk.pdb");
    ASSERT_TRUE(raw.Exec("insert into MenuItems (MID, MIID, ParentID, [Position], Caption) values"
                         " (5, 7, -1, 0, 'Tools')"));
    TTestMenu& m = FullMenu({}, 5);
    ASSERT_TRUE(raw.Exec("delete from MenuItems where Caption = 'Tools'"));
    m.CreateGroup(m.FindItem(TDKPopupMenu::FavoritesTitleID)->GetItem(0));
    TDKMenuItem* group = m.Items()->GetItem(1);
    group->SetCaption(L"New");
    group->FOnClick(group);
    menu.reset();
    EXPECT_EQ(raw.Text("select group_concat(MIID || ' ' || Caption, ', ') from (select * from MenuItems order by MIID)"),
              "7 Tools, 8 New");
}
