#include "SystemMenu.h"

#include <shlobj.h>

#include "settings/DKLog.h"
#include "Application.h"
#include "settings/ConfigsDialog.h"
#include "util/DKUtils.h"
#include "SysUtils.h"

namespace {

constexpr SHCONTF kEnumAll = 0xE0;  // folders, non-folders, hidden
constexpr int kSortFoldersFirst = 1;

TSystemCalls& Calls() {
    static TSystemCalls c;
    return c;
}

double RealWindowsVersion() {
    OSVERSIONINFOW vi = gui::GetOSVersionInfo();
    return vi.dwMajorVersion + vi.dwMinorVersion * 0.1;
}
double WinVersion() { return Calls().WindowsVersion ? Calls().WindowsVersion() : RealWindowsVersion(); }

bool RealEnableShutdownPrivilege() {
    gui::KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
    TOKEN_PRIVILEGES tp{};
    bool ok = LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &tp.Privileges[0].Luid);
    if (ok) {
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        SetLastError(0);
        AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr);
        ok = GetLastError() == 0;  // ERROR_NOT_ALL_ASSIGNED: the account lacks it
    }
    return ok;
}

// A start of What; one that fails is told to the user.
void DoWinExec(const std::wstring& What, const std::string& cmd, UINT show) {
    if (Calls().WinExec)
        Calls().WinExec(cmd, show);
    else
        WinExecOrReport(What, cmd, show);
}

BOOL DoSetSuspendState(BOOLEAN hibernate, BOOLEAN force, BOOLEAN disableWake) {
    if (Calls().SetSuspendState) return Calls().SetSuspendState(hibernate, force, disableWake);
    HMODULE lib = GetModuleHandleW(L"powrprof.dll");
    if (!lib) lib = LoadLibraryW(L"powrprof.dll");
    if (!lib) return FALSE;
    using TSetSuspendState = BOOLEAN(WINAPI*)(BOOLEAN, BOOLEAN, BOOLEAN);
    auto f = reinterpret_cast<TSetSuspendState>(reinterpret_cast<void*>(GetProcAddress(lib, "SetSuspendState")));
    return f ? f(hibernate, force, disableWake) : FALSE;
}

std::wstring SpecialPath(int csidl) {
    wchar_t buf[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(gui::App().Handle(), csidl, nullptr, 0, buf))) return {};
    return buf;
}

void ExposeSpecial(TDKMenuItem* Item, int csidl, bool children) {
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(gui::App().Handle(), csidl, &pidl)) || !pidl) return;
    PIDLPtr list(pidl);
    Item->ExposeFolder(list.get(), children, kEnumAll, kSortFoldersFirst);
}

}  // namespace

void TSystemMenu::SetSystemCalls(TSystemCalls c) { Calls() = std::move(c); }

TSystemMenu::TSystemMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    FItems->FFiltered = true;
    LoadFavorites();
    FItems->AddMenuItem(MainTitleID, L"All System Tools", nullptr, true);
    std::wstring Windows = SpecialPath(CSIDL_WINDOWS);
    std::wstring System = SpecialPath(CSIDL_SYSTEM);

    TDKMenuItem* tools = FItems->AddMenuItem(0, L"System Utilities", nullptr, false, false, true);
    tools->FIcon = FFoldIcon.get();
    AddToolItem(tools, L"Task Manager", System + L"\\taskmgr.exe");
    AddToolItem(tools, L"Registry Editor", Windows + L"\\regedit.exe");
    AddToolItem(tools, L"Command Promt", System + L"\\cmd.exe");
    AddToolItem(tools, L"MSConfig", GetAppPath(L"MSCONFIG.EXE"));
    AddToolItem(tools, L"System Information", GetAppPath(L"msinfo32.exe"));
    AddToolItem(tools, L"System Properties", System + L"\\sysdm.cpl");
    AddToolItem(tools, L"Clean Manager", System + L"\\cleanmgr.exe");
    TDKMenuItem* res = tools->AddMenuItem(0, L"Resource Monitor", [this](TDKMenuItem* s) { RunItem(s); }, false,
                                          false, true);
    res->SetExecPath(System + L"\\perfmon.exe /res");
    res->TakeIcon(gui::IconHandle(GetShellSmallIcon(System + L"\\perfmon.exe")));

    TDKMenuItem* admin = FItems->AddMenuItem(0, L"Administrative Tools", nullptr, false, false, true);
    ExposeSpecial(admin, CSIDL_COMMON_ADMINTOOLS, true);
    ExposeSpecial(admin, CSIDL_ADMINTOOLS, true);
    TDKMenuItem* panel = FItems->AddMenuItem(0, L"Control Panel", nullptr, false, false, true);
    ExposeSpecial(panel, CSIDL_CONTROLS, false);
    if (WinVersion() > 6.0) {
        TDKMenuItem* god = FItems->AddMenuItem(0, L"God Mode", nullptr, false, false, true);
        god->ExposeFolder(L"shell:::{ED7BA470-8E54-465E-825C-99712043E01C}", false, kEnumAll, kSortFoldersFirst);
    }
    int title = FItems->FindItem(MainTitleID)->Index();
    for (int i = title + 1; i < FItems->Count(); ++i) AddFavoriteCommands(FItems->GetItem(i));

    AddFilter(L"Type Tool Name...");

    FItems->AddMenuItem(0, L"Shell Replacement", nullptr, true);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    TDKMenuItem* cfg = FItems->AddMenuItem(0, L"Configure This Shell Replacement",
                                           [this](TDKMenuItem* s) { ConfigureShellClick(s); });
    cfg->TakeIcon(gui::IconHandle(GetShellSmallIcon(self)));
    TDKMenuItem* restore =
        FItems->AddMenuItem(0, L"Restore Default Shell ( Exporer )", [this](TDKMenuItem* s) { RunItem(s); });
    restore->SetExecPath(gui::ExcludeTrailingBackslash(gui::ExeDir()) + L"\\set_explorer.exe");
    restore->TakeIcon(gui::IconHandle(GetShellSmallIcon(Windows + L"\\explorer.exe")));

    FItems->AddMenuItem(0, L"Shut Down", nullptr, true);
    std::wstring images = gui::ExcludeTrailingBackslash(gui::ExeDir()) + L"\\images\\system\\";
    auto icon = [&](const wchar_t* file) { return LoadSmallIconFile(images + file); };
    struct TCommand {
        int Code;
        const wchar_t* Caption;
        const wchar_t* Icon;
    };
    auto group = [&](const std::wstring& caption, const wchar_t* groupIcon, std::initializer_list<TCommand> cmds) {
        TDKMenuItem* g = FItems->AddMenuItem(0, caption);
        g->TakeIcon(icon(groupIcon));
        for (const TCommand& c : cmds) {
            TDKMenuItem* mi =
                g->AddMenuItem(c.Code, c.Caption, [this](TDKMenuItem* s) { ShutdownClick(s); }, false, false, true);
            mi->TakeIcon(icon(c.Icon));
        }
    };
    group(GetCurrentUserName() + L"'s Session", L"switch_user.ico",
          {{4, L"Lock", L"lock.ico"}, {3, L"Log Off", L"logoff.ico"}, {2, L"Switch User", L"switch_user.ico"}});
    group(L"Sleep", L"hibernate.ico", {{6, L"Hibernate", L"hibernate.ico"}, {5, L"Sleep", L"sleep.ico"}});
    group(L"Computer", L"shutdown.ico", {{8, L"Shutdown", L"shutdown.ico"}, {7, L"Restart", L"restart.ico"}});

    AddStatistics();
}

