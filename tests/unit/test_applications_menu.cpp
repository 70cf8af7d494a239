// The Applications menu against real windows of a helper program: the tree it builds, the shell
// events of hk.dll keeping it current, the window commands, and groups hiding and showing windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ApplicationsMenu.h"
#include "settings/Configs.h"
#include "bar/DKButton.h"
#include "util/DKUtils.h"
#include "bar/Main.h"
#include "DataTestSupport.h"
#include "MenuTestSupport.h"
#include "Window.h"

using data_test::RawDb;
using testing_support::BinDir;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

constexpr const wchar_t* kWindowClass = L"OrvaneTitledWindow";

std::wstring UniqueTitle(const wchar_t* tag) {
    static int n = 0;
    return L"AppsTest " + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++n) + L" " + tag;
}

// A helper process with one window per title; ended with the object.
class TitledWindows {
public:
    explicit TitledWindows(const std::vector<std::wstring>& titles, const std::wstring& exe = L"") : titles_(titles) {
        std::wstring cmd = L"\"" + (exe.empty() ? BinDir() + L"titled_windows.exe" : exe) + L"\"";
        for (const auto& t : titles) cmd += L" \"" + t + L"\"";
        process_ = testing_support::StartProcess(cmd);
        if (!process_) return;
        WaitUntil(
            [&] {
                for (const auto& t : titles_)
                    if (!FindWindowW(kWindowClass, t.c_str())) return false;
                return true;
            },
            10000);
    }
    ~TitledWindows() {
        if (process_) {
            TerminateProcess(process_, 0);
            WaitForSingleObject(process_, 5000);
            CloseHandle(process_);
        }
    }
    HWND Window(size_t i) const { return FindWindowW(kWindowClass, titles_[i].c_str()); }
    bool Ready() const {
        for (size_t i = 0; i < titles_.size(); ++i)
            if (!Window(i)) return false;
        return true;
    }
    const std::wstring& Title(size_t i) const { return titles_[i]; }

private:
    std::vector<std::wstring> titles_;
    HANDLE process_ = nullptr;
};

int Id(HWND w) { return static_cast<int>(reinterpret_cast<intptr_t>(w)); }

using testing_support::Captions;

// Root captions with the window items left out.
std::vector<std::wstring> FixedCaptions(const TDKMenuItem* root) {
    std::vector<std::wstring> out;
    for (int i = 0; i < root->Count(); ++i) {
        const TDKMenuItem* c = root->GetItem(i);
        if (c->Count() == 0 || c->GetItem(0)->Caption() != L"Always on Top") out.push_back(c->Caption());
    }
    return out;
}

void Pump(DWORD ms) { WaitUntil([] { return false; }, ms); }

// Posts a shell event to the menu's hidden window as hk.dll does, and lets it in.
void PostShell(HWND w, LPARAM code) {
    PostMessageW(ShellNotifyWnd.get(), WM_HOOKSHELL, reinterpret_cast<WPARAM>(w), code);
    Pump(60);
}

bool IsAbove(HWND upper, HWND lower) {
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
        if (w == upper) return true;
        if (w == lower) return false;
    }
    return false;
}

