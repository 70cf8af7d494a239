// The System menu's tree and its session and power commands, with every system call replaced.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "settings/DKLog.h"
#include "settings/Configs.h"
#include "settings/ConfigsDialog.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "SysUtils.h"
#include "SystemMenu.h"
#include "MenuTestSupport.h"
#include "TestSupport.h"

using testing_support::TempDir;

namespace {

using testing_support::Captions;

// A stand-in for the monitor program's window; posted messages are read back with PeekMessage.
struct TMonitorWindow {
    gui::WindowHandle Handle;
    TMonitorWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"DKMonitor";
        RegisterClassW(&wc);
        Handle.reset(CreateWindowW(L"DKMonitor", L"Orvane Monitor", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                   wc.hInstance, nullptr));
    }
    // The pending end-session notice as "wParam,lParam", or "" when none was posted.
    std::string TakeNotice() {
        MSG msg{};
        if (!PeekMessageW(&msg, Handle.get(), WM_QUERYENDSESSION, WM_QUERYENDSESSION, PM_REMOVE)) return "";
        return std::to_string(msg.wParam) + "," + std::to_string(msg.lParam);
    }
};

class SystemMenu : public ::testing::Test {
protected:
    void SetUp() override {
        DKData = std::make_unique<TDKData>(dir / L"dk.pdb");
        ASSERT_TRUE(DKData->Connected());
        TSystemCalls c;
        c.EnableShutdownPrivilege = [this] {
            calls.push_back("priv");
            return privilege;
        };
        c.WinExec = [this](const std::string& cmd, UINT show) {
            calls.push_back("exec " + cmd + " " + std::to_string(show));
            return 33u;
        };
        c.LockWorkStation = [this] {
            calls.push_back("lock");
            return TRUE;
        };
        c.SetSuspendState = [this](BOOLEAN h, BOOLEAN f, BOOLEAN d) {
            calls.push_back("suspend " + std::to_string(h) + std::to_string(f) + std::to_string(d));
            return TRUE;
        };
        c.SetSystemPowerState = [this](BOOL s, BOOL f) {
            calls.push_back("power " + std::to_string(s) + std::to_string(f));
            return TRUE;
        };
        c.ExitWindowsEx = [this](UINT flags, DWORD reason) {
            // The monitor must have been told before the session ends.
            calls.push_back("notice " + monitor.TakeNotice());
            calls.push_back("exit " + std::to_string(flags) + " " + std::to_string(reason));
            return TRUE;
        };
        c.WindowsVersion = [this] { return version; };
        TSystemMenu::SetSystemCalls(c);
        TDKPopupMenu::SetShellExecute(
            [this](const std::wstring& f, const std::wstring& p, const std::wstring&) { runs.push_back(f + L"|" + p); });
    }
    void TearDown() override {
        menu.reset();
        TSystemMenu::SetSystemCalls({});
        TDKPopupMenu::SetShellExecute(nullptr);
        DKData.reset();
    }
    TSystemMenu& Build() {
        menu = std::make_unique<TSystemMenu>(TMenuOwner{L"System", 5, RGB(90, 40, 40), nullptr});
        return *menu;
    }
    std::vector<std::string> Click(int code) {
        calls.clear();
        TDKMenuItem* item = menu->FindItem(code);
        EXPECT_NE(item, nullptr) << code;
        if (item) item->FOnClick(item);
        return calls;
    }

    TempDir dir{L"sysmenu"};
    TMonitorWindow monitor;
    std::unique_ptr<TSystemMenu> menu;
    std::vector<std::string> calls;
    std::vector<std::wstring> runs;
    bool privilege = true;
    double version = 6.1;
};