void TSystemMenu::AddToolItem(TDKMenuItem* Parent, const std::wstring& Caption, const std::wstring& Path) {
    if (Path.empty()) return;
    TDKMenuItem* mi = Parent->AddMenuItem(0, Caption, [this](TDKMenuItem* s) { RunItem(s); }, false, false, true);
    mi->SetExecPath(Path);
    mi->TakeIcon(gui::IconHandle(GetShellSmallIcon(Path)));
}

void TSystemMenu::ExecuteFilterText(TDKMenuItem* Item) {
    Hide();
    DoWinExec(Item->Caption(), gui::ToAnsi(Item->Caption()), SW_SHOWNORMAL);
}

void TSystemMenu::ConfigureShellClick(TDKMenuItem*) { ShowConfigDialog(Config); }

void TSystemMenu::ShutdownClick(TDKMenuItem* Sender) {
    try {
        int code = Sender->FMIID;
        bool ends = code == 3 || code == 7 || code == 8;
        if (ends || code == 5 || code == 6) {
            bool ok = Calls().EnableShutdownPrivilege ? Calls().EnableShutdownPrivilege()
                                                      : RealEnableShutdownPrivilege();
            if (!ok) return;
        }
        if (ends) {
            // The monitor is told first so it can wind down before the session ends.
            if (HWND mon = FindWindowW(L"DKMonitor", L"Orvane Monitor")) PostMessageW(mon, WM_QUERYENDSESSION, 1, 0);
        }
        UINT flag = 0;
        switch (code) {
            case 2:
                DoWinExec(Sender->Caption(), "\"tsdiscon.exe\"", SW_HIDE);
                break;
            case 4:
                if (Calls().LockWorkStation)
                    Calls().LockWorkStation();
                else
                    LockWorkStation();
                break;
            case 5:
            case 6: {
                BOOL ok;
                if (WinVersion() >= 6.0)
                    ok = DoSetSuspendState(code == 6, TRUE, FALSE);
                else
                    ok = Calls().SetSystemPowerState ? Calls().SetSystemPowerState(code == 5, TRUE)
                                                     : SetSystemPowerState(code == 5, TRUE);
                if (!ok) Log(4, L"s.Error " + std::to_wstring(GetLastError()));
                break;
            }
            case 3:
                flag = EWX_LOGOFF;
                break;
            case 7:
                flag = EWX_REBOOT;
                break;
            case 8:
                flag = EWX_SHUTDOWN;
                break;
            default:
                Log(4, L"s.Unknown shutdown index: " + std::to_wstring(code));
        }
        if (ends) {
            const DWORD reason = 0x20000;  // operating system, unplanned
            BOOL ok = Calls().ExitWindowsEx ? Calls().ExitWindowsEx(flag | EWX_FORCEIFHUNG, reason)
                                            : ExitWindowsEx(flag | EWX_FORCEIFHUNG, reason);
            if (ok)
                Log(3, L"System Shutdown ( " + std::to_wstring(code) + L" )");
            else
                Log(4, L"System Shutdown Failed ( " + std::to_wstring(code) + L" )");
        }
    } catch (const std::exception& e) {
        Log(4, L"(s1) " + gui::FromUtf8(e.what()));
    }
}