class ApplicationsMenu : public ::testing::Test {
protected:
    void SetUp() override {
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        DKData->FillDefaultDB();
        Config.LogPriority = 1;
        InitializeApplicationsMenu();
        ASSERT_NE(ShellNotifyWnd.get(), nullptr);
    }
    void TearDown() override {
        menu.reset();
        FinalizeApplicationsMenu();
        DKData.reset();
        Config.LogPriority = 4;
    }
    TApplicationsMenu& Build(void* button = nullptr) {
        menu = std::make_unique<TApplicationsMenu>(TMenuOwner{L"Applications", 2, RGB(40, 80, 120), button});
        return *menu;
    }
    TDKMenuItem* Root() const { return menu->Items(); }
    TDKMenuItem* WindowItem(HWND w) const { return Root()->FindItem(Id(w)); }
    TDKMenuItem* Group(const std::wstring& caption) const { return Root()->FindItem(caption); }
    long long Launches() {
        RawDb raw(dir / L"dk.pdb");
        return raw.Int("SELECT COUNT(*) FROM ExecItemTime");
    }
    // Chooses the process of the given file name in a group's "Add from Running Applications".
    void AddRunningApp(TDKMenuItem* group, const std::wstring& fileName) {
        TDKMenuItem* add = group->FindItem(L"Add from Running Applications");
        ASSERT_NE(add, nullptr);
        add->FOnBeforExpose(add);
        TDKMenuItem* proc = add->FindItem(fileName);
        ASSERT_NE(proc, nullptr) << gui::ToUtf8(fileName);
        proc->FOnClick(proc);
    }

    TempDir dir{L"apps"};
    data_test::LogCapture log;
    std::unique_ptr<TApplicationsMenu> menu;
};

}  // namespace

TEST_F(ApplicationsMenu, TreeListsWindowsWithCommandsAndProcessLinesAboveTheGroups) {
    TitledWindows apps({UniqueTitle(L"first"), UniqueTitle(L"second")});
    ASSERT_TRUE(apps.Ready());
    TApplicationsMenu& m = Build();

    EXPECT_EQ(FixedCaptions(Root()),
              (std::vector<std::wstring>{L"Active Applications", L"Groups", L"All Applications", L"Work", L"Internet",
                                         L"Media", L"None", L"Filter", L"Type Application Name..."}));
    TDKMenuItem* title = Root()->GetItem(0);
    EXPECT_TRUE(title->GroupTitle());
    EXPECT_EQ(title->MIID(), TDKPopupMenu::MainTitleID);
    TDKMenuItem* groups = m.FindItem(TDKPopupMenu::FavoritesTitleID);
    EXPECT_TRUE(groups->GroupTitle());
    EXPECT_EQ(Captions(groups), (std::vector<std::wstring>{L"Create New Group"}));
    TDKMenuItem* all = Group(L"All Applications");
    EXPECT_TRUE(all->Checked() && all->Filtered());
    EXPECT_EQ(all->MIID(), TDKPopupMenu::MainTitleID);
    EXPECT_EQ(Group(L"None")->MIID(), 3);
    EXPECT_EQ(m.FMaxMIID, 2);
    TDKMenuItem* work = Group(L"Work");
    EXPECT_EQ(Captions(work), (std::vector<std::wstring>{L"Add from Running Applications", L"Remove Group"}));
    EXPECT_TRUE(work->GetItem(0)->HasSplitter());
    EXPECT_EQ(work->GetItem(0)->Count(), 1);
    EXPECT_EQ(work->Icon(), m.FFoldIcon.get());

    // Both windows are listed between the section title and "Groups", with the helper's path.
    std::wstring exe = gui::AnsiLowerCase(BinDir() + L"titled_windows.exe");
    for (size_t i = 0; i < 2; ++i) {
        TDKMenuItem* w = WindowItem(apps.Window(i));
        ASSERT_NE(w, nullptr);
        EXPECT_GT(w->Index(), 0);
        EXPECT_LT(w->Index(), groups->Index());
        EXPECT_EQ(w->Caption(), apps.Title(i));
        EXPECT_TRUE(w->Filtered());
        EXPECT_EQ(gui::AnsiLowerCase(w->ExecPath()), exe);
        EXPECT_EQ(w->ExecPath(), gui::AnsiLowerCase(w->ExecPath()));
        EXPECT_NE(w->Icon(), nullptr);
        std::vector<std::wstring> c = Captions(w);
        ASSERT_EQ(c.size(), 9u);
        EXPECT_EQ(std::vector<std::wstring>(c.begin(), c.begin() + 5),
                  (std::vector<std::wstring>{L"Always on Top", L"Restore", L"Minimize", L"Maximize", L"Close"}));
        EXPECT_EQ(w->GetItem(5)->MIID(), 18);
        EXPECT_TRUE(w->GetItem(5)->HasSplitter());
        EXPECT_EQ(c[5].rfind(L"Run: ", 0), 0u);
        EXPECT_EQ(c[6], L"User: " + GetCurrentUserName());
        std::wregex mb(LR"(\d+[.,]\d\d M)");
        EXPECT_TRUE(std::regex_match(c[7].substr(14), mb)) << gui::ToUtf8(c[7]);
        EXPECT_EQ(c[7].rfind(L"Memory Usage: ", 0), 0u);
        EXPECT_EQ(c[8].rfind(L"Peak Memory Usage: ", 0), 0u);
    }
}

