#include "ApplicationsMenu.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

#include "settings/DKLog.h"
#include "Application.h"
#include "bar/DKButton.h"
#include "data/DKDataModule.h"
#include "util/DKUtils.h"
#include "FormatDateTime.h"
#include "SysUtils.h"
#include "hk.h"

std::atomic<TApplicationsMenu*> AppsMenuInstance{nullptr};
std::atomic<bool> WindowsEnumerated{false};
gui::WindowHandle ShellNotifyWnd;

namespace {

std::wstring What(const std::exception& e) { return gui::FromUtf8(e.what()); }

int WindowID(HWND W) { return static_cast<int>(reinterpret_cast<intptr_t>(W)); }
HWND IDWindow(int ID) { return reinterpret_cast<HWND>(static_cast<intptr_t>(ID)); }

using UniqueHandle = gui::KernelHandle;

// The application window, the bar and every other window of this program (menu windows and
// notifications are unowned popups here): never listed, never handled.
bool IsOwnWindow(HWND W) {
    if (!W) return false;
    if (W == gui::App().Handle() || W == gui::App().MainForm) return true;
    DWORD pid = 0;
    GetWindowThreadProcessId(W, &pid);
    return pid == GetCurrentProcessId();
}

std::wstring Hex4(unsigned v) {
    wchar_t buf[16];
    swprintf(buf, 16, L"%4X", v);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------- process lines

bool GetProcessInfo(DWORD ProcessID, TProcessInfo& Info) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ProcessID));
    if (!process) return false;
    bool found = false;
    HANDLE tokenHandle = nullptr;
    if (OpenProcessToken(process.get(), TOKEN_QUERY, &tokenHandle)) {
        UniqueHandle token(tokenHandle);
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        std::vector<BYTE> buf(size ? size : sizeof(TOKEN_USER));
        bool read = false;
        for (;;) {
            if (GetTokenInformation(token.get(), TokenUser, buf.data(), static_cast<DWORD>(buf.size()), &size)) {
                read = true;
                break;
            }
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
            buf.resize(std::max<size_t>(size, buf.size() * 2));
        }
        token.reset();
        if (!read) return false;
        PSID sid = reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid;
        DWORD userLen = 0, domainLen = 0;
        SID_NAME_USE use;
        LookupAccountSidW(nullptr, sid, nullptr, &userLen, nullptr, &domainLen, &use);
        if (userLen && domainLen) {
            std::wstring user(userLen, L'\0'), domain(domainLen, L'\0');
            if (LookupAccountSidW(nullptr, sid, user.data(), &userLen, domain.data(), &domainLen, &use)) {
                Info.User = user.substr(0, user.find(L'\0'));
                Info.Domain = domain.substr(0, domain.find(L'\0'));
                found = true;
            }
        }
    }
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    if (GetProcessMemoryInfo(process.get(), &pmc, sizeof(pmc))) {
        Info.MemoryUsage = static_cast<long long>(pmc.WorkingSetSize);
        Info.PeakMemoryUsage = static_cast<long long>(pmc.PeakWorkingSetSize);
    }
    return found;
}

std::wstring MegabytesText(double Bytes) {
    wchar_t buf[64];
    swprintf(buf, 64, L"%.2f", Bytes / 1024.0 / 1024.0);
    std::wstring s = buf;
    wchar_t sep[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, 8) > 1) {
        size_t p = s.find(L'.');
        if (p != std::wstring::npos) s.replace(p, 1, sep);
    }
    return s;
}

// ---------------------------------------------------------------- construction

