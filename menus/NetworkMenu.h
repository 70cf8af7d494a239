#pragma once

#include <functional>
#include <string>

#include "menu/DKComponents.h"

// Starts a command line in the ANSI code page with a show state (WinExec). Tests replace it.
using TWinExecFunc = std::function<void(const std::string& CmdLine, UINT Show)>;

// The Network button's menu: favourites, the network folder's places, the network
// connections, a host-name box that opens the typed name in the file browser, and statistics.
class TNetworkMenu : public TDKPopupMenu {
public:
    explicit TNetworkMenu(const TMenuOwner& AOwner);
    void ExecuteFilterText(TDKMenuItem* Item) override;

    // Replaces the program start of ExecuteFilterText; an empty function restores WinExec.
    static void SetWinExec(TWinExecFunc f);
};