TEST_F(ApplicationsMenu, ProcessFiguresAndMegabyteText) {
    TProcessInfo info;
    ASSERT_TRUE(GetProcessInfo(GetCurrentProcessId(), info));
    EXPECT_EQ(info.User, GetCurrentUserName());
    EXPECT_GT(info.MemoryUsage, 0);
    EXPECT_GE(info.PeakMemoryUsage, info.MemoryUsage);
    TProcessInfo none;
    EXPECT_FALSE(GetProcessInfo(0x7FFFFFF0, none));
    EXPECT_TRUE(none.User.empty());

    std::wstring t = MegabytesText(1572864);  // 1.5 MB
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t.substr(0, 1) + t.substr(2), L"150");
    EXPECT_EQ(MegabytesText(0).substr(0, 1), L"0");
    EXPECT_EQ(MegabytesText(2147483647.0).size(), 7u);  // 2048.00
}

TEST_F(ApplicationsMenu, HookEventsAddRenameMarkAndRemoveWindowItems) {
    std::string start = log.Text();
    EXPECT_NE(start.find("a.AllocateCustomHWnd: 0x"), std::string::npos);
    EXPECT_NE(start.find("a.SetShellHook: True"), std::string::npos);
    TApplicationsMenu& m = Build();
    (void)m;
    ASSERT_TRUE(WindowsEnumerated.load());
    EXPECT_EQ(AppsMenuInstance.load(), menu.get());

    // A window opened now comes through hk.dll and lands directly below the section title.
    TitledWindows apps({UniqueTitle(L"late")});
    ASSERT_TRUE(apps.Ready());
    HWND w = apps.Window(0);
    ASSERT_TRUE(WaitUntil([&] { return WindowItem(w) != nullptr; }, 5000));
    EXPECT_EQ(WindowItem(w)->Index(), 1);
    EXPECT_NE(log.Text().find("a.ApplWndProc ( Hwn: 0x"), std::string::npos);

    // A new title renames the item.
    std::wstring renamed = apps.Title(0) + L" renamed";
    SetWindowTextW(w, renamed.c_str());
    ASSERT_TRUE(WaitUntil([&] { return WindowItem(w) && WindowItem(w)->Caption() == renamed; }, 5000));

    // Activation moves the check to the window's item.
    SetForegroundWindow(w);
    ASSERT_TRUE(WaitUntil([&] { return WindowItem(w) && WindowItem(w)->Checked(); }, 5000));
    int checked = 0;
    for (int i = 0; i < Root()->Count(); ++i) checked += Root()->GetItem(i)->Checked();
    EXPECT_EQ(checked, 2);  // the window's item and "All Applications"
    EXPECT_FALSE(Root()->GetItem(0)->Checked());
    EXPECT_TRUE(Group(L"All Applications")->Checked());

    // Closing the window removes its item.
    PostMessageW(w, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return WindowItem(w) == nullptr; }, 5000));
}