TApplicationsMenu::TApplicationsMenu(const TMenuOwner& AOwner) : TDKPopupMenu(AOwner) {
    FHiddenWnds = new std::vector<HWND>();
    try {
        FItems->AddMenuItem(MainTitleID, L"Active Applications", nullptr, true);
        TDKMenuItem* groups = FItems->AddMenuItem(FavoritesTitleID, L"Groups", nullptr, true);
        groups->AddMenuItem(FavoritesTitleID, L"Create New Group", [this](TDKMenuItem* s) { CreateGroup(s); });
        TDKMenuItem* all = FItems->AddMenuItem(
            MainTitleID, L"All Applications", [this](TDKMenuItem* s) { SelectGroupClick(s); }, false, false, true,
            false, true);
        all->FIcon = FFoldIcon.get();

        int n = FItems->Count();
        FMaxMIID = DKData ? DKData->FillMenuItem(FItems, FMenuID, -1, -1) : -1;
        for (int i = n; i < FItems->Count(); ++i) InitStoredItem(FItems->GetItem(i));

        TDKMenuItem* none = FItems->AddMenuItem(
            NoneID, L"None", [this](TDKMenuItem* s) { SelectGroupClick(s); }, false, false, true);
        none->FIcon = FFoldIcon.get();
        AddFilter(L"Type Application Name...");

        try {
            EnumWindows(AddWindowEnumProc, reinterpret_cast<LPARAM>(this));
            SortByPopularity();
        } catch (...) {
            WindowsEnumerated.store(true, std::memory_order_release);
            throw;
        }
        WindowsEnumerated.store(true, std::memory_order_release);
    } catch (...) {
        delete FHiddenWnds;
        FHiddenWnds = nullptr;
        FPathIcons.clear();
        throw;
    }
    // Shell events may reach the menu from now on: its tree is complete.
    AppsMenuInstance.store(this, std::memory_order_release);
}

TApplicationsMenu::~TApplicationsMenu() {
    TApplicationsMenu* self = this;
    AppsMenuInstance.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    // Windows the filter hid stay hidden.
    delete FHiddenWnds;
    FHiddenWnds = nullptr;
    // The items only borrow the icons: close the windows that paint them before they go; the
    // base then saves and frees the tree.
    Hide();
    FPathIcons.clear();
}

bool TApplicationsMenu::Reachable() const {
    // A menu built for a bar button is reachable once the button holds it.
    return !FDKButton || static_cast<TDKButton*>(FDKButton)->PopupMenu() == this;
}

HICON TApplicationsMenu::PathIcon(const std::wstring& Path) {
    auto it = FPathIcons.find(Path);
    if (it != FPathIcons.end()) return it->second.get();
    HICON icon = GetShellSmallIcon(Path);
    FPathIcons.emplace(Path, gui::IconHandle(icon));
    return icon;
}

// ---------------------------------------------------------------- window items

BOOL CALLBACK TApplicationsMenu::AddWindowEnumProc(HWND W, LPARAM Menu) {
    auto* menu = reinterpret_cast<TApplicationsMenu*>(Menu);
    try {
        menu->AddWindow(W);
    } catch (const std::exception& e) {
        Log(4, L"(a3) " + What(e));
    } catch (...) {
        Log(4, L"(a3) Unknown exception");
    }
    return TRUE;
}

void TApplicationsMenu::AddWindow(HWND W) {
    bool listed = ((GetWindowLongW(W, GWL_EXSTYLE) & WS_EX_APPWINDOW) && IsWindowVisible(W)) || IsTaskbarWindow(W);
    if (!listed || IsOwnWindow(W)) return;

    std::wstring exe = GetWindowExeName(W);
    TDKMenuItem* mi =
        FItems->InsertMenuItem(1, WindowID(W), GetWindowCaption(W), [this](TDKMenuItem* s) { ActivateWindowClick(s); },
                               false, false, true);
    mi->SetExecPath(exe);
    mi->SetIcon(PathIcon(exe));

    auto command = [this](TDKMenuItem* s) { WindowCommandClick(s); };
    mi->AddMenuItem(AlwaysOnTopID, L"Always on Top", command);
    mi->AddMenuItem(RestoreID, L"Restore", command);
    mi->AddMenuItem(MinimizeID, L"Minimize", command);
    mi->AddMenuItem(MaximizeID, L"Maximize", command);
    mi->AddMenuItem(CloseID, L"Close", command);
    SYSTEMTIME now;
    GetLocalTime(&now);
    mi->AddMenuItem(RunTimeID, L"Run: " + gui::FormatDateTime(L"tt", now), nullptr, false, true);

    DWORD pid = 0;
    GetWindowThreadProcessId(W, &pid);
    TProcessInfo info;
    if (GetProcessInfo(pid, info)) {
        mi->AddMenuItem(0, L"User: " + info.User);
        mi->AddMenuItem(0, L"Memory Usage: " + MegabytesText(static_cast<double>(info.MemoryUsage)) + L" M");
        mi->AddMenuItem(0, L"Peak Memory Usage: " + MegabytesText(static_cast<double>(info.PeakMemoryUsage)) + L" M");
    }
}

