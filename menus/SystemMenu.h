#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "menu/DKComponents.h"
#include "Handles.h"

// The system calls behind the session and power commands. Tests replace them; an empty member
// uses the real call.
struct TSystemCalls {
    // Enables the shutdown privilege; false ends the command silently.
    std::function<bool()> EnableShutdownPrivilege;
    std::function<UINT(const std::string& CmdLine, UINT Show)> WinExec;
    std::function<BOOL()> LockWorkStation;
    std::function<BOOL(BOOLEAN Hibernate, BOOLEAN ForceCritical, BOOLEAN DisableWakeEvent)> SetSuspendState;
    std::function<BOOL(BOOL Suspend, BOOL Force)> SetSystemPowerState;
    std::function<BOOL(UINT Flags, DWORD Reason)> ExitWindowsEx;
    // Major version + minor version * 0.1.
    std::function<double()> WindowsVersion;
};

class TSystemMenu : public TDKPopupMenu {
public:
    explicit TSystemMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
    void ShutdownClick(TDKMenuItem* Sender);
    void ConfigureShellClick(TDKMenuItem* Sender);

    // Replaces the system calls; default-constructed restores the real ones.
    static void SetSystemCalls(TSystemCalls Calls);

private:
    void AddToolItem(TDKMenuItem* Parent, const std::wstring& Caption, const std::wstring& Path);
};