TEST_F(ApplicationsMenu, EventsForGoneWindowsAndTheSweepAfterActivation) {
    TitledWindows apps({UniqueTitle(L"stay"), UniqueTitle(L"gone")});
    ASSERT_TRUE(apps.Ready());
    Build();
    HWND stay = apps.Window(0), gone = apps.Window(1);
    PostShell(stay, HSHELL_WINDOWACTIVATED);
    ASSERT_TRUE(WindowItem(stay)->Checked());
    ASSERT_NE(WindowItem(gone), nullptr);

    // The window goes; its events arrive only after it has gone: nothing changes, no new item.
    PostMessageW(gone, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(gone); }, 5000));
    std::wstring before = WindowItem(stay)->Caption();
    if (TDKMenuItem* g = WindowItem(gone)) {
        // hk.dll may not have reported it yet: a late created / activated / redraw is skipped.
        std::wstring caption = g->Caption();
        PostShell(gone, HSHELL_REDRAW);
        if (WindowItem(gone)) {
            EXPECT_EQ(WindowItem(gone)->Caption(), caption);
        }
    }
    PostShell(gone, HSHELL_WINDOWACTIVATED);
    EXPECT_TRUE(WindowItem(stay)->Checked());  // the mark stays where it was
    int count = Root()->Count();
    PostShell(gone, HSHELL_WINDOWCREATED);
    EXPECT_LE(Root()->Count(), count);
    EXPECT_EQ(WindowItem(stay)->Caption(), before);

    // A stale item is swept by the next activation of a live window.
    PostShell(gone, HSHELL_WINDOWDESTROYED);
    ASSERT_EQ(WindowItem(gone), nullptr);
    TDKMenuItem* stale = Root()->InsertMenuItem(1, 0x7FFF0000, L"stale", nullptr, false, false, true);
    (void)stale;
    PostShell(stay, HSHELL_WINDOWACTIVATED);
    EXPECT_EQ(Root()->FindItem(0x7FFF0000), nullptr);

    // Running the item of a window that has gone takes the item away at once.
    TDKMenuItem* orphan = Root()->InsertMenuItem(1, 0x7FFF0004, L"orphan", nullptr, false, false, true);
    menu->ActivateWindowClick(orphan);
    EXPECT_EQ(Root()->FindItem(0x7FFF0004), nullptr);

    // A created event for a listed window does not list it twice.
    int before2 = Root()->Count();
    PostShell(stay, HSHELL_WINDOWCREATED);
    EXPECT_EQ(Root()->Count(), before2);
}

TEST_F(ApplicationsMenu, EventsWaitForTheButtonToHoldTheMenuAndStopWhenItIsFreed) {
    struct Host : gui::Window {
        Host() { Create({L"AppsMenuTestHost"}, L"host", WS_POPUP, WS_EX_TOOLWINDOW, 0, 0, 100, 19); }
    } host;
    TDKButton button(host.Handle());
    TApplicationsMenu& m = Build(&button);
    TitledWindows apps({UniqueTitle(L"early")});
    ASSERT_TRUE(apps.Ready());
    HWND w = apps.Window(0);
    // Built but not yet handed to its button: events leave it alone.
    PostShell(w, HSHELL_WINDOWCREATED);
    Pump(300);
    EXPECT_EQ(WindowItem(w), nullptr);
    button.SetPopupMenu(&m);
    PostShell(w, HSHELL_WINDOWCREATED);
    ASSERT_TRUE(WaitUntil([&] { return WindowItem(w) != nullptr; }, 3000));
    button.SetPopupMenu(nullptr);
    menu.reset();
    EXPECT_EQ(AppsMenuInstance.load(), nullptr);
    // Events after the menu is gone touch nothing.
    PostShell(w, HSHELL_WINDOWCREATED);
    PostShell(w, HSHELL_WINDOWACTIVATED);
    PostShell(w, HSHELL_REDRAW);
    PostShell(w, HSHELL_WINDOWDESTROYED);
}