TEST_F(SystemMenu, TreeHoldsToolsFoldersShellCommandsAndSessionGroups) {
    TSystemMenu& m = Build();
    TDKMenuItem* root = m.RootItem();
    EXPECT_TRUE(root->FFiltered);
    std::vector<std::wstring> tops = Captions(root);
    auto at = [&](const std::wstring& c) { return std::find(tops.begin(), tops.end(), c) - tops.begin(); };
    TDKMenuItem* title = root->FindItem(TDKPopupMenu::MainTitleID);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->Caption(), L"All System Tools");
    int A = title->Index();
    EXPECT_EQ(at(L"System Utilities"), A + 1);
    EXPECT_EQ(at(L"Administrative Tools"), A + 2);
    EXPECT_EQ(at(L"Control Panel"), A + 3);
    EXPECT_EQ(at(L"God Mode"), A + 4);
    EXPECT_EQ(root->GetItem(A + 5)->FMIID, TDKPopupMenu::FilterTitleID);
    std::wstring user = GetCurrentUserName() + L"'s Session";
    EXPECT_LT(at(L"Shell Replacement"), at(L"Configure This Shell Replacement"));
    EXPECT_LT(at(L"Configure This Shell Replacement"), at(L"Restore Default Shell ( Exporer )"));
    EXPECT_LT(at(L"Restore Default Shell ( Exporer )"), at(L"Shut Down"));
    EXPECT_EQ(at(user), at(L"Shut Down") + 1);
    EXPECT_EQ(at(L"Sleep"), at(user) + 1);
    EXPECT_EQ(at(L"Computer"), at(user) + 2);
    EXPECT_NE(root->FindItem(TDKPopupMenu::MostPopularID), nullptr);

    // Tools: the six with fixed paths always, the two registered ones only when registered.
    TDKMenuItem* tools = root->FindItem(std::wstring(L"System Utilities"));
    std::vector<std::wstring> want{L"Task Manager", L"Registry Editor", L"Command Promt"};
    if (!GetAppPath(L"MSCONFIG.EXE").empty()) want.push_back(L"MSConfig");
    if (!GetAppPath(L"msinfo32.exe").empty()) want.push_back(L"System Information");
    for (auto c : {L"System Properties", L"Clean Manager", L"Resource Monitor"}) want.push_back(c);
    EXPECT_EQ(Captions(tools), want);
    EXPECT_EQ(tools->Icon(), m.FFoldIcon.get());
    TDKMenuItem* res = tools->FindItem(std::wstring(L"Resource Monitor"));
    EXPECT_TRUE(res->FFiltered);
    EXPECT_NE(res->FindItem(std::wstring(L"Add to Favorites")), nullptr);
    res->FOnClick(res);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NE(gui::LowerCase(runs[0]).find(L"\\perfmon.exe|/res"), std::wstring::npos) << gui::ToUtf8(runs[0]);

    // Restoring the default shell starts the tool beside the executable.
    TDKMenuItem* restore = root->FindItem(std::wstring(L"Restore Default Shell ( Exporer )"));
    restore->FOnClick(restore);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(gui::LowerCase(runs[1]), gui::LowerCase(gui::ExeDir() + L"set_explorer.exe|"));
    TDKMenuItem* cfg = root->FindItem(std::wstring(L"Configure This Shell Replacement"));
    EXPECT_NO_THROW(cfg->FOnClick(cfg));
    // It opens the options dialog on the settings record.
    ASSERT_NE(Config.frmConfigs, nullptr);
    HWND dlg = Config.frmConfigs->Handle();
    EXPECT_TRUE(IsWindowVisible(dlg));
    Config.frmConfigs->Close();
    EXPECT_TRUE(testing_support::WaitUntil([dlg] { return !IsWindow(dlg); }, 5000));

    // The session and power commands carry their codes and icons.
    struct {
        std::wstring group;
        std::vector<std::pair<std::wstring, int>> cmds;
    } groups[] = {{user, {{L"Lock", 4}, {L"Log Off", 3}, {L"Switch User", 2}}},
                  {L"Sleep", {{L"Hibernate", 6}, {L"Sleep", 5}}},
                  {L"Computer", {{L"Shutdown", 8}, {L"Restart", 7}}}};
    for (auto& g : groups) {
        TDKMenuItem* gi = root->FindItem(g.group);
        ASSERT_NE(gi, nullptr);
        EXPECT_NE(gi->Icon(), nullptr);
        ASSERT_EQ(gi->Count(), static_cast<int>(g.cmds.size()));
        for (size_t i = 0; i < g.cmds.size(); ++i) {
            TDKMenuItem* c = gi->GetItem(static_cast<int>(i));
            EXPECT_EQ(c->Caption(), g.cmds[i].first);
            EXPECT_EQ(c->FMIID, g.cmds[i].second);
            EXPECT_TRUE(c->FFiltered);
            EXPECT_NE(c->Icon(), nullptr) << gui::ToUtf8(c->Caption());
        }
    }
}