void TApplicationsMenu::ActivateWindowClick(TDKMenuItem* Sender) {
    int id = Sender->MIID();
    HWND W = IDWindow(id);
    if (!IsWindow(W)) {
        // The window is gone: so goes its item (the menu runs no more of a deleted item's handlers).
        FItems->Delete(id);
        return;
    }
    WINDOWPLACEMENT wp{};
    wp.length = sizeof(wp);
    if (GetWindowPlacement(W, &wp) && wp.showCmd == SW_SHOWMINIMIZED) {
        ShowWindow(W, SW_RESTORE);
        return;
    }
    if (Sender->Checked())
        ShowWindow(W, SW_MINIMIZE);
    else
        BringWindowToTop(W);
    if (DKData) DKData->SaveExecTime(FMenuID, Sender->Caption(), Sender->ExecPath(), -1);
}

void TApplicationsMenu::WindowCommandClick(TDKMenuItem* Sender) {
    Hide();
    if (!Sender->Owner()) return;
    HWND W = IDWindow(Sender->Owner()->MIID());
    switch (Sender->MIID()) {
        case AlwaysOnTopID:
            Sender->SetChecked(!Sender->Checked());
            SetWindowPos(W, Sender->Checked() ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                         SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
            break;
        case CloseID:
            PostMessageW(W, WM_CLOSE, 0, 0);
            break;
        case RestoreID:
            ShowWindow(W, SW_RESTORE);
            break;
        case MinimizeID:
            ShowWindow(W, SW_MINIMIZE);
            break;
        case MaximizeID:
            ShowWindow(W, SW_SHOWMAXIMIZED);
            break;
        default:
            break;
    }
}

void TApplicationsMenu::ExecuteFilterText(TDKMenuItem*) {
    int groups = GroupsTitleIndex();
    if (groups > 1) ActivateWindowClick(FItems->GetItem(1));
}

// ---------------------------------------------------------------- root positions

int TApplicationsMenu::SectionTitleIndex() const {
    TDKMenuItem* t = FItems->FindItem(MainTitleID);
    return t ? t->Index() : -1;
}

int TApplicationsMenu::GroupsTitleIndex() const {
    TDKMenuItem* t = FItems->FindItem(FavoritesTitleID);
    return t ? t->Index() : -1;
}

int TApplicationsMenu::NoneIndex() const {
    // The last root child with the id: a group may carry the same id.
    for (int i = FItems->Count() - 1; i >= 0; --i)
        if (FItems->GetItem(i)->MIID() == NoneID) return i;
    return -1;
}

// ---------------------------------------------------------------- groups

void TApplicationsMenu::SelectGroupClick(TDKMenuItem* Sender) {
    try {
        int first = SectionTitleIndex(), groups = GroupsTitleIndex(), last = NoneIndex();
        if (first < 0 || last < first) return;
        // Ids mark the range, but among the choices below "Groups" only the chosen one: the first
        // group made on a fresh database shares its id with "None".
        for (int i = first; i <= last; ++i) {
            TDKMenuItem* c = FItems->GetItem(i);
            bool choice = i > groups && groups >= 0;
            c->SetChecked(choice ? c == Sender : c->MIID() == Sender->MIID());
        }
        EnumWindows(GroupFilterEnumProc, reinterpret_cast<LPARAM>(this));
    } catch (const std::exception& e) {
        Log(4, L"(a5) " + What(e));
    }
}

BOOL CALLBACK TApplicationsMenu::GroupFilterEnumProc(HWND W, LPARAM Menu) {
    auto* menu = reinterpret_cast<TApplicationsMenu*>(Menu);
    try {
        menu->FilterWindow(W);
    } catch (const std::exception& e) {
        Log(4, L"(a1) " + What(e));
    } catch (...) {
        Log(4, L"(a1) Unknown exception");
    }
    return TRUE;
}

void TApplicationsMenu::FilterWindow(HWND W) {
    auto& hidden = *FHiddenWnds;
    auto at = std::find(hidden.begin(), hidden.end(), W);
    if (!IsWindowVisible(W) && at == hidden.end()) return;
    std::wstring E = GetWindowExeName(W);
    if (E == gui::AnsiLowerCase(gui::ExeFileName()) || gui::AnsiLowerCase(gui::ExtractFileName(E)) == L"explorer.exe")
        return;
    int first = SectionTitleIndex();
    bool show = first >= 0 && FItems->GetItem(first)->Checked();
    if (!show) {
        int groups = GroupsTitleIndex(), last = NoneIndex();
        TDKMenuItem* G = nullptr;
        for (int i = groups + 1; groups >= 0 && i <= last; ++i)
            if (FItems->GetItem(i)->Checked()) {
                G = FItems->GetItem(i);
                break;
            }
        if (G && G != FItems->GetItem(last)) {
            for (int i = 0; i < G->Count() - 2; ++i)
                if (gui::AnsiLowerCase(G->GetItem(i)->ExecPath()) == E) {
                    show = true;
                    break;
                }
        }
    }
    if (show) {
        if (at != hidden.end()) hidden.erase(at);
        ShowWindow(W, SW_SHOWNA);
    } else {
        if (at == hidden.end()) hidden.push_back(W);
        ShowWindow(W, SW_HIDE);
    }
}

void TApplicationsMenu::InitStoredItem(TDKMenuItem* Item) {
    Item->FIcon = FFoldIcon.get();
    Item->SetEdited(false);
    Item->FOnClick = [this](TDKMenuItem* s) { SelectGroupClick(s); };
    auto remove = [this](TDKMenuItem* s) { RemoveItem(s); };
    for (int i = 0; i < Item->Count(); ++i) {
        TDKMenuItem* app = Item->GetItem(i);
        app->FIcon = PathIcon(app->ExecPath());
        app->FFiltered = false;
        app->AddMenuItem(0, L"Delete Application from Group", remove);
    }
    TDKMenuItem* add = Item->AddMenuItem(0, L"Add from Running Applications", nullptr, false, true);
    add->AddMenuItem(0, L"");
    add->FOnBeforExpose = [this](TDKMenuItem* s) { ExposeRunningProcesses(s); };
    Item->AddMenuItem(0, L"Remove Group", [this](TDKMenuItem* s) { RemoveGroupClick(s); });
}

void TApplicationsMenu::RemoveGroupClick(TDKMenuItem* Sender) {
    TDKMenuItem* group = Sender->Owner();
    if (!group) return;
    bool chosen = group->Checked();
    RemoveItem(Sender);
    if (!chosen) return;
    // The chosen group is gone, so is its filter: every window it hid shows again and the marks
    // are those of a menu where no group was chosen.
    try {
        for (HWND W : *FHiddenWnds)
            if (IsWindow(W)) ShowWindow(W, SW_SHOWNA);
        FHiddenWnds->clear();
        int first = SectionTitleIndex(), groups = GroupsTitleIndex(), last = NoneIndex();
        if (first >= 0) FItems->GetItem(first)->SetChecked(false);
        for (int i = groups + 1; groups >= 0 && i <= last; ++i) {
            TDKMenuItem* c = FItems->GetItem(i);
            c->SetChecked(c->MIID() == MainTitleID);  // "All Applications"
        }
    } catch (const std::exception& e) {
        Log(4, L"(a5) " + What(e));
    }
}

void TApplicationsMenu::ExposeRunningProcesses(TDKMenuItem* Sender) {
    try {
        Sender->Clear();
        UniqueHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (snap.get() == INVALID_HANDLE_VALUE) return;
        PROCESSENTRY32W pe{};
        pe.dwSize = sizeof(pe);
        for (BOOL ok = Process32FirstW(snap.get(), &pe); ok; ok = Process32NextW(snap.get(), &pe)) {
            UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pe.th32ProcessID));
            if (!process) continue;
            wchar_t buf[1024] = {};
            GetModuleFileNameExW(process.get(), nullptr, buf, 1024);
            process.reset();
            std::wstring path = gui::Trim(buf);
            if (path.empty()) continue;
            std::wstring name = gui::ExtractFileName(path);
            if (Sender->FindItem(name)) continue;
            TDKMenuItem* mi = Sender->AddMenuItem(static_cast<int>(pe.th32ProcessID), name,
                                                  [this](TDKMenuItem* s) { AddRunningAppToGroupClick(s); });
            mi->FExecPath = path;
            mi->FIcon = PathIcon(path);
        }
    } catch (const std::exception& e) {
        Log(4, L"(a4) " + What(e));
    }
}