TEST_F(ApplicationsMenu, ClickingMinimisesRestoresOrRaisesAndRecordsTheLaunch) {
    TitledWindows apps({UniqueTitle(L"one"), UniqueTitle(L"two")});
    ASSERT_TRUE(apps.Ready());
    Build();
    HWND a = apps.Window(0), b = apps.Window(1);
    PostShell(a, HSHELL_WINDOWACTIVATED);
    TDKMenuItem* ia = WindowItem(a);
    ASSERT_TRUE(ia && ia->Checked());
    long long launches = Launches();

    ia->FOnClick(ia);  // the active window: minimised
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(a) != FALSE; }, 3000));
    EXPECT_EQ(Launches(), launches + 1);
    ia->FOnClick(ia);  // minimised: restored, not recorded
    ASSERT_TRUE(WaitUntil([&] { return !IsIconic(a); }, 3000));
    EXPECT_EQ(Launches(), launches + 1);

    SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(WaitUntil([&] { return IsAbove(a, b); }, 3000));
    TDKMenuItem* ib = WindowItem(b);
    ASSERT_FALSE(ib->Checked());
    ib->FOnClick(ib);  // inactive: brought to the top
    EXPECT_TRUE(WaitUntil([&] { return IsAbove(b, a); }, 3000));
    EXPECT_EQ(Launches(), launches + 2);
    RawDb raw(dir / L"dk.pdb");
    EXPECT_EQ(raw.Int("SELECT COUNT(*) FROM ItemsPath WHERE MID = 2"), 1);

    // Clicking the item of a window that has gone removes the item.
    PostMessageW(b, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(b); }, 5000));
    if (TDKMenuItem* left = WindowItem(b)) left->FOnClick(left);
    EXPECT_TRUE(WaitUntil([&] { return WindowItem(b) == nullptr; }, 2000));
    EXPECT_EQ(Launches(), launches + 2);

    // A window whose program cannot be read: its click records nothing, and ordering the windows
    // afterwards keeps them between their title and the groups.
    ia->SetExecPath(L"");
    ia->FOnClick(ia);
    EXPECT_EQ(Launches(), launches + 2);
    menu->SortByPopularity();
    EXPECT_EQ(Root()->GetItem(0)->MIID(), TDKPopupMenu::MainTitleID);
    EXPECT_LT(ia->Index(), Root()->FindItem(TDKPopupMenu::FavoritesTitleID)->Index());
}

TEST_F(ApplicationsMenu, WindowCommandsActOnTheWindow) {
    TitledWindows apps({UniqueTitle(L"commands")});
    ASSERT_TRUE(apps.Ready());
    Build();
    HWND w = apps.Window(0);
    TDKMenuItem* item = WindowItem(w);
    ASSERT_NE(item, nullptr);
    auto run = [&](const wchar_t* caption) {
        TDKMenuItem* c = item->FindItem(caption);
        ASSERT_NE(c, nullptr);
        c->FOnClick(c);
    };
    auto topmost = [&] { return (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    run(L"Always on Top");
    EXPECT_TRUE(item->FindItem(L"Always on Top")->Checked());
    EXPECT_TRUE(WaitUntil(topmost, 3000));
    run(L"Always on Top");
    EXPECT_FALSE(item->FindItem(L"Always on Top")->Checked());
    EXPECT_TRUE(WaitUntil([&] { return !topmost(); }, 3000));
    run(L"Maximize");
    EXPECT_TRUE(WaitUntil([&] { return IsZoomed(w) != FALSE; }, 3000));
    run(L"Minimize");
    EXPECT_TRUE(WaitUntil([&] { return IsIconic(w) != FALSE; }, 3000));
    run(L"Restore");
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(w); }, 3000));
    run(L"Close");
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w); }, 5000));
}

