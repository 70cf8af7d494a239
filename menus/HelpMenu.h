#pragma once

#include <functional>
#include <string>
#include <vector>

#include "menu/DKComponents.h"

// A program start of the Help menu: WinExec of a command line (Shell false) or ShellExecuteW of
// a file with its parameters and working directory (Shell true).
struct THelpStart {
    bool Shell = false;
    std::wstring File;  // the command line when Shell is false
    std::wstring Params;
    std::wstring Dir;
    int Show = SW_SHOWNORMAL;
};
using THelpStartFunc = std::function<void(const THelpStart&)>;

// The Help button's menu: Windows help, the Windows version dialog, the maker's support links
// and the About box. It has no favourites, filter box or statistics.
class THelpMenu : public TDKPopupMenu {
public:
    static constexpr int HelpAndSupportID = 1;
    static constexpr int VersionID = 2;
    static constexpr int AboutID = 3;

    explicit THelpMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;
    void HelpItemClick(TDKMenuItem* Sender);

    // Windows version as major + minor / 10.
    static double WindowsVersion();
    // Test seams: the program start (empty: the real calls) and the Windows version (0: real).
    static void SetStart(THelpStartFunc f);
    static void SetWindowsVersion(double v);
};