void TApplicationsMenu::AddRunningAppToGroupClick(TDKMenuItem* Sender) {
    TDKMenuItem* add = Sender->Owner();
    TDKMenuItem* group = add ? add->Owner() : nullptr;
    if (!group) return;
    // A fresh stored id: a process id could equal a group's id and the group's applications
    // would load under this item next time.
    TDKMenuItem* app = group->InsertMenuItem(0, ++FMaxMIID, Sender->Caption());
    app->SetExecPath(Sender->ExecPath());
    app->SetIcon(Sender->Icon());
    app->SetLoadable(true);
    app->AddMenuItem(0, L"Delete Application from Group", [this](TDKMenuItem* s) { RemoveItem(s); });
}

// ---------------------------------------------------------------- shell events

void TApplicationsMenu::ShellEvent(HWND W, LPARAM Code) {
    // An event that is handled after its window has gone has nothing left to show.
    switch (Code) {
        case HSHELL_WINDOWCREATED: {
            if (!IsWindow(W) || FItems->FindItem(WindowID(W))) break;
            TPresentBatch batch;  // the new row shows once, narrowed by the filter box's text
            AddWindow(W);
            SortByPopularity();
            FilterArrivals();
            break;
        }
        case HSHELL_WINDOWDESTROYED:
            FItems->Delete(WindowID(W));
            break;
        case HSHELL_WINDOWACTIVATED: {
            if (!IsWindow(W)) break;
            FItems->SetRadioBox(MainTitleID, FavoritesTitleID, WindowID(W));
            int first = SectionTitleIndex(), groups = GroupsTitleIndex();
            for (int i = groups - 1; first >= 0 && i > first; --i) {
                int id = FItems->GetItem(i)->MIID();
                if (!IsWindow(IDWindow(id))) {
                    FItems->Delete(id);
                    break;
                }
            }
            break;
        }
        case HSHELL_REDRAW:
            if (!IsWindow(W)) break;
            if (TDKMenuItem* mi = FItems->FindItem(WindowID(W))) mi->SetCaption(GetWindowCaption(W));
            break;
        default:
            break;
    }
}