TEST_F(ApplicationsMenu, GroupsHideTheOtherProgramsWindowsAndAllApplicationsShowsThem) {
    // Two programs: the helper and a copy of it under another name.
    std::wstring other = dir / L"other_app.exe";
    ASSERT_TRUE(CopyFileW((BinDir() + L"titled_windows.exe").c_str(), other.c_str(), FALSE));
    TitledWindows mine({UniqueTitle(L"mine a"), UniqueTitle(L"mine b")});
    TitledWindows mine2({UniqueTitle(L"mine again")});
    TitledWindows others({UniqueTitle(L"other")}, other);
    ASSERT_TRUE(mine.Ready() && mine2.Ready() && others.Ready());
    // A window of this program itself is never hidden.
    struct Own : gui::Window {
        Own() { Create({L"AppsMenuOwnWindow"}, L"own", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 50, 50, 200, 100); }
    } own;
    HWND a1 = mine.Window(0), a2 = mine.Window(1), a3 = mine2.Window(0), b = others.Window(0);
    auto visible = [](HWND w) { return IsWindowVisible(w) != FALSE; };
    auto mineShown = [&] { return visible(a1) && visible(a2) && visible(a3); };
    auto mineHidden = [&] { return !visible(a1) && !visible(a2) && !visible(a3); };

    // The first group made on the default database takes the id of "None".
    TApplicationsMenu& m = Build();
    TDKMenuItem* groups = m.FindItem(TDKPopupMenu::FavoritesTitleID);
    groups->GetItem(0)->FOnClick(groups->GetItem(0));
    TDKMenuItem* fresh = Root()->GetItem(groups->Index() + 2);
    EXPECT_EQ(fresh->Caption(), L"Type Group Title and Press Enter");
    ASSERT_EQ(fresh->MIID(), 3);
    fresh->SetCaption(L"Mine");
    fresh->FOnClick(fresh);  // Enter
    EXPECT_FALSE(fresh->Edited());
    AddRunningApp(fresh, L"titled_windows.exe");
    // Each program once in the running list, though two processes run the helper.
    TDKMenuItem* add = fresh->FindItem(L"Add from Running Applications");
    int helperRows = 0;
    for (int i = 0; i < add->Count(); ++i) helperRows += add->GetItem(i)->Caption() == L"titled_windows.exe";
    EXPECT_EQ(helperRows, 1);
    ASSERT_EQ(fresh->Count(), 3);
    TDKMenuItem* app = fresh->GetItem(0);
    EXPECT_EQ(app->Caption(), L"titled_windows.exe");
    EXPECT_TRUE(app->Loadable());
    EXPECT_EQ(Captions(app), (std::vector<std::wstring>{L"Delete Application from Group"}));
    EXPECT_EQ(app->MIID(), 4);  // a fresh stored id, not the process id
    TDKMenuItem* work = Group(L"Work");
    AddRunningApp(work, L"other_app.exe");

    TDKMenuItem* all = Group(L"All Applications");
    TDKMenuItem* none = Group(L"None");
    fresh->FOnClick(fresh);
    EXPECT_TRUE(mineShown());
    EXPECT_FALSE(visible(b));
    EXPECT_TRUE(visible(own.Handle()));
    EXPECT_TRUE(fresh->Checked());
    EXPECT_FALSE(none->Checked() || all->Checked() || Root()->GetItem(0)->Checked());

    all->FOnClick(all);
    EXPECT_TRUE(mineShown() && visible(b));
    EXPECT_TRUE(all->Checked() && Root()->GetItem(0)->Checked());
    EXPECT_FALSE(fresh->Checked());

    work->FOnClick(work);
    EXPECT_TRUE(mineHidden());
    EXPECT_TRUE(visible(b));

    // "None" hides everything, though a group shares its id.
    none->FOnClick(none);
    EXPECT_TRUE(mineHidden());
    EXPECT_FALSE(visible(b));
    EXPECT_TRUE(visible(own.Handle()));
    EXPECT_TRUE(none->Checked());
    EXPECT_FALSE(fresh->Checked() || work->Checked());

    all->FOnClick(all);
    EXPECT_TRUE(mineShown() && visible(b));
}

