#pragma once
// The Applications menu: one item per top-level application window, kept current by the shell
// hook of hk.dll, and application groups that hide every window whose program is not in them.
#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "Handles.h"
#include "menu/DKComponents.h"

// Shell events from hk.dll: WParam = the window, LParam = the shell-hook code.
constexpr UINT WM_HOOKSHELL = WM_USER + 1;

struct TProcessInfo {
    std::wstring User;
    std::wstring Domain;
    // Bytes; 64-bit so that a working set beyond 2 GB does not show as a negative size.
    long long MemoryUsage = 0;
    long long PeakMemoryUsage = 0;
    float CPUUsage = 0;
};

class TApplicationsMenu : public TDKPopupMenu {
public:
    // Window commands, the ids of a window item's children.
    static constexpr int AlwaysOnTopID = 13;
    static constexpr int CloseID = 14;
    static constexpr int RestoreID = 15;
    static constexpr int MinimizeID = 16;
    static constexpr int MaximizeID = 17;
    static constexpr int RunTimeID = 18;
    static constexpr int NoneID = 3;

    explicit TApplicationsMenu(const TMenuOwner& AOwner);
    ~TApplicationsMenu() override;

    void InitStoredItem(TDKMenuItem* Item) override;
    void ExecuteFilterText(TDKMenuItem* Item) override;

    // Handlers of the menu's items.
    void ActivateWindowClick(TDKMenuItem* Sender);
    void WindowCommandClick(TDKMenuItem* Sender);
    void SelectGroupClick(TDKMenuItem* Sender);
    void AddRunningAppToGroupClick(TDKMenuItem* Sender);
    // "Remove Group": removing the chosen group also undoes its filter.
    void RemoveGroupClick(TDKMenuItem* Sender);
    void ExposeRunningProcesses(TDKMenuItem* Sender);

    // EnumWindows callbacks; LParam carries the menu.
    static BOOL CALLBACK AddWindowEnumProc(HWND W, LPARAM Menu);
    static BOOL CALLBACK GroupFilterEnumProc(HWND W, LPARAM Menu);

    // Lists W as a window item below the section title when it is an application window.
    void AddWindow(HWND W);
    // One shell event (WM_HOOKSHELL) for window W.
    void ShellEvent(HWND W, LPARAM Code);
    // The menu has been handed to its button (or, without a button, its construction has ended):
    // only then may the hidden window's messages touch it.
    bool Reachable() const;

    // Windows the group filter has hidden.
    std::vector<HWND>* FHiddenWnds = nullptr;

private:
    // Positions in the root: the section title, "Groups", "None"; -1 when missing.
    int SectionTitleIndex() const;
    int GroupsTitleIndex() const;
    int NoneIndex() const;
    void FilterWindow(HWND W);
    // The menu keeps one icon per executable path for all of its items and frees them at the end.
    HICON PathIcon(const std::wstring& Path);

    std::map<std::wstring, gui::IconHandle> FPathIcons;
    std::atomic<bool> FConstructed{false};
};

// Whether the account and the memory figures of a process could be read (True: account found).
bool GetProcessInfo(DWORD ProcessID, TProcessInfo& Info);
// Bytes as megabytes with two decimals and the locale's decimal separator.
std::wstring MegabytesText(double Bytes);

LRESULT CALLBACK ApplicationsNotifyWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The menu whose items the shell events keep current (none before the first construction).
extern std::atomic<TApplicationsMenu*> AppsMenuInstance;
// Set once the first construction has listed the windows.
extern std::atomic<bool> WindowsEnumerated;
// The hidden window that receives the shell events.
extern gui::WindowHandle ShellNotifyWnd;

// Module start and end routines (the hidden window of this menu lives from start to end).
void InitializeApplicationsMenu();
void FinalizeApplicationsMenu();