LRESULT CALLBACK ApplicationsNotifyWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg != WM_HOOKSHELL || !WindowsEnumerated.load(std::memory_order_acquire)) return result;
    TApplicationsMenu* menu = AppsMenuInstance.load(std::memory_order_acquire);
    HWND W = reinterpret_cast<HWND>(wParam);
    if (!menu || !menu->Reachable() || IsOwnWindow(W)) return result;
    Log(1, L"a.ApplWndProc ( Hwn: 0x" + Hex4(static_cast<unsigned>(reinterpret_cast<uintptr_t>(hwnd))) +
               L", Msg: 0x" + Hex4(msg) + L", Wpr: 0x" + Hex4(static_cast<unsigned>(wParam)) + L", Lpr: 0x" +
               Hex4(static_cast<unsigned>(lParam)) + L" )");
    try {
        menu->ShellEvent(W, lParam);
    } catch (const std::exception& e) {
        Log(4, L"(a2) /" + std::to_wstring(static_cast<long long>(lParam)) + L"/ " + What(e));
    }
    return result;
}

// ---------------------------------------------------------------- module start and end

void InitializeApplicationsMenu() {
    ShellNotifyWnd.reset(CreateUtilityWindow(L"ApplicationsNofityWindow", gui::GuardedProc<ApplicationsNotifyWndProc>));
    wchar_t buf[32];
    swprintf(buf, 32, L"%04X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(ShellNotifyWnd.get())));
    Log(2, L"a.AllocateCustomHWnd: 0x" + std::wstring(buf));
    bool hooked = SetShellHook(ShellNotifyWnd.get()) != FALSE;
    Log(2, std::wstring(L"a.SetShellHook: ") + (hooked ? L"True" : L"False"));
}

void FinalizeApplicationsMenu() {
    RemoveShellHook();
    ShellNotifyWnd.reset();
}