TEST_F(ApplicationsMenu, GroupApplicationsAreStoredAndComeBack) {
    TitledWindows apps({UniqueTitle(L"stored")});
    ASSERT_TRUE(apps.Ready());
    {
        Build();
        AddRunningApp(Group(L"Internet"), L"titled_windows.exe");
        menu.reset();
    }
    Build();
    TDKMenuItem* internet = Group(L"Internet");
    ASSERT_EQ(Captions(internet), (std::vector<std::wstring>{L"titled_windows.exe", L"Add from Running Applications",
                                                             L"Remove Group"}));
    TDKMenuItem* app = internet->GetItem(0);
    EXPECT_EQ(gui::AnsiLowerCase(app->ExecPath()), gui::AnsiLowerCase(BinDir() + L"titled_windows.exe"));
    EXPECT_FALSE(app->Filtered());
    EXPECT_NE(app->Icon(), nullptr);
    EXPECT_EQ(Captions(app), (std::vector<std::wstring>{L"Delete Application from Group"}));
    EXPECT_EQ(menu->FMaxMIID, 3);
    // Its delete command removes it.
    app->GetItem(0)->FOnClick(app->GetItem(0));
    EXPECT_EQ(internet->Count(), 2);
}

TEST_F(ApplicationsMenu, FilterEnterActsOnTheTopWindowAndLaunchesOrderTheWindows) {
    TitledWindows apps({UniqueTitle(L"ranked")});
    std::wstring other = dir / L"other_app.exe";
    ASSERT_TRUE(CopyFileW((BinDir() + L"titled_windows.exe").c_str(), other.c_str(), FALSE));
    TitledWindows others({UniqueTitle(L"unranked")}, other);
    ASSERT_TRUE(apps.Ready() && others.Ready());
    std::wstring exe = gui::AnsiLowerCase(BinDir() + L"titled_windows.exe");
    DKData->SaveExecTime(2, L"ranked", exe, -1);
    TApplicationsMenu& m = Build();
    // The launched program's window comes first.
    EXPECT_EQ(Root()->GetItem(1), WindowItem(apps.Window(0)));
    long long launches = Launches();
    TDKMenuItem* edit = m.FindItem(TDKPopupMenu::FilterEditID);
    edit->FOnClick(edit);
    EXPECT_EQ(Launches(), launches + 1);

    // Without any window item Enter does nothing.
    while (Root()->GetItem(1)->MIID() != TDKPopupMenu::FavoritesTitleID) Root()->Delete(Root()->GetItem(1)->MIID());
    edit->FOnClick(edit);
    EXPECT_EQ(Launches(), launches + 1);
}

TEST_F(ApplicationsMenu, OwnWindowsAreNotListedAndAnOpenMenuStaysOpen) {
    TApplicationsMenu& m = Build();
    TitledWindows apps({UniqueTitle(L"shown")});
    ASSERT_TRUE(apps.Ready());
    ASSERT_TRUE(WaitUntil([&] { return WindowItem(apps.Window(0)) != nullptr; }, 5000));
    // Opening the menu and a window item's submenu makes windows of this program; hk.dll reports
    // them as new windows, and they must neither be listed nor close the open submenu.
    m.Popup(100, 100);
    TDKMenuItem* item = WindowItem(apps.Window(0));
    RECT r = Root()->RowBounds(item->Index());
    Root()->OpenChildAt(item, r);
    ASSERT_NE(item->FormHandle(), nullptr);
    Pump(600);
    for (int i = 0; i < Root()->Count(); ++i) {
        DWORD pid = 0;
        HWND w = reinterpret_cast<HWND>(static_cast<intptr_t>(Root()->GetItem(i)->MIID()));
        if (IsWindow(w)) GetWindowThreadProcessId(w, &pid);
        EXPECT_NE(pid, GetCurrentProcessId()) << gui::ToUtf8(Root()->GetItem(i)->Caption());
    }
    EXPECT_TRUE(m.Acitve());
    EXPECT_NE(item->FormHandle(), nullptr);
    m.Hide();
}