TEST_F(SystemMenu, NoAllTasksFolderOnVersion60) {
    version = 6.0;
    Build();
    EXPECT_EQ(menu->RootItem()->FindItem(std::wstring(L"God Mode")), nullptr);
}

TEST_F(SystemMenu, SessionCommandsTellTheMonitorOnlyBeforeTheSessionEnds) {
    Build();
    using V = std::vector<std::string>;
    EXPECT_EQ(Click(3), (V{"priv", "notice 1,0", "exit 16 131072"}));
    EXPECT_EQ(Click(7), (V{"priv", "notice 1,0", "exit 18 131072"}));
    EXPECT_EQ(Click(8), (V{"priv", "notice 1,0", "exit 17 131072"}));
    EXPECT_EQ(Click(4), (V{"lock"}));
    EXPECT_EQ(Click(2), (V{"exec \"tsdiscon.exe\" 0"}));
    EXPECT_EQ(Click(5), (V{"priv", "suspend 010"}));
    EXPECT_EQ(Click(6), (V{"priv", "suspend 110"}));
    // None of the others posted a notice.
    EXPECT_EQ(monitor.TakeNotice(), "");

    version = 5.1;
    EXPECT_EQ(Click(5), (V{"priv", "power 11"}));
    EXPECT_EQ(Click(6), (V{"priv", "power 01"}));
}

TEST_F(SystemMenu, WithoutThePrivilegeOnlyLockAndSwitchUserRun) {
    Build();
    privilege = false;
    using V = std::vector<std::string>;
    for (int code : {3, 5, 6, 7, 8}) EXPECT_EQ(Click(code), (V{"priv"})) << code;
    EXPECT_EQ(monitor.TakeNotice(), "");
    EXPECT_EQ(Click(4), (V{"lock"}));
    EXPECT_EQ(Click(2), (V{"exec \"tsdiscon.exe\" 0"}));
}

TEST_F(SystemMenu, OutcomesAreLogged) {
    Build();
    std::wstring log = LogFileName();
    testing_support::WriteFileBytes(log, "");
    BYTE oldPriority = Config.LogPriority;
    Config.LogPriority = 3;
    TSystemCalls c;
    bool exitOk = true;
    c.EnableShutdownPrivilege = [this] { return privilege; };
    c.ExitWindowsEx = [&](UINT, DWORD) { return exitOk ? TRUE : FALSE; };
    c.SetSuspendState = [](BOOLEAN, BOOLEAN, BOOLEAN) {
        SetLastError(5);
        return FALSE;
    };
    c.WindowsVersion = [] { return 6.1; };
    TSystemMenu::SetSystemCalls(c);

    menu->ShutdownClick(menu->FindItem(8));
    exitOk = false;
    menu->ShutdownClick(menu->FindItem(7));
    menu->ShutdownClick(menu->FindItem(5));
    TDKMenuItem* odd = menu->RootItem()->AddMenuItem(9, L"Odd");
    menu->ShutdownClick(odd);
    privilege = false;
    menu->ShutdownClick(menu->FindItem(3));  // silent
    monitor.TakeNotice();

    std::string text = testing_support::ReadFileBytes(log);
    Config.LogPriority = oldPriority;
    DeleteFileW(log.c_str());
    auto has = [&](const std::string& s) { return text.find(s) != std::string::npos; };
    EXPECT_TRUE(has("System Shutdown ( 8 )")) << text;
    EXPECT_TRUE(has("System Shutdown Failed ( 7 )")) << text;
    EXPECT_TRUE(has("s.Error 5")) << text;
    EXPECT_TRUE(has("s.Unknown shutdown index: 9")) << text;
    EXPECT_FALSE(has("( 3 )")) << text;
}

TEST_F(SystemMenu, FilterBoxRunsTheTypedCommand) {
    Build();
    TDKMenuItem* edit = menu->RootItem()->FindItem(TDKPopupMenu::FilterEditID);
    ASSERT_NE(edit, nullptr);
    edit->FCaption = L"notepad readme.txt";
    calls.clear();
    menu->ExecuteFilterText(edit);
    EXPECT_EQ(calls, (std::vector<std::string>{"exec notepad readme.txt 1"}));
    EXPECT_FALSE(menu->Acitve());
}

}  // namespace