TEST_F(ApplicationsMenu, BuiltOnTheMenuThreadItTakesEventsOnceItsButtonHoldsIt) {
    TitledWindows apps({UniqueTitle(L"threaded")});
    ASSERT_TRUE(apps.Ready());
    struct Host : gui::Window {
        Host() { Create({L"AppsMenuTestHost"}, L"host", WS_POPUP, WS_EX_TOOLWINDOW, 0, 0, 100, 19); }
    } host;
    TDKButton button(host.Handle());
    button.SetID(2);
    button.SetCaption(L"Applications");
    HWND w = apps.Window(0);
    // The bar's own building thread; meanwhile this thread keeps handling the window's events.
    new TCreateMenuThread(&button, [](TDKButton* b) -> TDKPopupMenu* {
        return new TApplicationsMenu(TMenuOwner{b->Caption(), b->ID(), RGB(1, 2, 3), b});
    });
    int n = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::wstring t = apps.Title(0) + L" " + std::to_wstring(++n);
            SetWindowTextW(w, t.c_str());
            PostMessageW(ShellNotifyWnd.get(), WM_HOOKSHELL, reinterpret_cast<WPARAM>(w), HSHELL_REDRAW);
            PostMessageW(ShellNotifyWnd.get(), WM_HOOKSHELL, reinterpret_cast<WPARAM>(w), HSHELL_WINDOWACTIVATED);
            return button.PopupMenu() != nullptr;
        },
        20000));
    menu.reset(static_cast<TApplicationsMenu*>(button.PopupMenu()));
    ASSERT_NE(WindowItem(w), nullptr);
    std::wstring last = apps.Title(0) + L" last";
    SetWindowTextW(w, last.c_str());
    EXPECT_TRUE(WaitUntil([&] { return WindowItem(w)->Caption() == last; }, 5000));
    button.SetPopupMenu(nullptr);
    menu.reset();
}

TEST_F(ApplicationsMenu, RemovingTheChosenGroupShowsItsHiddenWindowsAgain) {
    TitledWindows apps({UniqueTitle(L"kept"), UniqueTitle(L"hidden")});
    ASSERT_TRUE(apps.Ready());
    Build();
    TDKMenuItem *work = Group(L"Work"), *media = Group(L"Media"), *all = Group(L"All Applications");
    auto remove = [](TDKMenuItem* group) {
        TDKMenuItem* r = group->FindItem(L"Remove Group");
        ASSERT_NE(r, nullptr);
        r->FOnClick(r);
    };
    work->FOnClick(work);
    ASSERT_FALSE(IsWindowVisible(apps.Window(0)) || IsWindowVisible(apps.Window(1)));
    // Another group goes: the chosen one still filters.
    remove(media);
    EXPECT_FALSE(IsWindowVisible(apps.Window(0)) || IsWindowVisible(apps.Window(1)));
    EXPECT_TRUE(work->Checked());
    // The chosen one goes: its windows come back and the marks are those of the start.
    remove(work);
    EXPECT_EQ(Group(L"Work"), nullptr);
    EXPECT_TRUE(IsWindowVisible(apps.Window(0)) && IsWindowVisible(apps.Window(1)));
    EXPECT_TRUE(menu->FHiddenWnds->empty());
    for (int i = 0; i < Root()->Count(); ++i) {
        TDKMenuItem* c = Root()->GetItem(i);
        EXPECT_EQ(c->Checked(), c == all) << gui::ToUtf8(c->Caption());
    }
    // A group chosen afterwards filters as before.
    TDKMenuItem* internet = Group(L"Internet");
    internet->FOnClick(internet);
    EXPECT_FALSE(IsWindowVisible(apps.Window(0)));
    all->FOnClick(all);
    EXPECT_TRUE(IsWindowVisible(apps.Window(0)));
}
